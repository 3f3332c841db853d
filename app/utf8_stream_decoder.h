#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumory {

// Turns the chunks read from a pipe into UTF-8 text. A character split between two reads is
// held back until its last byte arrives, so only bytes that can never be UTF-8 end the stream.
class Utf8StreamDecoder {
public:
    // The complete characters now available (possibly empty), or nothing when the stream
    // holds bytes that are not UTF-8.
    std::optional<std::string> decode(std::string_view chunk);

private:
    std::string pending_;
};

}  // namespace lumory
