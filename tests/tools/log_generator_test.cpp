#include "log_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "log_pair_reader.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using test::Block;
using test::parseBlocks;
using test::parseRequests;
using test::readBytes;

class LogGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korva_gen_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  GeneratorOptions options(std::int64_t requests, std::int64_t bytes,
                           std::uint64_t seed = 11) const {
    GeneratorOptions o;
    o.outDir = dir_;
    o.requests = requests;
    o.targetBytes = bytes;
    o.seed = seed;
    return o;
  }
  std::string requestBytes() const { return readBytes(dir_ / "HtmlRequest.log"); }
  std::string responseBytes() const { return readBytes(dir_ / "HtmlResponse.log"); }

  fs::path dir_;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Every key unique ignoring case, and each one later than the one before.
void expectKeysUniqueAndRising(const std::vector<test::RequestLine>& requests) {
  std::set<std::string> seen;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_TRUE(seen.insert(lower(requests[i].key)).second) << "duplicate key " << requests[i].key;
    if (i > 0) {
      EXPECT_LT(requests[i - 1].key.substr(0, 17), requests[i].key.substr(0, 17)) << "line " << i;
    }
  }
}

bool validUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (int k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

TEST_F(LogGeneratorTest, FreshPairParsesBackAndMatchesTheResult) {
  const std::int64_t target = 2 << 20;
  const GeneratorResult r = generateLogs(options(300, target));
  const auto requests = parseRequests(requestBytes());
  const std::string response = responseBytes();
  const auto blocks = parseBlocks(response);

  ASSERT_EQ(requests.size(), 300u);
  ASSERT_EQ(blocks.size(), 300u);
  ASSERT_EQ(r.requests.size(), 300u);
  EXPECT_EQ(r.requestCount, 300);
  EXPECT_EQ(r.blockCount, 300);
  EXPECT_EQ(blocks.front().position, 1);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    EXPECT_EQ(requests[i].key.size(), 24u);
    EXPECT_FALSE(requests[i].text.empty());
    EXPECT_EQ(blocks[i].opening, requests[i].key);
    EXPECT_TRUE(blocks[i].finished);
    EXPECT_EQ(blocks[i].closing.size(), 24u);
    EXPECT_EQ(r.requests[i].key, requests[i].key);
    EXPECT_EQ(r.requests[i].position, blocks[i].position);
    EXPECT_EQ(r.requests[i].bodyBytes, blocks[i].bodyBytes);
  }
  expectKeysUniqueAndRising(requests);
  EXPECT_EQ(r.responseLogBytes, static_cast<std::int64_t>(response.size()));
  EXPECT_EQ(r.requestLogBytes, static_cast<std::int64_t>(requestBytes().size()));
  EXPECT_NEAR(static_cast<double>(response.size()), static_cast<double>(target), target * 0.02);
}

TEST_F(LogGeneratorTest, BodiesLookLikeVariedRealPages) {
  generateLogs(options(400, 3 << 20, 5));
  const std::string response = responseBytes();
  const auto blocks = parseBlocks(response);
  const auto requests = parseRequests(requestBytes());
  ASSERT_EQ(blocks.size(), 400u);

  for (const char* needle : {"<!DOCTYPE", "<script", "<SCRIPT", "<Script", "<script src=", "<!--",
                             "-->", "<table", "<img ", "<a href=", "style=\"", "charset=\"utf-8\"",
                             "charset=UTF-8", "charset=windows-1252", "<title>"}) {
    EXPECT_NE(response.find(needle), std::string::npos) << needle;
  }
  // The documents that declare UTF-8 must be valid UTF-8 even where text was cut to size.
  int utf8Pages = 0;
  bool nonAsciiBody = false;
  for (const Block& b : blocks) {
    std::string body;
    for (const auto& line : b.body) body += line + "\n";
    nonAsciiBody |= std::any_of(body.begin(), body.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const std::string head = lower(body.substr(0, 600));
    if (head.find("charset=utf-8") != std::string::npos ||
        head.find("charset=\"utf-8\"") != std::string::npos) {
      ++utf8Pages;
      EXPECT_TRUE(validUtf8(body)) << "block at " << b.position;
    }
  }
  EXPECT_GT(utf8Pages, 50);
  EXPECT_TRUE(nonAsciiBody);

  std::vector<std::int64_t> sizes;
  for (const Block& b : blocks) sizes.push_back(b.bodyBytes);
  std::sort(sizes.begin(), sizes.end());
  const std::int64_t average = (3 << 20) / 400;
  EXPECT_EQ(sizes.front(), 0);  // HEAD and 304 answers have no body
  EXPECT_LT(sizes[sizes.size() / 10], average / 3);
  EXPECT_GT(sizes.back(), average * 4);

  std::set<std::string> methods;
  bool longRequest = false;
  bool nonAsciiRequest = false;
  for (const auto& q : requests) {
    methods.insert(q.text.substr(0, q.text.find(' ')));
    longRequest |= q.text.size() > 1000;
    nonAsciiRequest |= std::any_of(q.text.begin(), q.text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  }
  EXPECT_GE(methods.size(), 4u);
  EXPECT_TRUE(longRequest);
  EXPECT_TRUE(nonAsciiRequest);
}

TEST_F(LogGeneratorTest, SeedFixesTheOutput) {
  generateLogs(options(50, 300000, 3));
  const std::string first = requestBytes() + responseBytes();
  generateLogs(options(50, 300000, 3));
  EXPECT_EQ(requestBytes() + responseBytes(), first);
  generateLogs(options(50, 300000, 4));
  EXPECT_NE(requestBytes() + responseBytes(), first);
}

TEST_F(LogGeneratorTest, SizeOptionsShapeTheBodies) {
  // spread 0: every block of the same size
  GeneratorOptions even = options(100, 1 << 20);
  even.spread = 0;
  generateLogs(even);
  auto blocks = parseBlocks(responseBytes());
  ASSERT_EQ(blocks.size(), 100u);
  const auto [lo, hi] =
      std::minmax_element(blocks.begin(), blocks.end(),
                          [](const Block& a, const Block& b) { return a.bodyBytes < b.bodyBytes; });
  EXPECT_LE(hi->bodyBytes - lo->bodyBytes, 2);
  EXPECT_NEAR(static_cast<double>(responseBytes().size()), 1 << 20, 1024);

  // the cap holds for drawn sizes; the big body is exact and sits at 90 %
  GeneratorOptions big = options(200, 4 << 20);
  big.maxBody = 32 * 1024;
  big.bigBody = 3 << 20;
  const GeneratorResult r = generateLogs(big);
  blocks = parseBlocks(responseBytes());
  ASSERT_EQ(blocks.size(), 200u);
  EXPECT_EQ(r.bigBodyRequest, 180);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i == 180) {
      EXPECT_EQ(blocks[i].bodyBytes, 3 << 20);
      EXPECT_TRUE(blocks[i].finished);
    } else {
      EXPECT_LE(blocks[i].bodyBytes, 32 * 1024) << "block " << i;
    }
  }
  EXPECT_NEAR(static_cast<double>(responseBytes().size()), 4 << 20, (4 << 20) * 0.02);
}

TEST_F(LogGeneratorTest, UnfinishedAndMissingLastBlock) {
  GeneratorOptions o = options(20, 100000);
  o.unfinished = true;
  GeneratorResult r = generateLogs(o);
  std::string response = responseBytes();
  auto blocks = parseBlocks(response);
  ASSERT_EQ(blocks.size(), 20u);
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_TRUE(blocks[i].finished);
  EXPECT_FALSE(blocks.back().finished);
  EXPECT_EQ(blocks.back().bodyBytes, r.requests.back().bodyBytes);
  EXPECT_EQ(static_cast<std::int64_t>(response.size()),
            blocks.back().position - 1 + 26 + blocks.back().bodyBytes);

  o.unfinished = false;
  o.noResponseForLast = true;
  r = generateLogs(o);
  blocks = parseBlocks(responseBytes());
  ASSERT_EQ(blocks.size(), 19u);
  EXPECT_TRUE(blocks.back().finished);
  EXPECT_EQ(r.requests.back().position, 0);
  EXPECT_EQ(blocks.back().opening, parseRequests(requestBytes())[18].key);

  // both: the recorder is still writing the answer before the newest request
  o.unfinished = true;
  generateLogs(o);
  blocks = parseBlocks(responseBytes());
  ASSERT_EQ(blocks.size(), 19u);
  EXPECT_FALSE(blocks.back().finished);
  EXPECT_EQ(blocks.back().opening, parseRequests(requestBytes())[18].key);
}

TEST_F(LogGeneratorTest, AppendContinuesKeysAndCompletesOpenBlocks) {
  GeneratorOptions o = options(100, 500000);
  o.unfinished = true;
  const GeneratorResult first = generateLogs(o);

  o.append = true;
  o.unfinished = false;
  o.noResponseForLast = true;
  o.requests = 50;
  o.targetBytes = 250000;
  const GeneratorResult second = generateLogs(o);
  EXPECT_TRUE(second.completedUnfinished);
  EXPECT_TRUE(second.lateBlocks.empty());
  EXPECT_EQ(second.requests.front().key.substr(18), "000101");
  EXPECT_GT(second.requests.front().position, first.responseLogBytes);

  o.noResponseForLast = false;
  o.requests = 30;
  o.targetBytes = 150000;
  const GeneratorResult third = generateLogs(o);
  ASSERT_EQ(third.lateBlocks.size(), 1u);
  EXPECT_EQ(third.lateBlocks[0].key, second.requests.back().key);

  const auto requests = parseRequests(requestBytes());
  const auto blocks = parseBlocks(responseBytes());
  ASSERT_EQ(requests.size(), 180u);
  ASSERT_EQ(blocks.size(), 180u);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].opening, requests[i].key) << i;
    EXPECT_TRUE(blocks[i].finished) << i;
    EXPECT_EQ(blocks[i].closing.size(), 24u) << i;
  }
  expectKeysUniqueAndRising(requests);
  EXPECT_EQ(third.lateBlocks[0].position, blocks[149].position);
  EXPECT_EQ(third.requests[0].position, blocks[150].position);
  EXPECT_EQ(third.responseLogBytes, static_cast<std::int64_t>(responseBytes().size()));
}

TEST_F(LogGeneratorTest, AppendRepairsFilesThatEndWithoutCrLf) {
  generateLogs(options(10, 50000));
  std::string request = requestBytes();
  std::string response = responseBytes();
  request.resize(request.size() - 2);
  response.resize(response.size() - 2);
  std::ofstream(dir_ / "HtmlRequest.log", std::ios::binary) << request;
  std::ofstream(dir_ / "HtmlResponse.log", std::ios::binary) << response;

  GeneratorOptions o = options(5, 20000);
  o.append = true;
  const GeneratorResult r = generateLogs(o);
  EXPECT_FALSE(r.completedUnfinished);
  EXPECT_TRUE(r.lateBlocks.empty());
  const auto requests = parseRequests(requestBytes());
  const auto blocks = parseBlocks(responseBytes());
  ASSERT_EQ(requests.size(), 15u);
  ASSERT_EQ(blocks.size(), 15u);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    EXPECT_EQ(blocks[i].opening, requests[i].key) << i;
  expectKeysUniqueAndRising(requests);
}

TEST_F(LogGeneratorTest, RejectsInconsistentOptions) {
  GeneratorOptions o = options(1, 1000);
  o.noResponseForLast = true;
  o.bigBody = 100;
  EXPECT_THROW(generateLogs(o), std::invalid_argument);
  o = options(10, 1000);
  o.spread = -1;
  EXPECT_THROW(generateLogs(o), std::invalid_argument);
}

TEST(LogKeyTest, FormatAndParseAgree) {
  std::int64_t ms = 0;
  int seq = 0;
  // 2024-02-29 23:59:59.999 UTC, a leap day at the end of the day
  const std::int64_t leap = 1709251199999;
  EXPECT_EQ(formatKey(leap, 42), "20240229235959999-000042");
  ASSERT_TRUE(parseKey("20240229235959999-000042", ms, seq));
  EXPECT_EQ(ms, leap);
  EXPECT_EQ(seq, 42);
  EXPECT_EQ(formatKey(leap + 1, 1000000), "20240301000000000-000000");
  EXPECT_EQ(formatKey(0, 7), "19700101000000000-000007");
  for (const char* bad :
       {"20241301000000000-000001", "20240229235959999_000042", "2024022923595999-000042",
        "2024022923595999x-000042", "20240229246000000-000001"}) {
    EXPECT_FALSE(parseKey(bad, ms, seq)) << bad;
  }
}

}  // namespace
}  // namespace korva
