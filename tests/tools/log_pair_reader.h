// An independent reader of the two logs for the generator tests: bytes split on CR LF only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace korva::test {

inline const std::string kDividerLine(47, '-');

inline std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Line {
  std::string text;
  std::int64_t offset;  // 0-based offset of the first byte
};

// Splits on CR LF. A CR or LF anywhere else, or bytes after the last CR LF, are format faults.
inline std::vector<Line> splitCrLf(const std::string& bytes, const std::string& what) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t cr = bytes.find_first_of("\r\n", start);
    if (cr == std::string::npos) {
      ADD_FAILURE() << what << ": no CR LF after the last line at offset " << start;
      break;
    }
    if (bytes[cr] != '\r' || cr + 1 >= bytes.size() || bytes[cr + 1] != '\n') {
      ADD_FAILURE() << what << ": lone CR or LF at offset " << cr;
      return lines;
    }
    lines.push_back({bytes.substr(start, cr - start), static_cast<std::int64_t>(start)});
    start = cr + 2;
  }
  return lines;
}

struct Block {
  std::string opening;
  std::int64_t position = 0;  // 1-based, as the index counts
  std::vector<std::string> body;
  std::int64_t bodyBytes = 0;  // body lines with their CR LF
  std::string closing;
  bool finished = false;  // closing line and divider present
};

// Blocks as the format defines them: the first line and every line after a divider open one.
inline std::vector<Block> parseBlocks(const std::string& bytes) {
  std::vector<Block> blocks;
  const auto lines = splitCrLf(bytes, "HtmlResponse.log");
  std::size_t i = 0;
  while (i < lines.size()) {
    Block b;
    b.opening = lines[i].text;
    b.position = lines[i].offset + 1;
    std::size_t j = i + 1;
    while (j < lines.size() && lines[j].text != kDividerLine) ++j;
    b.finished = j < lines.size();
    const std::size_t bodyEnd = b.finished ? j - 1 : j;  // the line before the divider closes
    if (b.finished && j == i + 1) {
      ADD_FAILURE() << "block at " << b.position << " has no closing line";
    } else if (b.finished) {
      b.closing = lines[j - 1].text;
    }
    for (std::size_t k = i + 1; k < bodyEnd && k < lines.size(); ++k) {
      b.body.push_back(lines[k].text);
      b.bodyBytes += static_cast<std::int64_t>(lines[k].text.size()) + 2;
    }
    blocks.push_back(std::move(b));
    i = j + 1;
  }
  return blocks;
}

struct RequestLine {
  std::string key;
  std::string text;
};

inline std::vector<RequestLine> parseRequests(const std::string& bytes) {
  std::vector<RequestLine> out;
  for (const auto& line : splitCrLf(bytes, "HtmlRequest.log")) {
    EXPECT_GE(line.text.size(), 28u) << "short request line at " << line.offset;
    if (line.text.size() < 28) continue;
    EXPECT_EQ(line.text.substr(24, 3), " - ") << "separator at " << line.offset;
    out.push_back({line.text.substr(0, 24), line.text.substr(27)});
  }
  return out;
}

}  // namespace korva::test
