#include "pulse/pulse_client_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "process/child_process.h"

namespace lumory::testsupport {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

PulseClientProcess::PulseClientProcess(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Nothing outlives a test that crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return;
    }
    pid_ = pid;
    outFd_ = out[0];
    errFd_ = err[0];
}

PulseClientProcess::~PulseClientProcess() {
    if (pid_ > 0 && !exitCode_) testing::killAndReap(pid_);
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

void PulseClientProcess::pump(int timeoutMs) {
    pollfd fds[2];
    int count = 0;
    if (outFd_ >= 0) fds[count++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[count++] = {errFd_, POLLIN, 0};
    if (count == 0) {
        if (timeoutMs > 0) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return;
    }
    if (poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) return;
    char buffer[65536];
    for (int i = 0; i < count; ++i) {
        if (fds[i].revents == 0) continue;
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        std::string& sink = fds[i].fd == outFd_ ? output_ : error_;
        if (n > 0) {
            sink.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
            close(fd);
            fd = -1;
        }
    }
}

const std::string& PulseClientProcess::readOutput(std::size_t bytes,
                                                  std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.size() < bytes && outFd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pump(static_cast<int>(left.count()));
    }
    return output_;
}

const std::string& PulseClientProcess::errorText() {
    while (errFd_ >= 0) {
        pollfd fd{errFd_, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0) break;
        pump(0);
    }
    return error_;
}

void PulseClientProcess::closeOutput() {
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
}

void PulseClientProcess::signal(int number) {
    if (pid_ > 0 && !exitCode_) kill(pid_, number);
}

std::optional<int> PulseClientProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (exitCode_ || pid_ <= 0) return exitCode_;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitCode_ = testing::exitCodeOf(status);
            break;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        pump(10);
    }
    // The child is gone; what it wrote is in the pipes, unless something it started holds them.
    const auto drainUntil = Clock::now() + std::chrono::seconds(1);
    while ((outFd_ >= 0 || errFd_ >= 0) && Clock::now() < drainUntil) pump(50);
    return exitCode_;
}

PulseClientResult runPulseClient(const std::vector<std::string>& argv,
                                 std::chrono::milliseconds timeout) {
    PulseClientProcess process(argv);
    std::optional<int> code = process.waitForExit(timeout);
    return {code, process.output(), process.errorText()};
}

}  // namespace lumory::testsupport
