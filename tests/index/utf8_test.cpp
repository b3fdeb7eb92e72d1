#include "index/utf8.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace korva
