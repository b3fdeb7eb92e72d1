#include "gen_args.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "log_pair_reader.h"

namespace korva {
namespace {

TEST(GenArgsTest, ByteSizesWithSuffixes) {
  EXPECT_EQ(parseByteSize("0"), 0);
  EXPECT_EQ(parseByteSize("512"), 512);
  EXPECT_EQ(parseByteSize("512B"), 512);
  EXPECT_EQ(parseByteSize("64K"), 64 * 1024);
  EXPECT_EQ(parseByteSize("3m"), 3 << 20);
  EXPECT_EQ(parseByteSize("12KiB"), 12 * 1024);
  EXPECT_EQ(parseByteSize("1GB"), 1LL << 30);
  EXPECT_EQ(parseByteSize("5G"), 5LL << 30);
  for (const char* bad : {"", "K", "-1", "12X", "1.5G", "12 K", "12KK", "9223372036854775807K",
                          "99999999999999999999"})
    EXPECT_FALSE(parseByteSize(bad).has_value()) << bad;
}

TEST(GenArgsTest, OptionsAndUsageErrors) {
  ParsedArgs p =
      parseGeneratorArgs({"--out", "/tmp/x", "--requests=200000", "--size", "1G", "--append",
                          "--seed", "9", "--max-body", "2M", "--big-body=40M", "--spread", "0.5",
                          "--unfinished", "--no-response-for-last"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.outDir, "/tmp/x");
  EXPECT_EQ(p.options.requests, 200000);
  EXPECT_EQ(p.options.targetBytes, 1LL << 30);
  EXPECT_TRUE(p.options.append);
  EXPECT_EQ(p.options.seed, 9u);
  EXPECT_EQ(p.options.maxBody, 2 << 20);
  EXPECT_EQ(p.options.bigBody, 40 << 20);
  EXPECT_DOUBLE_EQ(p.options.spread, 0.5);
  EXPECT_TRUE(p.options.unfinished);
  EXPECT_TRUE(p.options.noResponseForLast);

  p = parseGeneratorArgs({});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.options.requests, -1);
  EXPECT_FALSE(p.options.append);

  for (const auto& bad : std::vector<std::vector<std::string>>{{"--frobnicate"},
                                                               {"--requests"},
                                                               {"--requests", "-5"},
                                                               {"--requests", "12k"},
                                                               {"--size", "lots"},
                                                               {"--spread", "7"},
                                                               {"--spread", "x"},
                                                               {"--append=yes"},
                                                               {"--out", ""},
                                                               {"positional"}}) {
    EXPECT_NE(parseGeneratorArgs(bad).error, "") << bad[0];
  }
  EXPECT_TRUE(parseGeneratorArgs({"--help"}).help);
}

// Runs the real program: exit codes and the summary line are its interface to scripts.
TEST(GenCliTest, ExitCodesSummaryAndFiles) {
  const char* bin = std::getenv("KORVA_BIN_DIR");
  if (!bin) GTEST_SKIP() << "KORVA_BIN_DIR not set";
  const std::string exe = std::string(bin) + "/tools/korvashimtale-gen";
  const auto dir =
      std::filesystem::temp_directory_path() / ("korva_gen_cli_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  const std::string err = (dir.string() + ".err");
  const auto run = [&](const std::string& args) {
    const int status = std::system((exe + " " + args + " 2>" + err).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  EXPECT_EQ(run("--bogus"), 2);
  EXPECT_NE(test::readBytes(err).find("unbekannte Option"), std::string::npos);
  EXPECT_EQ(run("--requests 3 --no-response-for-last --big-body 1 --out " + dir.string() +
                " --requests 1"),
            2);

  ASSERT_EQ(run("--out " + dir.string() + " --requests 25 --size 100K --seed 2"), 0);
  const std::string summary = test::readBytes(err);
  const auto responseSize = std::filesystem::file_size(dir / "HtmlResponse.log");
  const auto requestSize = std::filesystem::file_size(dir / "HtmlRequest.log");
  EXPECT_NE(summary.find("25 Anfragen"), std::string::npos) << summary;
  EXPECT_NE(summary.find("HtmlResponse.log " + std::to_string(responseSize) + " Bytes"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("HtmlRequest.log " + std::to_string(requestSize) + " Bytes"),
            std::string::npos)
      << summary;
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1);
  EXPECT_EQ(test::parseBlocks(test::readBytes(dir / "HtmlResponse.log")).size(), 25u);

  std::filesystem::remove_all(dir);
  std::filesystem::remove(err);
}

}  // namespace
}  // namespace korva
