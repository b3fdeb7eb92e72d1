// A plain, slow model of how the three files are read: the line rules, the index build, the
// index loader, the index writer and the retrieval of one block, written straight from the file
// formats over an in-memory copy of the bytes. The fuzz targets and the hardening tests hold the
// fast code against it; it shares no code with src/ on purpose.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korva::model {

inline constexpr std::size_t kKeyWidth = 24;
inline const std::string kDivider(47, '-');

struct Line {
  std::size_t offset;  // 0-based offset of its first byte
  std::string text;    // without terminator
  bool terminated;     // ended by CR (with or without LF), not by the end of the bytes
};

// CR LF and a lone CR end a line; a lone LF is an ordinary byte. Starts at the 0-based `from`.
inline std::vector<Line> splitLines(std::string_view bytes, std::size_t from = 0) {
  std::vector<Line> lines;
  std::size_t i = from;
  while (i < bytes.size()) {
    Line line{i, {}, false};
    while (i < bytes.size() && bytes[i] != '\r') line.text.push_back(bytes[i++]);
    if (i < bytes.size()) {
      line.terminated = true;
      ++i;
      if (i < bytes.size() && bytes[i] == '\n') ++i;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// Letter case as the index ignores it: ASCII and the Latin letters of Windows-1252.
inline unsigned char lowerByte(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<unsigned char>(c + 0x10);
  if (c == 0x9F) return 0xFF;
  return c;
}

inline std::string folded(std::string_view key) {
  std::string out(key);
  for (char& c : out) c = static_cast<char>(lowerByte(static_cast<unsigned char>(c)));
  return out;
}

struct Entry {
  std::string key;
  std::int64_t position;
  bool operator==(const Entry& o) const { return key == o.key && position == o.position; }
};

// Insertion-ordered, first key wins, keys compared without letter case. Linear lookups: the model
// is for small inputs.
class Table {
 public:
  bool add(const std::string& key, std::int64_t position) {
    if (find(key) != 0) return false;
    entries.push_back({key, position});
    foldedKeys_.push_back(folded(key));
    return true;
  }
  std::int64_t find(std::string_view key) const {
    const std::string f = folded(key);
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (foldedKeys_[i] == f) return entries[i].position;
    return 0;
  }
  std::vector<Entry> entries;

 private:
  std::vector<std::string> foldedKeys_;
};

struct BuildResult {
  Table table;
  std::size_t duplicates = 0;  // opening lines refused because their key was present
};

// The scan of a build from the 0-based `from`. The first line read opens a block, unless the
// scan starts by skipping to a divider. Each line after a divider opens a block, keyed by its
// first 24 bytes; an opening line that runs into the end of the bytes (the recorder is still
// writing it) is not indexed.
inline void scan(std::string_view log, std::size_t from, bool skipFirst, BuildResult& result) {
  bool opening = !skipFirst;
  for (const Line& line : splitLines(log, from)) {
    if (opening) {
      if (!line.terminated) break;
      if (!result.table.add(line.text.substr(0, kKeyWidth),
                            static_cast<std::int64_t>(line.offset) + 1))
        ++result.duplicates;
      opening = false;
    } else if (line.text == kDivider) {
      opening = true;
    }
  }
}

// A fresh build from position 1.
inline BuildResult build(std::string_view log) {
  BuildResult result;
  scan(log, 0, false, result);
  return result;
}

// A build that resumes at the last entry: it keeps the entries, reads from the last entry's
// position and skips to the next divider before it indexes again. The skip reads the opening
// line too, so an opening line that is itself a divider ends the skip at once.
inline BuildResult resume(std::string_view log, const std::vector<Entry>& entries) {
  BuildResult result;
  for (const Entry& e : entries) result.table.add(e.key, e.position);
  if (!entries.empty())
    scan(log, static_cast<std::size_t>(entries.back().position - 1), true, result);
  return result;
}

// Whether a build resumes: the 24 bytes at the last entry's position look up to that position.
inline bool holdsAt(const Table& table, std::string_view log, std::int64_t position) {
  if (position < 1 || position > static_cast<std::int64_t>(log.size())) return false;
  return table.find(log.substr(static_cast<std::size_t>(position - 1), kKeyWidth)) == position;
}

// The loader looks at no more of a line than this; a position cannot be further out.
inline constexpr std::size_t kIndexLineLook = 4096;

// "HtmlResponse.idx": key = first 24 bytes, position = the number from byte 28 on with blanks
// skipped. Lines without a positive number are left out.
inline Table load(std::string_view idx) {
  Table table;
  for (const Line& line : splitLines(idx)) {
    if (line.text.size() <= 27) continue;
    std::int64_t value = 0;
    bool any = false, overflow = false;
    for (std::size_t i = 27; i < std::min(line.text.size(), kIndexLineLook); ++i) {
      char c = line.text[i];
      if (c == ' ' || c == '\t') continue;
      if (c < '0' || c > '9') break;
      if (value > (INT64_MAX - (c - '0')) / 10) {
        overflow = true;
        break;
      }
      value = value * 10 + (c - '0');
      any = true;
    }
    if (any && !overflow && value > 0) table.add(line.text.substr(0, kKeyWidth), value);
  }
  return table;
}

// The two lists side by side, with unprintable bytes escaped, for a failure message.
inline std::string describe(const std::vector<Entry>& got, const std::vector<Entry>& want) {
  auto show = [](const std::string& key) {
    std::string out;
    for (unsigned char c : key) {
      if (c >= 0x20 && c < 0x7F) {
        out.push_back(static_cast<char>(c));
      } else {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
      }
    }
    return out;
  };
  std::string text;
  for (std::size_t i = 0; i < std::max(got.size(), want.size()) && i < 12; ++i) {
    text += "  #" + std::to_string(i) + " got ";
    text += i < got.size() ? show(got[i].key) + " @" + std::to_string(got[i].position) : "-";
    text += " | want ";
    text += i < want.size() ? show(want[i].key) + " @" + std::to_string(want[i].position) : "-";
    text += "\n";
  }
  return text;
}

inline std::string serialize(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) out += e.key + " - " + std::to_string(e.position) + "\r\n";
  return out;
}

struct Retrieved {
  std::string body;
  bool found;
};

// The block of `key`, read from `position` when 0 < position < length, else from the start.
inline Retrieved retrieve(std::string_view log, std::string_view key, std::int64_t position) {
  std::size_t from = 0;
  if (position > 0 && position < static_cast<std::int64_t>(log.size()))
    from = static_cast<std::size_t>(position - 1);
  Retrieved r{{}, false};
  for (const Line& line : splitLines(log, from)) {
    if (r.found && line.text == kDivider) {
      r.body = r.body.size() < kKeyWidth + 2 ? std::string() : r.body.substr(0, r.body.size() - 26);
      return r;
    }
    if (r.found)
      r.body += line.text + "\r\n";
    else if (line.text == key)
      r.found = true;
  }
  return r;
}

// The key of the newest request: the 24 bytes after the last CR LF that starts at byte n - 3
// (1-based) or earlier; empty when there is none.
inline std::string lastRequestKey(std::string_view log) {
  const std::size_t n = log.size();
  if (n < 4) return {};
  for (std::size_t k = n - 3; k >= 1; --k) {  // 1-based index of the CR
    if (log[k - 1] == '\r' && log[k] == '\n') return std::string(log.substr(k + 1, kKeyWidth));
  }
  return {};
}

}  // namespace korva::model
