#include "app/key_search.h"

#include <cstddef>

#include "view/text_search.h"

namespace korva {

bool KeySearch::keyDown(int keyCode, int modifiers) {
  if (keyCode == kKeyF && modifiers == kModCtrl) {
    find();
    return true;
  }
  if (keyCode == kKeyF3 && modifiers == 0) {
    findNext();
    return true;
  }
  return false;
}

void KeySearch::find() {
  const std::u16string entered =
      prompt_.ask(kSearchPromptText, kSearchPromptTitle, LastSearchTerm_);
  if (target_.canTakeFocus()) target_.setFocus();
  if (entered.empty()) return;
  searchFor(entered);
  LastSearchTerm_ = entered;
}

void KeySearch::findNext() {
  if (LastSearchTerm_.empty()) {
    find();
    return;
  }
  searchFor(LastSearchTerm_);
}

void KeySearch::searchFor(std::u16string_view term) {
  // Summed in 64 bits: two int32 values from the adapter may not fit one int32 together.
  const std::int64_t behind = static_cast<std::int64_t>(target_.selStart()) +
                              static_cast<std::int64_t>(target_.selLength());
  const std::size_t start = behind > 0 ? static_cast<std::size_t>(behind) : 0;
  const std::size_t found = findWithWrap(target_.text(), term, start);
  if (found == kNotFound) return;
  target_.setSelStart(static_cast<std::int32_t>(found));
  target_.setSelLength(static_cast<std::int32_t>(term.size()));
}

}  // namespace korva
