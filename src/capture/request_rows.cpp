#include "capture/request_rows.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

namespace {

std::atomic<std::uint64_t> gNextRowsId{1};

// A thread's recently read stretches of request logs. A view into a slot lives until the slot is
// taken for another stretch, the least recently used first.
struct RowCache {
  struct Slot {
    std::uint64_t owner = 0;  // RequestRows::id_; 0: empty
    std::uint64_t start = 0;  // file offset of bytes[0]
    std::string bytes;
    std::uint64_t used = 0;
  };
  static constexpr std::size_t kSlots = 8;
  Slot slots[kSlots];
  std::size_t last = 0;
  std::uint64_t tick = 0;
};

thread_local RowCache tRowCache;

}  // namespace

RequestRows::~RequestRows() { closeFile(); }

RequestRows::RequestRows(RequestRows&& o) noexcept { *this = std::move(o); }

RequestRows& RequestRows::operator=(RequestRows&& o) noexcept {
  if (this == &o) return *this;
  closeFile();
  rows_ = std::move(o.rows_);
  length_ = o.length_;
  fd_ = o.fd_;
  id_ = o.id_;
  chunk_ = o.chunk_;
  head_ = std::move(o.head_);
  tail_ = std::move(o.tail_);
  inRow_ = o.inRow_;
  afterCr_ = o.afterCr_;
  identified_ = o.identified_;
  device_ = o.device_;
  inode_ = o.inode_;
  o.fd_ = -1;
  o.clear();
  return *this;
}

void RequestRows::closeFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void RequestRows::clear() {
  closeFile();
  rows_.clear();
  length_ = 0;
  id_ = gNextRowsId.fetch_add(1, std::memory_order_relaxed);  // cached bytes no longer apply
  head_.clear();
  tail_.clear();
  inRow_ = afterCr_ = identified_ = false;
}

void RequestRows::load(const std::string& path, std::size_t blockSize) {
  clear();
  fd_ = openForReading(path);
  const struct stat st = statOf(fd_, path);
  device_ = st.st_dev;
  inode_ = st.st_ino;
  identified_ = true;
  chunk_ = std::clamp<std::size_t>(blockSize, 1, 1 << 20);
  const auto expected = static_cast<std::size_t>(st.st_size);
  // Request lines are about a hundred bytes; too few offsets reserved only cost a remap.
  rows_.reserve(expected / 48 + 16);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  readOn(fd_, path, blockSize, expected);
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
  const std::uint64_t lastEnd = size() > 0 ? endOf(last) : 0;
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
  if (preadFully(fd, now, head_.size(), 0, path) != head_.size() ||
      std::memcmp(now, head_.data(), head_.size()) != 0)
    return false;
  const std::uint64_t tailAt = length_ - tail_.size();
  return preadFully(fd, now, tail_.size(), static_cast<std::int64_t>(tailAt), path) ==
             tail_.size() &&
         std::memcmp(now, tail_.data(), tail_.size()) == 0;
}

// Up to the length the file had in blocks, then on in smaller reads until one comes short: the
// file may have grown meanwhile. The bytes pass through one buffer and are not kept.
void RequestRows::readOn(int fd, const std::string& path, std::size_t blockSize,
                         std::size_t expectedEnd) {
  std::string buffer;
  for (;;) {
    const std::uint64_t at = length_;
    const std::size_t want = std::min<std::size_t>(
        blockSize, at < expectedEnd ? expectedEnd - static_cast<std::size_t>(at) : kProbe);
    if (buffer.size() < want) buffer.resize(want);
    const std::size_t got =
        preadFully(fd, buffer.data(), want, static_cast<std::int64_t>(at), path);
    scan(buffer.data(), got, at);
    if (head_.size() < kCompared)
      head_.append(buffer.data(), std::min(got, kCompared - head_.size()));
    if (got >= kCompared) {
      tail_.assign(buffer.data() + got - kCompared, kCompared);
    } else {
      tail_.append(buffer.data(), got);
      if (tail_.size() > kCompared) tail_.erase(0, tail_.size() - kCompared);
    }
    if (got < want) return;
  }
}

// memchr finds the CRs (glibc's is vectorised); each line costs one call and one offset.
void RequestRows::scan(const char* bytes, std::size_t n, std::uint64_t base) {
  std::size_t at = 0;
  while (at < n) {
    if (!inRow_) {
      if (afterCr_) {
        afterCr_ = false;
        if (bytes[at] == '\n') {
          rows_.data()[rows_.size() - 1] |= kCrLf;
          if (++at == n) break;
        }
      }
      rows_.push_back(base + at);
      inRow_ = true;
    }
    const void* cr = std::memchr(bytes + at, '\r', n - at);
    if (!cr) {
      at = n;
      break;
    }
    at = static_cast<std::size_t>(static_cast<const char*>(cr) - bytes) + 1;
    inRow_ = false;
    afterCr_ = true;
  }
  length_ = base + n;
}

// Where the row's bytes end: before the CR or CR LF that ends it, or at the end of what was read.
std::uint64_t RequestRows::endOf(std::size_t row) const {
  const std::uint64_t terminator = (rows_.data()[row] & kCrLf) ? 2 : 1;
  if (row + 1 < rows_.size()) return startOf(row + 1) - terminator;
  if (inRow_) return length_;
  return length_ - terminator;
}

std::string_view RequestRows::entry(std::size_t row) const {
  if (row >= rows_.size() || fd_ < 0) return {};
  const std::uint64_t start = startOf(row);
  const auto length = static_cast<std::size_t>(endOf(row) - start);
  if (length == 0) return {};
  RowCache& cache = tRowCache;
  auto holds = [&](const RowCache::Slot& slot) {
    return slot.owner == id_ && slot.start <= start &&
           start + length <= slot.start + slot.bytes.size();
  };
  std::size_t found = cache.last;
  if (!holds(cache.slots[found])) {
    found = RowCache::kSlots;
    for (std::size_t i = 0; i < RowCache::kSlots && found == RowCache::kSlots; ++i)
      if (holds(cache.slots[i])) found = i;
  }
  if (found == RowCache::kSlots) {
    found = 0;
    for (std::size_t i = 1; i < RowCache::kSlots; ++i)
      if (cache.slots[i].used < cache.slots[found].used) found = i;
    RowCache::Slot& slot = cache.slots[found];
    // A stretch of rows from this one on, so that rows read in order cost one read per stretch.
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max(length, chunk_), length_ - start));
    if (slot.bytes.capacity() > 4 * std::max(want, chunk_)) std::string().swap(slot.bytes);
    slot.owner = 0;
    slot.bytes.resize(want);
    std::size_t got = 0;
    try {
      got = preadFully(fd_, slot.bytes.data(), want, static_cast<std::int64_t>(start), {});
    } catch (const FileError&) {
      got = 0;  // shown as an empty row; the next refresh reports the file
    }
    slot.bytes.resize(got);
    slot.start = start;
    if (got < length) {  // cut in place since: what is there now, not kept
      cache.last = found;
      return std::string_view(slot.bytes.data(), got);
    }
    slot.owner = id_;
  }
  RowCache::Slot& slot = cache.slots[found];
  slot.used = ++cache.tick;
  cache.last = found;
  return std::string_view(slot.bytes.data() + (start - slot.start), length);
}

std::string_view RequestRows::key(std::size_t row) const { return requestKey(entry(row)); }

std::string_view RequestRows::text(std::size_t row) const { return requestText(entry(row)); }

template class RequestRows::Array<std::uint64_t>;

}  // namespace korva
