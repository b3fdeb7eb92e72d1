// Work on its own thread, its callbacks served on the calling thread one at a time.
#include "index/served_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace korva {
namespace {

TEST(ServedThreadTest, CallbacksRunOnTheCallerInOrderAndErrorsCrossBothWays) {
  ServedThread served;
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<int> seen;  // touched by both threads, never at once
  std::thread::id worker;
  served.run([&] {
    worker = std::this_thread::get_id();
    for (int i = 0; i < 100; ++i) {
      seen.push_back(-i);
      served.onCaller([&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        seen.push_back(i);
      });
    }
  });
  EXPECT_NE(worker, caller);
  ASSERT_EQ(seen.size(), 200u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[2 * i + 1], i);

  // A callback's exception reaches the work at its onCaller; the work's reaches run().
  bool caughtInWork = false;
  served.run([&] {
    try {
      served.onCaller([] { throw std::runtime_error("caller"); });
    } catch (const std::runtime_error&) {
      caughtInWork = true;
    }
  });
  EXPECT_TRUE(caughtInWork);
  EXPECT_THROW(served.run([] { throw std::runtime_error("work"); }), std::runtime_error);
  EXPECT_THROW(served.run([&] { served.onCaller([] { throw std::logic_error("again"); }); }),
               std::logic_error);

  // On the serving thread, inside a served callback or outside any run, onCaller() runs the
  // function at once instead of waiting for itself.
  int inline_ = 0;
  served.onCaller([&] { ++inline_; });
  served.run([&] {
    served.onCaller([&] {
      served.onCaller([&] {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        ++inline_;
      });
    });
  });
  EXPECT_EQ(inline_, 2);
}

}  // namespace
}  // namespace korva
