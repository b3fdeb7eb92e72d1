#include "index/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "index/file_error.h"

namespace korva {

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

namespace {

std::int64_t lengthOf(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) throw FileError(errno, path);
  return static_cast<std::int64_t>(st.st_size);
}

constexpr std::size_t kTail = 4096;  // bytes compared to notice a cut or rewrite below a block

constexpr std::size_t npos = static_cast<std::size_t>(-1);

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

void LineReader::setReadAhead(bool on) {
  readAheadWanted_ = on;
  advisedTo_ = 0;
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
  tailCr_ = kTailCrUnknown;
  advisedTo_ = 0;
}

// Appending leaves the bytes already read alone; a truncation or an in-place rewrite does not.
// Comparing the end of the buffer with the file before moving on catches both, also when the
// file has grown past the read position again since.
bool LineReader::bufferedTailStillInFile() {
  const std::size_t n = std::min(filled_, kTail);
  char tail[kTail];
  const std::int64_t at = fileOffset_ + static_cast<std::int64_t>(filled_ - n);
  return preadFully(fd_, tail, n, at, path_) == n &&
         std::memcmp(tail, buffer_.get() + (filled_ - n), n) == 0;
}

// Asks the kernel to read the next few blocks into its cache, a few MiB at a time, while the
// caller scans this one. The copy into the buffer stays on the caller's thread: done on another
// core, every line of the block would then have to move between the cores' caches, which cost
// more than the copy itself.
void LineReader::adviseAhead() {
  const std::int64_t end = fileOffset_ + static_cast<std::int64_t>(filled_);
  const auto window = static_cast<std::int64_t>(kAheadBlocks * blockSize_);
  if (advisedTo_ - end >= window / 2) return;
  const std::int64_t from = std::max(advisedTo_, end);
  advisedTo_ = end + window;
  ::posix_fadvise(fd_, static_cast<off_t>(from), static_cast<off_t>(advisedTo_ - from),
                  POSIX_FADV_WILLNEED);
}

bool LineReader::fill() {
  if (changed_) return false;
  if (filled_ > 0 && !bufferedTailStillInFile()) {
    changed_ = true;
    return false;
  }
  fileOffset_ += static_cast<std::int64_t>(filled_);
  cursor_ = filled_ = 0;
  tailCr_ = kTailCrUnknown;
  filled_ = preadFully(fd_, buffer_.get(), blockSize_, fileOffset_, path_);
  lastKnownLength_ = lengthOf(fd_, path_);
  // Shorter now than what the read returned: it was cut while the read ran, and the bytes read
  // may already be partly gone.
  if (lastKnownLength_ < fileOffset_ + static_cast<std::int64_t>(filled_)) changed_ = true;
  if (readAheadWanted_ && filled_ == blockSize_ && !changed_) adviseAhead();
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
  lastCrLf_ = false;
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
      if (buffer_[cursor_] == '\n') {
        ++cursor_;
        lastCrLf_ = true;
      }
      return length;
    }
    if (!fill()) return length;
  }
}

std::string_view LineReader::bufferedLines() {
  if (!nextLineStart()) return {};
  const std::size_t tail = bufferedTailStart();
  return {buffer_.get() + cursor_, tail - cursor_};
}

bool LineReader::skipPastLine(std::string_view target) {
  // A run: each byte equals the next (the build asks after every block, so one memcmp).
  if (target.size() >= 31 && std::memcmp(target.data(), target.data() + 1, target.size() - 1) == 0)
    return skipPastRunLine(target);
  std::string& head = scratch_;
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

// Start of the buffer's last line whose end is not known from the buffer alone: the one that
// runs into the buffer's end, or the one ended by a CR that is the buffer's last byte (its LF may
// be the next block's first). Every line before it lies whole in the buffer. The block's last CR
// that is not its last byte is looked for once per block: the scan asks after every line it skips.
std::size_t LineReader::bufferedTailStart() const {
  const char* buffer = buffer_.get();
  if (tailCr_ == kTailCrUnknown) {
    tailCr_ = npos;
    std::size_t size = filled_;
    for (int pass = 0; pass < 2 && tailCr_ == npos; ++pass) {
      const auto* cr = static_cast<const char*>(::memrchr(buffer, '\r', size));
      if (!cr) break;
      const auto at = static_cast<std::size_t>(cr - buffer);
      if (at + 1 < filled_)
        tailCr_ = at;
      else
        size = at;  // the CR is the last byte: the line before
    }
  }
  if (tailCr_ == npos || tailCr_ < cursor_) return cursor_;
  return tailCr_ + 1 + (buffer[tailCr_ + 1] == '\n' ? 1 : 0);
}

// Offset just past the first line in [cursor_, end) that is `length` copies of `c` and ended by
// a terminator, or npos; `end` is the start of a line. Such a line holds a run of 16 copies that
// starts at a multiple of `stride` (the largest power of two with stride + 15 <= length), so only
// those 16-byte pieces are looked at, and lines only where one of them matches.
std::size_t LineReader::findRunLine(unsigned char c, std::size_t length, std::size_t end) const {
  const char* buffer = buffer_.get();
  const std::size_t from = cursor_;
  std::size_t stride = 16;
  while (2 * stride + 15 <= length) stride *= 2;
  const auto base = reinterpret_cast<std::uintptr_t>(buffer);
  auto alignedFrom = [&](std::size_t at) {
    return static_cast<std::size_t>(((base + at + stride - 1) & ~(std::uintptr_t{stride} - 1)) -
                                    base);
  };
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(static_cast<char>(c));
  auto runAt = [&](std::size_t at) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(buffer + at));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)) == 0xFFFF;
  };
#else
  const std::uint64_t pattern = 0x0101010101010101ull * c;
  auto runAt = [&](std::size_t at) {
    std::uint64_t w[2];
    std::memcpy(w, buffer + at, 16);
    return w[0] == pattern && w[1] == pattern;
  };
#endif
  const char ch = static_cast<char>(c);
  for (std::size_t at = alignedFrom(from); at + 16 <= end;) {
    if (!runAt(at)) {
      at += stride;
      continue;
    }
    std::size_t s = at, e = at + 16;
    while (s > from && buffer[s - 1] == ch) --s;
    while (e < end && buffer[e] == ch) ++e;
    // A line starts at `from`, after a CR, and after the LF of a CR LF; a lone LF is text.
    const bool lineStart = s == from || buffer[s - 1] == '\r' ||
                           (buffer[s - 1] == '\n' && s - 1 > from && buffer[s - 2] == '\r');
    if (lineStart && e - s == length && e < end && buffer[e] == '\r')
      return e + 1 + (e + 1 < end && buffer[e + 1] == '\n' ? 1 : 0);
    at = alignedFrom(e);
  }
  return npos;
}

bool LineReader::skipPastRunLine(std::string_view target) {
  std::string& head = scratch_;
  for (;;) {
    if (!nextLineStart()) return false;
    const std::size_t tail = bufferedTailStart();
    const std::size_t next =
        findRunLine(static_cast<unsigned char>(target[0]), target.size(), tail);
    if (next != npos) {
      cursor_ = next;
      return true;
    }
    // The last line reaches into the next block: read it the general way.
    cursor_ = tail;
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
