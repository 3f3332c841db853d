#include "service/standard_error_tail.h"

#include <glib.h>

namespace lumory {

namespace {

// Every byte but a continuation byte starts a character. GLib's own counting stops at a NUL,
// which a service may well write; this counts every byte kept.
bool startsCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

}  // namespace

void appendKeepingTail(std::string& buffer, std::string_view text, size_t limit) {
    buffer.append(text);
    size_t characters = 0;
    for (char byte : buffer) characters += startsCharacter(byte) ? 1 : 0;
    if (characters <= limit) return;
    size_t drop = characters - limit;
    size_t keepFrom = 0;
    for (; keepFrom < buffer.size(); ++keepFrom) {
        if (startsCharacter(buffer[keepFrom]) && drop-- == 0) break;
    }
    buffer.erase(0, keepFrom);
}

std::string trimmed(std::string_view text) {
    const gchar* begin = text.data();
    const gchar* end = text.data() + text.size();
    while (begin < end && g_unichar_isspace(g_utf8_get_char(begin))) {
        begin = g_utf8_next_char(begin);
    }
    while (end > begin) {
        const gchar* last = g_utf8_find_prev_char(begin, end);
        if (last == nullptr || !g_unichar_isspace(g_utf8_get_char(last))) break;
        end = last;
    }
    return std::string(begin, end);
}

}  // namespace lumory
