// Arbitrary bytes as "HtmlResponse.idx": loading never throws or crashes and gives exactly the
// entries the plain loader finds; lookups agree in any letter case; a save writes them back in
// the file format, and loading that again gives the same entries.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/index_entries.h"
#include "fuzz/log_model.h"
#include "index/clsIndex.h"

namespace korva::fuzz {
namespace {

std::string swapCase(std::string key) {
  for (char& c : key) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  }
  return key;
}

void run(Input& in) {
  const std::string_view bytes = in.rest();
  const std::string folder = scratchFolder();
  const std::string idxPath = scratchFile(kIndexFileName);
  writeFile(idxPath, bytes);

  const model::Table expected = model::load(bytes);
  std::string saved;
  {
    clsIndex index(folder);
    index.setSaveOnRelease(false);
    const std::vector<model::Entry> got = entriesOf(index);
    KORVA_FUZZ_CHECK(got == expected.entries, "%zu entries loaded, the model has %zu", got.size(),
                     expected.entries.size());
    for (const model::Entry& e : expected.entries) {
      KORVA_FUZZ_CHECK(index.QueryIndex(e.key) == e.position, "lookup");
      KORVA_FUZZ_CHECK(index.QueryIndex(swapCase(e.key)) == e.position, "lookup, other case");
    }
    // Lookups of lines that are not keys: a cut line, a longer one, the empty key.
    for (const model::Line& line : model::splitLines(bytes.substr(0, 2048)))
      KORVA_FUZZ_CHECK(index.QueryIndex(line.text) == expected.find(line.text), "lookup of a line");
    removeFile(idxPath);
    KORVA_FUZZ_CHECK(index.SaveIndex(), "save failed");
    saved = readFile(idxPath);
  }
  if (expected.entries.empty()) {
    KORVA_FUZZ_CHECK(saved.empty(), "an empty index wrote a file");
    return;
  }
  KORVA_FUZZ_CHECK(saved == model::serialize(expected.entries), "saved bytes differ");
  clsIndex again(folder);
  again.setSaveOnRelease(false);
  KORVA_FUZZ_CHECK(entriesOf(again) == model::load(saved).entries, "reload differs");
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
