#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace lumory::audio {

enum class WriteResult { written, readerGone, failed };

// One of the process's standard streams. Each call is one write as far as the reader can tell:
// short writes and interruptions are carried on rather than losing the rest of the bytes.
class Output {
public:
    explicit Output(int fd) : fd_(fd) {}
    WriteResult write(std::span<const std::byte> bytes);
    WriteResult write(std::string_view text);
    // errno of the last failed write.
    int lastError() const { return lastError_; }

private:
    int fd_;
    int lastError_ = 0;
};

// Writes `line` and one line feed in a single write.
void emit(Output& out, std::string_view line);

// Every failure's shape: the message and a line feed on standard error; returns exit status 1.
int fail(Output& err, std::string_view message);

}  // namespace lumory::audio
