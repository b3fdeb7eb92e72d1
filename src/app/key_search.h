// Ctrl+F and F3 over the source text. No widgets: the window implements the two interfaces below
// and forwards every key-down to KeySearch::keyDown before the focused control sees it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

// Key codes as keyDown expects them: the classic virtual-key codes, 'F' (0x46) and F3 (0x72),
// which the window maps its toolkit's keys onto.
inline constexpr int kKeyF = 70;
inline constexpr int kKeyF3 = 114;

// Modifier bits as keyDown expects them; the window maps its toolkit's modifiers onto these.
inline constexpr int kModShift = 1;
inline constexpr int kModCtrl = 2;
inline constexpr int kModAlt = 4;

inline constexpr std::u16string_view kSearchPromptText = u"Suchbegriff:";
inline constexpr std::u16string_view kSearchPromptTitle = u"Suchen";

// The source pane as the search sees it (the window backs it with cSource). Offsets and lengths
// are in UTF-16 code units, matching text().
class SearchTarget {
 public:
  virtual ~SearchTarget() = default;
  // Must stay valid until the next call on this target.
  virtual std::u16string_view text() const = 0;
  virtual std::int32_t selStart() const = 0;
  virtual std::int32_t selLength() const = 0;
  // Each write also scrolls the caret into view.
  virtual void setSelStart(std::int32_t start) = 0;
  virtual void setSelLength(std::int32_t length) = 0;
  // False while the source pane is hidden behind the browser view; the focus step is then skipped.
  virtual bool canTakeFocus() const = 0;
  virtual void setFocus() = 0;
};

// The modal input box.
class SearchPrompt {
 public:
  virtual ~SearchPrompt() = default;
  // Shows `prompt` with `title` and `defaultText` and waits. Returns the entered text; a
  // cancelled prompt returns an empty text.
  virtual std::u16string ask(std::u16string_view prompt, std::u16string_view title,
                             std::u16string_view defaultText) = 0;
};

// Owns LastSearchTerm. Holds references to its target and prompt, which must outlive it.
class KeySearch {
 public:
  KeySearch(SearchTarget& target, SearchPrompt& prompt) : target_(target), prompt_(prompt) {}

  // Runs Find for F with exactly Ctrl, Find next for F3 without modifiers; true when it ran one.
  // The window passes the key on to the focused control either way.
  bool keyDown(int keyCode, int modifiers);

  // Ctrl+F: ask, move the focus to the source pane (also on cancel), search, remember the term.
  void find();
  // F3: search for LastSearchTerm; with none yet, behaves as find().
  void findNext();

  const std::u16string& LastSearchTerm() const { return LastSearchTerm_; }
  // A term found elsewhere (the search over all responses) becomes the one F3 goes on with.
  void setLastSearchTerm(std::u16string term) { LastSearchTerm_ = std::move(term); }

 private:
  // Selects the next occurrence at or behind the current selection, wrapping once to the start.
  // Leaves everything unchanged when the term does not occur.
  void searchFor(std::u16string_view term);

  SearchTarget& target_;
  SearchPrompt& prompt_;
  std::u16string LastSearchTerm_;
};

}  // namespace korva
