#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumory::testsupport {

// A child process of a test (a helper, pacat, pactl) with its standard output and error piped
// back. It dies with the test process, and is killed and reaped when this object goes away.
class PulseClientProcess {
public:
    explicit PulseClientProcess(const std::vector<std::string>& argv);
    ~PulseClientProcess();
    PulseClientProcess(const PulseClientProcess&) = delete;
    PulseClientProcess& operator=(const PulseClientProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Everything read from standard output so far, after reading until at least `bytes` are
    // there, standard output closes, or `timeout` passes.
    const std::string& readOutput(std::size_t bytes, std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }
    // Our end of the child's standard output, for callers that poll several children at once
    // and read it themselves; -1 once closed.
    int outputFd() const { return outFd_; }
    const std::string& errorText();
    // Closes our end of the child's standard output, as a reader that has had enough would.
    void closeOutput();
    void signal(int number);

    // The exit code (128 + signal number for a killed child), or nothing if it still runs after
    // `timeout`. Collects the rest of standard error.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    void pump(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string output_;
    std::string error_;
    std::optional<int> exitCode_;
};

struct PulseClientResult {
    std::optional<int> exitCode;
    std::string output;
    std::string error;
};

// Runs a short-lived command to its end, killing it after `timeout`.
PulseClientResult runPulseClient(const std::vector<std::string>& argv,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace lumory::testsupport
