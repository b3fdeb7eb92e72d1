// The retrieval of one block over arbitrary log bytes, from any position, for keys that are in
// the log and keys that are not: byte for byte what the plain reading of the block gives.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/log_model.h"
#include "view/retrieval.h"

namespace korva::fuzz {
namespace {

void run(Input& in) {
  const std::uint8_t how = in.byte();
  const std::uint16_t where = in.word();
  const std::string_view given = in.take(how % 32);
  const std::string_view log = in.rest();

  // Mostly a line of the log, so that blocks are found; otherwise the bytes given.
  std::string key(given);
  const std::vector<model::Line> lines = model::splitLines(log);
  if ((how & 0x80) && !lines.empty()) key = lines[where % lines.size()].text;
  // A position anywhere, including 0, the end and beyond it.
  const auto position = static_cast<std::int64_t>((where >> 3) % (log.size() + 3));

  const std::string path = scratchFile("HtmlResponse.log");
  writeFile(path, log);
  const RetrievedResponse got = retrieveResponse(path, key, position);
  const model::Retrieved want = model::retrieve(log, key, position);
  KORVA_FUZZ_CHECK(got.found == want.found, "found %d, expected %d", got.found, want.found);
  KORVA_FUZZ_CHECK(got.body == want.body, "body of %zu bytes, expected %zu", got.body.size(),
                   want.body.size());

  const std::string entry = key + " - GET /";
  KORVA_FUZZ_CHECK(requestKey(entry) == std::string_view(entry).substr(0, 24), "request key");
  KORVA_FUZZ_CHECK(requestText(entry) == (entry.size() > 27 ? entry.substr(27) : std::string()),
                   "request text");
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
