// The search over the responses of all listed requests: one sequential pass over the response
// log, each hit mapped to its block through the index's block positions, and from there to the
// rows of the list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/text_match.h"

namespace korva {

class Capture;

struct ResponseHit {
  std::size_t row = 0;        // list row, from 0
  std::uint64_t matches = 0;  // occurrences in the body, not overlapping
  std::u16string snippet;     // the line around the first occurrence, shortened
};

struct ResponseSearchOptions {
  bool snippets = true;
  // Called after each read block with the share of the log done; setting `cancel` stops the
  // search. Also the one place where a window may yield.
  std::function<void(std::uint8_t percent, bool& cancel)> progress;
  // Called for each hit as soon as it is known, in the order of the blocks in the log.
  std::function<void(const ResponseHit&)> onHit;
};

struct ResponseSearchResult {
  std::vector<ResponseHit> hits;  // in list order
  bool cancelled = false;
  std::uint64_t bytesRead = 0;
};

// Searches the bodies of every row whose key is in the capture's index, matched as the source
// view shows them: decoded, letter case ignored. A plain term that is ASCII after folding is
// found in the raw bytes, since every encoding the display decodes keeps ASCII as it is; other
// terms, regular expressions and UTF-16 bodies are matched on the decoded body. Rows whose key
// is not indexed are not searched. The opening line, the closing line and the divider never
// count. Throws FileError when the response log cannot be read.
ResponseSearchResult searchResponses(const Capture& capture, const TextMatcher& matcher,
                                     const ResponseSearchOptions& options = {});

}  // namespace korva
