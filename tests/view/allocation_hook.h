// Makes one large allocation fail, to see how code behaves when memory runs out.
#pragma once

#include <cstddef>

namespace korva::testing {

// True where the hook is built in; not under AddressSanitizer, which brings its own allocation
// functions.
bool allocationHookAvailable();
// The next allocation of at least `bytes` bytes throws std::bad_alloc; 0 disarms.
void failNextAllocationFrom(std::size_t bytes);
// True while the armed failure has not happened yet.
bool allocationFailurePending();

}  // namespace korva::testing
