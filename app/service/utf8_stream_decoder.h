#pragma once

#include <string>
#include <string_view>

namespace lumory {

// Turns the chunks read from a pipe into UTF-8 text. A character split between two reads is
// held back until its last byte arrives, so only bytes that can never be UTF-8 end the stream.
class Utf8StreamDecoder {
public:
    // The complete characters now available (possibly empty). When the chunk holds bytes that
    // are not UTF-8, the text before them is returned and the stream has ended: `ended()` is
    // true from then on and later chunks give nothing.
    std::string decode(std::string_view chunk);
    bool ended() const { return ended_; }

private:
    std::string pending_;
    bool ended_ = false;
};

}  // namespace lumory
