// Writes a pair of HtmlRequest.log / HtmlResponse.log in the recorder's format, in-process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

inline constexpr std::int64_t kDefaultRequests = 1000;
inline constexpr std::int64_t kDefaultAverageBlockBytes = 5 * 1024;
inline constexpr std::int64_t kDefaultMaxBody = 8 << 20;
// Opening line, closing line and divider of one block, each with its CR LF.
inline constexpr std::int64_t kBlockFrameBytes = (24 + 2) + (24 + 2) + (47 + 2);

struct GeneratorOptions {
  std::filesystem::path outDir = ".";
  // Requests added by this run; < 0: derived from targetBytes, or kDefaultRequests.
  std::int64_t requests = -1;
  // Bytes this run adds to the response log; < 0: requests × kDefaultAverageBlockBytes.
  std::int64_t targetBytes = -1;
  bool append = false;  // continue an existing pair instead of replacing it
  std::uint64_t seed = 1;
  std::int64_t maxBody = kDefaultMaxBody;  // cap for drawn body sizes (not for bigBody)
  // >= 0: the block of the request at 90 % of this run gets a body of exactly this many bytes.
  std::int64_t bigBody = -1;
  // Sigma of the log-normal body sizes; 0 makes every response a 200 page of the same size.
  double spread = 1.0;
  bool unfinished = false;         // last block of the run without closing line and divider
  bool noResponseForLast = false;  // last request of the run gets no block
  bool collectRecords = true;      // fill GeneratorResult::requests / lateBlocks
};

struct BlockRecord {
  std::string key;
  std::int64_t position = 0;  // 1-based byte offset of the opening line; 0: no block
  std::int64_t bodyBytes = 0;
};

struct GeneratorResult {
  std::int64_t requestCount = 0;        // request lines added by this run
  std::int64_t blockCount = 0;          // blocks started by this run, late ones included
  std::vector<BlockRecord> requests;    // one per added request, in order
  std::vector<BlockRecord> lateBlocks;  // blocks written now for requests of an earlier run
  bool completedUnfinished = false;     // an earlier run's open block got its closing lines
  std::int64_t bigBodyRequest = -1;     // index into `requests` of the bigBody block
  std::int64_t requestLogBytes = 0;     // file sizes after the run
  std::int64_t responseLogBytes = 0;
  std::int64_t responseBytesAdded = 0;
};

// Throws std::invalid_argument for inconsistent options and std::runtime_error for I/O failures.
GeneratorResult generateLogs(const GeneratorOptions& options);

// Keys are a 17-digit time stamp (yyyyMMddHHmmssSSS), '-', and a 6-digit sequence number.
std::string formatKey(std::int64_t unixMillis, int sequence);
bool parseKey(std::string_view key, std::int64_t& unixMillis, int& sequence);

}  // namespace korva
