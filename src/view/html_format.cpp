#include "view/html_format.h"

#include <algorithm>
#include <cstdint>

#include "view/html_tokens.h"

namespace korva {

HtmlFormatMap::HtmlFormatMap(std::vector<HtmlInsertion> insertions)
    : insertions_(std::move(insertions)) {
  before_.reserve(insertions_.size() + 1);
  std::size_t total = 0;
  for (const HtmlInsertion& insertion : insertions_) {
    before_.push_back(total);
    total += insertion.count;
  }
  before_.push_back(total);
}

std::size_t HtmlFormatMap::toFormatted(std::size_t originalPos) const {
  const auto after = std::upper_bound(
      insertions_.begin(), insertions_.end(), originalPos,
      [](std::size_t pos, const HtmlInsertion& insertion) { return pos < insertion.original; });
  return originalPos + before_[static_cast<std::size_t>(after - insertions_.begin())];
}

std::size_t HtmlFormatMap::toOriginal(std::size_t formattedPos) const {
  // The last insertion that starts at or before the position in the formatted text.
  std::size_t lo = 0, hi = insertions_.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (insertions_[mid].original + before_[mid] <= formattedPos)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo == 0) return formattedPos;
  const std::size_t k = lo - 1;
  const std::size_t start = insertions_[k].original + before_[k];
  if (formattedPos < start + insertions_[k].count) return insertions_[k].original;
  return formattedPos - before_[k + 1];
}

namespace {

enum Flag : std::uint8_t {
  Block = 1,       // its tags start and end lines; nests
  Void = 2,        // has no content, does not nest
  Head = 4,        // on lines of its own while the body has not begun
  BreakAfter = 8,  // br: what follows goes on a new line
  Pre = 16,        // white space shows: nothing is inserted inside
  Neutral = 32,    // may stand before the body without beginning it
};

// Which open elements a start tag closes implicitly (as far as the indentation needs it).
enum Group : std::uint8_t { Other, Para, ListItem, Definition, Cell, Row, RowGroup, Opt, OptGroup };
constexpr std::uint16_t bit(Group g) { return static_cast<std::uint16_t>(1u << g); }
constexpr std::uint16_t kCloses[] = {
    bit(Para),                                         // Other blocks
    bit(Para),                                         // p
    bit(ListItem) | bit(Para),                         // li
    bit(Definition) | bit(Para),                       // dt, dd
    bit(Cell) | bit(Para),                             // td, th
    bit(Cell) | bit(Row) | bit(Para),                  // tr
    bit(Cell) | bit(Row) | bit(RowGroup) | bit(Para),  // thead, tbody, tfoot
    bit(Opt),                                          // option
    bit(Opt) | bit(OptGroup),                          // optgroup
};

// A lower-case ASCII name of up to 10 letters and digits packed into 60 bits; 0 for others.
std::uint64_t packName(std::u16string_view name) {
  if (name.empty() || name.size() > 10) return 0;
  std::uint64_t key = 0;
  for (char16_t c : name) {
    unsigned v;
    if (c >= u'a' && c <= u'z')
      v = c - u'a' + 1;
    else if (c >= u'A' && c <= u'Z')
      v = c - u'A' + 1;
    else if (c >= u'0' && c <= u'9')
      v = c - u'0' + 27;
    else
      return 0;
    key = key << 6 | v;
  }
  return key;
}

std::uint64_t packAscii(std::string_view name) {
  return packName(std::u16string(name.begin(), name.end()));
}

struct ElementInfo {
  std::uint64_t key;
  std::uint8_t flags;
  Group group;
};

const std::vector<ElementInfo>& elementTable() {
  static const std::vector<ElementInfo> table = [] {
    struct Entry {
      const char* name;
      std::uint8_t flags;
      Group group;
    };
    const Entry entries[] = {
        {"address", Block, Other},
        {"article", Block, Other},
        {"aside", Block, Other},
        {"blockquote", Block, Other},
        {"body", Block, Other},
        {"caption", Block, Other},
        {"center", Block, Other},
        {"col", Block | Void, Other},
        {"colgroup", Block, Other},
        {"dd", Block, Definition},
        {"details", Block, Other},
        {"dialog", Block, Other},
        {"dir", Block, Other},
        {"div", Block, Other},
        {"dl", Block, Other},
        {"dt", Block, Definition},
        {"fieldset", Block, Other},
        {"figcaption", Block, Other},
        {"figure", Block, Other},
        {"footer", Block, Other},
        {"form", Block, Other},
        {"frame", Block | Void, Other},
        {"frameset", Block, Other},
        {"h1", Block, Other},
        {"h2", Block, Other},
        {"h3", Block, Other},
        {"h4", Block, Other},
        {"h5", Block, Other},
        {"h6", Block, Other},
        {"head", Block | Neutral, Other},
        {"header", Block, Other},
        {"hgroup", Block, Other},
        {"hr", Block | Void, Other},
        {"html", Block | Neutral, Other},
        {"legend", Block, Other},
        {"li", Block, ListItem},
        {"listing", Block | Pre, Other},
        {"main", Block, Other},
        {"menu", Block, Other},
        {"nav", Block, Other},
        {"ol", Block, Other},
        {"optgroup", Block, OptGroup},
        {"option", Block, Opt},
        {"p", Block, Para},
        {"pre", Block | Pre, Other},
        {"section", Block, Other},
        {"summary", Block, Other},
        {"table", Block, Other},
        {"tbody", Block, RowGroup},
        {"td", Block, Cell},
        {"tfoot", Block, RowGroup},
        {"th", Block, Cell},
        {"thead", Block, RowGroup},
        {"tr", Block, Row},
        {"ul", Block, Other},
        {"br", BreakAfter | Void, Other},
        {"base", Head | Void | Neutral, Other},
        {"link", Head | Void | Neutral, Other},
        {"meta", Head | Void | Neutral, Other},
        {"script", Head | Neutral, Other},
        {"style", Head | Neutral, Other},
        {"title", Head | Neutral, Other},
        {"noscript", Neutral, Other},
        {"template", Neutral, Other},
        {"textarea", 0, Other},
    };
    std::vector<ElementInfo> t;
    for (const Entry& e : entries) t.push_back({packAscii(e.name), e.flags, e.group});
    std::sort(t.begin(), t.end(),
              [](const ElementInfo& a, const ElementInfo& b) { return a.key < b.key; });
    return t;
  }();
  return table;
}

ElementInfo lookup(std::uint64_t key) {
  const auto& table = elementTable();
  const auto it = std::lower_bound(table.begin(), table.end(), key,
                                   [](const ElementInfo& e, std::uint64_t k) { return e.key < k; });
  if (key != 0 && it != table.end() && it->key == key) return *it;
  return {key, 0, Other};
}

constexpr std::size_t kMaxIndent = 40;     // levels; deeper nesting is shown at this depth
constexpr std::size_t kEndTagSearch = 32;  // open elements an end tag looks through

class Formatter {
 public:
  Formatter(std::u16string_view text, std::size_t headLines, const FormattedHead* head)
      : text_(text),
        head_(head),
        headLines_(headLines),
        textareaKey_(packAscii("textarea")),
        titleKey_(packAscii("title")) {
    out_.reserve(text.size() + text.size() / 8 + 16);
  }

  void onToken(const HtmlToken& t) {
    using K = HtmlTokenKind;
    // A comment ends with the first token after it.
    if (cur_.active && cur_.type == Type::Markup && lastKind_ == K::Comment && t.kind != K::Comment)
      close(t.start);
    lastKind_ = t.kind;
    switch (t.kind) {
      case K::TagBracket: {
        const char16_t first = text_[t.start];
        const char16_t last = text_[t.start + t.length - 1];
        if (first == u'<') {
          cur_ = Construct{};
          cur_.active = true;
          cur_.start = t.start;
          cur_.candidate = closed_.valid && closed_.end == t.start;
          cur_.inPre = preDepth_ > 0;
          cur_.indent = stack_.size();
          cur_.type = t.length == 1                ? Type::Tag
                      : text_[t.start + 1] == u'/' ? Type::EndTag
                                                   : Type::Markup;
        } else if (first == u'/' && t.length == 1 && !cur_.active) {
          // The "</" of an end tag after raw text, whose "<" was part of the raw text.
          cur_ = Construct{};
          cur_.active = true;
          cur_.start = t.start - 1;
          cur_.indent = stack_.size();
          cur_.type = Type::RawEnd;
        } else if (last == u'>' && cur_.active) {
          close(t.start + t.length);
        }
        break;
      }
      case K::TagName:
        if (cur_.active && !cur_.named && cur_.type != Type::Markup) name(t);
        break;
      case K::TagSpace:
      case K::AttributeName:
      case K::AttributeValue:
      case K::Doctype:
        break;
      case K::Comment:
        if (cur_.active) cur_.type = Type::Markup;  // "<?x>", "</1>" and "<!x>" alike
        break;
      case K::Text:
      case K::CharacterReference:
        if (!inBody_ && !inRcData_ && !cur_.active) {
          for (std::size_t k = t.start; k < t.start + t.length; ++k) {
            const char16_t c = text_[k];
            if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f') {
              inBody_ = true;
              break;
            }
          }
        }
        cur_.active = false;
        break;
      default:
        cur_.active = false;
        break;
    }
  }

  FormattedHtml finish(HtmlState end) {
    if (cur_.active && cur_.type == Type::Markup && lastKind_ == HtmlTokenKind::Comment &&
        isInText(end))
      close(text_.size());
    copyUpTo(text_.size());
    offerHead();
    FormattedHtml result;
    result.text = std::move(out_);
    result.map = HtmlFormatMap(std::move(insertions_));
    return result;
  }

 private:
  enum class Type : std::uint8_t { Tag, EndTag, Markup, RawEnd };
  struct Construct {
    bool active = false;
    bool named = false;
    bool candidate = false;  // it starts right at the ">" of the one before
    bool inPre = false;
    bool startsLine = false;
    Type type = Type::Tag;
    std::size_t start = 0;
    std::size_t indent = 0;
    ElementInfo info{0, 0, Other};
  };
  struct Closed {
    bool valid = false;
    bool endsLine = false;
    std::size_t end = 0;
  };
  struct Open {
    std::uint64_t key;
    Group group;
    bool lines;  // something inside it was put on a line of its own
  };

  void name(const HtmlToken& t) {
    cur_.named = true;
    cur_.info = lookup(packName(text_.substr(t.start, t.length)));
    const std::uint8_t flags = cur_.info.flags;
    if (cur_.type == Type::Tag) {
      if (!(flags & Neutral)) inBody_ = true;
      if (flags & Block) {
        while (!stack_.empty() && (kCloses[cur_.info.group] & bit(stack_.back().group)))
          stack_.pop_back();
        cur_.indent = stack_.size();
        cur_.startsLine = true;
        if (!(flags & Void)) stack_.push_back({cur_.info.key, cur_.info.group, false});
        if (flags & Pre) ++preDepth_;
      } else {
        cur_.indent = stack_.size();
        cur_.startsLine = (flags & Head) && !inBody_;
      }
      return;
    }
    cur_.indent = stack_.size();
    if (!(flags & Block)) return;
    const std::size_t floor = stack_.size() > kEndTagSearch ? stack_.size() - kEndTagSearch : 0;
    for (std::size_t j = stack_.size(); j-- > floor;) {
      if (stack_[j].key == cur_.info.key) {
        cur_.startsLine = stack_[j].lines;
        cur_.indent = j;
        stack_.resize(j);
        if ((flags & Pre) && preDepth_ > 0) --preDepth_;
        break;
      }
    }
  }

  // The construct being read ends before `end`.
  void close(std::size_t end) {
    const std::uint8_t flags = cur_.info.flags;
    const bool head = (flags & Head) && !inBody_;
    if (cur_.candidate && !cur_.inPre && (closed_.endsLine || cur_.startsLine)) insert();
    closed_.valid = true;
    closed_.end = end;
    switch (cur_.type) {
      case Type::Tag:
        closed_.endsLine =
            ((flags & Block) && (flags & Void)) || (flags & BreakAfter) || (head && (flags & Void));
        if (cur_.info.key == textareaKey_ || cur_.info.key == titleKey_) inRcData_ = true;
        break;
      case Type::EndTag:
        closed_.endsLine = (flags & Block) || head;
        break;
      case Type::RawEnd:
        closed_.endsLine = head;
        inRcData_ = false;
        break;
      case Type::Markup:
        closed_.endsLine = false;
        break;
    }
    cur_.active = false;
  }

  void insert() {
    copyUpTo(cur_.start);
    const std::size_t spaces = 2 * std::min(cur_.indent, kMaxIndent);
    out_.push_back(u'\n');
    out_.append(spaces, u' ');
    if (head_) ++linesOut_;
    insertions_.push_back({cur_.start, 1 + spaces});
    if (cur_.indent > 0 && cur_.indent <= stack_.size()) stack_[cur_.indent - 1].lines = true;
    offerHead();
  }

  // Copies the original text up to `end`, counting its line ends while head_ waits.
  void copyUpTo(std::size_t end) {
    if (head_)
      linesOut_ +=
          static_cast<std::size_t>(std::count(text_.begin() + copied_, text_.begin() + end, u'\n'));
    out_.append(text_.data() + copied_, end - copied_);
    copied_ = end;
  }

  // What is in out_ stays as it is: later insertions all lie after it.
  void offerHead() {
    if (!head_ || linesOut_ < headLines_) return;
    (*head_)(out_, insertions_);
    head_ = nullptr;
  }

  std::u16string_view text_;
  const FormattedHead* head_;  // until it was called
  std::size_t headLines_;
  std::size_t linesOut_ = 0;  // line ends in out_ while head_ waits
  std::u16string out_;
  std::size_t copied_ = 0;
  std::vector<HtmlInsertion> insertions_;
  std::vector<Open> stack_;
  std::size_t preDepth_ = 0;
  bool inBody_ = false;
  bool inRcData_ = false;
  HtmlTokenKind lastKind_ = HtmlTokenKind::Text;
  Construct cur_;
  Closed closed_;
  const std::uint64_t textareaKey_, titleKey_;
};

}  // namespace

FormattedHtml formatHtml(std::u16string_view text) { return formatHtml(text, 0, nullptr); }

FormattedHtml formatHtml(std::u16string_view text, std::size_t headLines,
                         const FormattedHead& head) {
  Formatter formatter(text, headLines, head ? &head : nullptr);
  const HtmlState end =
      tokenizeHtml(text, HtmlState{}, [&](const HtmlToken& t) { formatter.onToken(t); });
  return formatter.finish(end);
}

}  // namespace korva
