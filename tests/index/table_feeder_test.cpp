#include "index/table_feeder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korva {
namespace {

std::string keyOf(int i) { return "20240321-" + std::to_string(1'000'000 + i) + "-Req"; }

// Fed on a thread or not, synced now and then, the table holds at each sync what adding the
// same keys one by one gives, and the keys it refused come back in order.
TEST(TableFeederTest, EachSyncSeesWhatAddingOneByOneGives) {
  std::vector<std::string> keys;
  for (int i = 0; i < 60'000; ++i) {
    keys.push_back(keyOf(i));
    if (i % 9'000 == 8'999) keys.push_back(keyOf(i / 2));  // repeats, one in another case
    if (i == 20'000) keys.push_back("20240321-1000005-REQ");
    if (i == 30'000) keys.push_back("short");
  }
  for (const bool threaded : {false, true}) {
    SCOPED_TRACE(threaded);
    KeyTable fed, added;
    std::vector<std::string> dropped, refused;
    TableFeeder feeder(fed, threaded);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i == 5'000) feeder.reserve(keys.size());
      feeder.add(keys[i], static_cast<std::int64_t>(i + 1));
      if (!added.add(keys[i], static_cast<std::int64_t>(i + 1))) refused.push_back(keys[i]);
      // Syncs inside a batch, right after one, and the last one with nothing added since.
      if (i % 7'777 != 3 && i != 16'383 && i + 1 != keys.size()) continue;
      ASSERT_EQ(feeder.sync(dropped), nullptr);
      ASSERT_EQ(dropped, refused) << i;
      ASSERT_EQ(fed.size(), added.size()) << i;
      for (std::size_t j = 0; j < added.size(); j += 101)
        ASSERT_EQ(fed[j].keyView(), added[j].keyView()) << j;
      ASSERT_EQ(fed.find(keys[i]), added.find(keys[i])) << i;
    }
    ASSERT_EQ(feeder.sync(dropped), nullptr);
    EXPECT_EQ(dropped, refused);
    EXPECT_EQ(refused.size(), 7u);
    for (std::size_t i = 0; i < keys.size(); i += 37)
      ASSERT_EQ(fed.find(keys[i]), added.find(keys[i]));
  }
}

}  // namespace
}  // namespace korva
