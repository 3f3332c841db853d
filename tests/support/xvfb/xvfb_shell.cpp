#include "xvfb/xvfb_shell.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "process/child_process.h"

namespace fs = std::filesystem;

namespace lumory::testing {

namespace {

constexpr char kProbePrefix[] = "lumory-probe ";
constexpr char kFailureHeadline[] = "Lumory could not open\n";

}  // namespace

ShellUnderTest::ShellUnderTest(const std::string& shellBinary, const std::string& serviceScript) {
    std::string pattern = (fs::temp_directory_path() / "lumory-shell-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    root_ = pattern;
    fs::create_directories(fs::path(root_) / "bin");
    fs::create_directories(fs::path(root_) / "lib" / "lumory");
    fs::create_directories(fs::path(root_) / "home");
    // A copy, not a link: the shell finds its resources from its own resolved path.
    fs::copy_file(shellBinary, fs::path(root_) / "bin" / "lumory");
    if (!serviceScript.empty()) {
        fs::path service = fs::path(root_) / "lib" / "lumory" / "lumory-server";
        fs::copy_file(serviceScript, service);
        fs::permissions(service, fs::perms::owner_all, fs::perm_options::add);
    }
}

ShellUnderTest::~ShellUnderTest() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        if (!reaped_) stopProcess(pid_, std::chrono::milliseconds(100));
    }
    if (output_ >= 0) close(output_);
    if (!root_.empty()) {
        for (pid_t leftover : processesMentioning(root_)) kill(leftover, SIGKILL);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

bool ShellUnderTest::addHelper(const std::string& binary) {
    if (root_.empty()) return false;
    std::error_code error;
    fs::path target = fs::path(root_) / "lib" / "lumory" / fs::path(binary).filename();
    return fs::copy_file(binary, target, error) && !error;
}

bool ShellUnderTest::runAs(uid_t uid, gid_t gid) {
    if (root_.empty()) return false;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root_, error)) {
        if (lchown(entry.path().c_str(), uid, gid) != 0) return false;
    }
    if (error || chown(root_.c_str(), uid, gid) != 0) return false;
    uid_ = uid;
    gid_ = gid;
    return true;
}

bool ShellUnderTest::start(const XvfbDisplay& display, const std::vector<std::string>& extra) {
    return display.started() && start(display.name(), extra);
}

bool ShellUnderTest::start(const std::string& displayName, const std::vector<std::string>& extra) {
    if (root_.empty()) return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::string home = root_ + "/home";
    std::vector<std::string> environment = {
        "PATH=/usr/bin:/bin",
        "HOME=" + home,
        "XDG_CONFIG_HOME=" + home + "/.config",
        "XDG_DATA_HOME=" + home + "/.local/share",
        "XDG_CACHE_HOME=" + home + "/.cache",
        "XDG_RUNTIME_DIR=" + home + "/run",
        "DISPLAY=" + displayName,
        "NO_AT_BRIDGE=1",
        // No session bus: the shell runs on its own instead of finding or starting one.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
        "LUMORY_TEST_PROBE=1",
    };
    // In the sanitizer build the shell reports where and as the test itself does.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    }
    // A variable given by the test replaces the default of the same name; a bare name
    // ("NO_AT_BRIDGE") removes it.
    for (const std::string& entry : extra) {
        bool unset = entry.find('=') == std::string::npos;
        std::string name = unset ? entry + "=" : entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment,
                      [&](const std::string& existing) { return existing.rfind(name, 0) == 0; });
        if (!unset) environment.push_back(entry);
    }
    fs::create_directories(home + "/run");
    fs::permissions(home + "/run", fs::perms::owner_all, fs::perm_options::replace);
    if (uid_ != 0 && chown((home + "/run").c_str(), uid_, gid_) != 0) return false;
    std::string binary = root_ + "/bin/lumory";

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        dup2(fds[1], 1);
        int errors =
            open((root_ + "/shell-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(errors, 2);
        if (uid_ != 0 && (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0)) {
            _exit(126);
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {binary.data(), nullptr};
        execve(binary.c_str(), argv, envp.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return false;
    }
    setpgid(pid_, pid_);
    output_ = fds[0];
    return true;
}

std::optional<nlohmann::json> ShellUnderTest::waitForProbe(
    const std::function<bool(const nlohmann::json&)>& wanted, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t lineFeed;
        while ((lineFeed = buffered_.find('\n')) != std::string::npos) {
            std::string line = buffered_.substr(0, lineFeed);
            buffered_.erase(0, lineFeed + 1);
            if (line.rfind(kProbePrefix, 0) != 0) continue;
            auto report =
                nlohmann::json::parse(line.substr(sizeof kProbePrefix - 1), nullptr, false);
            if (!report.is_discarded() && wanted(report)) return report;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || output_ < 0) return std::nullopt;
        pollfd poller{output_, POLLIN, 0};
        if (poll(&poller, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        ssize_t count = read(output_, chunk, sizeof chunk);
        if (count <= 0) {
            close(output_);
            output_ = -1;
            continue;
        }
        buffered_.append(chunk, static_cast<size_t>(count));
    }
}

int ShellUnderTest::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0 || reaped_) return -1;
    kill(pid_, SIGTERM);
    int status = waitForExit(pid_, timeout);
    // Leftovers stay in the shell's process group until the destructor, so tests can look.
    if (status != -1) reaped_ = true;
    return status;
}

int ShellUnderTest::waitUntilEnded(std::chrono::milliseconds timeout) {
    if (pid_ <= 0 || reaped_) return -1;
    int status = waitForExit(pid_, timeout);
    if (status != -1) reaped_ = true;
    return status;
}

std::string ShellUnderTest::standardError() const {
    std::ifstream file(root_ + "/shell-stderr.txt");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void ShellUnderTest::killShellOnly() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGKILL);
    if (waitForExit(pid_, std::chrono::seconds(5)) != -1) reaped_ = true;
}

bool isServicePage(const nlohmann::json& report) {
    return report.value("event", "") == "load-finished" &&
           report.value("url", "").rfind("http://127.0.0.1:", 0) == 0;
}

bool isFailurePage(const nlohmann::json& report) {
    return report.value("event", "") == "load-finished" &&
           report.value("url", "") == "about:blank" &&
           report.value("text", "").rfind(kFailureHeadline, 0) == 0;
}

}  // namespace lumory::testing
