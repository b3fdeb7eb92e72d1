// Line alignment of two response texts, without Qt: what the comparison view and `diff` of the
// command-line tool show.
//
// Lines are compared as numbers (equal lines, the same number) by dtl's O(NP) algorithm; a run of
// removed lines next to added ones pairs up as changed lines, each pair with the characters that
// differ. The comparison stops at a time limit or when the caller cancels: dtl cannot be resumed,
// so what it has not finished becomes one change between the common start and end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

enum class DiffLineEnds {
  Display,  // LF, CR LF and a lone CR end a line, as in the views
  Lf,       // only LF ends a line (a CR before it belongs to the line), as patch(1) reads lines
};

struct TextDiffOptions {
  // Runs of white space compare as one blank, white space at the end of a line (its line end
  // too) not at all, as diff -b does.
  bool ignoreWhitespaceChanges = false;
  DiffLineEnds lineEnds = DiffLineEnds::Display;
  // Zero: no limit.
  std::chrono::milliseconds timeLimit{0};
  // Set by the caller from any thread; checked every few thousand steps.
  const std::atomic<bool>* cancel = nullptr;
};

// One line of a text: its characters, then its line end (0, 1 or 2 units).
struct TextLine {
  std::size_t begin = 0;
  std::size_t length = 0;  // without the line end
  std::size_t endLength = 0;
};

std::vector<TextLine> splitTextLines(std::u16string_view text, DiffLineEnds ends);
std::vector<TextLine> splitTextLines(std::string_view text, DiffLineEnds ends);

enum class DiffOpKind { Equal, Removed, Added, Changed };

// Units [begin, end) of one line's characters (line end excluded) that differ from its partner.
struct CharRange {
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct ChangedChars {
  CharRange oldRange, newRange;
};

// Lines oldLine.. on the old side and newLine.. on the new one, counted from 0. Equal and Changed
// have as many lines on both sides; Removed none on the new side, Added none on the old side (its
// line there is where the lines go).
struct DiffOp {
  DiffOpKind kind = DiffOpKind::Equal;
  std::size_t oldLine = 0, oldCount = 0;
  std::size_t newLine = 0, newCount = 0;
  std::vector<ChangedChars> chars;  // Changed: one per pair of lines
};

enum class DiffOutcome {
  Complete,
  TimeLimit,  // the exact alignment ran out of time: the lines between the first and the last
              // difference are one change
  Cancelled,  // ops are empty
};

struct TextDiff {
  std::vector<DiffOp> ops;
  std::size_t oldLines = 0, newLines = 0;
  // Lines only on the old side and only on the new one; a changed pair counts on both.
  std::size_t removed = 0, added = 0;
  bool identical = false;
  DiffOutcome outcome = DiffOutcome::Complete;
};

TextDiff compareTexts(std::u16string_view oldText, std::u16string_view newText,
                      const TextDiffOptions& options = {});
// The same over bytes as the logs hold them (white space is ASCII's).
TextDiff compareTexts(std::string_view oldText, std::string_view newText,
                      const TextDiffOptions& options = {});

// The hunks of a unified diff (from "@@" on) of two byte texts compared with DiffLineEnds::Lf:
// each run of changes with `context` equal lines around it, runs closer than twice that in one
// hunk. A side's last line without a line end is followed by patch's "\ No newline at end of
// file", so patch(1) turns the old text into the new one exactly.
std::string unifiedDiffHunks(std::string_view oldText, std::string_view newText,
                             const TextDiff& diff, std::size_t context);

}  // namespace korva
