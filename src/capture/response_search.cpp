#include "capture/response_search.h"

#include <re2/re2.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "capture/body_text.h"
#include "capture/byte_search.h"
#include "capture/capture.h"
#include "capture/read_ahead.h"
#include "capture/regex_bytes.h"
#include "index/constants.h"
#include "index/line_reader.h"
#include "view/text_decode.h"

namespace korva {
namespace {

// Large enough to make system calls rare, small enough that the divider scan and the term scan
// of one block both find it in the cache.
constexpr std::size_t kChunk = 1 << 20;
// A divider not complete in a chunk starts within its last 47 bytes, so the body may end up to
// this many bytes before the chunk's end: matches are counted only up to there.
constexpr std::size_t kUnsure = kDevider.size() + 1 + kClosingLength;
constexpr std::size_t kSnippetContext = 40;

struct Block {
  std::int64_t position;  // 1-based, from the index
  std::size_t row;
};

// Counts the term in one block's body, reading as far as the block's divider.
class BlockScan {
 public:
  BlockScan(ReadAheadFile& log, const AsciiNoCaseFinder& finder, bool snippets)
      : log_(log), finder_(finder), snippets_(snippets) {}

  enum class Outcome { Counted, NotThere, Utf16 };

  // Looks at the block whose opening line starts at 0-based `start` and should be `key`.
  Outcome scan(std::int64_t start, std::string_view key, std::uint64_t& matches,
               std::u16string& snippet) {
    matches = 0;
    snippet.clear();
    std::string_view head = log_.at(start);
    // The index may be stale against a log that changed since: only a real opening line counts.
    if (head.size() <= key.size() || head.substr(0, key.size()) != key || head[key.size()] != '\r')
      return Outcome::NotThere;
    const bool crlf = head.size() > key.size() + 1 && head[key.size() + 1] == '\n';
    const std::int64_t bodyStart = start + static_cast<std::int64_t>(key.size() + (crlf ? 2 : 1));
    std::string_view first = head.substr(static_cast<std::size_t>(bodyStart - start));
    if (first.size() >= 2 &&
        ((first[0] == '\xFF' && first[1] == '\xFE') || (first[0] == '\xFE' && first[1] == '\xFF')))
      return Outcome::Utf16;
    std::int64_t p = bodyStart;  // matches from here on are still to be counted
    std::int64_t lastEnd = bodyStart;
    for (;;) {
      // Two bytes before `p` tell whether a divider right at `p` starts a line.
      const std::int64_t readStart = std::max(start, p - 2);
      const std::string_view bytes = log_.at(readStart);
      const auto from = static_cast<std::size_t>(p - readStart);
      if (bytes.size() <= from) return Outcome::Counted;  // the file ends here
      const std::size_t divider = findDividerLine(bytes, from, false);
      std::size_t countEnd;  // matches must end by here (relative to readStart)
      bool done = true;
      if (divider != kNoMatch) {
        const std::int64_t bodyEnd =
            std::max(bodyStart, readStart + static_cast<std::int64_t>(divider) -
                                    static_cast<std::int64_t>(kClosingLength));
        countEnd = static_cast<std::size_t>(std::max(p, bodyEnd) - readStart);
      } else if (log_.endsFile(readStart, bytes.size())) {
        countEnd = bytes.size();  // no divider yet: the body runs to the end of the file
      } else {
        countEnd = bytes.size() - kUnsure;
        done = false;
      }
      count(bytes.substr(0, countEnd), from, readStart, bodyStart, matches, lastEnd, snippet);
      if (done) return Outcome::Counted;
      p = std::max(lastEnd, readStart + static_cast<std::int64_t>(
                                            countEnd - std::min(countEnd, finder_.termSize() - 1)));
      p = std::max(p, readStart + static_cast<std::int64_t>(from) + 1);
    }
  }

 private:
  void count(std::string_view bytes, std::size_t from, std::int64_t readStart,
             std::int64_t bodyStart, std::uint64_t& matches, std::int64_t& lastEnd,
             std::u16string& snippet) {
    const std::size_t m = finder_.termSize();
    for (std::size_t at = finder_.find(bytes, from); at != kNoMatch;
         at = finder_.find(bytes, at + m)) {
      if (matches++ == 0 && snippets_) snippet = snippetAround(bytes, at, m, readStart, bodyStart);
      lastEnd = readStart + static_cast<std::int64_t>(at + m);
    }
  }

  static std::u16string snippetAround(std::string_view bytes, std::size_t at, std::size_t length,
                                      std::int64_t readStart, std::int64_t bodyStart) {
    const std::size_t floor =
        static_cast<std::size_t>(std::max<std::int64_t>(0, bodyStart - readStart));
    std::size_t begin = at > floor + kSnippetContext ? at - kSnippetContext : floor;
    std::size_t end = std::min(bytes.size(), at + length + kSnippetContext);
    const std::size_t lineStart = bytes.find_last_of("\r\n", at == 0 ? 0 : at - 1);
    if (lineStart != std::string_view::npos && lineStart >= begin && lineStart < at)
      begin = lineStart + 1;
    const std::size_t lineEnd = bytes.find_first_of("\r\n", at + length);
    if (lineEnd != std::string_view::npos && lineEnd < end) end = lineEnd;
    return decodeLine(bytes.substr(begin, end - begin));
  }

  ReadAheadFile& log_;
  const AsciiNoCaseFinder& finder_;
  bool snippets_;
};

std::u16string snippetOfDecoded(std::u16string_view text, std::size_t at, std::size_t length) {
  std::size_t begin = at > kSnippetContext ? at - kSnippetContext : 0;
  std::size_t end = std::min(text.size(), at + length + kSnippetContext);
  for (std::size_t k = at; k > begin; --k)
    if (text[k - 1] == u'\r' || text[k - 1] == u'\n') {
      begin = k;
      break;
    }
  for (std::size_t k = at + length; k < end; ++k)
    if (text[k] == u'\r' || text[k] == u'\n') {
      end = k;
      break;
    }
  return std::u16string(text.substr(begin, end - begin));
}

// Units of UTF-16 that valid UTF-8 takes.
std::size_t utf16Units(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    n += static_cast<std::size_t>((b & 0xC0) != 0x80) + static_cast<std::size_t>(b >= 0xF0);
  }
  return n;
}

// snippetOfDecoded of the whole text, from a decoded stretch around the match: more than the
// 40 units on either side it can take, begun and ended at whole characters.
std::u16string snippetOfUtf8(std::string_view utf8, std::size_t at, std::size_t length) {
  constexpr std::size_t kAround = 4 * kSnippetContext + 8;
  auto boundary = [&](std::size_t k) {
    while (k < utf8.size() && (static_cast<unsigned char>(utf8[k]) & 0xC0) == 0x80) ++k;
    return k;
  };
  const std::size_t begin = at > kAround ? boundary(at - kAround) : 0;
  const std::size_t end = boundary(std::min(utf8.size(), at + length + kAround));
  const std::u16string stretch = decodeUtf8Lenient(utf8.substr(begin, end - begin));
  return snippetOfDecoded(stretch, utf16Units(utf8.substr(begin, at - begin)),
                          utf16Units(utf8.substr(at, length)));
}

// Counts a regular expression in one block's body on the bytes the read-ahead holds, without
// decoding: on the bytes themselves (RE2 reading them as Latin-1) where the expression and the
// body allow it, else on the body's UTF-8 (or that made from Windows-1252). Every other block
// goes the decoded way, which is the reference this must agree with. (A faster first look by
// Vectorscan was dropped: the version Debian 12 ships was seen to miss matches.)
class RegexBlockScan {
 public:
  RegexBlockScan(ReadAheadFile& log, const TextMatcher& matcher, bool snippets)
      : log_(log), matcher_(matcher), snippets_(snippets) {
    if (!readsAlikeOnBytes(matcher.pattern())) return;
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    latin1_ = std::make_unique<RE2>(matcher.pattern(), options);
    if (!latin1_->ok()) latin1_.reset();
    asciiOnly_ = latin1_ && matchesOnlyAscii(matcher.pattern());
  }

  // False when the block must be decoded: a stale index, no divider in reach, a body whose
  // line ends retrieval rewrites or whose text the bytes are not.
  bool scan(std::int64_t start, std::string_view key, std::uint64_t& matches,
            std::u16string& snippet) {
    matches = 0;
    snippet.clear();
    std::optional<std::string_view> body = bodyAt(start, key);
    if (!body) return false;
    if (asciiOnly_) {
      std::optional<bool> done = scanAsAscii(*body, matches, snippet);
      if (done) return *done;
    }
    BodyUtf8 sorted = bodyUtf8(*body);
    if (sorted.kind == BodyUtf8::Kind::Decode) return false;
    const bool singleByte = sorted.kind != BodyUtf8::Kind::Same;
    if (singleByte && latin1_) {
      // An empty match moves the text's own count on by a byte of its UTF-8, which would part
      // from this one at the next character outside ASCII; until then both agree.
      const MatchCount found = countOnBytes(sorted.text);
      if (!found.sawEmpty) {
        matches = found.count;
        if (matches > 0 && snippets_) snippet = singleByteSnippet(sorted, found);
        return true;
      }
    }
    // Only a body whose bytes are not matched needs to know its set.
    resolveSingleByte(sorted);
    if (sorted.kind == BodyUtf8::Kind::Decode) return false;
    std::string_view text = sorted.text;
    if (singleByte) {
      converted_.clear();
      appendUtf8Of1252(text, converted_);
      text = converted_;
    }
    const MatchCount found = countMatches(*matcher_.regex(), text);
    matches = found.count;
    if (matches > 0 && snippets_) snippet = snippetOfUtf8(text, found.firstAt, found.firstLength);
    return true;
  }

 private:
  // An expression whose matches hold only ASCII counts on the bytes of nearly any body, without
  // the body's encoding: nothing is decoded or validated. Nothing when the body must go the
  // other ways; false when it must be decoded.
  std::optional<bool> scanAsAscii(std::string_view body, std::uint64_t& matches,
                                  std::u16string& snippet) {
    const std::optional<std::string_view> view = asciiView(body);
    if (!view) return std::nullopt;
    const MatchCount found = countOnBytes(*view);
    // After an empty match the shown text's count moves on by a byte of its own encoding.
    if (found.sawEmpty) return std::nullopt;
    matches = found.count;
    if (matches == 0 || !snippets_) return true;
    // The snippet is the bytes around the match when they are ASCII; else it needs the body's
    // encoding.
    if (isAscii(around(*view, found))) {
      snippet = singleByteSnippet({BodyUtf8::Kind::Windows1252, *view}, found);
      return true;
    }
    BodyUtf8 sorted = bodyUtf8(body);
    if (sorted.kind == BodyUtf8::Kind::Same) {
      snippet = snippetOfUtf8(sorted.text, found.firstAt, found.firstLength);
      return true;
    }
    resolveSingleByte(sorted);
    if (sorted.kind == BodyUtf8::Kind::Decode) {
      matches = 0;
      return false;
    }
    snippet = singleByteSnippet(sorted, found);
    return true;
  }

  // countMatches with latin1_, each search begun at the first place where a match can begin:
  // RE2 is given the text from the last match on as countMatches gives it, and only told to
  // start later. The text must hold no U+212A or U+017F.
  MatchCount countOnBytes(std::string_view text) {
    const std::vector<AsciiNoCaseFinder>& leading = matcher_.leadingFinders();
    if (leading.empty()) return countMatches(*latin1_, text);
    next_.clear();
    for (const AsciiNoCaseFinder& literal : leading) next_.push_back(literal.find(text, 0));
    MatchCount result;
    std::size_t pos = 0;
    re2::StringPiece match;
    while (pos < text.size()) {
      std::size_t from = kNoMatch;
      for (std::size_t i = 0; i < leading.size(); ++i) {
        if (next_[i] != kNoMatch && next_[i] < pos) next_[i] = leading[i].find(text, pos);
        from = std::min(from, next_[i]);
      }
      if (from == kNoMatch) break;
      const re2::StringPiece rest(text.data() + pos, text.size() - pos);
      if (!latin1_->Match(rest, from - pos, rest.size(), RE2::UNANCHORED, &match, 1)) break;
      const auto at = static_cast<std::size_t>(match.data() - text.data());
      if (result.count++ == 0) {
        result.firstAt = at;
        result.firstLength = match.size();
      }
      // Every match holds a literal, so none is empty.
      pos = at + std::max<std::size_t>(match.size(), 1);
    }
    return result;
  }

  // Characters are bytes: the snippet needs only the bytes around the first match, and their
  // set only when one of them is not ASCII.
  static std::u16string singleByteSnippet(const BodyUtf8& sorted, const MatchCount& found) {
    const std::string_view bytes = around(sorted.text, found);
    BodyEncoding set = BodyEncoding::Windows1252;
    if (sorted.kind == BodyUtf8::Kind::SingleByte && !isAscii(bytes))
      set = guessSingleByteEncoding(sorted.text);
    const std::u16string shown =
        set == BodyEncoding::Windows1252 ? decodeWindows1252(bytes) : decodeSingleByte(bytes, set);
    const auto begin = static_cast<std::size_t>(bytes.data() - sorted.text.data());
    return snippetOfDecoded(shown, found.firstAt - begin, found.firstLength);
  }

  // The bytes a snippet of the first match can take, where characters are bytes.
  static std::string_view around(std::string_view text, const MatchCount& found) {
    const std::size_t at = found.firstAt;
    const std::size_t begin = at > kSnippetContext ? at - kSnippetContext : 0;
    const std::size_t end = std::min(text.size(), at + found.firstLength + kSnippetContext);
    return text.substr(begin, end - begin);
  }

  // The body of the block at 0-based `start`, when the bytes in the read-ahead are exactly
  // what retrieveResponse would give for it.
  std::optional<std::string_view> bodyAt(std::int64_t start, std::string_view key) {
    const std::string_view head = log_.at(start);
    if (head.size() <= key.size() || head.substr(0, key.size()) != key || head[key.size()] != '\r')
      return std::nullopt;
    const bool crlf = head.size() > key.size() + 1 && head[key.size() + 1] == '\n';
    const std::int64_t bodyStart = start + static_cast<std::int64_t>(key.size() + (crlf ? 2 : 1));
    const std::string_view bytes = log_.at(bodyStart);
    // Without a divider in reach (a body of more than half a chunk, or the end of the file),
    // retrieval reads it.
    const std::size_t divider = findDividerLine(bytes, 0, true);
    if (divider == kNoMatch) return std::nullopt;
    // Retrieval ends every line with CR LF: a lone CR would not be the body's byte.
    if (holdsLoneCr(bytes.substr(0, divider + 1))) return std::nullopt;
    return bytes.substr(0, divider >= kClosingLength ? divider - kClosingLength : 0);
  }

  ReadAheadFile& log_;
  const TextMatcher& matcher_;
  std::unique_ptr<RE2> latin1_;
  bool asciiOnly_ = false;         // with latin1_
  std::vector<std::size_t> next_;  // where each was found last
  bool snippets_;
  std::string converted_;  // a Windows-1252 body as UTF-8, kept for its capacity
};

}  // namespace

ResponseSearchResult searchResponses(const Capture& capture, const TextMatcher& matcher,
                                     const ResponseSearchOptions& options) {
  ResponseSearchResult result;
  const clsIndex* index = capture.index();
  const RequestRows& rows = capture.rows();
  if (!index || !matcher.error().empty()) return result;

  std::vector<Block> blocks;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const std::int64_t position = index->QueryIndex(rows.key(row));
    if (position > 0) blocks.push_back({position, row});
  }
  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
    return a.position != b.position ? a.position < b.position : a.row < b.row;
  });

  const std::string path = capture.path(kResponseLogName);
  ReadAheadFile log(path, kChunk);
  const std::int64_t length = fileLength(path);
  // A term longer than the part of a chunk that is sure to be read at once goes the decoded way.
  constexpr std::size_t kMaxScannedTerm = 64 << 10;
  const AsciiNoCaseFinder* finder = matcher.isRegex() ? nullptr : matcher.asciiFinder();
  if (finder && finder->termSize() > kMaxScannedTerm) finder = nullptr;
  std::optional<BlockScan> scanner;
  if (finder) scanner.emplace(log, *finder, options.snippets);
  std::optional<RegexBlockScan> regexScanner;
  if (matcher.isRegex()) regexScanner.emplace(log, matcher, options.snippets);
  ShowOptions decodeOnly;

  std::uint8_t lastPercent = 255;
  for (std::size_t i = 0; i < blocks.size();) {
    // Every row of one block shares its result.
    std::size_t j = i;
    while (j < blocks.size() && blocks[j].position == blocks[i].position) ++j;
    ResponseHit hit;
    bool decoded = true;
    if (scanner) {
      const auto outcome =
          scanner->scan(blocks[i].position - 1, rows.key(blocks[i].row), hit.matches, hit.snippet);
      decoded = outcome == BlockScan::Outcome::Utf16;
    } else if (regexScanner) {
      decoded = !regexScanner->scan(blocks[i].position - 1, rows.key(blocks[i].row), hit.matches,
                                    hit.snippet);
    }
    if (decoded) {
      const RowResponse shown = capture.show(blocks[i].row, decodeOnly);
      hit.matches = matcher.count(shown.text);
      if (hit.matches > 0 && options.snippets)
        if (auto first = matcher.first(shown.text))
          hit.snippet = snippetOfDecoded(shown.text, first->first, first->second);
    }
    for (std::size_t k = i; k < j && hit.matches > 0; ++k) {
      hit.row = blocks[k].row;
      if (options.onHit) options.onHit(hit);
      result.hits.push_back(hit);
    }
    i = j;
    if (options.progress) {
      const auto percent = static_cast<std::uint8_t>(
          length > 0 ? std::min<std::int64_t>(100, (blocks[i - 1].position * 100) / length) : 100);
      if (percent != lastPercent || i == blocks.size()) {
        lastPercent = percent;
        bool cancel = false;
        options.progress(percent, cancel);
        if (cancel) {
          result.cancelled = true;
          break;
        }
      }
    }
  }
  std::sort(result.hits.begin(), result.hits.end(),
            [](const ResponseHit& a, const ResponseHit& b) { return a.row < b.row; });
  result.bytesRead = log.bytesRead();
  return result;
}

}  // namespace korva
