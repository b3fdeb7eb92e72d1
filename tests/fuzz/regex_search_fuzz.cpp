// The search over all responses with a regular expression: the byte path (RE2 on the bytes or on
// the body's UTF-8) against the decoded path, body by body, for arbitrary bodies and for
// expressions taken from a list or from the input.
#include <cstdint>
#include <map>
#include <string>

#include "capture/capture.h"
#include "capture/response_search.h"
#include "fuzz/fuzz_support.h"

namespace korva::fuzz {
namespace {

constexpr const char* kPatterns[] = {"artikel\\s0+7",
                                     "warenkorb|kasse|bestellung",
                                     "[0-9]{4}-[0-9]{2}-[0-9]{2}",
                                     "^k",
                                     "e$",
                                     "\\bk\\w*",
                                     "k.s",
                                     "\\S+",
                                     "[^a-z]",
                                     "\\s",
                                     ".",
                                     "a*",
                                     "(?-i)K",
                                     "l\\St",
                                     "\xC3\xA4",
                                     "[[:cntrl:]]+",
                                     "\\pL",
                                     "-{3,}",
                                     "k\\w+e",
                                     "bestellung\\b|kasse$|ber"};

void run(Input& in) {
  const std::uint8_t mode = in.byte();
  std::string pattern;
  if (mode & 1)
    pattern = std::string(in.take(mode >> 4));
  else
    pattern = kPatterns[(mode >> 1) % (sizeof kPatterns / sizeof kPatterns[0])];
  const TextMatcher matcher(pattern, true);
  if (!matcher.error().empty()) return;

  // Up to four bodies, split at 0x01; the closing lines hold matches that must not count.
  std::string requests, log;
  std::string_view rest = in.rest();
  for (int n = 1; n <= 4 && !rest.empty(); ++n) {
    const std::size_t cut = std::min(rest.find('\x01'), rest.size());
    const std::string key = testing::makeKey(n);
    requests += testing::makeRequestLine(key);
    log += key + "\r\n" + std::string(rest.substr(0, cut)) + "kasse 2024-01-02 Kelvin  \r\n" +
           std::string(47, '-') + "\r\n";
    rest.remove_prefix(std::min(rest.size(), cut + 1));
  }
  const std::string folder = scratchFolder();
  writeFile(folder + "/HtmlRequest.log", requests);
  writeFile(folder + "/HtmlResponse.log", log);
  removeFile(folder + "/HtmlResponse.idx");
  Capture capture(folder);
  capture.reloadRows();
  capture.openIndex().InitializeIndex();

  const ResponseSearchResult result = searchResponses(capture, matcher);
  std::map<std::size_t, std::uint64_t> found;
  for (const ResponseHit& hit : result.hits) found[hit.row] = hit.matches;
  for (std::size_t row = 0; row < capture.rows().size(); ++row) {
    if (capture.index()->QueryIndex(capture.rows().key(row)) <= 0) continue;
    const std::uint64_t want = matcher.count(capture.show(row).text);
    const std::uint64_t got = found.count(row) ? found[row] : 0;
    KORVA_FUZZ_CHECK(got == want, "/%s/ row %zu: %llu matches, decoded %llu", pattern.c_str(), row,
                     static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
  }
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
