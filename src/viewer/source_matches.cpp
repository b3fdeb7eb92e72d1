#include "viewer/source_matches.h"

#include <algorithm>

#include "capture/text_match.h"
#include "view/text_search.h"
#include "viewer/status_texts.h"

namespace korva {

void SourceMatches::find(std::u16string_view term, std::u16string_view text) {
  term_ = std::u16string(term);
  offsets_ = term.empty() ? std::vector<std::size_t>() : NoCaseFinder16(term_).findAll(text);
}

void SourceMatches::clear() {
  term_.clear();
  offsets_.clear();
}

std::size_t SourceMatches::current(std::int64_t selStart, std::int64_t selLength) const {
  if (selStart < 0 || selLength != static_cast<std::int64_t>(term_.size())) return 0;
  const auto at =
      std::lower_bound(offsets_.begin(), offsets_.end(), static_cast<std::size_t>(selStart));
  if (at == offsets_.end() || *at != static_cast<std::size_t>(selStart)) return 0;
  return static_cast<std::size_t>(at - offsets_.begin()) + 1;
}

std::string SourceMatches::statusText(std::int64_t selStart, std::int64_t selLength) const {
  if (term_.empty()) return {};
  if (offsets_.empty()) return "„" + utf8FromUtf16(term_) + "“ nicht gefunden";
  return "Treffer " + germanNumber(current(selStart, selLength)) + " von " +
         germanNumber(offsets_.size());
}

}  // namespace korva
