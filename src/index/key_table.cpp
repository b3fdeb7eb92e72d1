#include "index/key_table.h"

#include <cstring>

#include "index/codec.h"

namespace korva {
namespace {

using Folded = std::array<unsigned char, kIndexRecordLength>;

std::size_t foldKey(std::string_view key, Folded& out) {
  std::size_t n = key.size();
  for (std::size_t i = 0; i < n; ++i) out[i] = foldCase1252(static_cast<unsigned char>(key[i]));
  for (std::size_t i = n; i < out.size(); ++i) out[i] = 0;
  return n;
}

std::uint64_t hashFolded(const Folded& f, std::size_t length) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
  for (std::size_t i = 0; i < f.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, f.data() + i, 8);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  return h ^ (h >> 32);
}

bool sameFolded(const KeyTable::Entry& e, const Folded& f, std::size_t length) {
  if (e.keyLength != length) return false;
  for (std::size_t i = 0; i < length; ++i)
    if (foldCase1252(static_cast<unsigned char>(e.key[i])) != f[i]) return false;
  return true;
}

}  // namespace

std::uint32_t KeyTable::findSlot(std::string_view key) const {
  if (slots_.empty() || key.size() > static_cast<std::size_t>(kIndexRecordLength)) return kNone;
  Folded f;
  std::size_t n = foldKey(key, f);
  std::size_t mask = slots_.size() - 1;
  for (std::size_t s = hashFolded(f, n) & mask;; s = (s + 1) & mask) {
    std::uint32_t v = slots_[s];
    if (v == 0) return kNone;
    if (sameFolded(entries_[v - 1], f, n)) return v - 1;
  }
}

bool KeyTable::add(std::string_view key, std::int64_t position) {
  if (key.size() > static_cast<std::size_t>(kIndexRecordLength))
    key = key.substr(0, kIndexRecordLength);
  if ((entries_.size() + 1) * 2 > slots_.size()) grow();
  Folded f;
  std::size_t n = foldKey(key, f);
  std::size_t mask = slots_.size() - 1;
  std::size_t s = hashFolded(f, n) & mask;
  for (; slots_[s] != 0; s = (s + 1) & mask)
    if (sameFolded(entries_[slots_[s] - 1], f, n)) return false;
  Entry e{};
  std::memcpy(e.key.data(), key.data(), n);
  e.keyLength = static_cast<std::uint8_t>(n);
  e.position = position;
  entries_.push_back(e);
  slots_[s] = static_cast<std::uint32_t>(entries_.size());
  return true;
}

std::int64_t KeyTable::find(std::string_view key) const {
  std::uint32_t i = findSlot(key);
  return i == kNone ? 0 : entries_[i].position;
}

void KeyTable::clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
}

void KeyTable::reserve(std::size_t count) {
  entries_.reserve(count);
  std::size_t want = 16;
  while (want < count * 2) want <<= 1;
  if (want > slots_.size()) {
    slots_.assign(want, 0);
    rehash();
  }
}

void KeyTable::grow() {
  slots_.assign(slots_.empty() ? 16 : slots_.size() * 2, 0);
  rehash();
}

void KeyTable::rehash() {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Folded f;
    std::size_t n = foldKey(entries_[i].keyView(), f);
    std::size_t s = hashFolded(f, n) & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = static_cast<std::uint32_t>(i + 1);
  }
}

}  // namespace korva
