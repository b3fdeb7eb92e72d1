// A fast first look for a regular expression over many bodies: Vectorscan tells whether a text
// may hold a match at all, so that RE2 counts only in the texts that do. The answer is never
// "no" where RE2 would find a match in the same text: expressions whose meaning could differ
// between the two engines get no prefilter (usable() is false), and callers skip it for texts
// whose bytes could (see mayMatch).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

struct hs_database;
struct hs_scratch;

namespace korva {

class RegexPrefilter {
 public:
  // `pattern` in RE2 syntax (UTF-8), matched ignoring letter case unless it says otherwise.
  explicit RegexPrefilter(std::string_view pattern);
  ~RegexPrefilter();
  RegexPrefilter(const RegexPrefilter&) = delete;
  RegexPrefilter& operator=(const RegexPrefilter&) = delete;

  bool usable() const { return bytes_ != nullptr && utf8_ != nullptr; }

  // False when `text` surely holds no match of the expression. With `utf8` set, `text` must be
  // valid UTF-8 and is read as such; otherwise each byte is one character (a single-byte
  // encoding). The text must not hold U+212A or U+017F (a case of 'k' and 's' for RE2, maybe
  // not for Vectorscan), U+000B (outside \s for RE2, inside it for Vectorscan) or NUL (shown as
  // U+2400). Not for concurrent use: the one scratch space is shared.
  bool mayMatch(std::string_view text, bool utf8) const;

  // A match's end and the leftmost start of all matches that end there.
  struct Span {
    unsigned long long from, to;
  };
  // Every end of a match in `text` with its leftmost start, in order of the ends; under the
  // same conditions as mayMatch. False when the expression has no such database (Vectorscan
  // tracks the start of a match for fewer expressions) or the scan failed.
  bool spans(std::string_view text, bool utf8, std::vector<Span>& out) const;
  bool hasSpans() const { return spanBytes_ != nullptr && spanUtf8_ != nullptr; }

 private:
  struct DatabaseFree {
    void operator()(hs_database* db) const;
  };
  struct ScratchFree {
    void operator()(hs_scratch* s) const;
  };
  std::unique_ptr<hs_database, DatabaseFree> bytes_;
  std::unique_ptr<hs_database, DatabaseFree> utf8_;
  std::unique_ptr<hs_database, DatabaseFree> spanBytes_;
  std::unique_ptr<hs_database, DatabaseFree> spanUtf8_;
  std::unique_ptr<hs_scratch, ScratchFree> scratch_;
};

// Whether Vectorscan reads `pattern` as RE2 does, for texts as RegexPrefilter::mayMatch takes
// them: ASCII only, and none of the escapes whose meaning differs or names non-ASCII text.
bool prefilterReadsAlike(std::string_view pattern);

// Whether the expression holds no assertion about what lies around a position (^, $, \b, \B,
// \A, \z): then whether text matches at a position does not depend on where the searched text
// begins. May say false for an expression that holds none.
bool withoutAssertions(std::string_view pattern);

}  // namespace korva
