// Insertion-ordered table from request keys to byte positions, looked up without regard to
// letter case. The entries lie in one array in insertion order (a key is at most 24 bytes and
// stored inline, 32 bytes an entry); an open-addressing table of 8-byte slots, each an entry's
// number and 32 bits of its key's hash, finds them. About 44 bytes an entry in all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "index/constants.h"

namespace korva {

// An array of trivially copyable elements in anonymous memory: its pages are zero until first
// touched and count only then, so a generous capacity costs address space, not memory, and
// growing moves pages (mremap) instead of copying them. Large arrays ask for huge pages: the
// random accesses of a table of millions of entries would each also miss the TLB.
class MappedBytes {
 public:
  MappedBytes() = default;
  ~MappedBytes();
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;
  void swap(MappedBytes& other);

  // Grows or shrinks to `bytes` (0 releases everything); bytes kept keep their values, new ones
  // are zero. Throws std::bad_alloc.
  void resize(std::size_t bytes);
  std::size_t size() const { return size_; }
  void* data() const { return data_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

class KeyTable {
 public:
  // 32 bytes. A key shorter than 24 bytes comes only from a build, whose positions lie in a
  // file; the loaded ones are all 24 bytes long and may carry any position.
  struct Entry {
    std::array<char, kIndexRecordLength> key;  // zero past keyLength()
    // The position; for a shorter key, the top bit set and its length in the next byte.
    std::uint64_t packed;
    static constexpr std::uint64_t kShort = std::uint64_t{1} << 63;
    static constexpr std::uint64_t kShortPositionMask = (std::uint64_t{1} << 56) - 1;
    std::size_t keyLength() const {
      return packed & kShort ? static_cast<std::size_t>((packed >> 56) & 0x7F)
                             : static_cast<std::size_t>(kIndexRecordLength);
    }
    std::int64_t position() const {
      return static_cast<std::int64_t>(packed & kShort ? packed & kShortPositionMask : packed);
    }
    std::string_view keyView() const { return {key.data(), keyLength()}; }
  };

  // The hash of a key, folded to lower case (for add, find and prefetch with a hash computed
  // once). Keys longer than 24 bytes hash as their first 24.
  static std::uint32_t hashOf(std::string_view key);

  // Adds the key with its position at the end. Returns false, and changes nothing, when the
  // key is already present in any letter case. Keys longer than 24 bytes are cut to 24.
  // Entries appended before are placed first.
  bool add(std::string_view key, std::int64_t position);
  // Position stored under the key, or 0 when it is absent.
  std::int64_t find(std::string_view key) const;

  // Filling a table with many keys at once: append adds an entry at the end without looking for
  // its key, and find sees it only after placeAppended. That gives all appended entries their
  // slots in one go: into an empty table in the order of their slots, else in insertion order
  // with the slots fetched a few entries ahead, so that millions of insertions run through the
  // table instead of each missing the cache. An appended key already present in any letter case
  // is dropped, the first occurrence kept, as add would have; placeAppended returns how many
  // were, and adds their keys to `dropped` when given.
  void append(std::string_view key, std::int64_t position);
  std::size_t placeAppended(std::vector<std::string>* dropped = nullptr);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The i-th entry in insertion order.
  const Entry& operator[](std::size_t i) const { return entries()[i]; }
  const Entry& back() const { return entries()[size_ - 1]; }
  void clear();
  // Room for `count` entries in all without growing: asked for once with an estimate, the table
  // is not re-hashed while it fills. With `prefault`, a thread of its own maps the pages of that
  // room meanwhile (the kernel clears each fresh page, which costs as much as filling the table),
  // slots first, then the entries front to back, ahead of the caller that fills them.
  void reserve(std::size_t count, bool prefault = false);
  ~KeyTable() { settle(); }
  KeyTable() = default;
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

 private:
  Entry* entries() const { return static_cast<Entry*>(entries_.data()); }
  std::uint64_t* slotArray() const { return static_cast<std::uint64_t*>(slots_.data()); }
  std::size_t slotOf(std::uint32_t hash) const {
    return static_cast<std::size_t>((std::uint64_t{hash} * capacity_) >> 32);
  }
  void rehash(std::size_t capacity);
  void growEntries(std::size_t count);
  // Writes the entry at the end; the caller then gives it a slot.
  void store(std::string_view key, std::int64_t position);
  enum class Placed { kDone, kEqual, kAtEnd };
  // Puts a slot value at the first free slot from its hash's home on, or reports an entry with
  // an equal key on the way (placing nothing). Without `wrap` it stops at the table's end.
  Placed place(std::uint64_t slot, bool wrap);
  bool placeSorted(bool& equal);
  std::size_t placeInOrder(std::size_t first, std::vector<std::string>* dropped);
  void reserveAppended(std::size_t count);
  // Waits for the prefaulting thread: the arrays must not move under it.
  void settle() {
    if (prefault_.joinable()) prefault_.join();
    hashesPrefaulted_ = false;
  }

  MappedBytes entries_;            // size_ entries in insertion order, room for more
  MappedBytes slots_;              // capacity_ slots: 0 free, else hash << 32 | (entry number + 1)
  MappedBytes appended_;           // while entries are appended, their hashes (4 bytes each)
  std::size_t size_ = 0;           // entries
  bool appending_ = false;         // entries were appended and wait for placeAppended
  std::size_t appendedFrom_ = 0;   // the first of them
  bool hashesPrefaulted_ = false;  // the prefaulting thread also maps appended_
  std::size_t capacity_ = 0;
  std::thread prefault_;
};

}  // namespace korva
