#include "view/retrieval.h"

#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <utility>

#include "index/constants.h"
#include "index/line_reader.h"

namespace korva {
namespace {

// Large reads: a body of tens of megabytes should cost few system calls.
constexpr std::size_t kRetrievalBlockSize = 4 << 20;

// Passes over lines up to and including the first one equal to `key`. Only the head of each line
// is kept: a line equals the key only when its length is the key's, so long lines before the
// block are never copied. False at the end of the file. A line that runs into the end of the
// file is the last one read, even when the recorder adds to it a moment later: the rest of it
// would be taken for a line of its own.
bool skipToOpeningLine(LineReader& reader, std::string_view key, std::string& head,
                       std::int64_t& openingAt, bool& terminated) {
  for (;;) {
    if (reader.atEnd()) return false;
    openingAt = reader.position();
    std::int64_t length = reader.readLineHead(head, key.size() + 1, terminated);
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) == key.size() && head == key) return true;
    if (!terminated) return false;
  }
}

// Room for the whole body up front, so that a body of tens of megabytes is not copied and its
// pages not touched again at every growth step. The rest of the file bounds the body (up to the
// CR LF that a lone CR or a last line without terminator gets), and reserving it costs only
// address space: the kernel maps just the pages that are written. Where the address space is
// refused, the buffer grows geometrically instead. The reservation is capped so that a click in a
// log of many gigabytes does not ask for all of it.
void reserveRestOfFile(std::string& body, const LineReader& reader) {
  constexpr std::int64_t kMaxReservation = std::int64_t{1} << 30;
  const std::int64_t rest =
      std::min(reader.lastKnownLength() - reader.position() + 1, kMaxReservation);
  if (rest <= 0) return;
  try {
    body.reserve(static_cast<std::size_t>(rest));
  } catch (const std::bad_alloc&) {
  }
}

// A block early in a large log leaves most of the reservation unused: give it back, which costs a
// copy of the body, small against the reservation.
void releaseUnusedRoom(std::string& body) {
  constexpr std::size_t kSlack = 1 << 20;
  if (body.capacity() / 2 > body.size() + kSlack) body.shrink_to_fit();
}

}  // namespace

std::string_view requestKey(std::string_view entry) { return entry.substr(0, kIndexRecordLength); }

std::string_view requestText(std::string_view entry) {
  return entry.size() > kRequestTextOffset ? entry.substr(kRequestTextOffset) : std::string_view();
}

namespace {

struct BlockRead {
  RetrievedResponse response;
  std::int64_t openingAt = 0;  // 1-based positions of the opening line and of the divider
  std::int64_t dividerAt = 0;  // 0 when the end of the file came first
};

BlockRead readBlock(LineReader& reader, std::string_view key, std::int64_t position) {
  BlockRead read{{std::string(), false}};
  if (position > 0 && position < reader.lastKnownLength()) reader.seek(position);
  std::string line;
  bool terminated = false;
  if (!skipToOpeningLine(reader, key, line, read.openingAt, terminated)) return read;

  std::string& body = read.response.body;
  read.response.found = true;
  reserveRestOfFile(body, reader);
  // Lines go straight into the body: a line of hundreds of megabytes is held once, not twice.
  // As above, the end of the file is where a line first runs out without a terminator.
  while (terminated && !reader.atEnd()) {
    const std::int64_t lineAt = reader.position();
    const std::size_t start = body.size();
    const std::int64_t length =
        reader.appendLineHead(body, static_cast<std::size_t>(-1), terminated);
    if (length < 0) break;
    if (static_cast<std::size_t>(length) == kDevider.size() &&
        std::string_view(body).substr(start) == kDevider) {
      body.resize(start);
      if (body.size() < kClosingLength)
        body.clear();
      else
        body.resize(body.size() - kClosingLength);
      read.dividerAt = lineAt;
      break;
    }
    body.push_back('\r');
    body.push_back('\n');
  }
  releaseUnusedRoom(body);
  return read;
}

// One read of the file can see the first pages of the old content and the later ones of the
// new, when the log is rewritten in place just then; the block's first and last line are then
// no longer where they were read.
bool stillInLog(const std::string& path, std::string_view key, const BlockRead& read) {
  if (!read.response.found) return true;
  if (readBytesAt(path, read.openingAt, key.size()) != key) return false;
  return read.dividerAt == 0 || readBytesAt(path, read.dividerAt, kDevider.size()) == kDevider;
}

// What changes when the log is written to: an append as much as a rewrite.
struct Version {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  bool operator==(const Version& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

Version versionOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

}  // namespace

RetrievedResponse retrieveResponse(const std::string& responseLogPath, std::string_view key,
                                   std::int64_t position) {
  // A log cut or rewritten while it was read gives lines of two logs: read it again. The first
  // and last line being where they were does not prove it: a writer may have put the old version
  // back by then. A log written to during the read is therefore read twice; the second read must
  // give the same block, or the same one grown by what a recorder appended meanwhile.
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    const Version before = versionOf(responseLogPath);
    LineReader reader(responseLogPath, kRetrievalBlockSize);
    BlockRead read = readBlock(reader, key, position);
    bool whole = !reader.changedUnderneath() && stillInLog(responseLogPath, key, read);
    if (whole && read.response.found && !(versionOf(responseLogPath) == before)) {
      LineReader again(responseLogPath, kRetrievalBlockSize);
      BlockRead second = readBlock(again, key, position);
      const std::string& first = read.response.body;
      whole = !again.changedUnderneath() && stillInLog(responseLogPath, key, second) &&
              second.response.found && second.openingAt == read.openingAt &&
              second.response.body.compare(0, first.size(), first) == 0;
      if (whole) read = std::move(second);
    }
    if (whole) return std::move(read.response);
    if (attempt == kAttempts) return {std::string(), false};
  }
}

}  // namespace korva
