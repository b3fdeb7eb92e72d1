// Differential: the linear filters against the slow literal loops of the tests, byte for byte,
// each alone and both in the display's order (scripts first, then comments).
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "view/filter_reference.h"
#include "view/html_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The literal loops are quadratic; longer inputs add run time, not cases.
  if (size > 8192) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string scripts = korva::StripJavaScript(text);
  KORVA_FUZZ_CHECK(scripts == korva::reference::stripJavaScript(text),
                   "StripJavaScript differs from the loop");
  const std::string comments = korva::StripComments(text);
  KORVA_FUZZ_CHECK(comments == korva::reference::stripComments(text),
                   "StripComments differs from the loop");
  KORVA_FUZZ_CHECK(korva::StripComments(scripts) == korva::reference::stripComments(scripts),
                   "both filters differ from the loops");
  return 0;
}
