#include "index/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>

#include "index/file_error.h"
#include "test_util.h"

namespace korva {
namespace {

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporaryOnFailure) {
  testing::TempDir dir;
  dir.write("page.html", "old and longer content");
  writeFileAtomically(dir.file("page.html"), std::string("new\0bytes", 9));
  EXPECT_EQ(dir.read("page.html"), std::string("new\0bytes", 9));
  writeFileAtomically(dir.file("empty.html"), "");
  EXPECT_TRUE(dir.exists("empty.html"));
  EXPECT_EQ(dir.read("empty.html"), "");

  // A folder in the way of the rename: the error names the file, nothing is left behind.
  ::mkdir(dir.file("taken").c_str(), 0755);
  try {
    writeFileAtomically(dir.file("taken"), "x");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("taken"), std::string::npos);
  }
  EXPECT_THROW(writeFileAtomically(dir.file("missing/page.html"), "x"), FileError);
  const auto entries = std::filesystem::directory_iterator(dir.path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 3);  // page, empty, taken
}

// The writer the window's page save and the index save share: the temporary file a killed write
// left is removed, the one of a writer still running stays, other names stay.
TEST(AtomicFile, RemovesTheTemporaryFilesOfWritersThatAreGone) {
  testing::TempDir dir;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);  // its id now names no process
  const std::string gone = "page.html." + std::to_string(child) + ".tmp";
  const std::string running = "page.html." + std::to_string(::getppid()) + ".tmp";
  dir.write(gone, "left by a killed write");
  dir.write(running, "being written");
  dir.write("page.html.notes.tmp", "not a writer's");
  writeFileAtomically(dir.file("page.html"), "new");
  EXPECT_EQ(dir.read("page.html"), "new");
  EXPECT_FALSE(dir.exists(gone));
  EXPECT_TRUE(dir.exists(running));
  EXPECT_TRUE(dir.exists("page.html.notes.tmp"));
}

}  // namespace
}  // namespace korva
