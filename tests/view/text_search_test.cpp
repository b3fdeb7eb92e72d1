#include "view/text_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace korva {
namespace {

TEST(FoldCase16, LettersOfTheCoveredScripts) {
  const std::pair<char16_t, char16_t> pairs[] = {
      {u'A', u'a'},           {u'Z', u'z'}, {u'\u00C0', u'\u00E0'},  // À
      {u'\u00DE', u'\u00FE'},                                        // Þ
      {u'\u0100', u'\u0101'},                                        // Ā
      {u'\u0141', u'\u0142'},                                        // Ł
      {u'\u0150', u'\u0151'},                                        // Ő
      {u'\u0178', u'\u00FF'},                                        // Ÿ
      {u'\u017D', u'\u017E'},                                        // Ž
      {u'\u0130', u'i'},                                             // İ
      {u'\u03A3', u'\u03C3'},                                        // Σ
      {u'\u03C2', u'\u03C3'},                                        // ς
      {u'\u0386', u'\u03AC'},                                        // Ά
      {u'\u038F', u'\u03CE'},                                        // Ώ
      {u'\u0416', u'\u0436'},                                        // Ж
      {u'\u0401', u'\u0451'},                                        // Ё
      {u'\u0462', u'\u0463'},                                        // Ѣ
      {u'\u04C1', u'\u04C2'},                                        // Ӂ
      {u'\u04C0', u'\u04CF'},                                        // Ӏ
  };
  for (auto [upper, lower] : pairs) {
    EXPECT_EQ(foldCase16(upper), lower) << int(upper);
    EXPECT_EQ(foldCase16(lower), lower) << int(lower);
  }
  // Not letters with a partner here: ×, ß, ı, ĸ, the capital sharp s, a full-width letter.
  for (char16_t same : {u'\u00D7', u'\u00DF', u'\u0131', u'\u0138', u'\u1E9E', u'\uFF21', u'@'})
    EXPECT_EQ(foldCase16(same), same) << int(same);
}

TEST(FoldCase16, FoldingTwiceChangesNothing) {
  // A fold into a letter that folds again would make equal texts compare unequal.
  for (unsigned c = 0; c < 0x10000; ++c) {
    char16_t f = foldCase16(static_cast<char16_t>(c));
    ASSERT_EQ(foldCase16(f), f) << c;
  }
}

TEST(FindNoCase, OffsetsAndLimits) {
  const std::u16string text = u"abc ABC abc";
  EXPECT_EQ(findNoCase(text, u"abc", 0), 0u);
  EXPECT_EQ(findNoCase(text, u"ABC", 1), 4u);
  EXPECT_EQ(findNoCase(text, u"aBc", 5), 8u);
  EXPECT_EQ(findNoCase(text, u"abc", 9), kNotFound);
  EXPECT_EQ(findNoCase(text, u"c", 10), 10u);
  EXPECT_EQ(findNoCase(text, u"c", 11), kNotFound);
  EXPECT_EQ(findNoCase(text, u"c", 12), kNotFound);
  EXPECT_EQ(findNoCase(text, u"c", kNotFound), kNotFound);
  EXPECT_EQ(findNoCase(text, u"", 0), kNotFound);
  EXPECT_EQ(findNoCase(u"", u"a", 0), kNotFound);
  EXPECT_EQ(findNoCase(u"ab", u"abc", 0), kNotFound);
  EXPECT_EQ(findNoCase(u"Grüße ÄRGER", u"ärger", 0), 6u);
  EXPECT_EQ(findNoCase(u"ΟΔΥΣΣΕΥΣ", u"οδυσσευς", 0), 0u);
  EXPECT_EQ(findNoCase(u"Привет МИР", u"мир", 0), 7u);
}

TEST(FindWithWrap, StepsThroughOccurrencesAndWraps) {
  const std::u16string text = u"abc ABC abc";
  std::size_t selStart = 0, selLength = 0;
  const std::size_t expected[] = {0, 4, 8, 0, 4};
  for (std::size_t want : expected) {
    std::size_t p = findWithWrap(text, u"abc", selStart + selLength);
    ASSERT_EQ(p, want);
    selStart = p;
    selLength = 3;
  }
  // The only occurrence, already selected, is found again.
  EXPECT_EQ(findWithWrap(u"xx abc yy", u"ABC", 6), 3u);
  EXPECT_EQ(findWithWrap(u"xx abc yy", u"abc", 500), 3u);
  EXPECT_EQ(findWithWrap(u"", u"abc", 0), kNotFound);
  EXPECT_EQ(findWithWrap(u"xx abc yy", u"abd", 0), kNotFound);
}

// The plain definition: the first offset where every unit of the term matches after folding.
std::size_t plainFind(std::u16string_view text, std::u16string_view term, std::size_t from) {
  if (term.empty() || from > text.size()) return kNotFound;
  auto same = [](char16_t a, char16_t b) { return foldCase16(a) == foldCase16(b); };
  auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), term.begin(),
                        term.end(), same);
  return it == text.end() ? kNotFound : static_cast<std::size_t>(it - text.begin());
}

// Small alphabets of letters with two or three case variants, long enough texts for the wide
// scan, every start offset.
TEST(FindNoCase, AgreesWithThePlainDefinition) {
  const std::u16string alphabet = u"aAbBiIİıσΣςxЖж";
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int n = 0; n < 4000; ++n) {
    std::u16string text(std::uniform_int_distribution<std::size_t>(0, 80)(rng), u' ');
    for (char16_t& c : text) c = alphabet[pick(rng)];
    std::u16string term(std::uniform_int_distribution<std::size_t>(1, 3)(rng), u' ');
    for (char16_t& c : term) c = alphabet[pick(rng)];
    for (std::size_t from = 0; from <= text.size() + 1; ++from)
      ASSERT_EQ(findNoCase(text, term, from), plainFind(text, term, from));
  }
}

}  // namespace
}  // namespace korva
