#include "index/clsIndex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "index/atomic_file.h"
#include "index/codec.h"
#include "index/file_error.h"
#include "index/line_reader.h"
#include "index/table_feeder.h"

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
  out += e.keyLength();
  std::memcpy(out, " - ", 3);
  out = std::to_chars(out + 3, out + 3 + 20, e.position()).ptr;
  *out++ = '\r';
  *out++ = '\n';
  return out;
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

namespace {

// Position of a line as SaveIndex writes it: the key, " - ", digits without a leading zero and
// nothing after them; -1 for any other line, which parsePosition then reads.
std::int64_t parseWrittenPosition(const char* line, std::size_t length) {
  constexpr std::size_t kMaxDigits = 18;  // cannot overflow
  if (length <= kPositionField || length > kPositionField + kMaxDigits ||
      std::memcmp(line + kIndexRecordLength, " - ", 3) != 0 || line[kPositionField] == '0')
    return -1;
  std::int64_t value = 0;
  for (std::size_t i = kPositionField; i < length; ++i) {
    const unsigned digit = static_cast<unsigned char>(line[i]) - unsigned{'0'};
    if (digit > 9) return -1;
    value = value * 10 + static_cast<std::int64_t>(digit);
  }
  return value;
}

clsIndex::FileStamp stampOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
          static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

// The file's identity, size and modification time now; nothing when it cannot be queried.
bool stampOfPath(const std::string& file, clsIndex::FileStamp& stamp) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return false;
  stamp = stampOf(st);
  return true;
}

}  // namespace

void clsIndex::LoadIndex() {
  clearEntries();
  const std::string file = path(kIndexFileName);
  struct stat st;
  if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) return;
  try {
    LineReader reader(file);
    reader.setReadAhead(st.st_size > static_cast<off_t>(LineReader::kDefaultBlockSize));
    // True while every line read is exactly what SaveIndex would write for the entries so far:
    // then saving them unchanged would write the same bytes again.
    bool asWritten = true;
    bool reserved = false;
    // Room for the whole file, judged by the lines read so far that held an entry, so that the
    // table is sized once. A file of garbage reserves nothing; no file holds more entries than
    // lines of 29 bytes.
    auto reserve = [&] {
      if (reserved || positions_.empty()) return;
      reserved = true;
      const double share = static_cast<double>(positions_.size()) /
                           static_cast<double>(std::max<std::int64_t>(1, reader.position() - 1));
      const double most = static_cast<double>(st.st_size) / (kPositionField + 2) + 1;
      positions_.reserve(
          static_cast<std::size_t>(std::min(most, share * static_cast<double>(st.st_size) * 1.05)),
          true);
    };
    // Entries without a usable position are as good as absent; dropping them lets a later
    // well-formed line for the same key count, and a damaged tail not force a rebuild. Keys are
    // appended unchecked and placed at the end, where a duplicate is dropped.
    std::string line;
    for (;;) {
      const std::string_view lines = reader.bufferedLines();
      if (lines.empty()) {
        // A line across the end of the buffer, or the end of the file.
        if (reader.readLineHead(line, kIndexLineKeep) < 0) break;
        if (!reader.lastLineEndedByCrLf()) asWritten = false;
        std::int64_t position = parseWrittenPosition(line.data(), line.size());
        if (position < 0) {
          asWritten = false;
          position = parsePosition(line);
        }
        if (position > 0)
          positions_.append(line, position);
        else
          asWritten = false;
        continue;
      }
      // Lines in the buffer are parsed in place.
      const char* p = lines.data();
      const char* const end = p + lines.size();
      while (p < end) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
        const auto length = static_cast<std::size_t>(cr - p);
        const char* next = cr + 1;
        if (*next == '\n')
          ++next;
        else
          asWritten = false;
        std::int64_t position = parseWrittenPosition(p, length);
        if (position < 0) {
          asWritten = false;
          position = parsePosition({p, std::min(length, kIndexLineKeep)});
        }
        if (position > 0)
          positions_.append({p, kIndexRecordLength}, position);
        else
          asWritten = false;
        p = next;
      }
      reader.skipBuffered(lines.size());
      reserve();
    }
    if (positions_.placeAppended() != 0) asWritten = false;
    fileAsWritten_ = asWritten && !positions_.empty() && !reader.changedUnderneath() &&
                     stampOfPath(file, writtenFile_) && writtenFile_ == stampOf(st);
  } catch (const FileError& e) {
    // The index is only a cache: start empty and let the next build recreate it.
    clearEntries();
    report(e.what());
  }
}

bool clsIndex::SaveIndex() {
  saved_ = true;
  if (positions_.empty()) {
    stream_.reset();
    return true;
  }
  const std::string finalPath = path(kIndexFileName);
  // Loaded from a file that holds exactly the lines a save writes, and unchanged since: writing
  // them again would only cost the time (a quarter of a GB at ten million entries).
  FileStamp now;
  if (fileAsWritten_ && stampOfPath(finalPath, now) && now == writtenFile_) {
    removeStaleTemporaryFiles(finalPath);
    return true;
  }
  // A build that streamed its entries to the disk as it went leaves only the rest to write.
  if (std::unique_ptr<AtomicFileWriter> stream = std::move(stream_)) {
    if (writeEntries(streamed_, *stream) && stream->commit() == 0) {
      fileAsWritten_ = stampOfPath(finalPath, writtenFile_);
      return true;
    }
  }
  const int error =
      replaceFileAtomically(finalPath, [&](const ByteSink& sink) { return writeEntries(0, sink); });
  if (error != 0) return false;
  fileAsWritten_ = stampOfPath(finalPath, writtenFile_);
  return true;
}

// Formatted a few MiB at a time; the entries lie in insertion order, so this reads memory front
// to back.
bool clsIndex::writeEntries(std::size_t from, const ByteSink& sink) {
  constexpr std::size_t kChunk = std::size_t{2} << 20;
  if (!lineBuffer_) lineBuffer_.reset(new char[kChunk + kIndexLineMax]);
  char* const begin = lineBuffer_.get();
  char* out = begin;
  const std::size_t count = positions_.size();
  for (std::size_t i = from; i < count; ++i) {
    out = formatIndexLine(out, positions_[i]);
    if (static_cast<std::size_t>(out - begin) >= kChunk || i + 1 == count) {
      if (!sink(begin, static_cast<std::size_t>(out - begin))) return false;
      out = begin;
    }
  }
  return true;
}

bool clsIndex::writeEntries(std::size_t from, AtomicFileWriter& file) {
  return writeEntries(from,
                      [&](const char* data, std::size_t size) { return file.write(data, size); });
}

// On the feeder's thread after each batch: the entries placed since go to the file the save will
// rename, and on to the disk, while the scan goes on.
void clsIndex::streamEntries() {
  if (!stream_) return;
  writeEntries(streamed_, *stream_);  // a failure stays in the writer; the save starts over
  streamed_ = positions_.size();
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
      std::int64_t last = positions_.back().position();
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
  const std::int64_t left = reader.lastKnownLength() - start;
  // More than one block to read: the kernel reads the next ones while this one is scanned.
  reader.setReadAhead(left > static_cast<std::int64_t>(LineReader::kDefaultBlockSize));
  // Once the first few MiB are indexed, the table gets room for the rest at the same density,
  // so that it is sized once instead of re-hashed while it grows.
  constexpr std::int64_t kSample = std::int64_t{4} << 20;
  const std::size_t sizeAtStart = positions_.size();
  std::size_t added = 0;
  quietLength_ = -1;  // positions grow only within one scan
  // More than a few MiB are indexed on two threads: this one scans, the feeder's fills the
  // table. Blocks get their slots in batches, placed in full before each progress event (whose
  // handler may look any of them up) and at the end; one by one, each insertion would wait for
  // memory. The feeder also writes what it placed to the file the save will rename: the disk
  // then writes it while the scan runs, instead of after it.
  const bool big = left >= 2 * kSample;
  bool reserved = !big;
  if (big && !stream_) {
    removeStaleTemporaryFiles(path(kIndexFileName));
    stream_ = std::make_unique<AtomicFileWriter>(path(kIndexFileName));
    streamed_ = 0;
  }
  TableFeeder feeder(positions_, big, [this] { streamEntries(); });
  auto reserveForRest = [&](std::int64_t at) {
    reserved = true;
    const double density = static_cast<double>(added) / static_cast<double>(at - start);
    const double rest = static_cast<double>(reader.lastKnownLength() - at);
    feeder.reserve(sizeAtStart + added + static_cast<std::size_t>(density * rest * 1.1));
  };
  std::string head;
  bool terminated = false;
  bool skipToDivider = resume;
  // A cancel in a progress event leaves the block after it out.
  auto scan = [&] {
    for (;;) {
      // A line that runs into the end of the file ends this scan even if the recorder adds to
      // it at once: its rest would be read as a line of its own, and a divider cut in two would
      // be missed. The next build resumes at the last block and reads it whole.
      if (skipToDivider && !reader.skipPastLine(kDevider)) return;
      skipToDivider = true;
      if (reader.atEnd()) return;  // also passes the LF of a divider's line end written late
      const std::int64_t position = reader.position();
      std::string_view key;
      const std::string_view lines = reader.bufferedLines();
      if (!lines.empty()) {
        // The opening line lies whole in the buffer, its line end included: read in place.
        const std::size_t cr = lines.find('\r');
        key = lines.substr(0, std::min(cr, static_cast<std::size_t>(kIndexRecordLength)));
        reader.skipBuffered(cr + (cr + 1 < lines.size() && lines[cr + 1] == '\n' ? 2 : 1));
      } else {
        if (reader.readLineHead(head, kIndexRecordLength, terminated) < 0) return;
        // An opening line still being written would be indexed under a cut key; wait for it.
        if (!terminated) return;
        key = head;
      }
      if (!reserved && position - start >= kSample) reserveForRest(position);
      feeder.add(key, position);
      ++added;
      fileAsWritten_ = false;
      if (reportProgress(position, reader.lastKnownLength(), feeder)) return;
    }
  };
  try {
    scan();
  } catch (...) {
    placeBlocks(feeder);  // what was read before the failure stays indexed
    throw;
  }
  placeBlocks(feeder);
  // The log was cut or rotated in place while it was read: the entries may point into the old
  // log. Dropping them makes the next build start from position 1.
  if (reader.changedUnderneath()) clearEntries();
}

void clsIndex::clearEntries() {
  fileAsWritten_ = false;
  stream_.reset();
  streamed_ = 0;
  positions_.clear();
}

void clsIndex::placeBlocks(TableFeeder& feeder) {
  std::vector<std::string> dropped;
  const std::exception_ptr error = feeder.sync(dropped);
  for (const std::string& key : dropped) {
    // Reported twice, as the engine always has: the window and its tests count on two boxes.
    const std::string text = std::string(kDuplicateKeyDescription) + "\r\n\r\n" + utf8FromLine(key);
    report(text);
    report(text);
  }
  if (error) std::rethrow_exception(error);
}

bool clsIndex::reportProgress(std::int64_t position, std::int64_t length, TableFeeder& feeder) {
  if (length == quietLength_ && position < quietBelow_) return false;
  double ratio = length > 0 ? static_cast<double>(position) / static_cast<double>(length) : 1.0;
  double rounded = std::nearbyint(std::min(ratio, 1.0) * 100.0);  // halves to even
  auto percent = static_cast<std::uint8_t>(std::clamp(rounded, 0.0, 100.0));
  // Below this position the ratio stays under percent + 0.5 at this length; positions only grow
  // during a scan, so the percentage cannot change before it.
  quietLength_ = length;
  quietBelow_ = length / 200 * (2 * std::int64_t{percent} + 1);
  if (percent == lastPercent_) return false;
  lastPercent_ = percent;
  placeBlocks(feeder);
  bool cancel = false;
  if (Progress) Progress(lastPercent_, cancel);
  return cancel;
}

}  // namespace korva
