// The two display filters of the View menu: script elements and HTML comments out of a body.
//
// Both work on bytes and give exactly the result of the plain loop "find the first opening, find
// the first closing at or after it, cut the piece out, search again from the first character",
// including its quirks:
// - "<script" opens on any tag whose name starts with script ("<scripts>" too);
// - script patterns ignore ASCII letter case, comment patterns are matched exactly;
// - the search for "-->" starts at the "<!--" itself, so "<!-->" and "<!--->" are comments;
// - there is no nesting: a piece ends at the first closing after its opening;
// - text that joins across a removed piece into a new opening is removed as well.
// They do it in linear time by writing the output once instead of splicing after each removal.
#pragma once

#include <string>

namespace korva {

// The text without its script elements, from "<script" through "</script>". An opening with no
// closing after it leaves the rest of the text as it is. Returns the input unchanged when memory
// runs out.
std::string StripJavaScript(const std::string& HtmlCode);

// The text without its comments, from "<!--" through "-->". An opening with no closing after it
// leaves the rest of the text as it is.
std::string StripComments(const std::string& HtmlCode);

}  // namespace korva
