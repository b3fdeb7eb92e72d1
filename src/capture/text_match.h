// One search term as the filter and the search over all responses match it: ignoring letter
// case with the folding of the source-text search, either as plain text or as a regular
// expression (RE2, case-insensitive).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/byte_search.h"
#include "view/text_search.h"

namespace re2 {
class RE2;
}

namespace korva {

class TextMatcher {
 public:
  // A plain term (UTF-8), or a regular expression when `regex` is set. An empty term matches
  // nothing. A bad expression leaves error() set and matches nothing.
  TextMatcher(std::string_view termUtf8, bool regex);
  ~TextMatcher();
  TextMatcher(TextMatcher&&) noexcept;
  TextMatcher& operator=(TextMatcher&&) noexcept;

  // German description of what is wrong with the expression; empty when it is usable.
  const std::string& error() const { return error_; }
  bool isRegex() const { return regex_ != nullptr; }
  // The compiled expression, for callers that count on UTF-8 themselves; null for a plain term.
  const re2::RE2* regex() const { return regex_.get(); }
  // Finders for the expression's leadingLiterals (regex_bytes.h); empty when it has none.
  const std::vector<AsciiNoCaseFinder>& leadingFinders() const { return leading_; }
  // The plain term, folded, when it is all ASCII after folding: then it can be matched on the
  // raw bytes of any text whose encoding keeps ASCII as it is.
  const AsciiNoCaseFinder* asciiFinder() const { return ascii_ ? &*ascii_ : nullptr; }

  // Occurrences in decoded text, not overlapping, at most `limit`.
  std::uint64_t count(std::u16string_view text, std::uint64_t limit = UINT64_MAX) const;
  // Offset and length of the first occurrence in `text`, if any.
  std::optional<std::pair<std::size_t, std::size_t>> first(std::u16string_view text) const;
  bool matches(std::u16string_view text) const { return count(text, 1) > 0; }
  // Whether `bytes`, which must be all ASCII, hold a match; no decoding needed.
  bool matchesAscii(std::string_view bytes) const;

  // For a regular expression: the same as count() and first() on the UTF-8 of the text, with
  // offsets in bytes. Lets a caller that holds the text as UTF-8 skip the decoding.
  std::uint64_t countUtf8(std::string_view utf8, std::uint64_t limit = UINT64_MAX) const;
  std::optional<std::pair<std::size_t, std::size_t>> firstUtf8(std::string_view utf8) const;
  // The expression as given; empty for a plain term.
  const std::string& pattern() const;

 private:
  std::string error_;
  std::unique_ptr<re2::RE2> regex_;
  std::unique_ptr<NoCaseFinder16> plain_;
  std::optional<AsciiNoCaseFinder> ascii_;
  std::vector<AsciiNoCaseFinder> leading_;  // the expression's leadingLiterals
};

// The matches of `regex` in `text` as TextMatcher counts them: not overlapping, each searched
// for in the text after the last as if it began there, an empty match moving on by one byte.
struct MatchCount {
  std::uint64_t count = 0;
  bool sawEmpty = false;  // one of them was empty
  std::size_t firstAt = 0, firstLength = 0;
};
MatchCount countMatches(const re2::RE2& regex, std::string_view text,
                        std::uint64_t limit = UINT64_MAX);

// A filter expression: parts separated by blanks must all occur, a part that starts with '-'
// must not occur, and /.../ is a regular expression (it may hold blanks; -/.../ excludes).
struct FilterExpression {
  struct Part {
    std::string text;  // UTF-8, without the '-' and the slashes
    bool regex = false;
    bool exclude = false;
  };
  std::vector<Part> parts;
  std::string error;  // German; empty when the expression parsed
};
FilterExpression parseFilterExpression(std::string_view expressionUtf8);

// German text for an RE2 error code and the part of the expression it concerns.
std::string regexErrorText(int re2ErrorCode, const std::string& fragment);

// "/.../" as a regular expression, anything else as plain text (the syntax of the search over
// all responses and of `korvashimtale-cli search`).
TextMatcher matcherForTerm(std::string_view termUtf8, bool forceRegex = false);
// Whether matcherForTerm takes `termUtf8` for a regular expression.
bool isRegexTerm(std::string_view termUtf8);

// UTF-8 of UTF-16 text; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);
// True when every byte is below 0x80.
bool isAscii(std::string_view bytes);

}  // namespace korva
