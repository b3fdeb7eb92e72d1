// Names and fixed widths shared by the three files of a log folder.
#pragma once

#include <cstddef>
#include <string_view>

namespace korva {

// Width of a request key in every file.
inline constexpr int kIndexRecordLength = 24;
// The request text of a request-log line starts at this 0-based offset.
inline constexpr std::size_t kRequestTextOffset = kIndexRecordLength + 3;
// The closing line of a response block (its key) and its CR LF: the bytes dropped from the body
// at the divider.
inline constexpr std::size_t kClosingLength = kIndexRecordLength + 2;
// The line that ends every response block: exactly 47 hyphens.
inline constexpr std::string_view kDevider = "-----------------------------------------------";

inline constexpr const char* kRequestLogName = "HtmlRequest.log";
inline constexpr const char* kResponseLogName = "HtmlResponse.log";
inline constexpr const char* kIndexFileName = "HtmlResponse.idx";

}  // namespace korva
