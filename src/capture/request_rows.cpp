#include "capture/request_rows.h"

#include <algorithm>
#include <limits>

#include "index/line_reader.h"
#include "view/retrieval.h"

namespace korva {

void RequestRows::clear() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  spans_.clear();
  spans_.shrink_to_fit();
}

void RequestRows::load(const std::string& path) {
  clear();
  LineReader reader(path);
  bytes_.reserve(static_cast<std::size_t>(reader.lastKnownLength()));
  spans_.reserve(static_cast<std::size_t>(reader.lastKnownLength() / 64));
  std::string line;
  while (reader.readLine(line)) {
    // Rows longer than 4 GiB are cut; no list could show them anyway.
    auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(line.size(), std::numeric_limits<std::uint32_t>::max()));
    spans_.push_back({bytes_.size(), length});
    bytes_.append(line, 0, length);
  }
}

std::string_view RequestRows::entry(std::size_t row) const {
  if (row >= spans_.size()) return {};
  const Span& s = spans_[row];
  return std::string_view(bytes_).substr(s.offset, s.length);
}

std::string_view RequestRows::key(std::size_t row) const { return requestKey(entry(row)); }

std::string_view RequestRows::text(std::size_t row) const { return requestText(entry(row)); }

}  // namespace korva
