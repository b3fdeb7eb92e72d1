#include "index/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "index/codec.h"

namespace korva {
namespace {

TEST(Utf8Test, EncodesEachLengthAtItsEdgesAndReplacesWhatUtf8CannotCarry) {
  const struct {
    char32_t codePoint;
    const char* bytes;
  } cases[] = {
      {0x00, "\x00"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    appendUtf8(out, c.codePoint);
    const std::string expected =
        c.codePoint == 0 ? std::string("x\0", 2) : "x" + std::string(c.bytes);
    EXPECT_EQ(out, expected) << std::hex << static_cast<unsigned>(c.codePoint);
    EXPECT_TRUE(isValidUtf8(out));
  }
  EXPECT_EQ(utf8From1252("\x80\xE4\x81"), "\xE2\x82\xAC\xC3\xA4\xC2\x81");
}

// The check passes ASCII 16 bytes at a time: a sequence at any offset of a long line, valid or
// not, whole or cut by the end, must still be judged.
TEST(Utf8Test, ValidityIsJudgedAtEveryOffsetOfALongText) {
  const std::pair<const char*, bool> sequences[] = {
      {"\xC3\xA4", true},  {"\xE2\x82\xAC", true}, {"\xF0\x9F\x98\x80", true}, {"\xC3", false},
      {"\xA4", false},     {"\xE2\x82", false},    {"\xED\xA0\x80", false},  // a surrogate
      {"\xC0\xAF", false},                                                   // overlong
  };
  for (const auto& [sequence, valid] : sequences)
    for (std::size_t at = 0; at < 40; ++at)
      for (std::size_t after : {std::size_t{0}, std::size_t{1}, std::size_t{17}}) {
        const std::string text = std::string(at, 'a') + sequence + std::string(after, 'b');
        EXPECT_EQ(isValidUtf8(text), valid) << sequence << " at " << at << " + " << after;
      }
}

}  // namespace
}  // namespace korva
