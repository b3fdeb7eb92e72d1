#include "capture/text_match.h"

#include <re2/re2.h>

#include <algorithm>
#include <cstring>

#include "capture/regex_bytes.h"
#include "index/utf8.h"
#include "view/text_decode.h"

namespace korva {

bool isAscii(std::string_view bytes) {
  // Eight bytes at a time: the filter asks this of every row.
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    high |= word;
  }
  for (; i < bytes.size(); ++i) high |= static_cast<unsigned char>(bytes[i]);
  return (high & 0x8080808080808080ull) == 0;
}

std::string utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    appendUtf8(out, c);  // an unpaired surrogate becomes U+FFFD
  }
  return out;
}

TextMatcher::TextMatcher(std::string_view termUtf8, bool regex) {
  if (termUtf8.empty()) return;
  if (regex) {
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    regex_ = std::make_unique<RE2>(re2::StringPiece(termUtf8.data(), termUtf8.size()), options);
    if (!regex_->ok()) {
      error_ = regexErrorText(regex_->error_code(), regex_->error_arg());
      regex_.reset();
      return;
    }
    for (const std::string& literal : leadingLiterals(termUtf8)) leading_.emplace_back(literal);
    return;
  }
  std::u16string folded = decodeUtf8Lenient(termUtf8);
  plain_ = std::make_unique<NoCaseFinder16>(folded);
  for (char16_t& c : folded) c = foldCase16(c);
  if (std::all_of(folded.begin(), folded.end(), [](char16_t c) { return c < 0x80; }))
    ascii_.emplace(std::string(folded.begin(), folded.end()));
}

TextMatcher::~TextMatcher() = default;
TextMatcher::TextMatcher(TextMatcher&&) noexcept = default;
TextMatcher& TextMatcher::operator=(TextMatcher&&) noexcept = default;

std::uint64_t TextMatcher::count(std::u16string_view text, std::uint64_t limit) const {
  std::uint64_t n = 0;
  if (plain_) {
    for (std::size_t p = plain_->find(text, 0); p != kNotFound && n < limit;
         p = plain_->find(text, p + plain_->termSize()))
      ++n;
  } else if (regex_) {
    n = countUtf8(utf8FromUtf16(text), limit);
  }
  return n;
}

MatchCount countMatches(const re2::RE2& regex, std::string_view text, std::uint64_t limit) {
  MatchCount result;
  re2::StringPiece rest(text.data(), text.size());
  re2::StringPiece match;
  while (result.count < limit && !rest.empty() &&
         regex.Match(rest, 0, rest.size(), RE2::UNANCHORED, &match, 1)) {
    if (result.count++ == 0) {
      result.firstAt = static_cast<std::size_t>(match.data() - text.data());
      result.firstLength = match.size();
    }
    if (match.empty()) result.sawEmpty = true;
    // An empty match must still move on.
    const std::size_t consumed = static_cast<std::size_t>(match.data() - rest.data()) +
                                 std::max<std::size_t>(match.size(), 1);
    rest.remove_prefix(std::min(consumed, rest.size()));
  }
  return result;
}

std::uint64_t TextMatcher::countUtf8(std::string_view utf8, std::uint64_t limit) const {
  return regex_ ? countMatches(*regex_, utf8, limit).count : 0;
}

std::optional<std::pair<std::size_t, std::size_t>> TextMatcher::firstUtf8(
    std::string_view utf8) const {
  re2::StringPiece match;
  if (!regex_ || !regex_->Match(re2::StringPiece(utf8.data(), utf8.size()), 0, utf8.size(),
                                RE2::UNANCHORED, &match, 1))
    return std::nullopt;
  return std::make_pair(static_cast<std::size_t>(match.data() - utf8.data()), match.size());
}

const std::string& TextMatcher::pattern() const {
  static const std::string kNone;
  return regex_ ? regex_->pattern() : kNone;
}

bool TextMatcher::matchesAscii(std::string_view bytes) const {
  if (regex_) {
    // A match begins with one of the leading literals: without any of them there is none, and
    // looking costs a fraction of a call to RE2.
    if (!leading_.empty() &&
        std::none_of(leading_.begin(), leading_.end(),
                     [&](const AsciiNoCaseFinder& f) { return f.find(bytes) != kNoMatch; }))
      return false;
    return RE2::PartialMatch(re2::StringPiece(bytes.data(), bytes.size()), *regex_);
  }
  return ascii_ && ascii_->find(bytes) != kNoMatch;
}

std::optional<std::pair<std::size_t, std::size_t>> TextMatcher::first(
    std::u16string_view text) const {
  if (plain_) {
    const std::size_t p = plain_->find(text, 0);
    if (p == kNotFound) return std::nullopt;
    return std::make_pair(p, plain_->termSize());
  }
  if (!regex_) return std::nullopt;
  const std::string utf8 = utf8FromUtf16(text);
  const auto found = firstUtf8(utf8);
  if (!found) return std::nullopt;
  // Back to UTF-16 offsets: count the units of the UTF-8 prefix and of the match.
  auto units = [](std::string_view bytes) {
    std::size_t n = 0;
    for (unsigned char c : bytes) {
      if ((c & 0xC0) != 0x80) ++n;
      if (c >= 0xF0) ++n;  // a 4-byte sequence is a surrogate pair
    }
    return n;
  };
  const std::string_view all(utf8);
  return std::make_pair(units(all.substr(0, found->first)),
                        units(all.substr(found->first, found->second)));
}

FilterExpression parseFilterExpression(std::string_view e) {
  FilterExpression result;
  std::size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < e.size()) {
    if (blank(e[i])) {
      ++i;
      continue;
    }
    FilterExpression::Part part;
    if (e[i] == '-' && i + 1 < e.size() && !blank(e[i + 1])) {
      part.exclude = true;
      ++i;
    }
    if (e[i] == '/' && i + 1 < e.size()) {
      // The expression ends at a '/' that the end or a blank follows, so it may hold both.
      std::size_t close = i + 1;
      while (close < e.size() &&
             !(e[close] == '/' && (close + 1 == e.size() || blank(e[close + 1]))))
        ++close;
      if (close >= e.size()) {
        result.error = "Regulärer Ausdruck ohne schließendes /";
        return result;
      }
      part.regex = true;
      part.text = std::string(e.substr(i + 1, close - i - 1));
      if (part.text.empty()) {
        result.error = "Leerer regulärer Ausdruck";
        return result;
      }
      i = close + 1;
    } else {
      std::size_t end = i;
      while (end < e.size() && !blank(e[end])) ++end;
      part.text = std::string(e.substr(i, end - i));
      i = end;
    }
    result.parts.push_back(std::move(part));
  }
  return result;
}

std::string regexErrorText(int code, const std::string& fragment) {
  const char* what;
  switch (code) {
    case RE2::ErrorBadEscape:
      what = "ungültige Escape-Folge";
      break;
    case RE2::ErrorBadCharClass:
      what = "ungültige Zeichenklasse";
      break;
    case RE2::ErrorBadCharRange:
      what = "ungültiger Bereich in der Zeichenklasse";
      break;
    case RE2::ErrorMissingBracket:
      what = "fehlende schließende ]";
      break;
    case RE2::ErrorMissingParen:
      what = "fehlende schließende )";
      break;
    case RE2::ErrorUnexpectedParen:
      what = "unerwartete schließende )";
      break;
    case RE2::ErrorTrailingBackslash:
      what = "\\ am Ende des Ausdrucks";
      break;
    case RE2::ErrorRepeatArgument:
      what = "Wiederholung ohne Argument";
      break;
    case RE2::ErrorRepeatSize:
      what = "ungültige Anzahl der Wiederholungen";
      break;
    case RE2::ErrorRepeatOp:
      what = "ungültiger Wiederholungsoperator";
      break;
    case RE2::ErrorBadPerlOp:
      what = "ungültige Gruppe (?...)";
      break;
    case RE2::ErrorBadUTF8:
      what = "ungültiges UTF-8";
      break;
    case RE2::ErrorBadNamedCapture:
      what = "ungültiger Gruppenname";
      break;
    case RE2::ErrorPatternTooLarge:
      what = "Ausdruck zu groß";
      break;
    default:
      what = "interner Fehler";
      break;
  }
  std::string text = std::string("Ungültiger regulärer Ausdruck: ") + what;
  if (!fragment.empty()) text += ": " + fragment;
  return text;
}

bool isRegexTerm(std::string_view term) {
  return term.size() >= 3 && term.front() == '/' && term.back() == '/';
}

TextMatcher matcherForTerm(std::string_view term, bool forceRegex) {
  if (!forceRegex && isRegexTerm(term)) return TextMatcher(term.substr(1, term.size() - 2), true);
  return TextMatcher(term, forceRegex);
}

}  // namespace korva
