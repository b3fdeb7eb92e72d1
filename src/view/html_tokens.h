// An HTML tokenizer over display text for the source view's colours and its formatted view.
//
// One pass, no backtracking, constant work per character. It is resumable: the whole state
// between two characters is an HtmlState, which encode() packs into an int >= 0 (a
// QTextBlock::userState) so that a highlighter can tokenize line by line.
//
// The kind of every character follows from the characters before it, never from those after it,
// so tokenizing in pieces gives every character the kind a single pass gives it. A token split
// over two chunks is reported as two pieces of the same kind. Where HTML would need to look
// ahead, the likely reading wins:
// - "<" in text is a TagBracket even when no tag follows ("a < b": the "<" stays a bracket, " b"
//   is Text again);
// - in raw text "<" keeps the kind around it; a following "/" is a TagBracket and the letters of
//   the element's name are a TagName, and the raw text goes on if no end tag results;
// - "<!" followed by letters is a Doctype while they spell "DOCTYPE", a Comment from the first
//   letter that does not;
// - "&" starts a CharacterReference even when nothing follows it;
// - in scripts and style sheets the "/" that opens a comment is still RawText, the comment
//   starts at the second character.
// Raw text ends at the matching end tag only, also inside a script's string or comment, as in
// HTML; the old "<!-- <script>" escaping inside scripts is not followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace korva {

enum class HtmlTokenKind : std::uint8_t {
  Text,        // text between tags, also of title and textarea
  TagBracket,  // "<", "</", "<!", ">", "/>", "/", "="
  TagName,     // also the name in an end tag
  TagSpace,    // white space between the parts of a tag or doctype
  AttributeName,
  AttributeValue,      // quoted or not, quotes included
  Comment,             // "--...-->" after "<!", bogus comments ("<!x>", "<?x>", "</1>")
  Doctype,             // "DOCTYPE html" after "<!"
  CharacterReference,  // "&amp;", "&#123;", "&#x1F;"
  RawText,             // code of script and style, text of xmp, iframe, noembed, noframes,
                       // plaintext
  ScriptString,        // '..', "..", `..`
  ScriptComment,       // "//..." and "/*...*/" without the first "/"
  CssString,
  CssComment,
};

const char* htmlTokenKindName(HtmlTokenKind kind);

struct HtmlToken {
  HtmlTokenKind kind;
  std::size_t start;  // in the chunk
  std::size_t length;
};

// The tokenizer's state between two characters. Start a text with the default value.
struct HtmlState {
  std::uint8_t mode = 0;     // what is being read (internal numbering)
  std::uint8_t element = 0;  // the element of the tag being read or of the raw text it opened
  std::uint8_t count = 0;    // letters matched of a name, dashes of a comment's end
  std::uint16_t mask = 0;    // the raw-text element names a tag name may still become
  std::uint8_t sub = 0;      // inside script and style: code, string, comment; character refs
  bool endTag = false;

  friend bool operator==(const HtmlState& a, const HtmlState& b) {
    return a.mode == b.mode && a.element == b.element && a.count == b.count && a.mask == b.mask &&
           a.sub == b.sub && a.endTag == b.endTag;
  }
  friend bool operator!=(const HtmlState& a, const HtmlState& b) { return !(a == b); }
};

// Packs a state into 0 .. 2^31-1; decode(encode(s)) == s. decode() of a value encode() did not
// give (a block's state -1 before it was highlighted, say) gives the start state.
int encode(HtmlState state);
HtmlState decode(int value);

// True while the text after this state is plain document text (not inside a tag, a comment, a
// doctype, a character reference or raw text).
bool isInText(HtmlState state);

using HtmlTokenSink = void (*)(void* context, const HtmlToken& token);

// Tokenizes `chunk` from state `in`, reports its tokens in order (together they cover the
// chunk) and returns the state after it.
HtmlState tokenizeHtml(std::u16string_view chunk, HtmlState in, HtmlTokenSink sink, void* context);

// The state after a line break that follows `state`. A highlighter that is handed each line
// without its break (QSyntaxHighlighter) applies it between two lines, so that a script's "//"
// comment or an open string ends with its line as it does in the whole text.
HtmlState afterLineBreak(HtmlState state);

template <typename Callback>
HtmlState tokenizeHtml(std::u16string_view chunk, HtmlState in, Callback&& onToken) {
  using Fn = std::remove_reference_t<Callback>;
  return tokenizeHtml(
      chunk, in, [](void* context, const HtmlToken& token) { (*static_cast<Fn*>(context))(token); },
      const_cast<void*>(static_cast<const void*>(&onToken)));
}

}  // namespace korva
