// The comparison of two responses as the comparison window shows it: both texts aligned line by
// line (a line that only one side has faces an empty filler line on the other), each line
// marked, the changed characters of a changed line, and where each change starts. The texts are
// prepared, and the lines compared, on a thread of their own (ComparisonTask), so that the
// window never waits for work that grows with the responses.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture.h"
#include "view/text_diff.h"

namespace korva {

enum class LineMark : std::uint8_t { Equal, Removed, Added, Changed, Filler };

struct AlignedText {
  std::u16string text;                  // the lines joined by "\n"; a filler line is empty
  std::vector<LineMark> marks;          // one per line
  std::vector<std::size_t> lineStarts;  // where each line starts in `text`
  std::size_t longestLine = 0;          // in characters, a tab counted as 8
  // The changed characters of each Changed line: the line and its range in that line.
  std::vector<std::pair<std::size_t, CharRange>> changedChars;

  std::u16string_view line(std::size_t n) const;
};

struct Comparison {
  AlignedText left, right;           // the marked response and the selected one
  std::vector<std::size_t> changes;  // the aligned line where each change starts, in order
  std::size_t added = 0, removed = 0;
  bool identical = false;
  DiffOutcome outcome = DiffOutcome::Complete;
  std::string error;  // why a response could not be read (the outcome is Cancelled then)
};

// `diff` compares `oldText` and `newText` with DiffLineEnds::Display.
Comparison alignComparison(std::u16string_view oldText, std::u16string_view newText,
                           const TextDiff& diff);

// "Änderung 2 von 7"; "Keine Änderung" while there is none, "N Änderungen" before the first is
// chosen (`current` 0).
std::string changePositionText(std::size_t current, std::size_t count);
// "Die Antworten sind gleich", or "+12 −5 Zeilen" with what a time limit left coarse.
std::string comparisonSummaryText(const Comparison& comparison);

struct ComparisonSettings {
  ShowOptions filters;  // the filters as "Ansicht" has them checked; `decode` is not used
  bool ignoreWhitespace = false;
  std::chrono::milliseconds timeLimit{3000};
  // Turns a filtered body into its display text; null for the automatic detection. Called on
  // the task's thread.
  std::function<std::u16string(std::string_view)> decode;
  // The display text as the comparison is to see it (the formatted view, say); null keeps it.
  std::function<std::u16string(std::u16string)> transform;
};

// One comparison on a thread of its own. `finished` is called on that thread when the result is
// ready (also after a cancel); the owner then takes it on its own thread.
class ComparisonTask {
 public:
  // Reads both blocks on its thread too: two responses of 20 MB take longer to read than a frame.
  ComparisonTask(ResponseLocation oldBlock, ResponseLocation newBlock, ComparisonSettings settings,
                 std::function<void()> finished);
  // Cancels and waits for the thread, which checks the cancel often.
  ~ComparisonTask();
  ComparisonTask(const ComparisonTask&) = delete;
  ComparisonTask& operator=(const ComparisonTask&) = delete;

  void cancel() { cancel_ = true; }
  bool done() const { return done_; }
  // The result once done(); empty before.
  Comparison take();

 private:
  void run(const ResponseLocation& oldBlock, const ResponseLocation& newBlock);

  ComparisonSettings settings_;
  std::function<void()> finished_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
  Comparison result_;
  std::string error_;
  std::thread thread_;
};

}  // namespace korva
