#include "view/allocation_hook.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::size_t gFailFrom = 0;  // 0: no failure armed
}

#if !defined(__SANITIZE_ADDRESS__)
// Kept out of line: inlined into the callers here, the pairing of malloc with delete would look
// mismatched to the compiler's checks.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (gFailFrom != 0 && size >= gFailFrom) {
    gFailFrom = 0;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace korva::testing {

bool allocationHookAvailable() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return true;
#endif
}

void failNextAllocationFrom(std::size_t bytes) { gFailFrom = bytes; }
bool allocationFailurePending() { return gFailFrom != 0; }

namespace {

TEST(AllocationHook, FailsOnceAndOnlyFromTheSize) {
  if (!allocationHookAvailable()) GTEST_SKIP() << "not under AddressSanitizer";
  failNextAllocationFrom(1 << 20);
  std::vector<char> small(1000);
  EXPECT_TRUE(allocationFailurePending());
  EXPECT_THROW(std::vector<char>(1 << 20), std::bad_alloc);
  EXPECT_FALSE(allocationFailurePending());
  EXPECT_NO_THROW(std::vector<char>(1 << 20));
}

}  // namespace
}  // namespace korva::testing
