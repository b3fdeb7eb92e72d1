#include "capture/read_ahead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "index/file_error.h"

namespace korva {

ReadAheadFile::ReadAheadFile(const std::string& path, std::size_t chunk)
    : path_(path), chunk_(chunk), capacity_(16 * chunk) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw FileError(errno, path);
  buffer_.reset(new char[capacity_]);
  worker_ = std::thread([this] { work(); });
}

ReadAheadFile::~ReadAheadFile() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
  ::close(fd_);
}

void ReadAheadFile::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || requested_; });
    if (stop_) return;
    requested_ = false;
    char* target = target_;
    const std::size_t length = length_;
    const std::int64_t offset = offset_;
    lock.unlock();
    std::size_t got = 0;
    int error = 0;
    while (got < length) {
      const ssize_t n =
          ::pread(fd_, target + got, length - got, offset + static_cast<std::int64_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error = errno;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    lock.lock();
    got_ = got;
    error_ = error;
    done_ = true;
    wake_.notify_all();
  }
}

void ReadAheadFile::startRead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = buffer_.get() + filled_;
    length_ = chunk_;
    offset_ = start_ + static_cast<std::int64_t>(filled_);
    done_ = false;
    requested_ = true;
  }
  pending_ = true;
  wake_.notify_all();
}

bool ReadAheadFile::readDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void ReadAheadFile::finishRead() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return done_; });
  pending_ = false;
  if (error_ != 0) throw FileError(error_, path_);
  filled_ += got_;
  bytesRead_ += got_;
  if (got_ < length_) atEnd_ = true;
}

std::string_view ReadAheadFile::at(std::int64_t start) {
  const std::int64_t end = start_ + static_cast<std::int64_t>(filled_);
  if (start < start_ || start > end) {
    if (pending_) finishRead();
    start_ = start;
    filled_ = 0;
    atEnd_ = false;
  }
  auto available = [&] {
    return static_cast<std::size_t>(start_ + static_cast<std::int64_t>(filled_) - start);
  };
  // Everything before `start` is done with: the rest moves to the front. Done only when little
  // is left, so that few bytes are moved.
  auto compact = [&] {
    const auto skip = static_cast<std::size_t>(start - start_);
    std::memmove(buffer_.get(), buffer_.get() + skip, filled_ - skip);
    filled_ -= skip;
    start_ = start;
  };
  while (!atEnd_ && available() < chunk_ / 2) {
    if (!pending_) {
      if (filled_ + chunk_ > capacity_) compact();
      startRead();
    }
    finishRead();
  }
  // The next chunk comes in while the caller works on this one; a finished read is taken in at
  // once, so that the reader keeps going.
  if (pending_ && readDone()) finishRead();
  if (!atEnd_ && !pending_) {
    if (filled_ + chunk_ > capacity_ && available() <= 2 * chunk_) compact();
    if (filled_ + chunk_ <= capacity_) startRead();
  }
  const auto skip = static_cast<std::size_t>(start - start_);
  return std::string_view(buffer_.get() + skip, filled_ - skip);
}

bool ReadAheadFile::endsFile(std::int64_t start, std::size_t length) const {
  return atEnd_ &&
         start + static_cast<std::int64_t>(length) == start_ + static_cast<std::int64_t>(filled_);
}

}  // namespace korva
