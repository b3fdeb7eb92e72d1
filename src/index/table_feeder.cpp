#include "index/table_feeder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace korva {
namespace {

constexpr std::size_t kBatch = 16384;  // 512 KiB of blocks
constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << 56) - 1;

}  // namespace

TableFeeder::TableFeeder(KeyTable& table, bool threaded, std::function<void()> placed)
    : table_(table) {
  if (!threaded) return;
  placed_ = std::move(placed);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread: the batches are placed here.
  }
}

TableFeeder::~TableFeeder() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TableFeeder::add(std::string_view key, std::int64_t position) {
  const std::size_t n = std::min(key.size(), static_cast<std::size_t>(kIndexRecordLength));
  if (static_cast<std::uint64_t>(position) >> 56 != 0) throw std::bad_alloc();  // 64 PiB
  Block& b = filling_.blocks.emplace_back();
  b.key = {};
  std::memcpy(b.key.data(), key.data(), n);
  b.packed = static_cast<std::uint64_t>(position) | std::uint64_t{n} << 56;
  if (filling_.blocks.size() == kBatch) handOver();
}

void TableFeeder::place(Batch& batch) {
  if (batch.reserve > 0) table_.reserve(batch.reserve, true);
  for (const Block& b : batch.blocks)
    table_.append({b.key.data(), static_cast<std::size_t>(b.packed >> 56)},
                  static_cast<std::int64_t>(b.packed & kPositionMask));
  table_.placeAppended(&dropped_);
}

void TableFeeder::handOver() {
  if (!thread_.joinable()) {
    try {
      place(filling_);
    } catch (...) {
      filling_.clear();  // what it placed stays, the rest is not placed twice
      throw;
    }
    filling_.clear();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !queuedSet_; });
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  std::swap(filling_, queued_);  // gets back an emptied batch with its room
  queuedSet_ = true;
  changed_.notify_all();
}

void TableFeeder::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || queuedSet_; });
    if (stop_) return;
    std::swap(working_, queued_);
    queuedSet_ = false;
    busy_ = true;
    changed_.notify_all();
    lock.unlock();
    std::exception_ptr error;
    try {
      place(working_);
      if (placed_) placed_();
    } catch (...) {
      error = std::current_exception();
    }
    working_.clear();
    lock.lock();
    if (!error_) error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}

std::exception_ptr TableFeeder::sync(std::vector<std::string>& dropped) {
  std::exception_ptr error;
  try {
    if (!filling_.blocks.empty() || filling_.reserve > 0) handOver();
  } catch (...) {
    error = std::current_exception();
  }
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !queuedSet_ && !busy_; });
    if (!error) error = std::exchange(error_, nullptr);
  }
  dropped.insert(dropped.end(), std::make_move_iterator(dropped_.begin()),
                 std::make_move_iterator(dropped_.end()));
  dropped_.clear();
  return error;
}

}  // namespace korva
