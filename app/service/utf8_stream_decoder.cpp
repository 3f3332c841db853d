#include "service/utf8_stream_decoder.h"

#include <glib.h>

namespace lumory {

namespace {

// Length of the sequence a lead byte starts, 0 when the byte cannot start one.
size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// True when `tail` could still become one valid character with more bytes.
bool isIncompleteCharacter(std::string_view tail) {
    if (tail.empty()) return false;
    size_t expected = sequenceLength(static_cast<unsigned char>(tail[0]));
    if (expected == 0 || tail.size() >= expected) return false;
    for (size_t i = 1; i < tail.size(); ++i) {
        if ((static_cast<unsigned char>(tail[i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

}  // namespace

std::string Utf8StreamDecoder::decode(std::string_view chunk) {
    if (ended_) return {};
    std::string bytes = std::move(pending_);
    pending_.clear();
    bytes.append(chunk);

    // GLib's validator refuses NUL bytes, which UTF-8 allows, so each run between them is
    // checked on its own.
    size_t start = 0;
    while (start < bytes.size()) {
        size_t nul = bytes.find('\0', start);
        size_t end = nul == std::string::npos ? bytes.size() : nul;
        const gchar* validEnd = nullptr;
        if (!g_utf8_validate_len(bytes.data() + start, end - start, &validEnd)) {
            size_t validLength = static_cast<size_t>(validEnd - bytes.data());
            std::string_view rest(bytes.data() + validLength, bytes.size() - validLength);
            if (nul != std::string::npos || !isIncompleteCharacter(rest)) {
                ended_ = true;
            } else {
                pending_.assign(rest);
            }
            bytes.resize(validLength);
            return bytes;
        }
        start = end + 1;
    }
    return bytes;
}

}  // namespace lumory
