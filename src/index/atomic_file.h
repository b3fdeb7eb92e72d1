// Replacing a whole file so that no reader ever sees it half written, and a crash leaves either
// the old file or the new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace korva {

// Takes the next bytes of the content; false when writing them failed.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// A replacement of `path` written piece by piece, possibly over a long time: the pieces go to the
// temporary file "PATH.PID.tmp" beside it and are sent on to the disk as they come, so that the
// flush at the end finds most of a large file there already. commit flushes the file, renames it
// over `path` and syncs the folder, so that the rename itself survives a crash. Dropped without a
// commit, or after a failed step, the temporary file is removed and `path` stays as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Appends bytes; false, writing nothing more, once any step failed.
  bool write(const char* data, std::size_t size);
  // 0, or the errno value of the first step that failed (opening the temporary file included).
  int error() const { return error_; }
  // Returns 0, or the errno value of the step that failed.
  int commit();

 private:
  void discard();

  std::string path_, temp_;
  int fd_ = -1;
  int error_ = 0;
  std::int64_t written_ = 0;
};

// Writes a temporary file beside `path` ("PATH.PID.tmp"), with the content that `produce` hands
// to the sink it is given, flushes it to the disk, renames it over `path` and syncs the folder,
// so that the rename itself survives a crash. Temporary files of earlier writers of `path` whose
// process is gone (a killed save) are removed first. Returns 0, or the errno value of the step
// that failed (EIO when `produce` gave up on its own); the temporary file is then removed and an
// existing `path` is intact.
int replaceFileAtomically(const std::string& path,
                          const std::function<bool(const ByteSink&)>& produce);

// The same for bytes at hand; throws FileError (naming `path`) when any step fails.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Removes the temporary files "PATH.PID.tmp" of writers of `path` whose process has ended.
void removeStaleTemporaryFiles(const std::string& path);

}  // namespace korva
