#pragma once

// A helper program run by a test and spoken to in lines: requests written to its standard input,
// replies and notices read from its standard output. The child is killed and reaped when this
// object goes away, whatever happened in the test.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumory::testsupport {

class LineProtocolProcess {
public:
    // `environment`: entries NAME=VALUE added to (or, with `clearEnvironment`, replacing) the
    // test's own environment. Standard error goes to /dev/null.
    LineProtocolProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {},
                        bool clearEnvironment = false);
    ~LineProtocolProcess();
    LineProtocolProcess(const LineProtocolProcess&) = delete;
    LineProtocolProcess& operator=(const LineProtocolProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Writes the text and a line feed; false once the child's input is closed.
    bool writeLine(const std::string& line);
    bool writeRaw(const std::string& bytes);
    void closeInput();
    // Closes our end of the child's standard output, as a peer that stopped reading would.
    void closeOutput();

    // The next line without its line feed, or nothing at end of output or after `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    // The next line parsed as JSON (a line that is not JSON fails the read).
    std::optional<nlohmann::json> readJson(std::chrono::milliseconds limit);
    // Reads until a JSON line satisfies `wanted`; the lines passed over are appended to
    // `skipped` when given.
    std::optional<nlohmann::json> readJsonUntil(
        const std::function<bool(const nlohmann::json&)>& wanted, std::chrono::milliseconds limit,
        std::vector<nlohmann::json>* skipped = nullptr);

    // The exit code (128 + signal number when killed), or nothing while it still runs after
    // `limit`.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int inFd_ = -1;
    int outFd_ = -1;
    std::string pending_;
    std::size_t searched_ = 0;  // bytes of pending_ known to hold no line feed
    bool outputEnded_ = false;
    std::optional<int> exitCode_;
};

// A directory under the system's temporary folder, removed with everything in it.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace lumory::testsupport
