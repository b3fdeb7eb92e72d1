#include "index/key_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

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

void KeyTable::store(std::string_view key, std::int64_t position) {
  if (size_ >= kNumberMask) throw std::bad_alloc();  // entry numbers are 32 bits
  const std::size_t n = key.size();
  // A short key's position has 56 bits: a log of 64 PiB.
  if (n < static_cast<std::size_t>(kIndexRecordLength) &&
      static_cast<std::uint64_t>(position) > Entry::kShortPositionMask)
    throw std::bad_alloc();
  growEntries(size_ + 1);
  Entry& e = entries()[size_];
  e.key = {};
  std::memcpy(e.key.data(), key.data(), n);
  e.packed = static_cast<std::uint64_t>(position);
  if (n < static_cast<std::size_t>(kIndexRecordLength))
    e.packed = Entry::kShort | std::uint64_t{n} << 56 | (e.packed & Entry::kShortPositionMask);
  ++size_;
}

KeyTable::Placed KeyTable::place(std::uint64_t slot, bool wrap) {
  const auto hash = static_cast<std::uint32_t>(slot >> 32);
  std::uint64_t* const table = slotArray();
  const Entry& mine = entries()[(slot & kNumberMask) - 1];
  for (std::size_t s = slotOf(hash);;) {
    const std::uint64_t v = table[s];
    if (v == 0) {
      table[s] = slot;
      return Placed::kDone;
    }
    // Only a slot with the same 32 hash bits is compared, so the entries are read rarely.
    if ((v >> 32) == hash &&
        sameFolded(entries()[(v & kNumberMask) - 1],
                   foldKeyBytes(mine.key.data(), mine.keyLength()), mine.keyLength()))
      return Placed::kEqual;
    if (++s == capacity_) {
      if (!wrap) return Placed::kAtEnd;
      s = 0;
    }
  }
}

bool KeyTable::add(std::string_view key, std::int64_t position) {
  if (appending_) placeAppended();
  if (key.size() > static_cast<std::size_t>(kIndexRecordLength))
    key = key.substr(0, kIndexRecordLength);
  if (slotsFor(size_ + 1) > capacity_) rehash(std::max(slotsFor(size_ + 1), capacity_ * 2));
  const std::uint32_t hash = hashOf(key);
  store(key, position);
  if (place(std::uint64_t{hash} << 32 | size_, true) == Placed::kEqual) {
    --size_;
    return false;
  }
  return true;
}

void KeyTable::append(std::string_view key, std::int64_t position) {
  if (!appending_) {
    appending_ = true;
    appendedFrom_ = size_;
  }
  if (key.size() > static_cast<std::size_t>(kIndexRecordLength))
    key = key.substr(0, kIndexRecordLength);
  reserveAppended(size_ + 1 - appendedFrom_);
  store(key, position);
  static_cast<std::uint32_t*>(appended_.data())[size_ - 1 - appendedFrom_] = hashOf(key);
}

std::size_t KeyTable::placeAppended(std::vector<std::string>* dropped) {
  if (!appending_) return 0;
  if (slotsFor(size_) > capacity_) rehash(std::max(slotsFor(size_), capacity_ * 2));
  appending_ = false;  // from here on size_ counts the placed entries only
  std::size_t count = 0;
  bool equal = false;
  if (appendedFrom_ > 0 || !placeSorted(equal)) {
    count = placeInOrder(appendedFrom_, dropped);
  } else if (equal) {
    // A key met twice: the sorted placement is dropped and every entry placed in order.
    std::memset(slots_.data(), 0, capacity_ * sizeof(std::uint64_t));
    count = placeInOrder(0, dropped);
  }
  if (hashesPrefaulted_) settle();
  appended_.resize(0);
  return count;
}

// The appended entries' slot values are packed into the front of the empty table sorted by
// bucket (the top bits of the hash), then placed from the last bucket down: each bucket's values
// lie in a few KiB, and so do the homes of its hashes. That needs each bucket's packed run to end
// at or below the first home of the next bucket's hashes; random hashes leave a margin of
// thousands of slots there. False, with the table untouched, for a few keys, or for a file's
// keys that leave no margin.
bool KeyTable::placeSorted(bool& equal) {
  constexpr std::size_t kSortedFrom = std::size_t{1} << 16;  // below, the slots fit the caches
  constexpr unsigned kShift = 20;                            // 4096 buckets
  constexpr std::size_t kBuckets = std::size_t{1} << (32 - kShift);
  const std::size_t count = size_;
  if (count < kSortedFrom) return false;
  const auto* const hashes = static_cast<const std::uint32_t*>(appended_.data());
  auto firstHome = [&](std::size_t b) { return slotOf(static_cast<std::uint32_t>(b << kShift)); };
  std::vector<std::size_t> start(kBuckets + 1);
  for (std::size_t i = 0; i < count; ++i) ++start[(hashes[i] >> kShift) + 1];
  for (std::size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
  for (std::size_t b = 1; b < kBuckets; ++b)
    if (start[b] > firstHome(b)) return false;
  std::uint64_t* const table = slotArray();
  std::vector<std::size_t> next(start.begin(), start.end() - 1);
  for (std::size_t i = 0; i < count; ++i)
    table[next[hashes[i] >> kShift]++] = std::uint64_t{hashes[i]} << 32 | (i + 1);
  // A hash whose run reaches the table's end waits until the front holds no sorted run.
  std::vector<std::uint64_t> run, wrapped;
  for (std::size_t b = kBuckets; b-- > 0;) {
    // The next bucket's homes are fetched meanwhile: placed in the order of its entries, they
    // would each miss the cache.
    if (b > 0)
      for (std::size_t s = firstHome(b - 1); s < firstHome(b); s += 8)
        __builtin_prefetch(table + s, 1);
    run.assign(table + start[b], table + start[b + 1]);
    std::fill(table + start[b], table + start[b + 1], 0);
    for (const std::uint64_t v : run) {
      const Placed p = place(v, false);
      if (p == Placed::kEqual) return equal = true;
      if (p == Placed::kAtEnd) wrapped.push_back(v);
    }
  }
  for (const std::uint64_t v : wrapped)
    if (place(v, true) == Placed::kEqual) return equal = true;
  return true;
}

// Places the appended entries from `first` on in insertion order, the slots of later ones
// fetched meanwhile; a key already present is dropped and the entries after it close the gap.
std::size_t KeyTable::placeInOrder(std::size_t first, std::vector<std::string>* dropped) {
  constexpr std::size_t kAhead = 16;
  const auto* const hashes = static_cast<const std::uint32_t*>(appended_.data());
  std::uint64_t* const table = slotArray();
  Entry* const e = entries();
  const std::size_t all = size_;
  size_ = first;
  for (std::size_t r = first; r < all; ++r) {
    if (r + kAhead < all) __builtin_prefetch(table + slotOf(hashes[r + kAhead - first]), 1);
    if (size_ != r) e[size_] = e[r];
    if (place(std::uint64_t{hashes[r - first]} << 32 | (size_ + 1), true) == Placed::kDone)
      ++size_;
    else if (dropped)
      dropped->emplace_back(e[size_].keyView());
  }
  return all - size_;
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
  appended_.resize(0);
  size_ = capacity_ = 0;
  appending_ = false;
}

void KeyTable::reserve(std::size_t count, bool prefault) {
  growEntries(count);
  if (appending_ && count > size_) reserveAppended(count - appendedFrom_);
  if (slotsFor(count) > capacity_) rehash(slotsFor(count));
  if (!prefault || entries_.size() < kMappedFrom || prefault_.joinable()) return;
  struct Range {
    char* from = nullptr;
    std::size_t bytes = 0;
  };
  auto unwritten = [](const MappedBytes& m, std::size_t written) {
    written &= ~std::size_t{4095};
    return Range{static_cast<char*>(m.data()) + written, m.size() - written};
  };
  const Range entries = unwritten(entries_, size_ * sizeof(Entry));
  const Range slots = unwritten(slots_, 0);
  // Two groups, one after the other; the ranges of a group advance together. A build writes the
  // slots at random from the start; appending writes entries and hashes front to back, and the
  // slots only at the end.
  using Group = std::array<Range, 2>;
  const std::array<Group, 2> groups =
      appending_
          ? std::array<Group, 2>{Group{entries, unwritten(appended_, (size_ - appendedFrom_) * 4)},
                                 Group{slots}}
          : std::array<Group, 2>{Group{slots}, Group{entries}};
  try {
    prefault_ = std::thread([groups] {
      constexpr std::size_t kStep = std::size_t{4} << 20;
      for (const Group& group : groups) {
        const std::size_t rounds = std::max(group[0].bytes, group[1].bytes) / kStep + 1;
        for (std::size_t k = 0; k < rounds; ++k)
          for (const Range& r : group) {
            const std::size_t chunk = (r.bytes / rounds + 4096) & ~std::size_t{4095};
            if (r.bytes < kMappedFrom || k * chunk >= r.bytes) continue;  // malloc'ed, or done
            // Fails on kernels before 5.14; the pages are then faulted where they are written.
            if (::madvise(r.from + k * chunk, std::min(chunk, r.bytes - k * chunk),
                          MADV_POPULATE_WRITE) != 0)
              return;
          }
      }
    });
    hashesPrefaulted_ = appending_;
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

void KeyTable::reserveAppended(std::size_t count) {
  if (count * sizeof(std::uint32_t) <= appended_.size()) return;
  if (hashesPrefaulted_) settle();
  const std::size_t room = appended_.size() / sizeof(std::uint32_t);
  appended_.resize(std::max({count, room * 2, std::size_t{256}}) * sizeof(std::uint32_t));
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
