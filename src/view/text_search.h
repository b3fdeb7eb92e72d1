// Case-insensitive search over the decoded source text, without Qt.
#pragma once

#include <cstddef>
#include <string_view>

namespace korva {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Lower-case partner of a UTF-16 code unit for comparisons: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters; everything else maps to itself. Locale-independent.
char16_t foldCase16(char16_t c);

// Offset of the first occurrence of `term` in `text` that begins at `from` or later, ignoring
// letter case; kNotFound when there is none (also for an empty term or `from` past the end).
std::size_t findNoCase(std::u16string_view text, std::u16string_view term, std::size_t from);

// The search of Ctrl+F and F3: from `start`, and when that finds nothing once more from 0.
std::size_t findWithWrap(std::u16string_view text, std::u16string_view term, std::size_t start);

}  // namespace korva
