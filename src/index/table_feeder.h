// Fills a KeyTable on a thread of its own while the caller goes on reading keys: storing,
// hashing and placing millions of keys cost about as much as the scan that finds them. Keys are
// handed over in batches; sync waits until every key added is in the table. From sync to the
// next add the table is the caller's (a progress handler may look keys up); in between, only the
// feeder touches it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "index/constants.h"
#include "index/key_table.h"

namespace korva {

class TableFeeder {
 public:
  // Without `threaded`, each batch is placed on the caller's thread when it is full. `placed`,
  // if given, runs on the feeder's thread after each batch of a threaded feeder.
  TableFeeder(KeyTable& table, bool threaded, std::function<void()> placed = {});
  ~TableFeeder();  // drops what was added after the last sync
  TableFeeder(const TableFeeder&) = delete;
  TableFeeder& operator=(const TableFeeder&) = delete;

  // Adds a key (cut to 24 bytes) with its position after those added before. Throws what placing
  // an earlier batch threw.
  void add(std::string_view key, std::int64_t position);
  // Before the keys added from now on are placed, the table gets room for `count` entries in all
  // (KeyTable::reserve, with prefaulting).
  void reserve(std::size_t count) { filling_.reserve = count; }
  // Waits until every key added is placed, and appends to `dropped` those that were present
  // already, in the order they were added. Returns what placing threw, if anything.
  std::exception_ptr sync(std::vector<std::string>& dropped);

 private:
  struct Block {
    std::array<char, kIndexRecordLength> key;
    std::uint64_t packed;  // the position, and the key's length in the top byte
  };
  struct Batch {
    std::vector<Block> blocks;
    std::size_t reserve = 0;
    void clear() {
      blocks.clear();
      reserve = 0;
    }
  };
  void place(Batch& batch);
  void handOver();
  void run();

  KeyTable& table_;
  std::function<void()> placed_;
  Batch filling_;  // the caller's
  Batch working_;  // the thread's
  std::mutex mutex_;
  std::condition_variable changed_;
  Batch queued_;  // handed over, not yet taken
  bool queuedSet_ = false, busy_ = false, stop_ = false;
  // Written while placing; read by the caller only once the thread is idle.
  std::vector<std::string> dropped_;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace korva
