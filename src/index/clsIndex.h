// The response index: request key to the byte position of its block in "HtmlResponse.log".
//
// Creating an instance loads "HtmlResponse.idx" from its folder; InitializeIndex brings it up to
// date (nothing, a resume from the last entry, or a rebuild); destroying it saves the index
// atomically unless a build is running. Everything runs on the caller's thread: during a build
// the only chance for other work is the Progress callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "index/atomic_file.h"
#include "index/constants.h"
#include "index/key_table.h"

namespace korva {

class TableFeeder;

// Receives the errors that a build reports itself (the window shows them as "Fehler" boxes).
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  // text is UTF-8: a German description, for a duplicate key followed by CR LF CR LF and the key.
  virtual void reportError(const std::string& text) = 0;
};

// German description of the duplicate-key failure of a keyed table.
inline constexpr const char* kDuplicateKeyDescription =
    "Dieser Schlüssel ist bereits einem Element dieser Auflistung zugeordnet.";

class clsIndex {
 public:
  // Raised during a build whenever the whole percentage changes. Setting Cancel ends the build
  // after the block just indexed.
  using ProgressHandler = std::function<void(std::uint8_t& PercentComplete, bool& Cancel)>;

  enum class Outcome { None, Current, Resumed, Rebuilt, Failed };

  // Loads "HtmlResponse.idx" from `folder` when it exists. A malformed file never throws: a
  // repeated key keeps its first entry and an unreadable position reads as 0. Throws FileError
  // only when the file exists but cannot be read.
  explicit clsIndex(std::string folder = ".", ErrorReporter* reporter = nullptr);
  // Saves unless a build runs (see SaveIndex).
  ~clsIndex();
  clsIndex(const clsIndex&) = delete;
  clsIndex& operator=(const clsIndex&) = delete;

  bool InBuildIndex() const { return inBuildIndex_; }
  int IndexRecordLength() const { return kIndexRecordLength; }
  std::string_view Devider() const { return kDevider; }

  // Position of the key's block, or 0 when it is not indexed. Never fails.
  std::int64_t QueryIndex(std::string_view key) const;
  // True when the index was current; false when a build ran (complete, cancelled or failed).
  // A build that finds the log cut or rewritten in place under it drops all entries, so that
  // the next call rebuilds from position 1.
  // Throws FileError when the request log cannot be read, or the response log is missing while
  // the newest request's position is checked; the index is then unchanged.
  bool InitializeIndex();

  ProgressHandler Progress;

  // Writes the index now, atomically: a temporary file in the same folder, flushed, then renamed
  // over "HtmlResponse.idx". An empty index writes nothing, and so does an index loaded from a
  // file that holds exactly the lines it would write, unchanged since. Returns false when writing
  // failed; the old file is then intact. After a call the destructor does not save again.
  bool SaveIndex();

  // Not part of the window's use; for the command-line tool and tests.
  // A read-only user (a lookup from the terminal) must not rewrite the file on release.
  void setSaveOnRelease(bool save) { saveOnRelease_ = save; }
  std::size_t size() const { return positions_.size(); }
  const KeyTable& entries() const { return positions_; }
  Outcome lastOutcome() const { return lastOutcome_; }

  struct FileStamp {
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator==(const FileStamp& o) const {
      return device == o.device && inode == o.inode && size == o.size &&
             modifiedSeconds == o.modifiedSeconds && modifiedNanoseconds == o.modifiedNanoseconds;
    }
  };

 private:
  void BuildIndex();
  bool CheckIndexPosition(std::int64_t position) const;
  std::string GetLastRequestKey() const;
  void LoadIndex();
  void scanBlocks(std::int64_t start, bool resume);
  // Waits until the blocks added so far are in the table; reports duplicate keys.
  void placeBlocks(TableFeeder& feeder);
  void clearEntries();
  bool reportProgress(std::int64_t position, std::int64_t length, TableFeeder& feeder);
  void report(const std::string& text) const;
  // The lines of the entries from `from` on, as the file holds them.
  bool writeEntries(std::size_t from, const ByteSink& sink);
  bool writeEntries(std::size_t from, AtomicFileWriter& file);
  void streamEntries();
  std::string path(const char* name) const;

  std::string folder_;
  ErrorReporter* reporter_;
  KeyTable positions_;  // also keeps the insertion order the file is written in
  // True while "HtmlResponse.idx", as writtenFile_ found it, holds exactly the lines a save of
  // the entries would write (loaded from such a file, or saved, and nothing added since).
  bool fileAsWritten_ = false;
  FileStamp writtenFile_;
  bool inBuildIndex_ = false;
  bool saved_ = false;
  bool saveOnRelease_ = true;
  std::uint8_t lastPercent_ = 0;
  std::int64_t quietBelow_ = 0;  // no event below this position while the log has this length
  std::int64_t quietLength_ = -1;
  // A big build's entries written as they are placed, the first streamed_ of them; the save
  // renames the file. Only the feeder's thread touches both while it places.
  std::unique_ptr<AtomicFileWriter> stream_;
  std::size_t streamed_ = 0;
  std::unique_ptr<char[]> lineBuffer_;
  Outcome lastOutcome_ = Outcome::None;
};

}  // namespace korva
