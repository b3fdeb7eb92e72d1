#include "index/key_table.h"

#include <gtest/gtest.h>

#include <string>

namespace korva {
namespace {

std::string keyOf(int i) {
  return "abcdefghijklmnop-" + std::to_string(1000000 + i);  // 24 bytes
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// Growing from empty through malloc'd, mapped and re-mapped arrays and several re-hashes, and
// reserving for less than is there, keeps every entry findable in any case and in its order.
TEST(KeyTableTest, GrowsWithoutAnEstimateAndKeepsOrderAndCaseInsensitivity) {
  constexpr int kCount = 200'000;  // 8 MB of entries: past the mapped and the huge-page sizes
  for (const bool reserved : {false, true}) {
    KeyTable t;
    if (reserved) t.reserve(kCount / 3);  // an estimate that falls short
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(t.add(keyOf(i), i + 1)) << i;
    t.reserve(10);
    EXPECT_FALSE(t.add(upper(keyOf(7)), 99));  // present in another case
    EXPECT_EQ(t.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; i += 997) {
      EXPECT_EQ(t[i].keyView(), keyOf(i));
      EXPECT_EQ(t[i].position, i + 1);
      EXPECT_EQ(t.find(upper(keyOf(i))), i + 1);
    }
    EXPECT_EQ(t.back().position, kCount);
    EXPECT_EQ(t.find(keyOf(kCount)), 0);
    EXPECT_EQ(t.find(keyOf(1) + "x"), 0);  // longer than a key
    t.clear();
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t.find(keyOf(1)), 0);
    EXPECT_TRUE(t.add(keyOf(1), 5));
    EXPECT_EQ(t.find(keyOf(1)), 5);
  }
}

}  // namespace
}  // namespace korva
