#include "index/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "index/file_error.h"

namespace korva {
namespace {

int openForReading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw FileError(errno, path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw FileError(err, path);
  }
  return fd;
}

std::int64_t lengthOf(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) throw FileError(errno, path);
  return static_cast<std::int64_t>(st.st_size);
}

// pread that retries on EINTR and on short reads; returns the bytes read (0 at the end).
std::size_t preadFully(int fd, char* buffer, std::size_t count, std::int64_t offset,
                       const std::string& path) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(errno, path);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

LineReader::LineReader(const std::string& path, std::size_t blockSize)
    : path_(path), buffer_(blockSize), blockSize_(blockSize) {
  fd_ = openForReading(path);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  lastKnownLength_ = lengthOf(fd_, path_);
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

void LineReader::seek(std::int64_t position) {
  std::int64_t offset = position < 1 ? 0 : position - 1;
  if (offset >= fileOffset_ && offset <= fileOffset_ + static_cast<std::int64_t>(filled_)) {
    cursor_ = static_cast<std::size_t>(offset - fileOffset_);
    return;
  }
  fileOffset_ = offset;
  cursor_ = filled_ = 0;
}

bool LineReader::fill() {
  fileOffset_ += static_cast<std::int64_t>(filled_);
  cursor_ = filled_ = 0;
  filled_ = preadFully(fd_, buffer_.data(), blockSize_, fileOffset_, path_);
  lastKnownLength_ = lengthOf(fd_, path_);
  return filled_ > 0;
}

bool LineReader::atEnd() { return cursor_ == filled_ && !fill(); }

std::int64_t LineReader::currentLength() const { return lengthOf(fd_, path_); }

bool LineReader::readLine(std::string& line) {
  bool terminated;
  return readLineHead(line, static_cast<std::size_t>(-1), terminated) >= 0;
}

std::int64_t LineReader::readLineHead(std::string& head, std::size_t keep) {
  bool terminated;
  return readLineHead(head, keep, terminated);
}

std::int64_t LineReader::readLineHead(std::string& head, std::size_t keep, bool& terminated) {
  head.clear();
  terminated = false;
  if (cursor_ == filled_ && !fill()) return -1;
  std::int64_t length = 0;
  for (;;) {
    const char* start = buffer_.data() + cursor_;
    std::size_t avail = filled_ - cursor_;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', avail));
    std::size_t n = cr ? static_cast<std::size_t>(cr - start) : avail;
    if (head.size() < keep) head.append(start, std::min(n, keep - head.size()));
    length += static_cast<std::int64_t>(n);
    cursor_ += n;
    if (cr) {
      ++cursor_;  // the CR itself
      terminated = true;
      if (cursor_ == filled_ && !fill()) return length;
      if (buffer_[cursor_] == '\n') ++cursor_;
      return length;
    }
    if (!fill()) return length;
  }
}

std::string readBytesAt(const std::string& path, std::int64_t position, std::size_t count) {
  int fd = openForReading(path);
  std::string bytes(count, '\0');
  std::size_t got;
  try {
    got = preadFully(fd, bytes.data(), count, position < 1 ? 0 : position - 1, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  bytes.resize(got);
  return bytes;
}

std::int64_t fileLength(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw FileError(errno, path);
  if (S_ISDIR(st.st_mode)) throw FileError(EISDIR, path);
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace korva
