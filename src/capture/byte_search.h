// Byte-level scans for the searches over many megabytes: a term ignoring ASCII letter case, and
// the divider line that ends a response block. Both test 16 bytes at a time where SSE2 exists.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korva {

inline constexpr std::size_t kNoMatch = std::string_view::npos;

// Finds `term` in bytes, ASCII letters matching either case, every other byte only itself.
class AsciiNoCaseFinder {
 public:
  // `term` must not be empty.
  explicit AsciiNoCaseFinder(std::string_view term);
  std::size_t termSize() const { return folded_.size(); }
  // Offset of the first occurrence that starts at `from` or later, or kNoMatch.
  std::size_t find(std::string_view bytes, std::size_t from = 0) const;

  // The term folded, and whether it stands at `at` (termSize() bytes must be there).
  const std::string& folded() const { return folded_; }
  bool matchesAt(const char* at) const;

 private:
  std::string folded_;            // the term with ASCII letters in lower case
  std::size_t rare_[2] = {0, 0};  // positions of its two rarest bytes, the scan's anchors
};

// Start of the first divider line (exactly 47 hyphens, begun by a line end, CR LF or a lone CR,
// and ended by a CR) that starts at `from` or later; kNoMatch when none is complete in `bytes`.
// `lineStartBefore` tells whether the byte before bytes[0] ended a line; it counts when `from`
// is 0.
std::size_t findDividerLine(std::string_view bytes, std::size_t from, bool lineStartBefore);

// Whether `bytes` hold a CR that no LF follows (a lone CR, which ends a line as CR LF does); a CR
// as the last byte does not count, its next byte being unknown.
bool holdsLoneCr(std::string_view bytes);

}  // namespace korva
