// The tokenizer and the formatter on any text: the first two bytes seed the chunk cuts, the rest
// is decoded as lenient UTF-8. Tokenizing in chunks gives the kinds of one pass, and formatting
// only inserts line breaks and spaces between the tags.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "view/html_checks.h"
#include "view/text_decode.h"

namespace korva::fuzz {

void run(Input& in) {
  const std::uint16_t seed = in.word();
  const std::u16string text = decodeUtf8Lenient(in.rest());
  std::mt19937 rng(seed);
  std::vector<std::size_t> cuts;
  const std::size_t spread = 1 + seed % 16;
  for (std::size_t k = 1 + rng() % spread; k < text.size(); k += 1 + rng() % spread)
    cuts.push_back(k);
  const std::string chunks = testing::chunkViolation(text, cuts);
  KORVA_FUZZ_CHECK(chunks.empty(), "%s", chunks.c_str());
  const std::string format = testing::formatViolation(text);
  KORVA_FUZZ_CHECK(format.empty(), "%s", format.c_str());
}

}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
