#include "capture/request_rows.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "index/file_error.h"
#include "index/line_reader.h"
#include "view/retrieval.h"

namespace korva {

namespace {

constexpr std::size_t kCompared = 4096;   // bytes compared at each end of what was read
constexpr std::size_t kProbe = 64 << 10;  // read size past the length the file had

struct Descriptor {
  int fd;
  ~Descriptor() { ::close(fd); }
};

struct stat statOf(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw FileError(errno, path);
  return st;
}

}  // namespace

namespace {

constexpr std::size_t kHugePage = 2u << 20;

// Anonymous memory at a 2 MiB boundary: huge pages are only used, and only kept when mremap
// moves them, where virtual and physical 2 MiB frames line up. A scan over a buffer that lost
// them took four times as long. `bytes` is a multiple of the page size.
char* mapAligned(std::size_t bytes, int protection) {
  const std::size_t span = bytes + kHugePage;
  void* p = ::mmap(nullptr, span, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) ::munmap(p, aligned - start);
  const std::uintptr_t end = start + span;
  if (end > aligned + bytes)
    ::munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
  return reinterpret_cast<char*>(aligned);
}

}  // namespace

template <typename T>
void RequestRows::Array<T>::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t bytes = (capacity * sizeof(T) + page - 1) / page * page;
  void* grown = nullptr;
  if (bytes < kHugePage) {
    grown = data_ ? ::mremap(data_, mapped_, bytes, MREMAP_MAYMOVE)
                  : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (grown == MAP_FAILED) throw std::bad_alloc();
  } else if (!data_) {
    grown = mapAligned(bytes, PROT_READ | PROT_WRITE);
  } else {
    // The pages move into a place held for them, whole, without being copied.
    char* target = mapAligned(bytes, PROT_NONE);
    grown = ::mremap(data_, mapped_, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (grown == MAP_FAILED) {
      ::munmap(target, bytes);
      throw std::bad_alloc();
    }
  }
  // Fewer page faults and TLB misses for a big buffer. Advised whole: a part would split the
  // mapping, and mremap fails on a range of more than one.
  if (bytes >= 4 * kHugePage) ::madvise(grown, bytes, MADV_HUGEPAGE);
  data_ = static_cast<T*>(grown);
  mapped_ = bytes;
  capacity_ = bytes / sizeof(T);
}

template <typename T>
void RequestRows::Array<T>::clear() {
  if (data_) ::munmap(data_, mapped_);
  data_ = nullptr;
  size_ = capacity_ = mapped_ = 0;
}

template <typename T>
void RequestRows::Array<T>::resize(std::size_t size) {
  if (size > capacity_) reserve(std::max(size, capacity_ + capacity_ / 2));
  size_ = size;
}

void RequestRows::clear() {
  bytes_.clear();
  rows_.clear();
  scanned_ = 0;
  inRow_ = afterCr_ = identified_ = false;
}

void RequestRows::load(const std::string& path, std::size_t blockSize) {
  clear();
  const Descriptor file{openForReading(path)};
  const struct stat st = statOf(file.fd, path);
  device_ = st.st_dev;
  inode_ = st.st_ino;
  identified_ = true;
  const auto expected = static_cast<std::size_t>(st.st_size);
  bytes_.reserve(expected + std::min(blockSize, kProbe));
  // Request lines are about a hundred bytes; too few offsets reserved only cost a realloc.
  rows_.reserve(expected / 48 + 16);
  ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  readOn(file.fd, path, blockSize, expected);
}

RowsChange RequestRows::refresh(const std::string& path, std::size_t blockSize) {
  RowsChange change;
  change.previousSize = size();
  const auto reload = [&] {
    load(path, blockSize);
    return change;
  };
  if (!identified_) return reload();
  int fd = -1;
  try {
    fd = openForReading(path);
  } catch (const FileError&) {
    clear();
    throw;
  }
  const Descriptor file{fd};
  const struct stat st = statOf(fd, path);
  const bool same = st.st_dev == device_ && st.st_ino == inode_ &&
                    static_cast<std::uint64_t>(st.st_size) >= length() && sameBytesAs(fd, path);
  if (!same) return reload();
  const std::size_t last = size() - (size() > 0 ? 1 : 0);
  const std::size_t lastEnd = size() > 0 ? endOf(last) : 0;
  if (static_cast<std::uint64_t>(st.st_size) > length())
    readOn(fd, path, blockSize, static_cast<std::size_t>(st.st_size));
  // The old last row may have grown (it had no terminator); a CR or an LF alone adds nothing.
  const bool lastGrew = change.previousSize > 0 && endOf(last) != lastEnd;
  change.from = lastGrew ? last : change.previousSize;
  change.kind = lastGrew || size() > change.previousSize ? RowsChange::Kind::Appended
                                                         : RowsChange::Kind::Unchanged;
  return change;
}

// The start and the end of what was read, compared with the file now: an appended log has the
// same bytes there, a replaced or rewritten one nearly never.
bool RequestRows::sameBytesAs(int fd, const std::string& path) const {
  char now[kCompared];
  const std::size_t head = std::min<std::size_t>(bytes_.size(), kCompared);
  if (preadFully(fd, now, head, 0, path) != head || std::memcmp(now, bytes_.data(), head) != 0)
    return false;
  const std::size_t tailAt = bytes_.size() - head;
  return preadFully(fd, now, head, static_cast<std::int64_t>(tailAt), path) == head &&
         std::memcmp(now, bytes_.data() + tailAt, head) == 0;
}

// Up to the length the file had in blocks, then on in smaller reads until one comes short: the
// file may have grown meanwhile, and a small file should not cost a whole block of memory.
void RequestRows::readOn(int fd, const std::string& path, std::size_t blockSize,
                         std::size_t expectedEnd) {
  for (;;) {
    const std::size_t at = bytes_.size();
    const std::size_t want = std::min(blockSize, at < expectedEnd ? expectedEnd - at : kProbe);
    bytes_.resize(at + want);
    std::size_t got = 0;
    try {
      got = preadFully(fd, bytes_.data() + at, want, static_cast<std::int64_t>(at), path);
    } catch (...) {
      bytes_.resize(at);
      throw;
    }
    bytes_.resize(at + got);
    scan();
    if (got < want) return;
  }
}

// memchr finds the CRs (glibc's is vectorised); each line costs one call and one offset.
void RequestRows::scan() {
  const char* bytes = bytes_.data();
  const std::size_t end = bytes_.size();
  std::size_t at = scanned_;
  while (at < end) {
    if (!inRow_) {
      if (afterCr_) {
        afterCr_ = false;
        if (bytes[at] == '\n' && ++at == end) break;
      }
      rows_.push_back(at);
      inRow_ = true;
    }
    const void* cr = std::memchr(bytes + at, '\r', end - at);
    if (!cr) {
      at = end;
      break;
    }
    at = static_cast<std::size_t>(static_cast<const char*>(cr) - bytes) + 1;
    inRow_ = false;
    afterCr_ = true;
  }
  scanned_ = at;
}

// Where the row's bytes end: before the CR or CR LF that ends it, or at the end of what was read.
std::size_t RequestRows::endOf(std::size_t row) const {
  const char* bytes = bytes_.data();
  if (row + 1 < rows_.size()) {
    // The next row starts after a CR, or after the LF of a CR LF: a line never holds a CR.
    const std::size_t next = rows_.data()[row + 1];
    return next - (bytes[next - 1] == '\n' ? 2 : 1);
  }
  const std::size_t end = bytes_.size();
  if (inRow_) return end;
  return end - (afterCr_ ? 1 : 2);
}

std::string_view RequestRows::entry(std::size_t row) const {
  if (row >= rows_.size()) return {};
  const std::size_t start = rows_.data()[row];
  return std::string_view(bytes_.data() + start, endOf(row) - start);
}

std::string_view RequestRows::key(std::size_t row) const { return requestKey(entry(row)); }

std::string_view RequestRows::text(std::size_t row) const { return requestText(entry(row)); }

template class RequestRows::Array<char>;
template class RequestRows::Array<std::uint64_t>;

}  // namespace korva
