#include "index/key_table.h"

#include <gtest/gtest.h>

#include <iterator>
#include <new>
#include <string>
#include <utility>

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
  for (const int reserved : {0, 1, 2}) {
    KeyTable t;
    // An estimate that falls short; the second one with its pages faulted by a thread.
    if (reserved) t.reserve(kCount / 3, reserved == 2);
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(t.add(keyOf(i), i + 1)) << i;
    t.reserve(10);
    EXPECT_FALSE(t.add(upper(keyOf(7)), 99));  // present in another case
    EXPECT_EQ(t.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; i += 997) {
      EXPECT_EQ(t[i].keyView(), keyOf(i));
      EXPECT_EQ(t[i].position(), i + 1);
      EXPECT_EQ(t.find(upper(keyOf(i))), i + 1);
    }
    EXPECT_EQ(t.back().position(), kCount);
    EXPECT_EQ(t.find(keyOf(kCount)), 0);
    EXPECT_EQ(t.find(keyOf(1) + "x"), 0);  // longer than a key
    t.clear();
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t.find(keyOf(1)), 0);
    EXPECT_TRUE(t.add(keyOf(1), 5));
    EXPECT_EQ(t.find(keyOf(1)), 5);
  }
}

// Entries are 32 bytes: a short key (from a build) keeps its length beside its position, and a
// whole key any position a loaded file may hold.
TEST(KeyTableTest, KeepsShortKeysAndLargePositions) {
  KeyTable t;
  const std::pair<std::string, std::int64_t> cases[] = {
      {"", 1},
      {"a", 2},
      {std::string("k\0y", 3), (std::int64_t{1} << 56) - 1},
      {std::string(23, 'x'), 4},
      {keyOf(1), INT64_MAX},
      {keyOf(2), std::int64_t{1} << 60},
  };
  for (const auto& [key, position] : cases) ASSERT_TRUE(t.add(key, position)) << key;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(t[i].keyView(), cases[i].first);
    EXPECT_EQ(t[i].position(), cases[i].second);
    EXPECT_EQ(t.find(upper(cases[i].first)), cases[i].second);
  }
  EXPECT_THROW(t.add("short", std::int64_t{1} << 56), std::bad_alloc);
  EXPECT_EQ(t.size(), std::size(cases));
}

}  // namespace
}  // namespace korva
