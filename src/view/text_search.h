// Case-insensitive search over the decoded source text, without Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Lower-case partner of a UTF-16 code unit for comparisons: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters; everything else maps to itself. Locale-independent.
char16_t foldCase16(char16_t c);

// A term prepared once for many searches, ignoring letter case as findNoCase does.
class NoCaseFinder16 {
 public:
  explicit NoCaseFinder16(std::u16string_view term);
  std::size_t termSize() const { return folded_.size(); }
  // As findNoCase.
  std::size_t find(std::u16string_view text, std::size_t from) const;
  // Offsets of every occurrence, left to right, not overlapping.
  std::vector<std::size_t> findAll(std::u16string_view text) const;

 private:
  std::u16string folded_;
  bool wide_ = false;     // the first two letters have at most three units each: scan 8 at once
  char16_t first_[3]{};   // units that fold to the first letter (repeated to fill)
  char16_t second_[3]{};  // and to the second
};

// Offset of the first occurrence of `term` in `text` that begins at `from` or later, ignoring
// letter case; kNotFound when there is none (also for an empty term or `from` past the end).
std::size_t findNoCase(std::u16string_view text, std::u16string_view term, std::size_t from);

// The search of Ctrl+F and F3: from `start`, and when that finds nothing once more from 0.
std::size_t findWithWrap(std::u16string_view text, std::u16string_view term, std::size_t start);

}  // namespace korva
