#include "log_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "buffered_writer.h"
#include "index/constants.h"
#include "page_builder.h"
#include "random.h"

namespace korva {
namespace {

constexpr int kKeyLength = kIndexRecordLength;
constexpr std::string_view kDivider = kDevider;
static_assert(kBlockFrameBytes ==
              2 * (kKeyLength + 2) + static_cast<std::int64_t>(kDivider.size()) + 2);
constexpr std::int64_t kMillisPerDay = 86400000;

// Howard Hinnant's civil-calendar conversions (proleptic Gregorian, days since 1970-01-01).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::int64_t fileSize(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openForReading(const std::filesystem::path& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) throw std::runtime_error(path.string() + ": kann nicht gelesen werden");
  return f;
}

std::string readAt(std::FILE* f, std::int64_t offset, std::size_t n) {
  std::string s(n, '\0');
  if (fseeko(f, offset, SEEK_SET) != 0) return {};
  s.resize(std::fread(s.data(), 1, n, f));
  return s;
}

// Start of the last occurrence of `pattern` that ends at or before `end`, or -1.
std::int64_t findLast(std::FILE* f, std::int64_t end, std::string_view pattern) {
  constexpr std::int64_t kChunk = 1 << 20;
  const auto len = static_cast<std::int64_t>(pattern.size());
  std::int64_t pos = end;  // occurrences starting at or after pos are already ruled out
  while (pos > 0) {
    const std::int64_t from = std::max<std::int64_t>(0, pos - kChunk);
    const std::int64_t to = std::min(end, pos + len - 1);
    const std::string window = readAt(f, from, static_cast<std::size_t>(to - from));
    const auto hit = std::string_view(window).rfind(pattern);
    if (hit != std::string_view::npos) return from + static_cast<std::int64_t>(hit);
    pos = from;
  }
  return -1;
}

// Where the existing response log stands, as far as appending needs to know.
struct ResponseTail {
  bool hasBlocks = false;
  bool unfinished = false;  // last block still lacks closing line and divider
  bool needsCrLf = false;   // the file does not end with a line terminator
  std::string lastKey;      // opening line of the last block, cut to the key width
};

ResponseTail inspectResponseLog(const std::filesystem::path& path) {
  ResponseTail tail;
  const std::int64_t size = fileSize(path);
  if (size <= 0) return tail;
  FilePtr f = openForReading(path);
  tail.hasBlocks = true;
  const std::string divided = "\r\n" + std::string(kDivider) + "\r\n";
  const auto dlen = static_cast<std::int64_t>(divided.size());
  const std::string end =
      readAt(f.get(), std::max<std::int64_t>(0, size - dlen), static_cast<std::size_t>(dlen));
  const std::string_view endView(end);
  std::int64_t searchEnd = size;
  if (endView.size() == divided.size() && endView == divided) {
    searchEnd = size - dlen + 2;
  } else if (endView.size() >= divided.size() - 2 &&
             endView.substr(endView.size() - (divided.size() - 2)) ==
                 std::string_view(divided).substr(0, dlen - 2)) {
    tail.needsCrLf = true;
    searchEnd = size - dlen + 4;
  } else {
    tail.unfinished = true;
    tail.needsCrLf = endView.size() < 2 || endView.substr(endView.size() - 2) != "\r\n";
  }
  const std::int64_t previous = findLast(f.get(), searchEnd, divided);
  const std::int64_t start = previous < 0 ? 0 : previous + dlen;
  std::string opening = readAt(f.get(), start, kKeyLength);
  opening.resize(std::min(opening.size(), opening.find('\r')));
  tail.lastKey = opening;
  return tail;
}

// What appending needs from the existing request log.
struct RequestHistory {
  std::int64_t lines = 0;
  bool needsCrLf = false;
  bool haveMaxKey = false;
  std::int64_t maxMillis = 0;
  int maxSequence = 0;
  std::vector<std::string> unanswered;  // keys after the last block's key
};

RequestHistory scanRequestLog(const std::filesystem::path& path, const ResponseTail& tail) {
  RequestHistory h;
  if (fileSize(path) <= 0) return h;
  FilePtr f = openForReading(path);
  bool matched = !tail.hasBlocks;  // with no blocks at all every request is unanswered
  std::string key;
  bool inLine = false;
  bool skipLf = false;
  char last = 0;
  const auto onLine = [&] {
    ++h.lines;
    std::int64_t ms = 0;
    int seq = 0;
    if (parseKey(key, ms, seq) && (!h.haveMaxKey || ms >= h.maxMillis)) {
      h.haveMaxKey = true;
      h.maxMillis = ms;
      h.maxSequence = seq;
    }
    if (tail.hasBlocks && key == tail.lastKey) {
      matched = true;
      h.unanswered.clear();
    } else if (matched) {
      h.unanswered.push_back(key);
    }
    key.clear();
    inLine = false;
  };
  std::vector<char> buf(1 << 20);
  for (;;) {
    const std::size_t n = std::fread(buf.data(), 1, buf.size(), f.get());
    if (n == 0) break;
    last = buf[n - 1];
    std::size_t p = 0;
    while (p < n) {
      if (skipLf) {
        skipLf = false;
        if (buf[p] == '\n') {
          ++p;
          continue;
        }
      }
      const void* cr = std::memchr(buf.data() + p, '\r', n - p);
      const std::size_t end =
          cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - buf.data()) : n;
      if (key.size() < kKeyLength)
        key.append(buf.data() + p, std::min(end - p, kKeyLength - key.size()));
      if (end > p) inLine = true;
      if (!cr) break;
      onLine();
      skipLf = true;
      p = end + 1;
    }
  }
  if (inLine) onLine();
  // A lone CR ends a line too, but the recorder always writes CR LF; add the LF it lacks.
  h.needsCrLf = h.lines > 0 && last != '\n';
  if (!matched) h.unanswered.clear();  // the last block's key is unknown here: nothing to answer
  return h;
}

std::string closingLine(int status, std::int64_t bodyBytes, Rng& rng) {
  char line[64];
  std::snprintf(line, sizeof line, "%03d %010lld B %04d ms", status % 1000,
                static_cast<long long>(bodyBytes % 10000000000LL),
                static_cast<int>(rng.range(1, 2500)));
  return line;
}

class Run {
 public:
  Run(const GeneratorOptions& o, std::int64_t requests, std::int64_t target)
      : o_(o), requests_(requests), target_(target), builder_(o.seed), rng_(o.seed) {}

  GeneratorResult execute() {
    GeneratorResult result;
    const auto requestPath = o_.outDir / kRequestLogName;
    const auto responsePath = o_.outDir / kResponseLogName;
    ResponseTail tail;
    RequestHistory history;
    if (o_.append) {
      tail = inspectResponseLog(responsePath);
      history = scanRequestLog(requestPath, tail);
      // A different stream per run, so that appending with the same seed adds new content.
      rng_ = Rng(o_.seed ^ (0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(history.lines + 1)));
    }
    std::int64_t clock = 0;
    int sequence = 1;
    if (history.haveMaxKey) {
      clock = history.maxMillis + 1;
      sequence = (history.maxSequence + 1) % 1000000;
    } else {
      std::uint64_t s = o_.seed;
      clock =
          daysFromCivil(2024, 3, 4) * kMillisPerDay + 8 * 3600000LL +
          static_cast<std::int64_t>(splitMix64(s) % static_cast<std::uint64_t>(30 * kMillisPerDay));
    }

    BufferedWriter requestLog(requestPath, o_.append);
    BufferedWriter responseLog(responsePath, o_.append);
    const std::int64_t responseStart = responseLog.offset();
    if (history.needsCrLf) requestLog.write("\r\n");
    if (tail.needsCrLf) responseLog.write("\r\n");
    if (tail.unfinished) {
      responseLog.write(closingLine(200, 0, rng_));
      responseLog.write("\r\n");
      responseLog.write(kDivider);
      responseLog.write("\r\n");
      result.completedUnfinished = true;
    }
    budgetStart_ = responseLog.offset();

    const std::int64_t newBlocks = requests_ - (o_.noResponseForLast && requests_ > 0 ? 1 : 0);
    blocksLeft_ = static_cast<std::int64_t>(history.unanswered.size()) + newBlocks;
    std::int64_t bigIndex = -1;
    if (o_.bigBody >= 0) {
      if (newBlocks <= 0) throw std::invalid_argument("--big-body braucht mindestens eine Antwort");
      bigIndex = std::min(newBlocks - 1, requests_ * 9 / 10);
      bigPending_ = true;
      result.bigBodyRequest = bigIndex;
    }
    // The run's last block is left open with --unfinished, wherever it falls.
    const std::int64_t lastBlock = blocksLeft_ - 1;
    std::int64_t blockNumber = 0;

    for (const auto& key : history.unanswered) {
      const RequestInfo info = builder_.makeRequest(rng_, o_.spread == 0);
      BlockRecord rec =
          writeBlock(responseLog, key, info, false, o_.unfinished && blockNumber == lastBlock);
      ++blockNumber;
      if (o_.collectRecords) result.lateBlocks.push_back(std::move(rec));
    }
    if (o_.collectRecords) result.requests.reserve(static_cast<std::size_t>(requests_));
    for (std::int64_t i = 0; i < requests_; ++i) {
      clock += rng_.range(1, 1500);
      const std::string key = formatKey(clock, sequence);
      sequence = (sequence + 1) % 1000000;
      const bool big = i == bigIndex;
      const RequestInfo info = builder_.makeRequest(rng_, o_.spread == 0 || big);
      requestLog.write(key);
      requestLog.write(" - ");
      requestLog.write(info.text);
      requestLog.write("\r\n");
      BlockRecord rec;
      if (i < newBlocks) {
        rec = writeBlock(responseLog, key, info, big, o_.unfinished && blockNumber == lastBlock);
        ++blockNumber;
      } else {
        rec.key = key;
      }
      if (o_.collectRecords) result.requests.push_back(std::move(rec));
    }

    result.requestCount = requests_;
    result.blockCount = blockNumber;
    result.responseBytesAdded = responseLog.offset() - responseStart;
    result.requestLogBytes = requestLog.offset();
    result.responseLogBytes = responseLog.offset();
    requestLog.close();
    responseLog.close();
    return result;
  }

 private:
  std::int64_t drawBodySize(const RequestInfo& info, bool big) {
    if (big) return o_.bigBody;
    const std::int64_t reserve = bigPending_ ? o_.bigBody + kBlockFrameBytes : 0;
    const std::int64_t others = blocksLeft_ - (bigPending_ ? 1 : 0);
    const std::int64_t remaining = target_ - (written_ - budgetStart_) - reserve;
    const double mean =
        static_cast<double>(remaining) / static_cast<double>(std::max<std::int64_t>(others, 1)) -
        static_cast<double>(kBlockFrameBytes);
    std::int64_t size = 0;
    if (o_.spread > 0) {
      const std::int64_t fixed = builder_.fixedBodySize(info, rng_);
      if (fixed >= 0) return fixed;
    }
    if (mean <= 0) {
      size = 0;
    } else if (others <= 1 || o_.spread == 0) {
      size = static_cast<std::int64_t>(mean);  // the last block takes up what is left
    } else {
      const double z = rng_.normal();
      size = static_cast<std::int64_t>(mean * std::exp(o_.spread * z - o_.spread * o_.spread / 2));
    }
    return std::clamp<std::int64_t>(size, 0, o_.maxBody);
  }

  BlockRecord writeBlock(BufferedWriter& out, const std::string& key, const RequestInfo& info,
                         bool big, bool open) {
    BlockRecord rec;
    rec.key = key;
    rec.position = out.offset() + 1;
    written_ = out.offset();
    const std::int64_t size = drawBodySize(info, big);
    out.write(key);
    out.write("\r\n");
    rec.bodyBytes = builder_.writeBody(out, info, size, rng_);
    if (!open) {
      out.write(closingLine(info.status, rec.bodyBytes, rng_));
      out.write("\r\n");
      out.write(kDivider);
      out.write("\r\n");
    }
    if (big) bigPending_ = false;
    --blocksLeft_;
    return rec;
  }

  const GeneratorOptions& o_;
  std::int64_t requests_;
  std::int64_t target_;
  PageBuilder builder_;
  Rng rng_;
  std::int64_t budgetStart_ = 0;
  std::int64_t written_ = 0;
  std::int64_t blocksLeft_ = 0;
  bool bigPending_ = false;
};

}  // namespace

std::string formatKey(std::int64_t unixMillis, int sequence) {
  const std::int64_t days = unixMillis >= 0 ? unixMillis / kMillisPerDay
                                            : (unixMillis - kMillisPerDay + 1) / kMillisPerDay;
  const std::int64_t ms = unixMillis - days * kMillisPerDay;
  std::int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  civilFromDays(days, y, m, d);
  char key[80];
  std::snprintf(key, sizeof key, "%04lld%02u%02u%02lld%02lld%02lld%03lld-%06d",
                static_cast<long long>(y), m, d, static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000), sequence % 1000000);
  return key;
}

bool parseKey(std::string_view key, std::int64_t& unixMillis, int& sequence) {
  if (key.size() != static_cast<std::size_t>(kKeyLength) || key[17] != '-') return false;
  std::int64_t digits[23] = {};
  for (int i = 0, k = 0; i < kKeyLength; ++i) {
    if (i == 17) continue;
    if (key[static_cast<std::size_t>(i)] < '0' || key[static_cast<std::size_t>(i)] > '9')
      return false;
    digits[k++] = key[static_cast<std::size_t>(i)] - '0';
  }
  const auto number = [&](int from, int count) {
    std::int64_t v = 0;
    for (int i = from; i < from + count; ++i) v = v * 10 + digits[i];
    return v;
  };
  const std::int64_t y = number(0, 4);
  const auto mo = static_cast<unsigned>(number(4, 2));
  const auto d = static_cast<unsigned>(number(6, 2));
  const std::int64_t h = number(8, 2);
  const std::int64_t mi = number(10, 2);
  const std::int64_t s = number(12, 2);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  unixMillis =
      daysFromCivil(y, mo, d) * kMillisPerDay + ((h * 60 + mi) * 60 + s) * 1000 + number(14, 3);
  sequence = static_cast<int>(number(17, 6));
  return true;
}

GeneratorResult generateLogs(const GeneratorOptions& options) {
  if (options.requests < -1 || options.targetBytes < -1 || options.bigBody < -1)
    throw std::invalid_argument("negative Anzahl oder Größe");
  if (options.maxBody < 0) throw std::invalid_argument("--max-body darf nicht negativ sein");
  if (!(options.spread >= 0 && options.spread <= 4))
    throw std::invalid_argument("--spread muss zwischen 0 und 4 liegen");
  std::int64_t requests = options.requests;
  std::int64_t target = options.targetBytes;
  if (requests < 0) {
    requests = target < 0 ? kDefaultRequests
                          : std::max<std::int64_t>(1, target / kDefaultAverageBlockBytes);
  }
  if (target < 0) target = requests * kDefaultAverageBlockBytes;
  std::error_code ec;
  std::filesystem::create_directories(options.outDir, ec);
  if (ec) throw std::runtime_error(options.outDir.string() + ": " + ec.message());
  Run run(options, requests, target);
  return run.execute();
}

}  // namespace korva
