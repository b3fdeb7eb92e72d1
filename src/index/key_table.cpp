#include "index/key_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "index/codec.h"

namespace korva {
namespace {

// A key folded to lower case and zero-padded to 24 bytes, as three machine words.
using Folded = std::array<std::uint64_t, 3>;

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Lower-cases eight bytes at once when they are all ASCII, byte by byte through the table when
// not: every insertion and lookup folds its key.
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

std::uint32_t hashFolded(const Folded& f, std::size_t length) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
  for (std::uint64_t word : f) {
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h = (h << 31) | (h >> 33);
  }
  // Keys differ in a few digits in their middle; the finaliser spreads that over the high bits
  // that pick the slot.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return static_cast<std::uint32_t>((h ^ (h >> 33)) >> 32);
}

// An entry's key bytes past its length are zero, like the padding of a folded key.
bool sameFolded(const KeyTable::Entry& e, const Folded& f, std::size_t length) {
  if (e.keyLength() != length) return false;
  for (std::size_t i = f.size(); i-- > 0;) {
    std::uint64_t word;
    std::memcpy(&word, e.key.data() + 8 * i, 8);
    if (foldWord(word) != f[i]) return false;
  }
  return true;
}

// Linear probing over 8-byte slots stays within a cache line or two up to about 70% load.
std::size_t slotsFor(std::size_t entries) {
  return std::max<std::size_t>(16, entries / 7 * 10 + 10);
}

// Below this, arrays come from malloc, which the sanitizers watch; above, from mmap.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;
constexpr std::size_t kHugeFrom = std::size_t{4} << 20;

constexpr std::uint64_t kNumberMask = 0xFFFFFFFFull;

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

}  // namespace

MappedBytes::~MappedBytes() { resize(0); }

void MappedBytes::swap(MappedBytes& other) {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
}

void MappedBytes::resize(std::size_t bytes) {
  if (bytes == size_) return;
  const bool mapped = size_ >= kMappedFrom;
  if (bytes == 0) {
    if (mapped)
      ::munmap(data_, size_);
    else
      std::free(data_);
    data_ = nullptr;
    size_ = 0;
    return;
  }
  if (bytes < size_) return;  // only released whole
  void* grown;
  if (bytes < kMappedFrom) {
    grown = std::realloc(data_, bytes);
    if (!grown) throw std::bad_alloc();
    std::memset(static_cast<char*>(grown) + size_, 0, bytes - size_);
  } else {
    bytes = (bytes + 4095) & ~std::size_t{4095};
    if (mapped) {
      grown = ::mremap(data_, size_, bytes, MREMAP_MAYMOVE);
    } else {
      grown = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    }
    if (grown == MAP_FAILED) throw std::bad_alloc();
    if (bytes >= kHugeFrom) ::madvise(grown, bytes, MADV_HUGEPAGE);
    if (!mapped && data_) {
      std::memcpy(grown, data_, size_);
      std::free(data_);
    }
  }
  data_ = grown;
  size_ = bytes;
}

std::uint32_t KeyTable::hashOf(std::string_view key) {
  const std::size_t n = std::min(key.size(), static_cast<std::size_t>(kIndexRecordLength));
  return hashFolded(foldKeyBytes(key.data(), n), n);
}

bool KeyTable::add(std::string_view key, std::int64_t position, std::uint32_t hash) {
  if (key.size() > static_cast<std::size_t>(kIndexRecordLength))
    key = key.substr(0, kIndexRecordLength);
  if (size_ >= kNumberMask) throw std::bad_alloc();  // entry numbers are 32 bits
  // A short key's position has 56 bits: a log of 64 PiB.
  if (key.size() < static_cast<std::size_t>(kIndexRecordLength) &&
      static_cast<std::uint64_t>(position) > Entry::kShortPositionMask)
    throw std::bad_alloc();
  if (slotsFor(size_ + 1) > capacity_) rehash(std::max(slotsFor(size_ + 1), capacity_ * 2));
  const std::size_t n = key.size();
  std::uint64_t* const table = slotArray();
  std::size_t s = slotOf(hash);
  for (std::uint64_t v; (v = table[s]) != 0; s = s + 1 == capacity_ ? 0 : s + 1) {
    // Only a slot with the same 32 hash bits is compared, so the entries are read rarely.
    if ((v >> 32) == hash &&
        sameFolded(entries()[(v & kNumberMask) - 1], foldKeyBytes(key.data(), n), n))
      return false;
  }
  growEntries(size_ + 1);
  Entry& e = entries()[size_];
  e.key = {};
  std::memcpy(e.key.data(), key.data(), n);
  e.packed = static_cast<std::uint64_t>(position);
  if (n < static_cast<std::size_t>(kIndexRecordLength))
    e.packed = Entry::kShort | std::uint64_t{n} << 56 | (e.packed & Entry::kShortPositionMask);
  ++size_;
  table[s] = std::uint64_t{hash} << 32 | size_;
  return true;
}

std::int64_t KeyTable::find(std::string_view key) const {
  if (capacity_ == 0 || key.size() > static_cast<std::size_t>(kIndexRecordLength)) return 0;
  const std::size_t n = key.size();
  const Folded f = foldKeyBytes(key.data(), n);
  const std::uint32_t hash = hashFolded(f, n);
  const std::uint64_t* const table = slotArray();
  for (std::size_t s = slotOf(hash);; s = s + 1 == capacity_ ? 0 : s + 1) {
    const std::uint64_t v = table[s];
    if (v == 0) return 0;
    if ((v >> 32) != hash) continue;
    const Entry& e = entries()[(v & kNumberMask) - 1];
    if (sameFolded(e, f, n)) return e.position();
  }
}

void KeyTable::clear() {
  settle();
  entries_.resize(0);
  slots_.resize(0);
  size_ = capacity_ = 0;
}

void KeyTable::reserve(std::size_t count, bool prefault) {
  growEntries(count);
  if (slotsFor(count) > capacity_) rehash(slotsFor(count));
  if (!prefault || entries_.size() < kMappedFrom || prefault_.joinable()) return;
  struct Range {
    char* from;
    std::size_t bytes;
  };
  // The entries from the first one not yet written on; the slots whole.
  const std::size_t used = (size_ * sizeof(Entry)) & ~std::size_t{4095};
  const Range ranges[] = {{static_cast<char*>(slots_.data()), slots_.size()},
                          {static_cast<char*>(entries_.data()) + used, entries_.size() - used}};
  try {
    prefault_ = std::thread([ranges] {
      constexpr std::size_t kStep = std::size_t{4} << 20;
      for (const Range& r : ranges) {
        if (r.bytes < kMappedFrom) continue;  // malloc'ed, or nothing left
        for (std::size_t at = 0; at < r.bytes; at += kStep)
          // Fails on kernels before 5.14; the pages are then faulted where they are written.
          if (::madvise(r.from + at, std::min(kStep, r.bytes - at), MADV_POPULATE_WRITE) != 0)
            return;
      }
    });
  } catch (const std::system_error&) {
    // No thread: the pages are faulted where they are written.
  }
}

void KeyTable::growEntries(std::size_t count) {
  const std::size_t room = entries_.size() / sizeof(Entry);
  if (count <= room) return;
  settle();
  const std::size_t want = std::max({count, room * 2, std::size_t{16}});
  if (want > static_cast<std::size_t>(-1) / sizeof(Entry)) throw std::bad_alloc();
  entries_.resize(want * sizeof(Entry));
}

// Moves every slot into a table of `capacity` slots; the slots carry their hash, so the entries
// are not read.
void KeyTable::rehash(std::size_t capacity) {
  settle();
  if (capacity > static_cast<std::size_t>(-1) / sizeof(std::uint64_t)) throw std::bad_alloc();
  MappedBytes grown;
  grown.resize(capacity * sizeof(std::uint64_t));
  auto* const to = static_cast<std::uint64_t*>(grown.data());
  const std::uint64_t* const from = slotArray();
  for (std::size_t i = 0; i < capacity_; ++i) {
    const std::uint64_t v = from[i];
    if (v == 0) continue;
    std::size_t s = static_cast<std::size_t>(((v >> 32) * capacity) >> 32);
    while (to[s] != 0) s = s + 1 == capacity ? 0 : s + 1;
    to[s] = v;
  }
  slots_.swap(grown);
  capacity_ = capacity;
}

}  // namespace korva
