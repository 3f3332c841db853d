#include "eds/caldav_server.h"

#include <libsoup/soup.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace lumory::testsupport {

namespace {

using namespace std::chrono_literals;

// Radicale starts in well under a second; a loaded machine gets far more.
constexpr auto kStartLimit = 30s;
constexpr auto kStopLimit = 5s;
constexpr guint kRequestTimeoutSeconds = 10;

// Anonymous requests are refused (403) unless the rights file grants them.
constexpr const char* kRights = "[anyone]\nuser: .*\ncollection: .*\npermissions: RrWw\n";

std::string contentsOf(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

CaldavServer::CaldavServer() {
    if (folder_.path().empty()) return;
    std::ofstream(folder_.path() + "/rights") << kRights;
    start();
}

CaldavServer::~CaldavServer() {
    stop();
}

bool CaldavServer::start() {
    if (process_) return true;
    const std::string log = folder_.path() + "/radicale.log";
    std::remove(log.c_str());
    // The first start takes any free port; later ones take the same, as a server that returns.
    const std::string hosts = "127.0.0.1:" + std::to_string(port_);
    // Its log goes to a file, read for the port and readiness: a pipe nobody drains would stall
    // the server once full.
    auto process = std::make_unique<LineProtocolProcess>(std::vector<std::string>{
        "/bin/sh", "-c", "exec radicale \"$@\" 2>\"$0\"", log, "--config", "", "--server-hosts",
        hosts, "--auth-type", "none", "--rights-type", "from_file", "--rights-file",
        folder_.path() + "/rights", "--storage-filesystem-folder", folder_.path() + "/collections",
        "--logging-level", "info"});
    if (!process->started()) return false;

    static const std::regex listening(R"(Listening on '\[127\.0\.0\.1\]:(\d+)')");
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string text = contentsOf(log);
        std::smatch found;
        if (text.find("Radicale server ready") != std::string::npos &&
            std::regex_search(text, found, listening)) {
            port_ = std::stoi(found[1]);
            process_ = std::move(process);
            return true;
        }
        if (process->waitForExit(0ms)) break;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

void CaldavServer::stop() {
    if (!process_) return;
    kill(process_->pid(), SIGTERM);
    process_->waitForExit(kStopLimit);
    // Whatever is left is killed and reaped here.
    process_.reset();
}

std::string CaldavServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

CaldavServer::Reply CaldavServer::request(const std::string& method, const std::string& path,
                                          const std::string& body, const std::string& contentType) {
    Reply reply;
    g_autoptr(SoupSession) session = soup_session_new();
    soup_session_set_timeout(session, kRequestTimeoutSeconds);
    g_autoptr(SoupMessage) message = soup_message_new(method.c_str(), url(path).c_str());
    if (!message) return reply;
    if (!body.empty()) {
        g_autoptr(GBytes) bytes = g_bytes_new(body.data(), body.size());
        soup_message_set_request_body_from_bytes(
            message, contentType.empty() ? nullptr : contentType.c_str(), bytes);
    }
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) answer = soup_session_send_and_read(session, message, nullptr, &error);
    if (!answer) return reply;
    reply.status = soup_message_get_status(message);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(answer, &size));
    reply.body.assign(data != nullptr ? data : "", size);
    return reply;
}

bool CaldavServer::makeCalendar(const std::string& path) {
    // Radicale makes no missing parents (409): each folder above the calendar first.
    for (size_t slash = path.find('/', 1); slash != std::string::npos && slash + 1 < path.size();
         slash = path.find('/', slash + 1)) {
        const unsigned status = request("MKCOL", path.substr(0, slash + 1)).status;
        if (status != SOUP_STATUS_CREATED && status != SOUP_STATUS_METHOD_NOT_ALLOWED) return false;
    }
    return request("MKCALENDAR", path).status == SOUP_STATUS_CREATED;
}

}  // namespace lumory::testsupport
