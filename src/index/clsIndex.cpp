#include "index/clsIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "index/codec.h"
#include "index/file_error.h"
#include "index/line_reader.h"

namespace korva {
namespace {

constexpr std::size_t kPositionField = kRequestTextOffset;  // " - " ends at character 27
constexpr std::size_t kIndexLineKeep = 4096;  // enough of a line for its key and position

// The number from character 28 on: blanks are skipped, digits read up to the first other
// character. Anything that is not a positive number that fits reads as 0.
std::int64_t parsePosition(std::string_view line) {
  if (line.size() <= kPositionField) return 0;
  std::int64_t value = 0;
  bool any = false;
  for (char c : line.substr(kPositionField)) {
    if (c == ' ' || c == '\t') continue;
    if (c < '0' || c > '9') break;
    if (value > (INT64_MAX - (c - '0')) / 10) return 0;
    value = value * 10 + (c - '0');
    any = true;
  }
  return any ? value : 0;
}

constexpr std::size_t kIndexLineMax = kIndexRecordLength + 3 + 20 + 2;

// One line of the index file at `out`, which has room for kIndexLineMax bytes; returns its end.
char* formatIndexLine(char* out, const KeyTable::Entry& e) {
  std::memcpy(out, e.key.data(), kIndexRecordLength);  // all of it: a fixed-size copy is cheap
  out += e.keyLength;
  std::memcpy(out, " - ", 3);
  out = std::to_chars(out + 3, out + 3 + 20, e.position).ptr;
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A temporary file of a save that was killed midway carries the dead process's id; the next
// save removes it so that such leftovers do not pile up.
void removeStaleTempFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  const std::string prefix = std::string(kIndexFileName) + ".";
  const std::string suffix = ".tmp";
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::string pidText = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    long pid = std::strtol(pidText.c_str(), nullptr, 10);
    if (pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      ::unlink(joinPath(folder, name).c_str());
  }
  ::closedir(dir);
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

clsIndex::clsIndex(std::string folder, ErrorReporter* reporter)
    : folder_(std::move(folder)), reporter_(reporter) {
  LoadIndex();
}

clsIndex::~clsIndex() {
  if (inBuildIndex_ || saved_ || !saveOnRelease_) return;
  SaveIndex();
}

std::string clsIndex::path(const char* name) const { return joinPath(folder_, name); }

void clsIndex::report(const std::string& text) const {
  if (reporter_) reporter_->reportError(text);
}

void clsIndex::LoadIndex() {
  clearEntries();
  const std::string file = path(kIndexFileName);
  struct stat st;
  if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) return;
  try {
    LineReader reader(file);
    // Lines are parsed a batch at a time and their slots prefetched, so that the random memory
    // accesses of a million insertions overlap instead of queueing one behind the other.
    constexpr std::size_t kBatch = 32;
    struct Parsed {
      std::string key;
      std::int64_t position;
    };
    std::vector<Parsed> batch(kBatch);
    std::string line;
    bool reserved = false;
    for (bool more = true; more;) {
      std::size_t n = 0;
      while (n < kBatch && (more = reader.readLineHead(line, kIndexLineKeep) >= 0)) {
        // Entries without a usable position are as good as absent; dropping them lets a later
        // well-formed line for the same key count, and a damaged tail not force a rebuild.
        std::int64_t position = parsePosition(line);
        if (position <= 0) continue;
        batch[n].key.assign(line, 0, kIndexRecordLength);
        batch[n].position = position;
        positions_.prefetch(batch[n].key);
        ++n;
      }
      for (std::size_t i = 0; i < n; ++i) positions_.add(batch[i].key, batch[i].position);
      // Room for the whole file, judged by the lines read so far that held an entry: a table
      // of a million entries then never re-hashes, and a file of garbage reserves nothing.
      // Capped, since a few good lines in front of garbage would promise far too many.
      if (!reserved && !positions_.empty()) {
        reserved = true;
        constexpr double kMaxReserved = 1'400'000;
        const double share = static_cast<double>(positions_.size()) /
                             static_cast<double>(std::max<std::int64_t>(1, reader.position() - 1));
        positions_.reserve(static_cast<std::size_t>(
            std::min(kMaxReserved, share * static_cast<double>(st.st_size) * 1.05)));
      }
    }
  } catch (const FileError& e) {
    // The index is only a cache: start empty and let the next build recreate it.
    clearEntries();
    report(e.what());
  }
}

bool clsIndex::SaveIndex() {
  saved_ = true;
  if (positions_.empty()) return true;
  removeStaleTempFiles(folder_);
  const std::string finalPath = path(kIndexFileName);
  const std::string tempPath = finalPath + "." + std::to_string(::getpid()) + ".tmp";
  int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  FdCloser closer(fd);
  // Written a few MiB at a time; after each write the kernel is told to start writing it to
  // disk, so that the fsync at the end finds most of the file there already.
  constexpr std::size_t kChunk = std::size_t{2} << 20;
  bool ok = true;
  off_t written = 0;
  auto writeOut = [&](const char* data, std::size_t n) {
    ok = ok && writeAll(fd, data, n);
    if (ok) ::sync_file_range(fd, written, static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
    written += static_cast<off_t>(n);
  };
  const std::size_t count = positions_.size();
  if (textEntries_ == count) {
    for (std::size_t at = 0; at < text_.size() && ok; at += kChunk)
      writeOut(text_.data() + at, std::min(kChunk, text_.size() - at));
  } else {
    std::unique_ptr<char[]> buffer(new char[kChunk + kIndexLineMax]);
    char* const begin = buffer.get();
    char* out = begin;
    constexpr std::size_t kAhead = 32;  // entries lie in hash order: fetch them before they are due
    for (std::size_t i = 0; i < count && ok; ++i) {
      if (i + kAhead < count) __builtin_prefetch(&positions_[i + kAhead]);
      out = formatIndexLine(out, positions_[i]);
      if (static_cast<std::size_t>(out - begin) >= kChunk || i + 1 == count) {
        writeOut(begin, static_cast<std::size_t>(out - begin));
        out = begin;
      }
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(closer.release()) == 0) && ok;
  if (!ok || ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    ::unlink(tempPath.c_str());
    return false;
  }
  syncFolder(folder_);
  return true;
}

std::int64_t clsIndex::QueryIndex(std::string_view key) const { return positions_.find(key); }

bool clsIndex::InitializeIndex() {
  std::string key = GetLastRequestKey();
  std::int64_t p = QueryIndex(key);
  if (p > 0 && CheckIndexPosition(p)) {
    lastOutcome_ = Outcome::Current;
    return true;
  }
  BuildIndex();
  return false;
}

std::string clsIndex::GetLastRequestKey() const {
  const std::string file = path(kRequestLogName);
  std::int64_t n = fileLength(file);
  if (n < 4) return {};
  // Backwards in blocks for the last CR LF that starts at byte n - 3 or earlier (0-based: n - 4),
  // so the CR LF that ends the file never counts.
  constexpr std::int64_t kChunk = 64 * 1024;
  for (std::int64_t i = n - 4; i >= 0;) {
    std::int64_t lo = std::max<std::int64_t>(0, i - kChunk + 1);
    std::string bytes = readBytesAt(file, lo + 1, static_cast<std::size_t>(i + 2 - lo));
    std::int64_t top = std::min(i, lo + static_cast<std::int64_t>(bytes.size()) - 2);
    for (std::int64_t j = top; j >= lo; --j) {
      if (bytes[j - lo] == '\r' && bytes[j - lo + 1] == '\n')
        return readBytesAt(file, j + 3, kIndexRecordLength);
    }
    i = lo - 1;
  }
  return {};
}

bool clsIndex::CheckIndexPosition(std::int64_t position) const {
  if (position < 1) return false;
  const std::string file = path(kResponseLogName);
  if (position > fileLength(file)) return false;
  return QueryIndex(readBytesAt(file, position, kIndexRecordLength)) == position;
}

void clsIndex::BuildIndex() {
  inBuildIndex_ = true;
  try {
    std::int64_t start = 1;
    bool resume = false;
    if (!positions_.empty()) {
      std::int64_t last = positions_.back().position;
      if (CheckIndexPosition(last)) {
        start = last;
        resume = true;
      } else {
        clearEntries();
      }
    }
    lastOutcome_ = resume ? Outcome::Resumed : Outcome::Rebuilt;
    scanBlocks(start, resume);
  } catch (const FileError& e) {
    lastOutcome_ = Outcome::Failed;
    report(e.what());
  } catch (const std::bad_alloc&) {
    lastOutcome_ = Outcome::Failed;
    report(describeErrno(ENOMEM));
  }
  inBuildIndex_ = false;
}

void clsIndex::scanBlocks(std::int64_t start, bool resume) {
  LineReader reader(path(kResponseLogName));
  reader.seek(start);
  // Room for a block every 4 KiB of what is left to read, so that a large build does not keep
  // re-hashing a growing table; capped so that a log of huge blocks does not reserve much.
  constexpr std::int64_t kBytesPerBlockGuess = 4096;
  constexpr std::int64_t kMaxGuess = 1'000'000;
  const std::int64_t left = reader.lastKnownLength() - start;
  const std::int64_t guess = left / kBytesPerBlockGuess;
  // More than one block to read: the next ones are read while this one is scanned. The first
  // read starts them, before the table below is cleared for the guess, so that both overlap.
  reader.setReadAhead(left > static_cast<std::int64_t>(LineReader::kDefaultBlockSize));
  reader.atEnd();
  positions_.reserve(positions_.size() +
                     static_cast<std::size_t>(std::clamp<std::int64_t>(guess, 0, kMaxGuess)));
  if (textEntries_ == positions_.size())
    text_.reserve(text_.size() +
                  static_cast<std::size_t>(std::clamp<std::int64_t>(guess, 0, kMaxGuess)) * 40);
  std::string head;
  bool terminated = false;
  bool skipToDivider = resume;
  // A block is added when the next opening line has been read, or when the scan ends: its table
  // slot was prefetched when its key was read, so the insertion finds it in the cache instead of
  // waiting for memory. The progress event follows the insertion as before; a cancel there
  // leaves the block after it out.
  struct Pending {
    std::string key;
    std::int64_t position = 0;
    std::int64_t length = 0;
    bool set = false;
  } pending;
  auto addPending = [&] {
    if (!pending.set) return false;
    pending.set = false;
    addBlock(pending.key, pending.position);
    return reportProgress(pending.position, pending.length);
  };
  auto scan = [&] {
    for (;;) {
      // A line that runs into the end of the file ends this scan even if the recorder adds to
      // it at once: its rest would be read as a line of its own, and a divider cut in two would
      // be missed. The next build resumes at the last block and reads it whole.
      if (skipToDivider && !reader.skipPastLine(kDevider)) return false;
      skipToDivider = true;
      if (reader.atEnd()) return false;  // also passes the LF of a divider's line end written late
      std::int64_t position = reader.position();
      if (reader.readLineHead(head, kIndexRecordLength, terminated) < 0) return false;
      // An opening line still being written would be indexed under a cut key; wait for its end.
      if (!terminated) return false;
      positions_.prefetch(head);
      if (addPending()) return true;
      pending.key.swap(head);
      pending.position = position;
      pending.length = reader.lastKnownLength();
      pending.set = true;
    }
  };
  try {
    if (!scan()) addPending();
  } catch (...) {
    addPending();  // what was read before the failure stays indexed
    throw;
  }
  // The log was cut or rotated in place while it was read: the entries may point into the old
  // log. Dropping them makes the next build start from position 1.
  if (reader.changedUnderneath()) clearEntries();
}

void clsIndex::clearEntries() {
  positions_.clear();
  text_.clear();
  text_.shrink_to_fit();
  textEntries_ = 0;
}

void clsIndex::addBlock(std::string_view key, std::int64_t position) {
  if (positions_.add(key, position)) {
    if (textEntries_ + 1 == positions_.size()) {
      char line[kIndexLineMax];
      text_.append(line, static_cast<std::size_t>(formatIndexLine(line, positions_.back()) - line));
      ++textEntries_;
    }
    return;
  }
  // Reported twice, as the engine always has: the window and its tests count on two boxes.
  const std::string text = std::string(kDuplicateKeyDescription) + "\r\n\r\n" + utf8FromLine(key);
  report(text);
  report(text);
}

bool clsIndex::reportProgress(std::int64_t position, std::int64_t length) {
  double ratio = length > 0 ? static_cast<double>(position) / static_cast<double>(length) : 1.0;
  double rounded = std::nearbyint(std::min(ratio, 1.0) * 100.0);  // halves to even
  auto percent = static_cast<std::uint8_t>(std::clamp(rounded, 0.0, 100.0));
  if (percent == lastPercent_) return false;
  lastPercent_ = percent;
  bool cancel = false;
  if (Progress) Progress(lastPercent_, cancel);
  return cancel;
}

}  // namespace korva
