#include "desktops/desktop_session.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "process/child_process.h"
#include "xvfb/xvfb_display.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

constexpr char kUserName[] = "lumory-desktop";

// Allow-all policies: the test itself, as root, talks to buses the user's desktop owns.
constexpr char kBusConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>@TYPE@</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  @SERVICES@
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

std::string readAll(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Xwayland, started by the desktop as the test user, puts its socket there: the folder must be
// the world-writable sticky one it is on a normal system, not one an earlier Xvfb made for root.
void openX11SocketFolder() {
    mkdir("/tmp/.X11-unix", 01777);
    struct stat info {};
    if (stat("/tmp/.X11-unix", &info) != 0) return;
    if (info.st_uid != 0) chown("/tmp/.X11-unix", 0, 0);
    if ((info.st_mode & 07777) != 01777) chmod("/tmp/.X11-unix", 01777);
}

bool environmentHas(pid_t pid, const std::string& entry) {
    int file = open(("/proc/" + std::to_string(pid) + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    std::string environment(1, '\0');
    char chunk[4096];
    ssize_t count;
    while ((count = read(file, chunk, sizeof chunk)) > 0) environment.append(chunk, count);
    close(file);
    return environment.find(std::string(1, '\0') + entry + '\0') != std::string::npos;
}

}  // namespace

std::optional<DesktopUser> desktopTestUser() {
    if (getpwnam(kUserName) == nullptr && geteuid() == 0) {
        runAndWait({"useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                    "--shell", "/usr/sbin/nologin", kUserName},
                   {}, 30000);
    }
    const passwd* entry = getpwnam(kUserName);
    if (entry == nullptr) return std::nullopt;
    return DesktopUser{kUserName, entry->pw_uid, entry->pw_gid};
}

DesktopSession::DesktopSession(const DesktopUser& user, const std::vector<std::string>& activatable)
    : user_(user) {
    openX11SocketFolder();
    std::string pattern = (fs::temp_directory_path() / "lumory-desktop-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    runtime_ = pattern;
    marker_ = "XDG_RUNTIME_DIR=" + runtime_;
    std::error_code ignored;
    fs::create_directories(runtime_ + "/home/.local/share/gnome-shell", ignored);
    fs::create_directories(runtime_ + "/services", ignored);
    for (const std::string& service : activatable) {
        fs::copy_file("/usr/share/dbus-1/services/" + service, runtime_ + "/services/" + service,
                      ignored);
    }
    for (const auto& entry : fs::recursive_directory_iterator(runtime_, ignored)) {
        lchown(entry.path().c_str(), user_.uid, user_.gid);
    }
    chown(runtime_.c_str(), user_.uid, user_.gid);

    std::string system = replaced(
        replaced(replaced(kBusConfig, "@TYPE@", "system"), "@SOCKET@", runtime_ + "/system_bus"),
        "@SERVICES@", "");
    std::string session =
        replaced(replaced(replaced(kBusConfig, "@TYPE@", "session"), "@SOCKET@", runtime_ + "/bus"),
                 "@SERVICES@", "<servicedir>" + runtime_ + "/services</servicedir>");
    std::ofstream(runtime_ + "/system.conf") << system;
    std::ofstream(runtime_ + "/session.conf") << session;
    if (startBus("system", systemBus_) < 0 || startBus("session", sessionBus_) < 0) {
        sessionBus_.clear();
    }
}

DesktopSession::~DesktopSession() {
    killEverything();
    if (!runtime_.empty()) {
        std::error_code ignored;
        fs::remove_all(runtime_, ignored);
    }
}

pid_t DesktopSession::startBus(const std::string& type, std::string& address) {
    std::string socket = runtime_ + (type == "system" ? "/system_bus" : "/bus");
    pid_t pid = spawn({"dbus-daemon", "--config-file=" + runtime_ + "/" + type + ".conf",
                       "--nofork", "--nopidfile"},
                      {}, type + "-bus.log");
    if (pid < 0) return -1;
    bool listening = eventually([&] { return fs::exists(socket); }, std::chrono::seconds(10));
    if (!listening) return -1;
    address = "unix:path=" + socket;
    return pid;
}

std::vector<std::string> DesktopSession::environment() const {
    std::string home = runtime_ + "/home";
    return {
        "PATH=/usr/bin:/bin",
        "HOME=" + home,
        "USER=" + user_.name,
        "LOGNAME=" + user_.name,
        marker_,
        "XDG_CONFIG_HOME=" + home + "/.config",
        "XDG_DATA_HOME=" + home + "/.local/share",
        "XDG_CACHE_HOME=" + home + "/.cache",
        "DBUS_SESSION_BUS_ADDRESS=" + sessionBus_,
        "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus_,
        "LANG=C.UTF-8",
    };
}

pid_t DesktopSession::spawn(const std::vector<std::string>& argv,
                            const std::vector<std::string>& extra, const std::string& log) {
    if (runtime_.empty()) return -1;
    std::vector<std::string> environment = this->environment();
    // A variable given here replaces the session's own of the same name.
    for (const std::string& entry : extra) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment,
                      [&](const std::string& existing) { return existing.rfind(name, 0) == 0; });
        environment.push_back(entry);
    }
    int output =
        open((runtime_ + "/" + log).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        if (setgroups(0, nullptr) != 0 || setgid(user_.gid) != 0 || setuid(user_.uid) != 0) {
            _exit(126);
        }
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (output >= 0) close(output);
    if (pid > 0) started_.push_back(pid);
    return pid;
}

bool DesktopSession::run(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extra, std::chrono::milliseconds timeout) {
    pid_t pid = spawn(argv, extra, "commands.log");
    if (pid < 0) return false;
    int status = waitForExit(pid, timeout);
    if (status == -1) {
        kill(pid, SIGKILL);
        waitForExit(pid, std::chrono::seconds(5));
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string DesktopSession::readLog(const std::string& log) const {
    return readAll(runtime_ + "/" + log);
}

void DesktopSession::killEverything() {
    if (marker_.empty()) return;
    // Killed first, reaped after: a dying process's children carry the same marker.
    for (int round = 0; round < 5; ++round) {
        bool found = false;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
            if (pid <= 0 || pid == getpid() || !environmentHas(pid, marker_)) continue;
            kill(pid, SIGKILL);
            found = true;
        }
        for (pid_t pid : started_) kill(pid, SIGKILL);
        if (!found) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (pid_t pid : started_) waitForExit(pid, std::chrono::seconds(5));
    started_.clear();
}

DesktopShell::DesktopShell(const std::string& binary, const std::string& service,
                           const DesktopUser& user)
    : shell_(binary, service) {
    owned_ = shell_.runAs(user.uid, user.gid);
}

DesktopShell::~DesktopShell() {
    if (reportsFolder_.empty()) return;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(home(), ignored)) {
        if (entry.path().filename().string().rfind("sanitizer-report", 0) != 0) continue;
        fs::copy_file(entry.path(), fs::path(reportsFolder_) / entry.path().filename(), ignored);
    }
}

bool DesktopShell::start(const std::string& displayName, std::vector<std::string> environment) {
    if (!owned_) return false;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        if (value == nullptr) continue;
        std::string options = value;
        size_t at = options.find("log_path=");
        if (at == std::string::npos) continue;
        at += 9;
        std::string path = options.substr(at, options.find(':', at) - at);
        reportsFolder_ = fs::path(path).parent_path().string();
        options.replace(at, path.size(), (fs::path(home()) / fs::path(path).filename()).string());
        environment.push_back(std::string(name) + "=" + options);
    }
    return shell_.start(displayName, environment);
}

bool DesktopShell::waitForPage(std::chrono::milliseconds timeout) {
    return shell_
        .waitForProbe(
            [&](const nlohmann::json& report) {
                if (report.value("event", "") == "window-buttons") buttons_ = report;
                return isServicePage(report);
            },
            timeout)
        .has_value();
}

std::optional<nlohmann::json> DesktopShell::settledButtons(std::chrono::milliseconds settle) {
    while (shell_.waitForProbe(
        [&](const nlohmann::json& report) {
            if (report.value("event", "") != "window-buttons") return false;
            buttons_ = report;
            return true;
        },
        settle)) {
    }
    return buttons_;
}

std::vector<nlohmann::json> DesktopShell::linesOf(const std::string& file) const {
    std::vector<nlohmann::json> found;
    std::ifstream in(home() + "/" + file);
    for (std::string line; std::getline(in, line);) {
        auto value = nlohmann::json::parse(line, nullptr, false);
        if (!value.is_discarded()) found.push_back(value);
    }
    return found;
}

void DesktopShell::append(const std::string& file, const nlohmann::json& line) const {
    std::ofstream(home() + "/" + file, std::ios::app) << line.dump() << "\n";
}

}  // namespace lumory::testing
