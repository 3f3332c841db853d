#include "pulse/pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "pulse/pulse_client_process.h"

namespace lumory::testsupport {

namespace {

using namespace std::chrono_literals;

std::string makeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumory-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// Every variable a libpulse client looks at, so no user or system server is ever reached.
void pointClientsAt(const std::string& folder) {
    std::filesystem::create_directories(folder + "/runtime");
    std::ofstream(folder + "/client.conf") << "autospawn = no\n";
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (folder + "/runtime").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (folder + "/client.conf").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + folder + "/runtime/native").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool socketAccepts(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

void reap(pid_t pid, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace

PulseServer::PulseServer(std::vector<std::string> sinks) {
    folder_ = makeFolder();
    if (folder_.empty()) {
        failure_ = "could not make a temporary folder";
        return;
    }
    pointClientsAt(folder_);
    socket_ = folder_ + "/runtime/native";

    std::string script = folder_ + "/server.pa";
    {
        std::ofstream file(script);
        file << ".fail\n";
        for (const std::string& sink : sinks) {
            file << "load-module module-null-sink sink_name=" << sink << " rate=48000\n";
        }
        file << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_
             << "\n";
        if (!sinks.empty()) file << "set-default-sink " << sinks.front() << "\n";
    }
    std::string log = folder_ + "/server.log";
    std::vector<std::string> argv = {"pulseaudio",          "-n",
                                     "-F",                  script,
                                     "--daemonize=no",      "--system=false",
                                     "--exit-idle-time=-1", "--disallow-exit",
                                     "--realtime=no",       "--high-priority=no",
                                     "--use-pid-file=no",   "--log-target=file:" + log};
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid_ < 0) {
        failure_ = std::string("could not start pulseaudio: ") + std::strerror(errno);
        return;
    }
    ready_ = waitForSocket();
    if (!ready_) {
        std::ifstream file(log);
        failure_ = "pulseaudio did not come up; its log: " +
                   std::string(std::istreambuf_iterator<char>(file), {});
    }
}

bool PulseServer::waitForSocket() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (socketAccepts(socket_)) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

void PulseServer::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    reap(pid_, 5s);
    pid_ = -1;
    ready_ = false;
}

PulseServer::~PulseServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        reap(pid_, 3s);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool PulseServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runPulseClient(argv, 10s).exitCode == 0;
}

bool PulseServer::removeSink(const std::string& name) const {
    auto modules = runPulseClient({"pactl", "list", "short", "modules"}, 10s);
    std::istringstream lines(modules.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("module-null-sink") == std::string::npos) continue;
        if (line.find("sink_name=" + name + " ") == std::string::npos) continue;
        return pactl({"unload-module", line.substr(0, line.find('\t'))});
    }
    return false;
}

NoPulseServer::NoPulseServer() {
    folder_ = makeFolder();
    if (!folder_.empty()) pointClientsAt(folder_);
}

NoPulseServer::~NoPulseServer() {
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

}  // namespace lumory::testsupport
