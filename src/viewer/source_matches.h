// Every occurrence of the source search's term in the text the source view holds, and which of
// them the selection is: the counts behind "Treffer n von N" and the highlights.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

class SourceMatches {
 public:
  // Finds every occurrence of `term` in `text`, ignoring letter case as the search keys do.
  void find(std::u16string_view term, std::u16string_view text);
  void clear();

  // Offsets (UTF-16 units) of the occurrences, ascending, not overlapping.
  const std::vector<std::size_t>& offsets() const { return offsets_; }
  std::size_t length() const { return term_.size(); }
  // The occurrence the selection is, counted from 1; 0 when it is none of them.
  std::size_t current(std::int64_t selStart, std::int64_t selLength) const;
  // "Treffer n von N", or "„x“ nicht gefunden" (UTF-8); empty without a term.
  std::string statusText(std::int64_t selStart, std::int64_t selLength) const;

 private:
  std::u16string term_;
  std::vector<std::size_t> offsets_;
};

}  // namespace korva
