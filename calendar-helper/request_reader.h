#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_context.h"

namespace lumory::cal {

// Requests nested deeper than this are "bad JSON": the reply writer recurses once per level,
// and no command needs more than a few.
inline constexpr std::size_t kMaxNestingDepth = 256;
// Longer lines are skipped unread and answered "bad JSON", so one endless line cannot exhaust
// memory.
inline constexpr std::size_t kMaxLineBytes = std::size_t{128} << 20;

inline constexpr const char* kBadJson = "bad JSON";

// Invalid UTF-8 sequences become U+FFFD; valid text is returned unchanged.
std::string repairUtf8(std::string_view text);
// Removes tabs and Unicode space separators from both ends.
std::string_view trimSpaces(std::string_view text);
// True when no array or object in the JSON text opens deeper than `limit`.
bool nestingWithin(std::string_view text, std::size_t limit);

// One line of input, its line ending already removed: ignored when blank, answered "bad JSON"
// when it is no JSON object, handled otherwise.
void handleLine(CommandContext& context, std::string_view line);

// Splits a descriptor's bytes into lines ended by LF or CR LF.
class LineReader {
public:
    explicit LineReader(int fd, std::size_t maxLineBytes = kMaxLineBytes);

    struct Line {
        std::string text;
        bool tooLong = false;  // text is empty; the line was skipped
    };
    // The next line, or nothing at end of input. A last line without a line feed counts.
    std::optional<Line> next();

private:
    bool fill();

    int fd;
    std::size_t maxLineBytes;
    std::vector<char> buffer;
    std::size_t start = 0;
    std::size_t end = 0;
    bool atEnd = false;
};

// Handles every line of `fd` in order until end of input.
void readRequests(CommandContext& context, int fd);

}  // namespace lumory::cal
