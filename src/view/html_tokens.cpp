#include "view/html_tokens.h"

namespace korva {
namespace {

enum Mode : std::uint8_t {
  Data,
  CharRef,           // sub: what of the reference has been read
  TagOpen,           // after "<"
  EndTagOpen,        // after "</"
  MarkupOpen,        // after "<!"
  MarkupDash,        // after "<!-"
  DoctypeMatch,      // count: letters of "doctype" matched
  CommentStart,      // after "<!--"
  CommentStartDash,  // after "<!---"
  CommentBody,       // count: 1 after "-", 2 after "--", 3 after "--!"
  BogusComment,
  Doctype,
  TagName,  // count, mask: the raw-text element names still possible
  BeforeAttrName,
  AttrName,
  AfterAttrName,
  BeforeAttrValue,
  AttrValueDouble,
  AttrValueSingle,
  AttrValueUnquoted,
  AfterAttrValue,
  SelfClosing,  // after "/" in a tag
  RcData,       // title, textarea; count: end tag matched (1 "<", 2 "</", 2 + k letters)
  Raw,          // script, style and the plain raw-text elements; count as in RcData
  PlainText,    // plaintext: raw to the end
  ModeCount
};

// Elements whose start tag switches to raw text or RCDATA, numbered from 1 (0: none).
enum Element : std::uint8_t {
  None,
  Script,
  Style,
  Textarea,
  Title,
  Xmp,
  Iframe,
  Noembed,
  Noframes,
  Plaintext,
  ElementCount
};
constexpr std::string_view kElementNames[ElementCount] = {
    "",    "script", "style",   "textarea", "title",
    "xmp", "iframe", "noembed", "noframes", "plaintext"};

// Character references: what has been read after "&".
enum RefSub : std::uint8_t { AfterAmp, Named, AfterHash, Decimal, AfterX, Hex };

// Script and style: the low three bits say where, bit 3 is a flag (after "/" in code, an escape
// pending in a string, after "*" in a block comment).
enum CodeSub : std::uint8_t { Code, Single, Double, Template, LineComment, BlockComment };
constexpr std::uint8_t kFlag = 8;

constexpr bool isSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}
constexpr bool isAlpha(char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; }
constexpr bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
constexpr bool isHex(char16_t c) {
  return isDigit(c) || ((c | 0x20) >= u'a' && (c | 0x20) <= u'f');
}
constexpr bool isAlnum(char16_t c) { return isAlpha(c) || isDigit(c); }
constexpr char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? c | 0x20 : c; }
constexpr bool isLineEnd(char16_t c) {
  return c == u'\n' || c == u'\r' || c == u'\u2028' || c == u'\u2029';
}
// A character of the body of a named, decimal or hexadecimal reference.
constexpr bool inReference(std::uint8_t sub, char16_t c) {
  return sub == Named ? isAlnum(c) : sub == Decimal ? isDigit(c) : isHex(c);
}
// Ends a tag name, an attribute name or an unquoted value.
constexpr bool endsName(char16_t c) { return isSpace(c) || c == u'/' || c == u'>' || c == u'='; }

// Joins characters of one kind into tokens and hands them on.
class Emitter {
 public:
  Emitter(HtmlTokenSink sink, void* context) : sink_(sink), context_(context) {}
  // Character `pos` has `kind`; `fresh` starts a new token even when the kind is the same.
  void put(std::size_t pos, HtmlTokenKind kind, bool fresh) {
    if (open_) {
      if (!fresh && kind == kind_) return;
      sink_(context_, HtmlToken{kind_, start_, pos - start_});
    }
    open_ = true;
    kind_ = kind;
    start_ = pos;
  }
  void finish(std::size_t end) {
    if (open_ && end > start_) sink_(context_, HtmlToken{kind_, start_, end - start_});
  }

 private:
  HtmlTokenSink sink_;
  void* context_;
  HtmlTokenKind kind_ = HtmlTokenKind::Text;
  std::size_t start_ = 0;
  bool open_ = false;
};

std::uint16_t namesStartingWith(char16_t c) {
  std::uint16_t mask = 0;
  for (int e = 1; e < ElementCount; ++e)
    if (kElementNames[e][0] == lower(c)) mask |= static_cast<std::uint16_t>(1u << e);
  return mask;
}

// The names in `mask` whose letter `index` is `c`.
std::uint16_t namesWith(std::uint16_t mask, std::size_t index, char16_t c) {
  for (int e = 1; e < ElementCount; ++e) {
    const auto bit = static_cast<std::uint16_t>(1u << e);
    if ((mask & bit) && (index >= kElementNames[e].size() || kElementNames[e][index] != lower(c)))
      mask = static_cast<std::uint16_t>(mask & ~bit);
  }
  return mask;
}

std::uint8_t elementOf(std::uint16_t mask, std::size_t length) {
  for (int e = 1; e < ElementCount; ++e)
    if ((mask & (1u << e)) && kElementNames[e].size() == length)
      return static_cast<std::uint8_t>(e);
  return None;
}

HtmlTokenKind stringKind(std::uint8_t element) {
  return element == Style ? HtmlTokenKind::CssString : HtmlTokenKind::ScriptString;
}
HtmlTokenKind commentKind(std::uint8_t element) {
  return element == Style ? HtmlTokenKind::CssComment : HtmlTokenKind::ScriptComment;
}

}  // namespace

const char* htmlTokenKindName(HtmlTokenKind kind) {
  switch (kind) {
    case HtmlTokenKind::Text:
      return "Text";
    case HtmlTokenKind::TagBracket:
      return "TagBracket";
    case HtmlTokenKind::TagName:
      return "TagName";
    case HtmlTokenKind::TagSpace:
      return "TagSpace";
    case HtmlTokenKind::AttributeName:
      return "AttributeName";
    case HtmlTokenKind::AttributeValue:
      return "AttributeValue";
    case HtmlTokenKind::Comment:
      return "Comment";
    case HtmlTokenKind::Doctype:
      return "Doctype";
    case HtmlTokenKind::CharacterReference:
      return "CharacterReference";
    case HtmlTokenKind::RawText:
      return "RawText";
    case HtmlTokenKind::ScriptString:
      return "ScriptString";
    case HtmlTokenKind::ScriptComment:
      return "ScriptComment";
    case HtmlTokenKind::CssString:
      return "CssString";
    case HtmlTokenKind::CssComment:
      return "CssComment";
  }
  return "?";
}

// Bits: mode 0-4, element 5-8, count 9-12, mask 13-22, sub 23-26, endTag 27.
int encode(HtmlState s) {
  const std::uint32_t v = (s.mode & 31u) | (s.element & 15u) << 5 | (s.count & 15u) << 9 |
                          (s.mask & 1023u) << 13 | (s.sub & 15u) << 23 | (s.endTag ? 1u : 0u) << 27;
  return static_cast<int>(v);
}

HtmlState decode(int value) {
  if (value < 0 || value >= (1 << 28)) return HtmlState{};
  const auto v = static_cast<std::uint32_t>(value);
  HtmlState s;
  s.mode = static_cast<std::uint8_t>(v & 31u);
  s.element = static_cast<std::uint8_t>(v >> 5 & 15u);
  s.count = static_cast<std::uint8_t>(v >> 9 & 15u);
  s.mask = static_cast<std::uint16_t>(v >> 13 & 1023u);
  s.sub = static_cast<std::uint8_t>(v >> 23 & 15u);
  s.endTag = (v >> 27 & 1u) != 0;
  if (s.mode >= ModeCount || s.element >= ElementCount) return HtmlState{};
  return s;
}

bool isInText(HtmlState state) { return state.mode == Data; }

HtmlState tokenizeHtml(std::u16string_view chunk, HtmlState st, HtmlTokenSink sink, void* context) {
  using K = HtmlTokenKind;
  Emitter out(sink, context);
  const char16_t* p = chunk.data();
  const std::size_t n = chunk.size();
  std::size_t i = 0;

  // At the ">" that closes a tag: text, or the content of the element it opened.
  auto closeTag = [&](bool joinSlash) {
    out.put(i, K::TagBracket, !joinSlash);
    ++i;
    const std::uint8_t element = st.endTag ? std::uint8_t{None} : st.element;
    st = HtmlState{};
    switch (element) {
      case Script:
      case Style:
      case Xmp:
      case Iframe:
      case Noembed:
      case Noframes:
        st.mode = Raw;
        st.element = element;
        break;
      case Textarea:
      case Title:
        st.mode = RcData;
        st.element = element;
        break;
      case Plaintext:
        st.mode = PlainText;
        break;
      default:
        break;
    }
  };
  auto leaveReference = [&] {
    st.mode = st.element ? RcData : Data;
    st.sub = 0;
    st.count = 0;
  };
  auto startName = [&](bool endTag) {
    out.put(i, K::TagName, true);
    st.mode = TagName;
    st.endTag = endTag;
    st.mask = endTag ? 0 : namesStartingWith(p[i]);
    st.count = 1;
    st.element = None;
    ++i;
  };
  auto endName = [&] {
    st.element = st.endTag ? std::uint8_t{None} : elementOf(st.mask, st.count);
    st.mask = 0;
    st.count = 0;
  };
  // One character of raw text or RCDATA after "</": the end tag's name, or raw text again.
  // Returns false when the character is to be read once more as raw text.
  auto endTagStep = [&](char16_t c) {
    const std::string_view name =
        st.element < ElementCount ? kElementNames[st.element] : std::string_view();
    const std::size_t k = static_cast<std::size_t>(st.count) - 2;
    if (k < name.size() && lower(c) == static_cast<char16_t>(name[k])) {
      out.put(i, K::TagName, false);
      ++st.count;
      ++i;
      return true;
    }
    if (k == name.size() && !name.empty() && (isSpace(c) || c == u'/' || c == u'>')) {
      st = HtmlState{};
      st.endTag = true;
      if (c == u'>') {
        st.mode = Data;
        st.endTag = false;
        out.put(i, K::TagBracket, true);
      } else if (c == u'/') {
        st.mode = SelfClosing;
        out.put(i, K::TagBracket, true);
      } else {
        st.mode = BeforeAttrName;
        out.put(i, K::TagSpace, true);
      }
      ++i;
      return true;
    }
    st.count = 0;
    return false;
  };

  while (i < n) {
    const char16_t c = p[i];
    switch (st.mode) {
      case Data:
        if (c == u'<') {
          out.put(i, K::TagBracket, true);
          st.mode = TagOpen;
          ++i;
        } else if (c == u'&') {
          out.put(i, K::CharacterReference, true);
          st.mode = CharRef;
          st.sub = AfterAmp;
          st.element = None;
          ++i;
        } else {
          out.put(i, K::Text, false);
          ++i;
          while (i < n && p[i] != u'<' && p[i] != u'&') ++i;
        }
        break;

      case CharRef:
        switch (st.sub) {
          case AfterAmp:
            if (isAlnum(c)) {
              st.sub = Named;
            } else if (c == u'#') {
              st.sub = AfterHash;
            } else {
              leaveReference();
              continue;
            }
            out.put(i, K::CharacterReference, false);
            ++i;
            break;
          case AfterHash:
            if ((c | 0x20) == u'x') {
              st.sub = AfterX;
            } else if (isDigit(c)) {
              st.sub = Decimal;
            } else {
              leaveReference();
              continue;
            }
            out.put(i, K::CharacterReference, false);
            ++i;
            break;
          case AfterX:
            if (!isHex(c)) {
              leaveReference();
              continue;
            }
            st.sub = Hex;
            out.put(i, K::CharacterReference, false);
            ++i;
            break;
          default: {  // Named, Decimal, Hex: the body, then an optional ";"
            const std::uint8_t sub = st.sub;
            if (inReference(sub, c)) {
              out.put(i, K::CharacterReference, false);
              ++i;
              while (i < n && inReference(sub, p[i])) ++i;
            } else if (c == u';') {
              out.put(i, K::CharacterReference, false);
              ++i;
              leaveReference();
            } else {
              leaveReference();
              continue;
            }
            break;
          }
        }
        break;

      case TagOpen:
        if (isAlpha(c)) {
          startName(false);
        } else if (c == u'/' || c == u'!') {
          out.put(i, K::TagBracket, false);
          st.mode = c == u'/' ? EndTagOpen : MarkupOpen;
          ++i;
        } else if (c == u'?') {
          out.put(i, K::Comment, true);
          st.mode = BogusComment;
          ++i;
        } else {
          st.mode = Data;  // a "<" of the text after all
          continue;
        }
        break;

      case EndTagOpen:
        if (isAlpha(c)) {
          startName(true);
        } else if (c == u'>') {  // "</>" is dropped by browsers
          out.put(i, K::TagBracket, true);
          st = HtmlState{};
          ++i;
        } else {
          out.put(i, K::Comment, true);
          st.mode = BogusComment;
          continue;
        }
        break;

      case MarkupOpen:
        out.put(i, c == u'd' || c == u'D' ? K::Doctype : K::Comment, true);
        if (c == u'-') {
          st.mode = MarkupDash;
        } else if (c == u'd' || c == u'D') {
          st.mode = DoctypeMatch;
          st.count = 1;
        } else {
          st.mode = BogusComment;
          continue;
        }
        ++i;
        break;

      case MarkupDash:
        if (c == u'-') {
          out.put(i, K::Comment, false);
          st.mode = CommentStart;
          ++i;
        } else {
          st.mode = BogusComment;
          continue;
        }
        break;

      case DoctypeMatch: {
        constexpr std::string_view word = "doctype";
        if (st.count < word.size() && lower(c) == static_cast<char16_t>(word[st.count])) {
          out.put(i, K::Doctype, false);
          if (++st.count == word.size()) {
            st.mode = Doctype;
            st.count = 0;
          }
          ++i;
        } else {
          out.put(i, K::Comment, true);
          st.mode = BogusComment;
          st.count = 0;
          continue;
        }
        break;
      }

      case Doctype:
        if (c == u'>') {
          out.put(i, K::TagBracket, true);
          st = HtmlState{};
          ++i;
        } else {
          out.put(i, K::Doctype, false);
          ++i;
          while (i < n && p[i] != u'>') ++i;
        }
        break;

      case BogusComment:
        out.put(i, K::Comment, false);
        ++i;
        if (c == u'>') {
          st = HtmlState{};
        } else {
          while (i < n && p[i] != u'>') ++i;
        }
        break;

      case CommentStart:
      case CommentStartDash:
        out.put(i, K::Comment, false);
        if (c == u'>') {
          st = HtmlState{};
          ++i;
        } else if (c == u'-') {
          if (st.mode == CommentStart) {
            st.mode = CommentStartDash;
          } else {
            st.mode = CommentBody;
            st.count = 2;
          }
          ++i;
        } else {
          st.mode = CommentBody;
          st.count = 0;
          continue;
        }
        break;

      case CommentBody:
        out.put(i, K::Comment, false);
        ++i;
        if (c == u'-') {
          st.count = st.count == 0 ? 1 : st.count == 3 ? 1 : 2;
        } else if (c == u'>' && st.count >= 2) {
          st = HtmlState{};
        } else if (c == u'!' && st.count == 2) {
          st.count = 3;
        } else {
          st.count = 0;
          while (i < n && p[i] != u'-') ++i;
        }
        break;

      case TagName:
        if (isSpace(c) || c == u'/' || c == u'>') {
          endName();
          if (c == u'>') {
            closeTag(false);
          } else {
            out.put(i, c == u'/' ? K::TagBracket : K::TagSpace, true);
            st.mode = c == u'/' ? SelfClosing : BeforeAttrName;
            ++i;
          }
        } else {
          out.put(i, K::TagName, false);
          if (st.mask) {
            st.mask = namesWith(st.mask, st.count, c);
            if (st.count < 15) ++st.count;
            ++i;
          } else {
            ++i;
            while (i < n && !isSpace(p[i]) && p[i] != u'/' && p[i] != u'>') ++i;
          }
        }
        break;

      case BeforeAttrName:
      case AfterAttrName:
      case AfterAttrValue:
        if (isSpace(c)) {
          out.put(i, K::TagSpace, st.mode == AfterAttrValue);
          st.mode = st.mode == AfterAttrName ? AfterAttrName : BeforeAttrName;
          ++i;
          while (i < n && isSpace(p[i])) ++i;
        } else if (c == u'/') {
          out.put(i, K::TagBracket, true);
          st.mode = SelfClosing;
          ++i;
        } else if (c == u'>') {
          closeTag(false);
        } else if (c == u'=' && st.mode == AfterAttrName) {
          out.put(i, K::TagBracket, true);
          st.mode = BeforeAttrValue;
          ++i;
        } else {
          // A name, even one starting with "=" or right after a quoted value.
          out.put(i, K::AttributeName, true);
          st.mode = AttrName;
          ++i;
        }
        break;

      case AttrName:
        if (isSpace(c)) {
          out.put(i, K::TagSpace, true);
          st.mode = AfterAttrName;
          ++i;
        } else if (c == u'/') {
          out.put(i, K::TagBracket, true);
          st.mode = SelfClosing;
          ++i;
        } else if (c == u'=') {
          out.put(i, K::TagBracket, true);
          st.mode = BeforeAttrValue;
          ++i;
        } else if (c == u'>') {
          closeTag(false);
        } else {
          out.put(i, K::AttributeName, false);
          ++i;
          while (i < n && !endsName(p[i])) ++i;
        }
        break;

      case BeforeAttrValue:
        if (isSpace(c)) {
          out.put(i, K::TagSpace, false);
          ++i;
        } else if (c == u'>') {
          closeTag(false);
        } else {
          out.put(i, K::AttributeValue, true);
          st.mode = c == u'"' ? AttrValueDouble : c == u'\'' ? AttrValueSingle : AttrValueUnquoted;
          ++i;
        }
        break;

      case AttrValueDouble:
      case AttrValueSingle: {
        const char16_t quote = st.mode == AttrValueDouble ? u'"' : u'\'';
        out.put(i, K::AttributeValue, false);
        ++i;
        if (c == quote) {
          st.mode = AfterAttrValue;
        } else {
          while (i < n && p[i] != quote) ++i;
        }
        break;
      }

      case AttrValueUnquoted:
        if (isSpace(c)) {
          out.put(i, K::TagSpace, true);
          st.mode = BeforeAttrName;
          ++i;
        } else if (c == u'>') {
          closeTag(false);
        } else {
          out.put(i, K::AttributeValue, false);
          ++i;
          while (i < n && !isSpace(p[i]) && p[i] != u'>') ++i;
        }
        break;

      case SelfClosing:
        if (c == u'>') {
          closeTag(true);
        } else {
          st.mode = BeforeAttrName;
          continue;
        }
        break;

      case RcData:
        if (st.count == 1) {
          if (c == u'/') {
            out.put(i, K::TagBracket, true);
            st.count = 2;
            ++i;
          } else {
            st.count = 0;
            continue;
          }
        } else if (st.count >= 2) {
          if (!endTagStep(c)) continue;
        } else if (c == u'<') {
          out.put(i, K::Text, false);
          st.count = 1;
          ++i;
        } else if (c == u'&') {
          out.put(i, K::CharacterReference, true);
          st.mode = CharRef;
          st.sub = AfterAmp;
          ++i;
        } else {
          out.put(i, K::Text, false);
          ++i;
          while (i < n && p[i] != u'<' && p[i] != u'&') ++i;
        }
        break;

      case Raw: {
        if (st.count == 1) {
          if (c == u'/') {
            out.put(i, K::TagBracket, true);
            st.count = 2;
            ++i;
          } else {
            st.count = 0;
            continue;
          }
          break;
        }
        if (st.count >= 2) {
          if (!endTagStep(c)) continue;
          break;
        }
        const bool script = st.element == Script;
        const bool code = script || st.element == Style;
        const std::uint8_t where = code ? st.sub & 7 : Code;
        const bool flag = code && (st.sub & kFlag) != 0;
        // Every place of raw text watches for the "<" of the end tag.
        if (c == u'<' && !(where == Code && flag)) {
          const K kind = where == Code       ? K::RawText
                         : where <= Template ? stringKind(st.element)
                                             : commentKind(st.element);
          out.put(i, kind, false);
          if (where == Single || where == Double || where == Template || where == BlockComment)
            st.sub = where;  // the "<" ends an escape or a "*"
          st.count = 1;
          ++i;
          break;
        }
        switch (where) {
          case Code:
            if (flag) {  // after "/"
              st.sub = Code;
              if (c == u'/' && script) {
                st.sub = LineComment;
              } else if (c == u'*') {
                st.sub = BlockComment;
              } else {
                continue;
              }
              out.put(i, commentKind(st.element), true);
              ++i;
            } else if (code && (c == u'\'' || c == u'"' || (c == u'`' && script))) {
              out.put(i, stringKind(st.element), true);
              st.sub = c == u'\'' ? Single : c == u'"' ? Double : Template;
              ++i;
            } else if (code && c == u'/') {
              out.put(i, K::RawText, false);
              st.sub = Code | kFlag;
              ++i;
            } else {
              out.put(i, K::RawText, false);
              ++i;
              if (code) {
                while (i < n && p[i] != u'<' && p[i] != u'\'' && p[i] != u'"' && p[i] != u'`' &&
                       p[i] != u'/')
                  ++i;
              } else {
                while (i < n && p[i] != u'<') ++i;
              }
            }
            break;
          case Single:
          case Double:
          case Template: {
            const char16_t quote = where == Single ? u'\'' : where == Double ? u'"' : u'`';
            if (flag) {  // the escaped character
              st.sub = where;
            } else if (c == quote) {
              st.sub = Code;
            } else if (c == u'\\') {
              st.sub = where | kFlag;
            } else if (where != Template && isLineEnd(c)) {
              st.sub = Code;  // an unterminated string ends with its line
              continue;
            } else {
              out.put(i, stringKind(st.element), false);
              ++i;
              while (i < n && p[i] != quote && p[i] != u'\\' && p[i] != u'<' &&
                     (where == Template || !isLineEnd(p[i])))
                ++i;
              break;
            }
            out.put(i, stringKind(st.element), false);
            ++i;
            break;
          }
          case LineComment:
            if (isLineEnd(c)) {
              st.sub = Code;
              continue;
            }
            out.put(i, commentKind(st.element), false);
            ++i;
            while (i < n && p[i] != u'<' && !isLineEnd(p[i])) ++i;
            break;
          default:  // BlockComment
            out.put(i, commentKind(st.element), false);
            ++i;
            if (flag && c == u'/') {
              st.sub = Code;
            } else if (c == u'*') {
              st.sub = BlockComment | kFlag;
            } else {
              st.sub = BlockComment;
              while (i < n && p[i] != u'*' && p[i] != u'<') ++i;
            }
            break;
        }
        break;
      }

      case PlainText:
        out.put(i, K::RawText, false);
        i = n;
        break;

      default:  // a state decode() would not give
        st = HtmlState{};
        continue;
    }
  }
  out.finish(n);
  return st;
}

HtmlState afterLineBreak(HtmlState state) {
  return tokenizeHtml(
      u"\n", state, [](void*, const HtmlToken&) {}, nullptr);
}

}  // namespace korva
