// Reading the response block of one request out of the response log, without Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

struct RetrievedResponse {
  std::string body;  // the body lines, each followed by CR LF; the closing line is dropped
  bool found;        // whether the block's opening line was met
};

// The request key of a request-list entry: its first 24 bytes, or all of it when shorter.
std::string_view requestKey(std::string_view entry);
// The request text of an entry: everything from byte offset 27 on; empty when shorter.
std::string_view requestText(std::string_view entry);

// Reads the block of `key` from the response log. `position` is the block's 1-based byte
// position from the index, 0 when the key is not indexed; reading starts there when
// 0 < position < file length, else at the start of the file.
// Lines before the opening line (the first line equal to `key`) are passed over, dividers among
// them. After it, every line up to the next divider is body text, a line equal to the key too.
// At the divider the last 26 accumulated bytes (the closing line and its CR LF) are dropped;
// with fewer than 26 accumulated the body is empty. At the end of the file without a divider the
// body is everything accumulated after the opening line; the end is where a line first runs out
// without a terminator, even if the recorder writes on. A log that is cut or rewritten in place
// while it is read is read again, up to three times in all; after that the block counts as not
// found. Throws FileError when the log cannot be opened or read.
RetrievedResponse retrieveResponse(const std::string& responseLogPath, std::string_view key,
                                   std::int64_t position);

}  // namespace korva
