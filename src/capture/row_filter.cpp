#include "capture/row_filter.h"

#include <algorithm>

#include "capture/request_rows.h"
#include "view/text_decode.h"

namespace korva {

RowFilter::RowFilter(std::string_view expressionUtf8) {
  FilterExpression parsed = parseFilterExpression(expressionUtf8);
  error_ = std::move(parsed.error);
  for (FilterExpression::Part& part : parsed.parts) {
    TextMatcher matcher(part.text, part.regex);
    if (!matcher.error().empty() && error_.empty()) error_ = matcher.error();
    parts_.push_back({std::move(matcher), part.exclude});
  }
  if (!error_.empty()) parts_.clear();
}

bool RowFilter::matches(std::string_view rowBytes) const {
  // Request lines are nearly always ASCII: those are matched on their bytes; the others on
  // their decoded text, decoded once.
  const bool ascii = isAscii(rowBytes);
  std::u16string decoded;
  bool haveDecoded = false;
  for (const Part& part : parts_) {
    bool found;
    if (ascii) {
      found = part.matcher.matchesAscii(rowBytes);
    } else {
      if (!haveDecoded) decoded = decodeLine(rowBytes);
      haveDecoded = true;
      found = part.matcher.matches(decoded);
    }
    if (found == part.exclude) return false;
  }
  return true;
}

FilterRun::FilterRun(const RequestRows& rows, RowFilter filter)
    : rows_(rows), filter_(std::move(filter)) {}

bool FilterRun::finished() const { return next_ >= rows_.size(); }

bool FilterRun::step(std::size_t count) {
  const std::size_t end = std::min(rows_.size(), next_ + count);
  for (; next_ < end; ++next_)
    if (filter_.keepsEverything() || filter_.matches(rows_.entry(next_)))
      kept_.push_back(static_cast<std::uint32_t>(next_));
  return finished();
}

void FilterRun::rewind(std::size_t row) {
  next_ = std::min(next_, row);
  kept_.erase(std::lower_bound(kept_.begin(), kept_.end(), row), kept_.end());
}

}  // namespace korva
