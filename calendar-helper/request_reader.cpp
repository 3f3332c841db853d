#include "request_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "commands.h"

namespace lumory::cal {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the UTF-8 sequence at text[i] when it is valid (valid = true), otherwise the length
// of its longest valid beginning (at least 1), which is replaced as one fault.
std::size_t sequenceAt(std::string_view text, std::size_t i, bool& valid) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    valid = true;
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        valid = false;
        return 1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const bool fits = i + k < text.size() && byte(i + k) >= (k == 1 ? low : 0x80) &&
                          byte(i + k) <= (k == 1 ? high : 0xBF);
        if (!fits) {
            valid = false;
            return k;
        }
    }
    return length;
}

// Length of the space separator or tab at text[i], or 0.
std::size_t spaceLengthAt(std::string_view text, std::size_t i) {
    const std::string_view rest = text.substr(i);
    if (rest[0] == ' ' || rest[0] == '\t') return 1;
    for (std::string_view space : {"\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xAF", "\xE2\x81\x9F",
                                   "\xE3\x80\x80"}) {
        if (rest.starts_with(space)) return space.size();
    }
    // U+2000 to U+200A.
    if (rest.size() >= 3 && rest[0] == '\xE2' && rest[1] == '\x80' &&
        static_cast<unsigned char>(rest[2]) >= 0x80 && static_cast<unsigned char>(rest[2]) <= 0x8A)
        return 3;
    return 0;
}

bool isSpaceEnding(std::string_view text, std::size_t length) {
    return text.size() >= length && spaceLengthAt(text, text.size() - length) == length;
}

// A number too large for a double would come back as null, changing the peer's id.
bool allNumbersFinite(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::number_float:
            return std::isfinite(value.get<double>());
        case nlohmann::json::value_t::array:
        case nlohmann::json::value_t::object:
            for (const auto& element : value)
                if (!allNumbersFinite(element)) return false;
            return true;
        default:
            return true;
    }
}

}  // namespace

std::string repairUtf8(std::string_view text) {
    std::string repaired;
    std::size_t copied = 0;
    bool anyFault = false;
    for (std::size_t i = 0; i < text.size();) {
        bool valid = true;
        const std::size_t length = sequenceAt(text, i, valid);
        if (!valid) {
            if (!anyFault) repaired.reserve(text.size() + 16);
            anyFault = true;
            repaired.append(text.substr(copied, i - copied));
            repaired.append(kReplacement);
            copied = i + length;
        }
        i += length;
    }
    if (!anyFault) return std::string(text);
    repaired.append(text.substr(copied));
    return repaired;
}

std::string_view trimSpaces(std::string_view text) {
    for (;;) {
        if (text.empty()) return text;
        std::size_t length = spaceLengthAt(text, 0);
        if (length == 0) break;
        text.remove_prefix(length);
    }
    for (;;) {
        if (text.empty()) return text;
        std::size_t length = 0;
        for (std::size_t candidate : {1, 2, 3})
            if (isSpaceEnding(text, candidate)) length = candidate;
        if (length == 0) break;
        text.remove_suffix(length);
    }
    return text;
}

bool nestingWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

void handleLine(CommandContext& context, std::string_view line) {
    const std::string text = repairUtf8(line);
    const std::string_view trimmed = trimSpaces(text);
    if (trimmed.empty()) return;
    // The parser takes a NUL byte for the end of the text and would accept what precedes it.
    if (trimmed.find('\0') != std::string_view::npos ||
        !nestingWithin(trimmed, kMaxNestingDepth)) {
        context.fail(std::nullopt, kBadJson);
        return;
    }
    nlohmann::json request = nlohmann::json::parse(trimmed, nullptr, false);
    if (!request.is_object() || !allNumbersFinite(request)) {
        context.fail(std::nullopt, kBadJson);
        return;
    }
    handle(context, request);
}

LineReader::LineReader(int fd, std::size_t maxLineBytes)
    : fd(fd), maxLineBytes(maxLineBytes), buffer(std::size_t{1} << 16) {}

bool LineReader::fill() {
    if (atEnd) return false;
    if (start > 0) {
        std::memmove(buffer.data(), buffer.data() + start, end - start);
        end -= start;
        start = 0;
    }
    if (end == buffer.size()) buffer.resize(buffer.size() * 2);
    for (;;) {
        ssize_t count = ::read(fd, buffer.data() + end, buffer.size() - end);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            atEnd = true;
            return false;
        }
        end += static_cast<std::size_t>(count);
        return true;
    }
}

std::optional<LineReader::Line> LineReader::next() {
    std::size_t searched = 0;  // bytes after `start` known to hold no line feed
    bool skipping = false;
    for (;;) {
        const char* from = buffer.data() + start + searched;
        const auto* found = static_cast<const char*>(std::memchr(from, '\n', end - start - searched));
        if (found != nullptr) {
            const auto newline = static_cast<std::size_t>(found - buffer.data());
            Line line;
            if (skipping || newline - start > maxLineBytes) {
                line.tooLong = true;
            } else {
                std::size_t lineEnd = newline;
                if (lineEnd > start && buffer[lineEnd - 1] == '\r') --lineEnd;
                line.text.assign(buffer.data() + start, lineEnd - start);
            }
            start = newline + 1;
            return line;
        }
        searched = end - start;
        if (!skipping && searched > maxLineBytes) skipping = true;
        if (skipping) {
            start = end;
            searched = 0;
        }
        if (!fill()) {
            if (skipping) return Line{{}, true};
            if (end == start) return std::nullopt;
            Line line;
            line.text.assign(buffer.data() + start, end - start);
            start = end;
            return line;
        }
    }
}

void readRequests(CommandContext& context, int fd) {
    LineReader reader(fd);
    while (auto line = reader.next()) {
        if (line->tooLong) {
            context.fail(std::nullopt, kBadJson);
            continue;
        }
        handleLine(context, line->text);
    }
}

}  // namespace lumory::cal
