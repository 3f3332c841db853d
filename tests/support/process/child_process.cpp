#include "process/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

namespace lumory::testing {

int waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0) return 0;  // already reaped
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void stopProcess(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (waitForExit(pid, grace) != -1) return;
    kill(pid, SIGKILL);
    waitForExit(pid, std::chrono::seconds(5));
}

void killAndReap(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string readFirstLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, 100) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

long peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

std::vector<pid_t> processesMentioning(const std::string& text) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        // Read plainly: a process that ends meanwhile makes the read fail (ESRCH), which a
        // stream buffer would throw.
        int file = open((std::string("/proc/") + entry->d_name + "/cmdline").c_str(),
                        O_RDONLY | O_CLOEXEC);
        if (file < 0) continue;
        std::string cmdline;
        char chunk[4096];
        ssize_t count;
        while ((count = read(file, chunk, sizeof chunk)) > 0) cmdline.append(chunk, count);
        close(file);
        if (cmdline.find(text) != std::string::npos) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

std::vector<pid_t> childrenMentioning(pid_t parent, const std::string& text) {
    std::vector<pid_t> children;
    for (pid_t pid : processesMentioning(text)) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // The parent is the second field after the name, which may hold spaces and parentheses.
        auto close = line.rfind(')');
        char state = 0;
        int found = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %d", &state, &found) == 2 &&
            found == parent) {
            children.push_back(pid);
        }
    }
    return children;
}

}  // namespace lumory::testing
