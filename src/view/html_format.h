// The formatted view of the source view: display text with line breaks and indentation added
// between tags, so that a page sent as one line can be read.
//
// It only inserts, never deletes, and only where a browser shows the page the same: between a
// ">" and a "<" with nothing between them, next to the tag of a block element (div, p, li, td,
// h1, ...), where white space is not shown. A line starts at a block's start tag and after its
// end tag, after <br> and <hr>, and at a block's end tag when something inside it was put on a
// line of its own; before the body begins, title, meta, link, base, script and style count as
// blocks. So a new line never lands between two inline elements such as <a>, <span> or <b>, nor
// between text and a tag. The inserted characters are one "\n" and two spaces per level of
// nesting of block elements (an open <li>, <p> or <td> ends where the next one starts, as in
// HTML). Nothing is inserted inside <pre> and <listing>, the text of <textarea> and <title>,
// comments, attribute values or the contents of <script> and <style>. Broken markup (a tag not
// closed at the end, a stray "<") stays as it is.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

struct HtmlInsertion {
  std::size_t original;  // inserted before this position of the original text
  std::size_t count;     // characters inserted there
};

// Positions between the original and the formatted text.
class HtmlFormatMap {
 public:
  HtmlFormatMap() = default;
  explicit HtmlFormatMap(std::vector<HtmlInsertion> insertions);

  // Sorted by position, one per position, none empty.
  const std::vector<HtmlInsertion>& insertions() const { return insertions_; }

  // The position in the formatted text of the character at `originalPos` (a position at an
  // insertion maps to after the inserted characters).
  std::size_t toFormatted(std::size_t originalPos) const;
  // The original position of the character at `formattedPos`; inserted characters map to the
  // position they were inserted before.
  std::size_t toOriginal(std::size_t formattedPos) const;

 private:
  std::vector<HtmlInsertion> insertions_;
  std::vector<std::size_t> before_;  // characters inserted before insertions_[k], one more at end
};

struct FormattedHtml {
  std::u16string text;
  HtmlFormatMap map;
};

FormattedHtml formatHtml(std::u16string_view text);

// The formatted text so far and the insertions in it: a prefix of the result, whatever follows.
using FormattedHead =
    std::function<void(std::u16string_view text, const std::vector<HtmlInsertion>& insertions)>;
// The same, and `head` is called once, as soon as the text formatted so far holds `headLines`
// line ends (not at all for a shorter result): a big page's first lines can be shown while the
// rest is formatted.
FormattedHtml formatHtml(std::u16string_view text, std::size_t headLines,
                         const FormattedHead& head);

}  // namespace korva
