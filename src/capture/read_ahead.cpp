#include "capture/read_ahead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "index/file_error.h"

namespace korva {

ReadAheadFile::ReadAheadFile(const std::string& path, std::size_t chunk)
    : path_(path), chunk_(chunk), capacity_(16 * chunk) {
  fd_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_.fd < 0) throw FileError(errno, path);
}

ReadAheadFile::Descriptor::~Descriptor() {
  if (fd >= 0) ::close(fd);
}

ReadAheadFile::~ReadAheadFile() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void ReadAheadFile::launch() {
  buffer_.reset(new char[capacity_]);
  worker_ = std::thread([this] { work(); });
}

// Reads chunk after chunk while there is room, without a hand-over per chunk: waking a thread
// costs more on a busy machine than reading a chunk does.
void ReadAheadFile::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::uint64_t state = state_.load(std::memory_order_relaxed);
    wake_.wait(lock, [&] {
      state = state_.load(std::memory_order_relaxed);
      return stop_ || (run_ && (state & kEndBit) == 0 && state + chunk_ <= capacity_);
    });
    if (stop_) return;
    const std::size_t filled = state;
    const std::int64_t offset = start_ + static_cast<std::int64_t>(filled);
    reading_ = true;
    lock.unlock();
    std::size_t got = 0;
    int error = 0;
    while (got < chunk_) {
      const ssize_t n = ::pread(fd_.fd, buffer_.get() + filled + got, chunk_ - got,
                                offset + static_cast<std::int64_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error = errno;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytesRead_.fetch_add(got, std::memory_order_relaxed);
    lock.lock();
    reading_ = false;
    error_ = error;
    state_.store((filled + got) | (got < chunk_ ? kEndBit : 0), std::memory_order_release);
    if (callerWaiting_ || !run_) done_.notify_all();
  }
}

void ReadAheadFile::pause() {
  std::unique_lock<std::mutex> lock(mutex_);
  run_ = false;
  done_.wait(lock, [this] { return !reading_; });
}

void ReadAheadFile::resume() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    run_ = true;
  }
  wake_.notify_all();
}

void ReadAheadFile::refresh() {
  const std::uint64_t state = state_.load(std::memory_order_acquire);
  filled_ = static_cast<std::size_t>(state & ~kEndBit);
  atEnd_ = (state & kEndBit) != 0;
  if (atEnd_) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_ != 0) throw FileError(error_, path_);
  }
}

// Waits until the worker got further than what the caller saw last; it always does, since the
// caller waits only while there is room in the buffer and the end was not reached.
void ReadAheadFile::waitForMore() {
  std::unique_lock<std::mutex> lock(mutex_);
  callerWaiting_ = true;
  const std::uint64_t seen = filled_ | (atEnd_ ? kEndBit : 0);
  done_.wait(lock, [&] { return state_.load(std::memory_order_relaxed) != seen; });
  callerWaiting_ = false;
}

std::string_view ReadAheadFile::at(std::int64_t start) {
  if (!worker_.joinable()) {
    start_ = start;
    launch();
  }
  refresh();
  if (start < start_ || start > start_ + static_cast<std::int64_t>(filled_)) {
    pause();
    start_ = start;
    filled_ = 0;
    atEnd_ = false;
    state_.store(0, std::memory_order_relaxed);
    error_ = 0;
    resume();
  }
  const auto skip = static_cast<std::size_t>(start - start_);
  // Everything before `start` is done with: the rest moves to the front, but only once the
  // worker has filled the buffer and little is left, so that few bytes are moved.
  const bool full = filled_ + chunk_ > capacity_;
  if (full && filled_ - skip <= 2 * chunk_ && !atEnd_) {
    pause();
    refresh();
    std::memmove(buffer_.get(), buffer_.get() + skip, filled_ - skip);
    filled_ -= skip;
    start_ = start;
    state_.store(filled_, std::memory_order_relaxed);
    resume();
  }
  while (!atEnd_ && static_cast<std::int64_t>(filled_) - (start - start_) <
                        static_cast<std::int64_t>(chunk_ / 2)) {
    waitForMore();
    refresh();
  }
  return std::string_view(buffer_.get() + (start - start_),
                          filled_ - static_cast<std::size_t>(start - start_));
}

bool ReadAheadFile::endsFile(std::int64_t start, std::size_t length) const {
  return atEnd_ &&
         start + static_cast<std::int64_t>(length) == start_ + static_cast<std::int64_t>(filled_);
}

}  // namespace korva
