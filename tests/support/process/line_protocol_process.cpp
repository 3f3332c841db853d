#include "process/line_protocol_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "process/child_process.h"

extern char** environ;

namespace lumory::testsupport {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

LineProtocolProcess::LineProtocolProcess(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& environment,
                                         bool clearEnvironment) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> envStrings;
    if (!clearEnvironment)
        for (char** entry = environ; *entry != nullptr; ++entry) envStrings.emplace_back(*entry);
    for (const std::string& entry : environment) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(envStrings, [&](const std::string& e) { return e.starts_with(name); });
        envStrings.push_back(entry);
    }
    std::vector<char*> envp, args;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = argv;
    for (std::string& arg : argStrings) args.push_back(arg.data());
    args.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, args[0], &actions, nullptr, args.data(), envp.data()) == 0) pid_ = child;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    inFd_ = input[1];
    outFd_ = output[0];
    if (pid_ <= 0) {
        closeInput();
        closeOutput();
    }
}

LineProtocolProcess::~LineProtocolProcess() {
    closeInput();
    closeOutput();
    if (pid_ > 0 && !exitCode_ && !waitForExit(std::chrono::milliseconds(200))) {
        testing::killAndReap(pid_);
    }
}

bool LineProtocolProcess::writeRaw(const std::string& bytes) {
    if (inFd_ < 0) return false;
    std::string_view rest = bytes;
    // A child that stops reading must fail the write, not kill the test with SIGPIPE.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    bool ok = true;
    while (!rest.empty()) {
        ssize_t written = write(inFd_, rest.data(), rest.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        rest.remove_prefix(static_cast<size_t>(written));
    }
    sigaction(SIGPIPE, &previous, nullptr);
    return ok;
}

bool LineProtocolProcess::writeLine(const std::string& line) { return writeRaw(line + "\n"); }

void LineProtocolProcess::closeInput() {
    if (inFd_ >= 0) close(inFd_);
    inFd_ = -1;
}

void LineProtocolProcess::closeOutput() {
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
}

std::optional<std::string> LineProtocolProcess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (auto newline = pending_.find('\n', searched_); newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            searched_ = 0;
            return line;
        }
        searched_ = pending_.size();
        if (outFd_ < 0 || outputEnded_) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd poller{outFd_, POLLIN, 0};
        int ready = poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buffer[65536];
        ssize_t count = read(outFd_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            outputEnded_ = true;
            continue;
        }
        pending_.append(buffer, static_cast<size_t>(count));
    }
}

std::optional<nlohmann::json> LineProtocolProcess::readJson(std::chrono::milliseconds limit) {
    auto line = readLine(limit);
    if (!line) return std::nullopt;
    nlohmann::json parsed = nlohmann::json::parse(*line, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
}

std::optional<nlohmann::json> LineProtocolProcess::readJsonUntil(
    const std::function<bool(const nlohmann::json&)>& wanted, std::chrono::milliseconds limit,
    std::vector<nlohmann::json>* skipped) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto line = readJson(left);
        if (!line) return std::nullopt;
        if (wanted(*line)) return line;
        if (skipped != nullptr) skipped->push_back(*line);
    }
}

std::optional<int> LineProtocolProcess::waitForExit(std::chrono::milliseconds limit) {
    if (exitCode_ || pid_ <= 0) return exitCode_;
    const int status = testing::waitForExit(pid_, limit);
    if (status == -1) return std::nullopt;
    exitCode_ = testing::exitCodeOf(status);
    return exitCode_;
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumory-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace lumory::testsupport
