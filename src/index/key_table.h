// Insertion-ordered table from request keys to byte positions, looked up without regard to
// letter case. Keys are at most 24 bytes and are stored inline, so a million entries cost about
// 48 MB; lookups hash the folded key into an open-addressing table of entry numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/constants.h"

namespace korva {

class KeyTable {
 public:
  struct Entry {
    std::array<char, kIndexRecordLength> key;
    std::uint8_t keyLength;
    std::int64_t position;
    std::string_view keyView() const { return {key.data(), keyLength}; }
  };

  // Adds the key with its position at the end. Returns false, and changes nothing, when the
  // key is already present in any letter case. Keys longer than 24 bytes are cut to 24.
  bool add(std::string_view key, std::int64_t position);
  // Position stored under the key, or 0 when it is absent.
  std::int64_t find(std::string_view key) const;
  bool contains(std::string_view key) const { return findSlot(key) != kNone; }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& operator[](std::size_t i) const { return entries_[i]; }
  const Entry& back() const { return entries_.back(); }
  void clear();
  void reserve(std::size_t count);

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  std::uint32_t findSlot(std::string_view key) const;  // entry number, or kNone
  void grow();
  void rehash();  // re-enters every entry into slots_, which must be all free

  std::vector<Entry> entries_;
  std::vector<std::uint32_t> slots_;  // entry number + 1; 0 marks a free slot
};

}  // namespace korva
