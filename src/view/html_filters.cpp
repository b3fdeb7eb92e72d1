#include "view/html_filters.h"

#include <cstring>
#include <new>
#include <string_view>

#include "view/ascii.h"

namespace korva {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// One filter: what opens a piece, what closes it, and whether ASCII letter case counts.
// Neither pattern may start with a letter (the fast search looks for the first byte exactly),
// and the closing pattern must not occur inside the opening one.
struct PiecePattern {
  std::string_view open;
  std::string_view close;
  bool ignoreCase;
};

constexpr PiecePattern kScript{"<script", "</script>", true};
constexpr PiecePattern kComment{"<!--", "-->", false};

inline bool sameByte(char x, char y, bool ignoreCase) {
  return ignoreCase ? lowerAscii(x) == lowerAscii(y) : x == y;
}

// True when `pattern` matches the bytes of head[from..] followed by tail.
bool matchesJoined(std::string_view head, std::size_t from, std::string_view tail,
                   std::string_view pattern, bool ignoreCase) {
  std::size_t headPart = head.size() - from;
  if (headPart + tail.size() < pattern.size()) return false;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    char c = k < headPart ? head[from + k] : tail[k - headPart];
    if (!sameByte(c, pattern[k], ignoreCase)) return false;
  }
  return true;
}

// First occurrence of `pattern` in text[from..], or kNone. Linear: memchr to each candidate
// first byte, then a bounded compare.
std::size_t findPattern(std::string_view text, std::size_t from, std::string_view pattern,
                        bool ignoreCase) {
  const std::size_t m = pattern.size();
  if (text.size() < m) return kNone;
  const char* base = text.data();
  const char* last = base + (text.size() - m);  // last possible start
  const char* p = base + from;
  while (p <= last) {
    p = static_cast<const char*>(
        std::memchr(p, pattern[0], static_cast<std::size_t>(last - p) + 1));
    if (p == nullptr) return kNone;
    std::size_t k = 1;
    while (k < m && sameByte(p[k], pattern[k], ignoreCase)) ++k;
    if (k == m) return static_cast<std::size_t>(p - base);
    ++p;
  }
  return kNone;
}

// Finds the first opening of the working text out + text[i..] and moves the input up to its end
// into `out`; returns its offset in `out`, or kNone. Before the end of `out` there is no opening
// except one that joins its last (open length - 1) bytes with text[i..].
std::size_t takeOpening(std::string& out, std::string_view text, std::size_t& i,
                        const PiecePattern& pat) {
  const std::size_t openLen = pat.open.size();
  const std::string_view rest = text.substr(i);
  const std::size_t joinFrom = out.size() >= openLen - 1 ? out.size() - (openLen - 1) : 0;
  for (std::size_t s = joinFrom; s < out.size(); ++s) {
    if (matchesJoined(out, s, rest, pat.open, pat.ignoreCase)) {
      const std::size_t take = openLen - (out.size() - s);
      out.append(text, i, take);
      i += take;
      return s;
    }
  }
  const std::size_t j = findPattern(text, i, pat.open, pat.ignoreCase);
  if (j == kNone) return kNone;
  out.append(text, i, j + openLen - i);
  i = j + openLen;
  return out.size() - openLen;
}

// Offset in `text` just behind the first closing at or after the opening out[a..], which is
// followed by text[i..]; kNone when there is none. A closing may start inside the opening
// ("<!-->"), and then ends in text[i..].
std::size_t closingEnd(const std::string& out, std::size_t a, std::string_view text, std::size_t i,
                       const PiecePattern& pat) {
  const std::size_t openLen = pat.open.size();
  const std::size_t closeLen = pat.close.size();
  const std::string_view after = text.substr(i);
  for (std::size_t s = 0; s < openLen; ++s) {
    if (s + closeLen > openLen && matchesJoined(out, a + s, after, pat.close, pat.ignoreCase))
      return i + (s + closeLen - openLen);
  }
  const std::size_t c = findPattern(text, i, pat.close, pat.ignoreCase);
  return c == kNone ? kNone : c + closeLen;
}

// The slow loop cuts the first opening through its first closing and searches again from the
// first character. Here the working text is kept as out + text[i..]: `out` is written once and
// only ever cut back at its end, text[i..] is untouched input. A removal at a leaves no opening
// before a, so the next one starts at a - (open length - 1) or later: the run is linear.
std::string stripPieces(const std::string& input, const PiecePattern& pat) {
  const std::string_view text(input);
  std::string out;
  out.reserve(input.size());
  std::size_t i = 0;
  for (;;) {
    const std::size_t a = takeOpening(out, text, i, pat);
    if (a == kNone) break;
    const std::size_t end = closingEnd(out, a, text, i, pat);
    if (end == kNone) break;  // an opening without closing ends the filtering
    out.resize(a);
    i = end;
  }
  out.append(text, i, kNone);
  return out;
}

}  // namespace

std::string StripJavaScript(const std::string& HtmlCode) {
  try {
    return stripPieces(HtmlCode, kScript);
  } catch (const std::bad_alloc&) {
    return HtmlCode;
  }
}

std::string StripComments(const std::string& HtmlCode) { return stripPieces(HtmlCode, kComment); }

}  // namespace korva
