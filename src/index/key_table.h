// Insertion-ordered table from request keys to byte positions, looked up without regard to
// letter case. Keys are at most 24 bytes and are stored inline, so a million entries cost about
// 48 MB; lookups hash the folded key into an open-addressing table of entry numbers.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "index/constants.h"

namespace korva {

// Allocates large arrays on transparent huge pages where the kernel offers them: a lookup in a
// table of millions of entries touches two random places, and with 4 KiB pages each of them
// also costs a TLB miss.
template <typename T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(std::size_t n);
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <typename U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const HugePageAllocator<U>&) const {
    return false;
  }
};

void* allocateMaybeHuge(std::size_t bytes);

template <typename T>
T* HugePageAllocator<T>::allocate(std::size_t n) {
  if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
  return static_cast<T*>(allocateMaybeHuge(n * sizeof(T)));
}

// The entries live in the open-addressing table itself, so that a lookup costs one random memory
// access rather than two; a separate array of slot numbers keeps the insertion order.
class KeyTable {
 public:
  struct Entry {
    std::array<char, kIndexRecordLength> key;
    std::uint8_t keyLength;  // kFreeSlot marks a free slot of the table
    std::int64_t position;
    std::string_view keyView() const { return {key.data(), keyLength}; }
  };

  // Adds the key with its position at the end. Returns false, and changes nothing, when the
  // key is already present in any letter case. Keys longer than 24 bytes are cut to 24.
  bool add(std::string_view key, std::int64_t position);
  // Position stored under the key, or 0 when it is absent.
  std::int64_t find(std::string_view key) const;

  // Starts fetching the slot where the key would go: a caller with many keys at hand prefetches
  // a batch, then adds or finds them, and their memory accesses overlap.
  void prefetch(std::string_view key) const;

  std::size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  // The i-th entry in insertion order.
  const Entry& operator[](std::size_t i) const { return slots_[order_[i]]; }
  const Entry& back() const { return slots_[order_.back()]; }
  void clear();
  void reserve(std::size_t count);

 private:
  static constexpr std::uint8_t kFreeSlot = 0xFF;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t findSlot(std::string_view key) const;  // slot number, or kNone
  void rehash(std::size_t capacity);

  std::vector<Entry, HugePageAllocator<Entry>> slots_;
  std::vector<std::uint32_t> order_;  // slot numbers in insertion order
};

}  // namespace korva
