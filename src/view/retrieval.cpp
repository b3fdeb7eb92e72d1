#include "view/retrieval.h"

#include <algorithm>
#include <new>
#include <utility>

#include "index/constants.h"
#include "index/line_reader.h"

namespace korva {
namespace {

// Large reads: a body of tens of megabytes should cost few system calls.
constexpr std::size_t kRetrievalBlockSize = 4 << 20;
// The closing line and its CR LF, dropped at the divider.
constexpr std::size_t kClosingLength = kIndexRecordLength + 2;

// Passes over lines up to and including the first one equal to `key`. Only the head of each line
// is kept: a line equals the key only when its length is the key's, so long lines before the
// block are never copied. False at the end of the file.
bool skipToOpeningLine(LineReader& reader, std::string_view key, std::string& head) {
  for (;;) {
    std::int64_t length = reader.readLineHead(head, key.size() + 1);
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) == key.size() && head == key) return true;
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

RetrievedResponse retrieveResponse(const std::string& responseLogPath, std::string_view key,
                                   std::int64_t position) {
  LineReader reader(responseLogPath, kRetrievalBlockSize);
  if (position > 0 && position < reader.lastKnownLength()) reader.seek(position);
  std::string line;
  if (!skipToOpeningLine(reader, key, line)) return {std::string(), false};

  std::string body;
  reserveRestOfFile(body, reader);
  while (reader.readLine(line)) {
    if (line == kDevider) {
      if (body.size() < kClosingLength)
        body.clear();
      else
        body.resize(body.size() - kClosingLength);
      break;
    }
    body += line;
    body.push_back('\r');
    body.push_back('\n');
  }
  releaseUnusedRoom(body);
  return {std::move(body), true};
}

}  // namespace korva
