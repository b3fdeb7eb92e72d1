// Replacing a whole file so that no reader ever sees it half written.
#pragma once

#include <string>
#include <string_view>

namespace korva {

// Writes `bytes` to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`. Throws FileError (naming `path`) when any step fails; the temporary file is then
// removed and an existing `path` is intact.
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace korva
