// The properties of the tokenizer and the formatter that the unit tests and the fuzz target check
// on any text. Each returns what is wrong, empty when nothing is.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "view/html_format.h"
#include "view/html_tokens.h"

namespace korva::testing {

struct HtmlPass {
  std::vector<HtmlTokenKind> kinds;  // per character
  HtmlState end;
  std::string error;
};

// Tokenizes `text` in chunks ending at `cuts` (ascending), storing the state between chunks as a
// highlighter does (encode, decode).
inline HtmlPass tokenizeInChunks(const std::u16string& text, const std::vector<std::size_t>& cuts) {
  HtmlPass pass;
  pass.kinds.assign(text.size(), HtmlTokenKind::Text);
  HtmlState state;
  std::size_t from = 0;
  for (std::size_t k = 0; k <= cuts.size(); ++k) {
    const std::size_t to = k < cuts.size() ? cuts[k] : text.size();
    std::size_t covered = 0;
    state = tokenizeHtml(std::u16string_view(text).substr(from, to - from), state,
                         [&](const HtmlToken& t) {
                           if (t.start != covered || t.length == 0)
                             pass.error = "tokens leave a gap";
                           covered = t.start + t.length;
                           for (std::size_t c = t.start; c < covered && from + c < text.size(); ++c)
                             pass.kinds[from + c] = t.kind;
                         });
    if (covered != to - from) pass.error = "tokens do not cover the chunk";
    const int stored = encode(state);
    if (stored < 0 || decode(stored) != state) pass.error = "the state does not survive encode";
    state = decode(stored);
    from = to;
  }
  pass.end = state;
  return pass;
}

inline std::string chunkViolation(const std::u16string& text,
                                  const std::vector<std::size_t>& cuts) {
  const HtmlPass whole = tokenizeInChunks(text, {});
  const HtmlPass split = tokenizeInChunks(text, cuts);
  if (!whole.error.empty()) return whole.error;
  if (!split.error.empty()) return split.error;
  for (std::size_t c = 0; c < text.size(); ++c)
    if (split.kinds[c] != whole.kinds[c])
      return "character " + std::to_string(c) + " is " + htmlTokenKindName(split.kinds[c]) +
             " in chunks, " + htmlTokenKindName(whole.kinds[c]) + " in one pass";
  if (split.end != whole.end) return "the end states differ";
  return {};
}

// What formatting may do to `text`: insert only "\n" and spaces, only right between the ">" and
// the "<" of two tags (so never in an attribute value, comment, raw text or RCDATA, where "<" has
// another kind), never inside pre or listing; the map agrees with both texts.
inline std::string formatViolation(const std::u16string& text) {
  // The first lines, handed over early, are the start of the result with the insertions in it.
  const std::size_t headLines = text.size() % 7;
  std::u16string headText;
  std::vector<HtmlInsertion> headInsertions;
  int heads = 0;
  const FormattedHtml f =
      formatHtml(text, headLines, [&](std::u16string_view t, const std::vector<HtmlInsertion>& i) {
        headText = t;
        headInsertions = i;
        ++heads;
      });
  const auto& insertions = f.map.insertions();
  auto lineEnds = [](std::u16string_view t) {
    return static_cast<std::size_t>(std::count(t.begin(), t.end(), u'\n'));
  };
  if (heads != (lineEnds(f.text) >= headLines ? 1 : 0)) return "the first lines came wrongly";
  if (heads == 1 &&
      (lineEnds(headText) < headLines || f.text.compare(0, headText.size(), headText) != 0))
    return "the first lines are not the start of the result";
  for (std::size_t k = 0; k < headInsertions.size(); ++k)
    if (k >= insertions.size() || headInsertions[k].original != insertions[k].original ||
        headInsertions[k].count != insertions[k].count ||
        f.map.toFormatted(insertions[k].original) > headText.size())
      return "the insertions of the first lines are not the first of the result";
  const auto at = [&](std::size_t o) { return " at " + std::to_string(o); };
  std::u16string rest;
  std::size_t from = 0, inserted = 0;
  for (std::size_t k = 0; k < insertions.size(); ++k) {
    const HtmlInsertion& ins = insertions[k];
    if ((k > 0 && insertions[k - 1].original >= ins.original) || ins.count == 0)
      return "insertions out of order or empty" + at(ins.original);
    const std::size_t start = f.map.toFormatted(ins.original) - ins.count;
    if (start < from || start + ins.count > f.text.size())
      return "the map is off" + at(ins.original);
    rest.append(f.text, from, start - from);
    if (f.text.compare(start, ins.count, u"\n" + std::u16string(ins.count - 1, u' ')) != 0)
      return "inserted more than a line break and spaces" + at(ins.original);
    if (f.map.toOriginal(start) != ins.original ||
        f.map.toOriginal(start + ins.count - 1) != ins.original)
      return "inserted characters do not map to their place" + at(ins.original);
    from = start + ins.count;
    inserted += ins.count;
  }
  rest.append(f.text, from, std::u16string::npos);
  if (rest != text) return "removing the insertions does not give the original";
  if (f.text.size() != text.size() + inserted) return "the formatted text has another length";

  const HtmlPass pass = tokenizeInChunks(text, {});
  std::vector<int> preOpen(text.size() + 1, 0);
  int open = 0;
  std::size_t lastBracket = std::u16string::npos;
  tokenizeHtml(text, HtmlState{}, [&](const HtmlToken& t) {
    if (t.kind == HtmlTokenKind::TagName && lastBracket + 1 == t.start) {
      std::u16string name = text.substr(t.start, t.length);
      for (auto& c : name) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
      if (name == u"pre" || name == u"listing") {
        if (text[lastBracket] == u'<') ++open;
        if (text[lastBracket] == u'/' && open > 0) --open;
      }
    }
    if (t.kind == HtmlTokenKind::TagBracket) lastBracket = t.start + t.length - 1;
    for (std::size_t c = t.start; c < t.start + t.length; ++c) preOpen[c + 1] = open;
  });
  for (const HtmlInsertion& ins : insertions) {
    const std::size_t o = ins.original;
    if (o == 0 || o >= text.size()) return "inserted at an end" + at(o);
    const HtmlTokenKind before = pass.kinds[o - 1];
    if (text[o - 1] != u'>' ||
        (before != HtmlTokenKind::TagBracket && before != HtmlTokenKind::Comment))
      return "inserted after something else than a tag's '>'" + at(o);
    if (text[o] != u'<' || pass.kinds[o] != HtmlTokenKind::TagBracket)
      return "inserted before something else than a tag's '<'" + at(o);
    if (preOpen[o] != 0) return "inserted inside pre" + at(o);
  }
  const std::size_t step = 1 + text.size() / 4000;
  for (std::size_t o = 0; o < text.size(); o += step) {
    const std::size_t fpos = f.map.toFormatted(o);
    if (fpos >= f.text.size() || f.text[fpos] != text[o] || f.map.toOriginal(fpos) != o)
      return "the map is off" + at(o);
  }
  return {};
}

}  // namespace korva::testing
