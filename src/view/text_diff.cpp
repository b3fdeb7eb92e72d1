#include "view/text_diff.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <dtl/dtl.hpp>
#include <unordered_map>

namespace korva {
namespace {

using Clock = std::chrono::steady_clock;

template <class Char>
std::vector<TextLine> splitLines(std::basic_string_view<Char> text, DiffLineEnds ends) {
  std::vector<TextLine> lines;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Char c = text[i];
    if (c == Char('\n')) {
      if (ends == DiffLineEnds::Display && i > begin && text[i - 1] == Char('\r'))
        lines.push_back({begin, i - 1 - begin, 2});
      else
        lines.push_back({begin, i - begin, 1});
      begin = i + 1;
    } else if (c == Char('\r') && ends == DiffLineEnds::Display &&
               (i + 1 == text.size() || text[i + 1] != Char('\n'))) {
      lines.push_back({begin, i - begin, 1});
      begin = i + 1;
    }
  }
  if (begin < text.size()) lines.push_back({begin, text.size() - begin, 0});
  return lines;
}

template <class Char>
bool isBlank(Char c) {
  return c == Char(' ') || c == Char('\t') || c == Char('\n') || c == Char('\r') ||
         c == Char('\v') || c == Char('\f');
}

// Checks the cancel flag and the clock; once either says stop, it stays stopped.
class Watch {
 public:
  explicit Watch(const TextDiffOptions& options)
      : cancel_(options.cancel),
        limited_(options.timeLimit.count() > 0),
        deadline_(Clock::now() + options.timeLimit) {}

  bool stopped() {
    if (outcome_ != DiffOutcome::Complete) return true;
    if (cancel_ && cancel_->load(std::memory_order_relaxed))
      outcome_ = DiffOutcome::Cancelled;
    else if (limited_ && Clock::now() >= deadline_)
      outcome_ = DiffOutcome::TimeLimit;
    return outcome_ != DiffOutcome::Complete;
  }
  // Cheap enough for inner loops: looks at the flag and the clock every 4096th call.
  bool stoppedEvery() {
    return (++calls_ & 4095u) == 0 ? stopped() : outcome_ != DiffOutcome::Complete;
  }
  DiffOutcome outcome() const { return outcome_; }

 private:
  const std::atomic<bool>* cancel_;
  bool limited_;
  Clock::time_point deadline_;
  std::uint32_t calls_ = 0;
  DiffOutcome outcome_ = DiffOutcome::Complete;
};

// dtl cannot be interrupted; once the watch stops, every pair compares equal, so that it runs
// straight to the end, and its result for that stretch is thrown away.
class WatchedCompare : public dtl::Compare<std::uint32_t> {
 public:
  explicit WatchedCompare(Watch* watch = nullptr) : watch_(watch) {}
  bool impl(const std::uint32_t& a, const std::uint32_t& b) const override {
    return watch_->stoppedEvery() || a == b;
  }

 private:
  Watch* watch_;
};

// Collects equal lines and changes in order; a change is the removed and added lines between two
// equal stretches, which pair up as changed lines.
class OpBuilder {
 public:
  void equal(std::size_t count) {
    if (count == 0) return;
    flush();
    if (!ops_.empty() && ops_.back().kind == DiffOpKind::Equal) {
      ops_.back().oldCount += count;
      ops_.back().newCount += count;
    } else {
      ops_.push_back({DiffOpKind::Equal, oldPos_, count, newPos_, count, {}});
    }
    oldPos_ += count;
    newPos_ += count;
  }
  void removed(std::size_t count) { removed_ += count; }
  void added(std::size_t count) { added_ += count; }

  std::vector<DiffOp> finish() {
    flush();
    return std::move(ops_);
  }

 private:
  void flush() {
    const std::size_t paired = std::min(removed_, added_);
    if (paired > 0) ops_.push_back({DiffOpKind::Changed, oldPos_, paired, newPos_, paired, {}});
    if (removed_ > paired)
      ops_.push_back(
          {DiffOpKind::Removed, oldPos_ + paired, removed_ - paired, newPos_ + paired, 0, {}});
    if (added_ > paired)
      ops_.push_back(
          {DiffOpKind::Added, oldPos_ + paired, 0, newPos_ + paired, added_ - paired, {}});
    oldPos_ += removed_;
    newPos_ += added_;
    removed_ = added_ = 0;
  }

  std::vector<DiffOp> ops_;
  std::size_t oldPos_ = 0, newPos_ = 0, removed_ = 0, added_ = 0;
};

using Ids = std::vector<std::uint32_t>;

// One stretch between two anchors through dtl; false when the watch stopped meanwhile.
bool alignStretch(const Ids& a, std::size_t a0, std::size_t a1, const Ids& b, std::size_t b0,
                  std::size_t b1, Watch& watch, OpBuilder& out) {
  std::size_t head = 0;
  while (a0 + head < a1 && b0 + head < b1 && a[a0 + head] == b[b0 + head]) ++head;
  a0 += head;
  b0 += head;
  std::size_t tail = 0;
  while (a1 - tail > a0 && b1 - tail > b0 && a[a1 - tail - 1] == b[b1 - tail - 1]) ++tail;
  a1 -= tail;
  b1 -= tail;
  out.equal(head);
  if (a0 < a1 && b0 < b1) {
    Ids sa(a.begin() + std::ptrdiff_t(a0), a.begin() + std::ptrdiff_t(a1));
    Ids sb(b.begin() + std::ptrdiff_t(b0), b.begin() + std::ptrdiff_t(b1));
    dtl::Diff<std::uint32_t, Ids, WatchedCompare> diff(sa, sb, WatchedCompare(&watch));
    // Bounds dtl's record of its path (its cost grows with the square of the differences).
    diff.onHuge();
    diff.compose();
    if (watch.outcome() != DiffOutcome::Complete) return false;
    for (const auto& element : diff.getSes().getSequence()) {
      switch (element.second.type) {
        case dtl::SES_COMMON:
          out.equal(1);
          break;
        case dtl::SES_DELETE:
          out.removed(1);
          break;
        case dtl::SES_ADD:
          out.added(1);
          break;
      }
    }
  } else {
    out.removed(a1 - a0);
    out.added(b1 - b0);
  }
  out.equal(tail);
  return true;
}

// Pairs of positions of lines that occur exactly once on each side and keep their order: the
// longest such chain, found as patience sorting does. They cut the comparison into short
// stretches, between which the watch is asked.
std::vector<std::pair<std::size_t, std::size_t>> anchors(const Ids& a, const Ids& b,
                                                         std::size_t idCount) {
  constexpr std::uint32_t kNone = UINT32_MAX, kMany = UINT32_MAX - 1;
  std::vector<std::uint32_t> inA(idCount, kNone), inB(idCount, kNone);
  for (std::size_t i = 0; i < a.size(); ++i)
    inA[a[i]] = inA[a[i]] == kNone ? std::uint32_t(i) : kMany;
  for (std::size_t i = 0; i < b.size(); ++i)
    inB[b[i]] = inB[b[i]] == kNone ? std::uint32_t(i) : kMany;
  std::vector<std::pair<std::size_t, std::size_t>> unique;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (inA[a[i]] < kMany && inB[a[i]] < kMany) unique.emplace_back(i, inB[a[i]]);
  // tops[k]: index into unique of the smallest end of a chain of length k + 1.
  std::vector<std::size_t> tops, previous(unique.size());
  for (std::size_t i = 0; i < unique.size(); ++i) {
    const auto at =
        std::lower_bound(tops.begin(), tops.end(), unique[i].second,
                         [&](std::size_t t, std::size_t v) { return unique[t].second < v; });
    previous[i] = at == tops.begin() ? SIZE_MAX : *(at - 1);
    if (at == tops.end())
      tops.push_back(i);
    else
      *at = i;
  }
  std::vector<std::pair<std::size_t, std::size_t>> chain;
  for (std::size_t i = tops.empty() ? SIZE_MAX : tops.back(); i != SIZE_MAX; i = previous[i])
    chain.push_back(unique[i]);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

template <class Char>
CharRange trimmedRange(std::basic_string_view<Char> line, std::size_t head, std::size_t tail) {
  // A surrogate pair stays whole.
  if constexpr (sizeof(Char) == 2) {
    auto low = [](Char c) { return c >= 0xDC00 && c <= 0xDFFF; };
    if (head > 0 && head < line.size() && low(line[head])) --head;
    if (tail > 0 && tail < line.size() && low(line[line.size() - tail])) --tail;
  }
  return {head, line.size() - tail};
}

template <class Char>
ChangedChars changedChars(std::basic_string_view<Char> o, std::basic_string_view<Char> n) {
  const std::size_t shorter = std::min(o.size(), n.size());
  std::size_t head = 0;
  while (head < shorter && o[head] == n[head]) ++head;
  std::size_t tail = 0;
  while (tail < shorter - head && o[o.size() - 1 - tail] == n[n.size() - 1 - tail]) ++tail;
  return {trimmedRange(o, head, tail), trimmedRange(n, head, tail)};
}

template <class Char>
class Numbering {
 public:
  using View = std::basic_string_view<Char>;

  Numbering(const TextDiffOptions& options) : options_(options) {}

  // Equal lines get the same number; with white space ignored, after it is normalized.
  bool number(View text, const std::vector<TextLine>& lines, Ids& out, Watch& watch) {
    out.reserve(lines.size());
    std::basic_string<Char> normal;
    for (const TextLine& line : lines) {
      if (watch.stoppedEvery()) return false;
      View key = text.substr(line.begin, line.length + line.endLength);
      if (options_.ignoreWhitespaceChanges) {
        normal.clear();
        for (std::size_t i = 0; i < line.length; ++i) {
          const Char c = text[line.begin + i];
          if (!isBlank(c))
            normal.push_back(c);
          else if (i == 0 || !isBlank(text[line.begin + i - 1]))
            normal.push_back(Char(' '));
        }
        if (!normal.empty() && normal.back() == Char(' ')) normal.pop_back();
        stored_.push_back(normal);
        key = stored_.back();
      }
      out.push_back(ids_.emplace(key, std::uint32_t(ids_.size())).first->second);
    }
    return true;
  }
  std::size_t count() const { return ids_.size(); }

 private:
  const TextDiffOptions& options_;
  std::unordered_map<View, std::uint32_t> ids_;
  // The normalized lines the keys point into; a deque does not move them.
  std::deque<std::basic_string<Char>> stored_;
};

template <class Char>
TextDiff compare(std::basic_string_view<Char> oldText, std::basic_string_view<Char> newText,
                 const TextDiffOptions& options) {
  TextDiff result;
  Watch watch(options);
  const auto cancelled = [&] {
    result.outcome = DiffOutcome::Cancelled;
    return result;
  };
  if (watch.stopped() && watch.outcome() == DiffOutcome::Cancelled) return cancelled();

  const std::vector<TextLine> oldLines = splitLines(oldText, options.lineEnds);
  const std::vector<TextLine> newLines = splitLines(newText, options.lineEnds);
  result.oldLines = oldLines.size();
  result.newLines = newLines.size();
  Numbering<Char> numbering(options);
  Ids a, b;
  if (!numbering.number(oldText, oldLines, a, watch) ||
      !numbering.number(newText, newLines, b, watch)) {
    if (watch.outcome() == DiffOutcome::Cancelled) return cancelled();
    // Out of time before anything was compared: the whole as one change.
    OpBuilder coarse;
    coarse.removed(oldLines.size());
    coarse.added(newLines.size());
    result.ops = coarse.finish();
    result.outcome = DiffOutcome::TimeLimit;
  } else {
    OpBuilder builder;
    std::size_t a0 = 0, b0 = 0;
    bool exact = true;
    auto stretch = [&](std::size_t a1, std::size_t b1) {
      if (a1 == a0 && b1 == b0) return;
      if (exact) exact = !watch.stopped() && alignStretch(a, a0, a1, b, b0, b1, watch, builder);
      if (!exact) {
        builder.removed(a1 - a0);
        builder.added(b1 - b0);
      }
    };
    for (const auto& [ai, bi] : anchors(a, b, numbering.count())) {
      stretch(ai, bi);
      builder.equal(1);
      a0 = ai + 1;
      b0 = bi + 1;
    }
    stretch(a.size(), b.size());
    result.ops = builder.finish();
    if (!exact) result.outcome = watch.outcome();
    if (result.outcome == DiffOutcome::Cancelled) return cancelled();
  }

  for (DiffOp& op : result.ops) {
    if (op.kind == DiffOpKind::Equal) continue;
    result.removed += op.oldCount;
    result.added += op.newCount;
    if (op.kind != DiffOpKind::Changed) continue;
    op.chars.reserve(op.oldCount);
    for (std::size_t i = 0; i < op.oldCount; ++i) {
      if (watch.stoppedEvery() && watch.outcome() == DiffOutcome::Cancelled) return cancelled();
      const TextLine& o = oldLines[op.oldLine + i];
      const TextLine& n = newLines[op.newLine + i];
      op.chars.push_back(
          changedChars(oldText.substr(o.begin, o.length), newText.substr(n.begin, n.length)));
    }
  }
  result.identical = result.removed == 0 && result.added == 0;
  return result;
}

// Lines [from, to) of one side, each after `mark`; a line without a line end is the last of its
// text and is followed by patch's marker.
void appendLines(std::string& out, char mark, std::string_view text,
                 const std::vector<TextLine>& lines, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    out.push_back(mark);
    out.append(text.substr(lines[i].begin, lines[i].length + lines[i].endLength));
    if (lines[i].endLength == 0) out.append("\n\\ No newline at end of file\n");
  }
}

// "start,count" of a hunk's side as unified diffs count: from 1, and for no lines the line before.
std::string hunkRange(std::size_t first, std::size_t count) {
  const std::size_t start = count == 0 ? first : first + 1;
  return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

}  // namespace

std::vector<TextLine> splitTextLines(std::u16string_view text, DiffLineEnds ends) {
  return splitLines(text, ends);
}
std::vector<TextLine> splitTextLines(std::string_view text, DiffLineEnds ends) {
  return splitLines(text, ends);
}

TextDiff compareTexts(std::u16string_view oldText, std::u16string_view newText,
                      const TextDiffOptions& options) {
  return compare(oldText, newText, options);
}
TextDiff compareTexts(std::string_view oldText, std::string_view newText,
                      const TextDiffOptions& options) {
  return compare(oldText, newText, options);
}

std::string unifiedDiffHunks(std::string_view oldText, std::string_view newText,
                             const TextDiff& diff, std::size_t context) {
  const std::vector<TextLine> a = splitTextLines(oldText, DiffLineEnds::Lf);
  const std::vector<TextLine> b = splitTextLines(newText, DiffLineEnds::Lf);
  struct Change {
    std::size_t o0, o1, n0, n1;
  };
  std::vector<Change> changes;
  for (const DiffOp& op : diff.ops) {
    if (op.kind == DiffOpKind::Equal) continue;
    if (!changes.empty() && changes.back().o1 == op.oldLine && changes.back().n1 == op.newLine) {
      changes.back().o1 += op.oldCount;
      changes.back().n1 += op.newCount;
    } else {
      changes.push_back(
          {op.oldLine, op.oldLine + op.oldCount, op.newLine, op.newLine + op.newCount});
    }
  }
  std::string out;
  for (std::size_t i = 0; i < changes.size();) {
    std::size_t last = i;
    while (last + 1 < changes.size() && changes[last + 1].o0 - changes[last].o1 <= 2 * context)
      ++last;
    const std::size_t before = std::min(context, changes[i].o0);
    const std::size_t after = std::min(context, a.size() - changes[last].o1);
    const std::size_t oldStart = changes[i].o0 - before, newStart = changes[i].n0 - before;
    const std::size_t oldEnd = changes[last].o1 + after, newEnd = changes[last].n1 + after;
    out += "@@ -" + hunkRange(oldStart, oldEnd - oldStart) + " +" +
           hunkRange(newStart, newEnd - newStart) + " @@\n";
    std::size_t at = oldStart;
    for (std::size_t c = i; c <= last; ++c) {
      appendLines(out, ' ', oldText, a, at, changes[c].o0);
      appendLines(out, '-', oldText, a, changes[c].o0, changes[c].o1);
      appendLines(out, '+', newText, b, changes[c].n0, changes[c].n1);
      at = changes[c].o1;
    }
    appendLines(out, ' ', oldText, a, at, oldEnd);
    i = last + 1;
  }
  return out;
}

}  // namespace korva
