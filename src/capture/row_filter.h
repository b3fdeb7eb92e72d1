// The filter over the request list: which rows an expression keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/text_match.h"

namespace korva {

class RequestRows;

class RowFilter {
 public:
  // See FilterExpression for the syntax. An expression without parts keeps every row.
  explicit RowFilter(std::string_view expressionUtf8);
  // German hint when the expression cannot be used; it then keeps every row.
  const std::string& error() const { return error_; }
  bool keepsEverything() const { return parts_.empty(); }
  // Whether a row (its bytes as the log holds them) passes, matched against the text the list
  // shows for it.
  bool matches(std::string_view rowBytes) const;

 private:
  struct Part {
    TextMatcher matcher;
    bool exclude;
  };
  std::vector<Part> parts_;
  std::string error_;
};

// Runs a filter over the rows a slice at a time, so that a window can stay responsive.
class FilterRun {
 public:
  FilterRun(const RequestRows& rows, RowFilter filter);
  // Looks at up to `count` more rows; true once every row has been looked at. Rows appended to
  // the rows later are looked at by the next steps.
  bool step(std::size_t count);
  // Forgets what was decided from `row` on, so that the next steps look at those rows again: for
  // a refresh that changed rows (RowsChange::from; 0 when they were replaced).
  void rewind(std::size_t row);
  bool finished() const;
  // The rows kept so far, ascending.
  const std::vector<std::uint32_t>& kept() const { return kept_; }
  std::vector<std::uint32_t> takeKept() { return std::move(kept_); }

 private:
  const RequestRows& rows_;
  RowFilter filter_;
  std::size_t next_ = 0;
  std::vector<std::uint32_t> kept_;
};

}  // namespace korva
