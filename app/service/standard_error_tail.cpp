#include "service/standard_error_tail.h"

#include <glib.h>

namespace lumory {

void appendKeepingTail(std::string& buffer, std::string_view text, size_t limit) {
    buffer.append(text);
    auto characters = static_cast<size_t>(g_utf8_strlen(buffer.data(), buffer.size()));
    if (characters <= limit) return;
    const gchar* keepFrom =
        g_utf8_offset_to_pointer(buffer.data(), static_cast<glong>(characters - limit));
    buffer.erase(0, static_cast<size_t>(keepFrom - buffer.data()));
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
