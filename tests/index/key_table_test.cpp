#include "index/key_table.h"

#include <gtest/gtest.h>

#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// Keys whose hashes lie in [from, to): they pile into the first or last slots of a table.
std::vector<std::string> keysHashedWithin(std::uint32_t from, std::uint32_t to, int count) {
  std::vector<std::string> keys;
  for (int j = 0; static_cast<int>(keys.size()) < count; ++j) {
    std::string key = "pile-" + std::to_string(j);
    const std::uint32_t h = KeyTable::hashOf(key);
    if (h >= from && h < to) keys.push_back(std::move(key));
  }
  return keys;
}

// Appending and placing at once gives what adding one by one gives: the same entries in the same
// order, the first of equal keys kept and the others reported, every key findable; also where
// the hashes crowd the table's first slots (the sorted placement gives up) or run over its end,
// and for keys appended to a table that holds some already.
TEST(KeyTableTest, AppendingThenPlacingIsAddingOneByOne) {
  struct Case {
    const char* name;
    int plain;
    std::vector<std::string> extra;
  };
  const Case cases[] = {
      {"few", 1000, {keyOf(5), upper(keyOf(999)), "short"}},
      {"many", 100'000, {}},
      {"many with repeats", 100'000, {upper(keyOf(3)), keyOf(99'999), upper(keyOf(3))}},
      {"crowded front", 70'000, keysHashedWithin(0, 1u << 20, 40)},
      {"over the end", 70'000, keysHashedWithin(0xFFFF0000u, 0xFFFFFFFFu, 40)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> keys;
    for (int i = 0; i < c.plain; ++i) keys.push_back(keyOf(i));
    // The extra keys go in the middle, so a repeat of a later key is met before it.
    keys.insert(keys.begin() + c.plain / 2, c.extra.begin(), c.extra.end());
    // At once into an empty table, and in three rounds (the last two into a filled one).
    for (const std::size_t rounds : {1, 3}) {
      SCOPED_TRACE(rounds);
      KeyTable added, appended;
      std::vector<std::string> refused, dropped;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!added.add(keys[i], static_cast<std::int64_t>(i + 1))) refused.push_back(keys[i]);
        appended.append(keys[i], static_cast<std::int64_t>(i + 1));
        if (i == 10) appended.reserve(keys.size() / 2, true);  // as a load estimates
        if ((i + 1) % (keys.size() / rounds + 1) == 0) appended.placeAppended(&dropped);
      }
      appended.placeAppended(&dropped);
      EXPECT_EQ(dropped, refused);
      ASSERT_EQ(appended.size(), added.size());
      for (std::size_t i = 0; i < added.size(); ++i) {
        ASSERT_EQ(appended[i].keyView(), added[i].keyView()) << i;
        ASSERT_EQ(appended[i].position(), added[i].position()) << i;
      }
      for (const std::string& key : keys)
        ASSERT_EQ(appended.find(upper(key)), added.find(key)) << key;
      EXPECT_EQ(appended.find("absent"), 0);
      appended.append("late", 1);
      EXPECT_TRUE(appended.add("late-too", 7));  // places what was appended first
      EXPECT_EQ(appended.find("LATE"), 1);
      EXPECT_EQ(appended.find("late-TOO"), 7);
    }
  }
}

}  // namespace
}  // namespace korva
