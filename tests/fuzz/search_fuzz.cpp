// Decoding of arbitrary body bytes and the case-insensitive search over the text: the fast scan
// against a plain position-by-position comparison, for terms cut from the text with their letter
// case changed and for arbitrary code units.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "view/text_decode.h"
#include "view/text_search.h"

namespace korva::fuzz {
namespace {

std::size_t plainFind(std::u16string_view text, std::u16string_view term, std::size_t from) {
  if (term.empty() || from > text.size() || text.size() - from < term.size()) return kNotFound;
  for (std::size_t p = from; p + term.size() <= text.size(); ++p) {
    std::size_t k = 0;
    while (k < term.size() && foldCase16(text[p + k]) == foldCase16(term[k])) ++k;
    if (k == term.size()) return p;
  }
  return kNotFound;
}

// Upper-case partner where folding has one: any unit that folds to the same lower case.
char16_t otherCase(char16_t c) {
  const char16_t lower = foldCase16(c);
  if (lower != c) return lower;
  for (char16_t u : {static_cast<char16_t>(c - 0x20), static_cast<char16_t>(c - 1),
                     static_cast<char16_t>(c - 0x50), static_cast<char16_t>(c + 1)})
    if (u != c && foldCase16(u) == lower) return u;
  return c;
}

void run(Input& in) {
  const std::uint8_t mode = in.byte();
  const std::uint16_t where = in.word();
  const std::string_view termBytes = in.take(in.byte() % 16);
  const std::string_view body = in.rest();

  const std::u16string text = decodeBody(body);
  KORVA_FUZZ_CHECK(text.find(u'\0') == std::u16string::npos, "a zero unit in the decoded body");
  KORVA_FUZZ_CHECK(decodeLine(body).find(u'\0') == std::u16string::npos,
                   "a zero unit in the decoded line");

  std::u16string term;
  if ((mode & 1) && !text.empty()) {
    const std::size_t at = where % text.size();
    term = text.substr(at, 1 + mode / 16);
    for (std::size_t k = 0; k < term.size(); ++k)
      if ((mode >> (1 + k % 3)) & 1) term[k] = otherCase(term[k]);
  } else {
    for (std::size_t k = 0; k + 1 < termBytes.size(); k += 2)
      term.push_back(static_cast<char16_t>(static_cast<unsigned char>(termBytes[k]) |
                                           static_cast<unsigned char>(termBytes[k + 1]) << 8));
  }
  const std::size_t from = text.empty() ? where % 3 : where % (text.size() + 2);
  const std::size_t want = plainFind(text, term, from);
  const std::size_t got = findNoCase(text, term, from);
  KORVA_FUZZ_CHECK(got == want, "findNoCase gave %zu, expected %zu", got, want);
  const std::size_t wrapped = findWithWrap(text, term, from);
  KORVA_FUZZ_CHECK(wrapped == (want != kNotFound ? want : plainFind(text, term, 0)),
                   "findWithWrap gave %zu", wrapped);
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
