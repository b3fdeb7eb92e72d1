#include "index/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "index/file_error.h"

namespace korva {
namespace {

// Only a regular file is read: a named pipe would block the open (O_NONBLOCK prevents that, and
// has no effect on a regular file), a device such as /dev/zero would never end.
int openForReading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw FileError(errno, path);
  struct stat st;
  const int err = ::fstat(fd, &st) != 0  ? errno
                  : S_ISDIR(st.st_mode)  ? EISDIR
                  : !S_ISREG(st.st_mode) ? ESPIPE
                                         : 0;
  if (err != 0) {
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
    : path_(path), buffer_(new char[blockSize]), blockSize_(blockSize) {
  fd_ = openForReading(path);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  lastKnownLength_ = lengthOf(fd_, path_);
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

void LineReader::seek(std::int64_t position) {
  pendingLf_ = false;
  std::int64_t offset = position < 1 ? 0 : position - 1;
  if (offset >= fileOffset_ && offset <= fileOffset_ + static_cast<std::int64_t>(filled_)) {
    cursor_ = static_cast<std::size_t>(offset - fileOffset_);
    return;
  }
  fileOffset_ = offset;
  cursor_ = filled_ = 0;
}

// Appending leaves the bytes already read alone; a truncation or an in-place rewrite does not.
// Comparing the end of the buffer with the file before moving on catches both, also when the
// file has grown past the read position again since.
bool LineReader::bufferedTailStillInFile() {
  constexpr std::size_t kTail = 4096;
  const std::size_t n = std::min(filled_, kTail);
  char tail[kTail];
  const std::int64_t at = fileOffset_ + static_cast<std::int64_t>(filled_ - n);
  return preadFully(fd_, tail, n, at, path_) == n &&
         std::memcmp(tail, buffer_.get() + (filled_ - n), n) == 0;
}

bool LineReader::fill() {
  if (changed_) return false;
  if (filled_ > 0 && !bufferedTailStillInFile()) {
    changed_ = true;
    return false;
  }
  fileOffset_ += static_cast<std::int64_t>(filled_);
  cursor_ = filled_ = 0;
  filled_ = preadFully(fd_, buffer_.get(), blockSize_, fileOffset_, path_);
  lastKnownLength_ = lengthOf(fd_, path_);
  // Shorter now than what the read returned: it was cut while the read ran, and the bytes read
  // may already be partly gone.
  if (lastKnownLength_ < fileOffset_ + static_cast<std::int64_t>(filled_)) changed_ = true;
  return filled_ > 0;
}

// A recorder may write the CR and the LF of a line end in two writes. A CR read as the last byte
// ends the line; the LF that comes later is skipped here instead of starting the next line.
bool LineReader::nextLineStart() {
  if (cursor_ == filled_ && !fill()) return false;
  if (pendingLf_) {
    pendingLf_ = false;
    if (buffer_[cursor_] == '\n' && ++cursor_ == filled_ && !fill()) return false;
  }
  return true;
}

bool LineReader::atEnd() { return !nextLineStart(); }

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
  return appendLineHead(head, keep, terminated);
}

std::int64_t LineReader::appendLineHead(std::string& out, std::size_t keep, bool& terminated) {
  terminated = false;
  if (!nextLineStart()) return -1;
  const std::size_t base = out.size();
  std::int64_t length = 0;
  for (;;) {
    const char* start = buffer_.get() + cursor_;
    std::size_t avail = filled_ - cursor_;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', avail));
    std::size_t n = cr ? static_cast<std::size_t>(cr - start) : avail;
    const std::size_t kept = out.size() - base;
    if (kept < keep) out.append(start, std::min(n, keep - kept));
    length += static_cast<std::int64_t>(n);
    cursor_ += n;
    if (cr) {
      ++cursor_;  // the CR itself
      terminated = true;
      if (cursor_ == filled_ && !fill()) {
        pendingLf_ = true;
        return length;
      }
      if (buffer_[cursor_] == '\n') ++cursor_;
      return length;
    }
    if (!fill()) return length;
  }
}

bool LineReader::skipPastLine(std::string_view target) {
  std::string head;
  for (;;) {
    if (!nextLineStart()) return false;
    // Lines that lie whole in the buffer, their line end included, are compared in place; a line
    // that reaches the buffer's end takes the general path, which knows the end-of-file cases.
    const char* buffer = buffer_.get();
    for (;;) {
      const char* start = buffer + cursor_;
      const char* cr = static_cast<const char*>(std::memchr(start, '\r', filled_ - cursor_));
      if (!cr || cr + 1 == buffer + filled_) break;
      const auto n = static_cast<std::size_t>(cr - start);
      cursor_ += n + 1;
      if (buffer[cursor_] == '\n') ++cursor_;
      if (n == target.size() && std::memcmp(start, target.data(), n) == 0) return true;
      if (cursor_ == filled_) break;
    }
    bool terminated;
    const std::int64_t length = readLineHead(head, target.size() + 1, terminated);
    if (length < 0 || !terminated) return false;
    if (static_cast<std::size_t>(length) == target.size() && head == target) return true;
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
  if (!S_ISREG(st.st_mode)) throw FileError(ESPIPE, path);
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace korva
