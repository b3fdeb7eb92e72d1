// Slow, literal form of the two filter loops, as the yardstick for the linear filters: every pass
// searches the working text from its first character and splices the removed piece out. Positions
// are 1-based like the loops they follow; 0 means "not found". Quadratic, for tests only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korva::reference {

inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// 1-based position of the first occurrence of `pattern` in `text` at or after the 1-based
// position `start`, or 0. With ignoreCase only ASCII letters match regardless of case.
inline std::size_t inStr(std::size_t start, const std::string& text, std::string_view pattern,
                         bool ignoreCase) {
  if (start < 1) start = 1;
  for (std::size_t p = start; p + pattern.size() <= text.size() + 1; ++p) {
    bool same = true;
    for (std::size_t k = 0; k < pattern.size() && same; ++k) {
      char x = text[p - 1 + k];
      char y = pattern[k];
      same = ignoreCase ? lowerAscii(x) == lowerAscii(y) : x == y;
    }
    if (same) return p;
  }
  return 0;
}

// First `count` characters.
inline std::string left(const std::string& text, std::size_t count) {
  return text.substr(0, count);
}

// Everything from the 1-based position `start` on.
inline std::string mid(const std::string& text, std::size_t start) {
  return start > text.size() ? std::string() : text.substr(start - 1);
}

inline std::string stripJavaScript(const std::string& HtmlCode) {
  std::string working = HtmlCode;
  for (;;) {
    std::size_t a = inStr(1, working, "<script", true);
    if (a == 0) break;
    std::size_t b = inStr(a, working, "</script>", true);
    if (b <= a) break;
    working = left(working, a - 1) + mid(working, b + 9);
  }
  return working;
}

inline std::string stripComments(const std::string& HtmlCode) {
  std::string working = HtmlCode;
  for (;;) {
    std::size_t a = inStr(1, working, "<!--", false);
    if (a == 0) break;
    std::size_t b = inStr(a, working, "-->", false);
    if (b == 0) break;
    working = left(working, a - 1) + mid(working, b + 3);
  }
  return working;
}

}  // namespace korva::reference
