#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumory {

inline constexpr size_t kStandardErrorTailCharacters = 12000;

// Appends UTF-8 `text`; once the buffer holds more than `limit` characters it keeps only the
// last `limit` of them, never splitting a character.
void appendKeepingTail(std::string& buffer, std::string_view text,
                       size_t limit = kStandardErrorTailCharacters);

// `text` without leading and trailing white space and line ends (Unicode's set).
std::string trimmed(std::string_view text);

}  // namespace lumory
