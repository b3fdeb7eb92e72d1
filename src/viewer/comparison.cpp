#include "viewer/comparison.h"

#include <algorithm>
#include <utility>

#include "view/text_decode.h"
#include "viewer/status_texts.h"

namespace korva {

namespace {

void putLine(AlignedText& side, std::u16string_view text, const TextLine* line, LineMark mark) {
  if (!side.marks.empty()) side.text.push_back(u'\n');
  side.lineStarts.push_back(side.text.size());
  if (line) {
    const std::u16string_view chars = text.substr(line->begin, line->length);
    side.text.append(chars);
    const auto tabs = static_cast<std::size_t>(std::count(chars.begin(), chars.end(), u'\t'));
    side.longestLine = std::max(side.longestLine, chars.size() + 7 * tabs);
  }
  side.marks.push_back(mark);
}

}  // namespace

std::u16string_view AlignedText::line(std::size_t n) const {
  if (n >= lineStarts.size()) return {};
  const std::size_t end = n + 1 < lineStarts.size() ? lineStarts[n + 1] - 1 : text.size();
  return std::u16string_view(text).substr(lineStarts[n], end - lineStarts[n]);
}

Comparison alignComparison(std::u16string_view oldText, std::u16string_view newText,
                           const TextDiff& diff) {
  const std::vector<TextLine> a = splitTextLines(oldText, DiffLineEnds::Display);
  const std::vector<TextLine> b = splitTextLines(newText, DiffLineEnds::Display);
  Comparison c;
  c.added = diff.added;
  c.removed = diff.removed;
  c.identical = diff.identical;
  c.outcome = diff.outcome;
  bool inChange = false;
  for (const DiffOp& op : diff.ops) {
    // Removed lines next to added ones are one change to the reader, however the ops split them.
    if (op.kind != DiffOpKind::Equal && !inChange) c.changes.push_back(c.left.marks.size());
    inChange = op.kind != DiffOpKind::Equal;
    const std::size_t lines = std::max(op.oldCount, op.newCount);
    for (std::size_t i = 0; i < lines; ++i) {
      const TextLine* oldLine =
          i < op.oldCount && op.oldLine + i < a.size() ? &a[op.oldLine + i] : nullptr;
      const TextLine* newLine =
          i < op.newCount && op.newLine + i < b.size() ? &b[op.newLine + i] : nullptr;
      switch (op.kind) {
        case DiffOpKind::Equal:
          putLine(c.left, oldText, oldLine, LineMark::Equal);
          putLine(c.right, newText, newLine, LineMark::Equal);
          break;
        case DiffOpKind::Removed:
          putLine(c.left, oldText, oldLine, LineMark::Removed);
          putLine(c.right, newText, nullptr, LineMark::Filler);
          break;
        case DiffOpKind::Added:
          putLine(c.left, oldText, nullptr, LineMark::Filler);
          putLine(c.right, newText, newLine, LineMark::Added);
          break;
        case DiffOpKind::Changed:
          if (i < op.chars.size()) {
            c.left.changedChars.emplace_back(c.left.marks.size(), op.chars[i].oldRange);
            c.right.changedChars.emplace_back(c.right.marks.size(), op.chars[i].newRange);
          }
          putLine(c.left, oldText, oldLine, LineMark::Changed);
          putLine(c.right, newText, newLine, LineMark::Changed);
          break;
      }
    }
  }
  return c;
}

std::string changePositionText(std::size_t current, std::size_t count) {
  if (count == 0) return "Keine Änderung";
  if (current == 0) return germanNumber(count) + (count == 1 ? " Änderung" : " Änderungen");
  return "Änderung " + germanNumber(current) + " von " + germanNumber(count);
}

std::string comparisonSummaryText(const Comparison& comparison) {
  if (!comparison.error.empty()) return comparison.error;
  if (comparison.outcome == DiffOutcome::Cancelled) return "Vergleich abgebrochen";
  if (comparison.identical) return "Die Antworten sind gleich";
  std::string text = "+" + germanNumber(comparison.added) + " \u2212" +
                     germanNumber(comparison.removed) + " Zeilen";
  if (comparison.outcome == DiffOutcome::TimeLimit)
    text +=
        " (Zeitgrenze erreicht: der Bereich zwischen der ersten und der letzten Änderung ist "
        "als eine Änderung gezeigt)";
  return text;
}

ComparisonTask::ComparisonTask(ResponseLocation oldBlock, ResponseLocation newBlock,
                               ComparisonSettings settings, std::function<void()> finished)
    : settings_(std::move(settings)), finished_(std::move(finished)) {
  thread_ = std::thread(
      [this, a = std::move(oldBlock), b = std::move(newBlock)]() mutable { run(a, b); });
}

ComparisonTask::~ComparisonTask() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

Comparison ComparisonTask::take() {
  if (!done_) return {};
  return std::move(result_);
}

void ComparisonTask::run(const ResponseLocation& oldBlock, const ResponseLocation& newBlock) {
  auto text = [this](const ResponseLocation& location) {
    ShowOptions options = settings_.filters;
    options.decode = !settings_.decode;
    RowResponse shown;
    try {
      shown = prepareResponse(retrieveResponse(location), options);
    } catch (const std::exception& e) {
      error_ = e.what();
      cancel_ = true;
      return std::u16string();
    }
    std::u16string t = settings_.decode ? settings_.decode(shown.bytes) : std::move(shown.text);
    return settings_.transform && !cancel_ ? settings_.transform(std::move(t)) : t;
  };
  const std::u16string a = text(oldBlock);
  const std::u16string b = cancel_ ? std::u16string() : text(newBlock);
  TextDiffOptions options;
  options.ignoreWhitespaceChanges = settings_.ignoreWhitespace;
  options.timeLimit = settings_.timeLimit;
  options.cancel = &cancel_;
  const TextDiff diff = compareTexts(a, b, options);
  if (diff.outcome == DiffOutcome::Cancelled || cancel_) {
    result_ = Comparison{};
    result_.outcome = DiffOutcome::Cancelled;
    result_.error = error_;
  } else {
    result_ = alignComparison(a, b, diff);
  }
  done_ = true;
  if (finished_) finished_();
}

}  // namespace korva
