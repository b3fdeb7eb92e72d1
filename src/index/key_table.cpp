#include "index/key_table.h"

#include <sys/mman.h>

#include <cstring>

#include "index/codec.h"

namespace korva {
namespace {

// A key folded to lower case and zero-padded to 24 bytes, as three machine words.
using Folded = std::array<std::uint64_t, 3>;

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Lower-cases eight bytes at once when they are all ASCII, byte by byte through the table when
// not: lookups fold every key, and the word-wise path keeps a lookup short enough for the CPU to
// overlap the memory access of one lookup with the next.
std::uint64_t foldWord(std::uint64_t word) {
  if ((word & kHighBits) == 0) {
    const std::uint64_t atLeastA = word + 0x3F3F3F3F3F3F3F3Full;  // 'A' (0x41) reaches 0x80
    const std::uint64_t aboveZ = word + 0x2525252525252525ull;    // '[' (0x5B) reaches 0x80
    return word | ((atLeastA & ~aboveZ & kHighBits) >> 2);
  }
  unsigned char bytes[8];
  std::memcpy(bytes, &word, 8);
  for (unsigned char& b : bytes) b = foldCase1252(b);
  std::memcpy(&word, bytes, 8);
  return word;
}

Folded foldKeyBytes(const char* key, std::size_t length) {
  char padded[kIndexRecordLength] = {};
  std::memcpy(padded, key, length);
  Folded f;
  for (std::size_t i = 0; i < f.size(); ++i) {
    std::uint64_t word;
    std::memcpy(&word, padded + 8 * i, 8);
    f[i] = foldWord(word);
  }
  return f;
}

std::uint64_t hashFolded(const Folded& f, std::size_t length) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
  for (std::uint64_t word : f) {
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h = (h << 31) | (h >> 33);
  }
  // Keys differ in a few digits in their middle; the finaliser spreads that over the low bits
  // that pick the slot.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

// An entry's key bytes past its length are zero, like the padding of a folded key.
bool sameFolded(const KeyTable::Entry& e, const Folded& f, std::size_t length) {
  if (e.keyLength != length) return false;
  for (std::size_t i = f.size(); i-- > 0;) {
    std::uint64_t word;
    std::memcpy(&word, e.key.data() + 8 * i, 8);
    if (foldWord(word) != f[i]) return false;
  }
  return true;
}

// Linear probing stays short up to about 70% load, and with the entries in the table the extra
// probes read neighbouring memory.
bool fits(std::size_t entries, std::size_t slots) { return entries * 10 <= slots * 7; }

}  // namespace

void* allocateMaybeHuge(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  void* p = nullptr;
  if (bytes >= 2 * kHugePage) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    p = std::aligned_alloc(kHugePage, rounded);
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
  } else {
    p = std::malloc(bytes == 0 ? 1 : bytes);
  }
  if (!p) throw std::bad_alloc();
  return p;
}

std::size_t KeyTable::findSlot(std::string_view key) const {
  if (slots_.empty() || key.size() > static_cast<std::size_t>(kIndexRecordLength)) return kNone;
  const std::size_t n = key.size();
  const Folded f = foldKeyBytes(key.data(), n);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t s = hashFolded(f, n) & mask;; s = (s + 1) & mask) {
    const Entry& e = slots_[s];
    if (e.keyLength == kFreeSlot) return kNone;
    if (sameFolded(e, f, n)) return s;
  }
}

bool KeyTable::add(std::string_view key, std::int64_t position) {
  if (key.size() > static_cast<std::size_t>(kIndexRecordLength))
    key = key.substr(0, kIndexRecordLength);
  if (!fits(order_.size() + 1, slots_.size())) rehash(slots_.empty() ? 16 : slots_.size() * 2);
  const std::size_t n = key.size();
  const Folded f = foldKeyBytes(key.data(), n);
  const std::size_t mask = slots_.size() - 1;
  std::size_t s = hashFolded(f, n) & mask;
  for (; slots_[s].keyLength != kFreeSlot; s = (s + 1) & mask)
    if (sameFolded(slots_[s], f, n)) return false;
  Entry& e = slots_[s];
  std::memcpy(e.key.data(), key.data(), n);
  e.keyLength = static_cast<std::uint8_t>(n);
  e.position = position;
  order_.push_back(static_cast<std::uint32_t>(s));
  return true;
}

void KeyTable::prefetch(std::string_view key) const {
  if (slots_.empty() || key.size() > static_cast<std::size_t>(kIndexRecordLength)) return;
  const std::size_t mask = slots_.size() - 1;
  __builtin_prefetch(&slots_[hashFolded(foldKeyBytes(key.data(), key.size()), key.size()) & mask]);
}

std::int64_t KeyTable::find(std::string_view key) const {
  std::size_t s = findSlot(key);
  return s == kNone ? 0 : slots_[s].position;
}

void KeyTable::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  order_.clear();
  order_.shrink_to_fit();
}

void KeyTable::reserve(std::size_t count) {
  order_.reserve(count);
  std::size_t want = 16;
  while (!fits(count, want)) want <<= 1;
  if (want > slots_.size()) rehash(want);
}

// Moves every entry into a table of `capacity` slots (a power of two), keeping the order.
void KeyTable::rehash(std::size_t capacity) {
  Entry freeSlot{};
  freeSlot.keyLength = kFreeSlot;
  std::vector<Entry, HugePageAllocator<Entry>> grown(capacity, freeSlot);
  const std::size_t mask = capacity - 1;
  for (std::uint32_t& slot : order_) {
    const Entry& e = slots_[slot];
    std::size_t s = hashFolded(foldKeyBytes(e.key.data(), e.keyLength), e.keyLength) & mask;
    while (grown[s].keyLength != kFreeSlot) s = (s + 1) & mask;
    grown[s] = e;
    slot = static_cast<std::uint32_t>(s);
  }
  slots_.swap(grown);
}

}  // namespace korva
