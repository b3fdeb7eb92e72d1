// Replacing a whole file so that no reader ever sees it half written, and a crash leaves either
// the old file or the new one.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace korva {

// Takes the next bytes of the content; false when writing them failed.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

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
