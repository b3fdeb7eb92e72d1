#include "view/text_diff.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run_process.h"
#include "test_util.h"

namespace korva {
namespace {

std::vector<std::u16string> linesOf(std::u16string_view text, DiffLineEnds ends) {
  std::vector<std::u16string> out;
  for (const TextLine& l : splitTextLines(text, ends))
    out.emplace_back(text.substr(l.begin, l.length + l.endLength));
  return out;
}

// The plain reference: the length of a longest common subsequence of lines by the quadratic table.
std::size_t lcsLength(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b) {
  std::vector<std::vector<std::size_t>> t(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = a.size(); i-- > 0;)
    for (std::size_t j = b.size(); j-- > 0;)
      t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
  return t[0][0];
}

// The ops cover both sides in order without gaps, equal lines are equal, and the counts add up.
void expectConsistent(const TextDiff& d, const std::vector<std::u16string>& a,
                      const std::vector<std::u16string>& b) {
  std::size_t o = 0, n = 0, removed = 0, added = 0;
  for (const DiffOp& op : d.ops) {
    ASSERT_EQ(op.oldLine, o);
    ASSERT_EQ(op.newLine, n);
    if (op.kind == DiffOpKind::Equal) {
      for (std::size_t i = 0; i < op.oldCount; ++i) ASSERT_EQ(a[o + i], b[n + i]);
    } else {
      removed += op.oldCount;
      added += op.newCount;
    }
    if (op.kind == DiffOpKind::Equal || op.kind == DiffOpKind::Changed) {
      ASSERT_EQ(op.oldCount, op.newCount);
    }
    ASSERT_EQ(op.chars.size(), op.kind == DiffOpKind::Changed ? op.oldCount : 0u);
    o += op.oldCount;
    n += op.newCount;
  }
  EXPECT_EQ(o, a.size());
  EXPECT_EQ(n, b.size());
  EXPECT_EQ(d.removed, removed);
  EXPECT_EQ(d.added, added);
  EXPECT_EQ(d.identical, removed + added == 0);
}

// Ops as "=n" (equal), "-n", "+n", "~n" (changed), each with its length.
std::string shapeOf(const TextDiff& d) {
  std::string s;
  for (const DiffOp& op : d.ops) {
    if (!s.empty()) s += ' ';
    s += "=-+~"[static_cast<int>(op.kind)];
    s += std::to_string(op.kind == DiffOpKind::Added ? op.newCount : op.oldCount);
  }
  return s;
}

struct Case {
  const char* name;
  std::u16string oldText, newText;
  const char* shape;  // null: more than one shortest alignment
  DiffLineEnds ends = DiffLineEnds::Display;
};

TEST(TextDiffTest, SmallCasesAgainstTheReference) {
  const Case cases[] = {
      {"identical", u"a\nb\nc\n", u"a\nb\nc\n", "=3"},
      {"both empty", u"", u"", ""},
      {"old empty", u"", u"a\nb\n", "+2"},
      {"new empty", u"a\nb", u"", "-2"},
      {"insert at start", u"b\nc\n", u"a\nb\nc\n", "+1 =2"},
      {"insert at end", u"a\nb\n", u"a\nb\nc\n", "=2 +1"},
      {"delete at start", u"a\nb\nc\n", u"b\nc\n", "-1 =2"},
      {"delete at end", u"a\nb\nc\n", u"a\nb\n", "=2 -1"},
      {"change at start", u"x\nb\nc\n", u"y\nb\nc\n", "~1 =2"},
      {"change at end", u"a\nb\nx\n", u"a\nb\ny\n", "=2 ~1"},
      {"change, then more added", u"a\nx\nc\n", u"a\ny\nz\nc\n", "=1 ~1 +1 =1"},
      {"moved block", u"1\n2\n3\n4\n5\n", u"4\n5\n1\n2\n3\n", "+2 =3 -2"},
      {"no final line end", u"a\nb", u"a\nb\n", "=1 ~1"},
      {"CR only", u"a\rb\rc\r", u"a\rB\rc\r", "=1 ~1 =1"},
      {"CR, CR LF, LF alike as ends", u"a\r\nb\rc\n", u"a\r\nb\rc\n", "=3"},
      {"another line end is a change", u"a\r\nb\n", u"a\nb\n", "~1 =1"},
      {"CR only as patch reads lines", u"a\rb\rc\r", u"a\rB\rc\r", "~1", DiffLineEnds::Lf},
      {"repeated lines", u"x\nx\nx\ny\n", u"x\ny\nx\ny\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextDiffOptions options;
    options.lineEnds = c.ends;
    const TextDiff d = compareTexts(c.oldText, c.newText, options);
    const auto a = linesOf(c.oldText, c.ends), b = linesOf(c.newText, c.ends);
    EXPECT_EQ(d.outcome, DiffOutcome::Complete);
    if (c.shape) {
      EXPECT_EQ(shapeOf(d), c.shape);
    }
    EXPECT_EQ(d.removed + d.added, a.size() + b.size() - 2 * lcsLength(a, b));
    expectConsistent(d, a, b);
    // Bytes as the command-line tool compares them give the same alignment.
    const std::string oldBytes(c.oldText.begin(), c.oldText.end());
    const std::string newBytes(c.newText.begin(), c.newText.end());
    EXPECT_EQ(shapeOf(compareTexts(oldBytes, newBytes, options)), shapeOf(d));
  }
}

TEST(TextDiffTest, ChangedCharactersAndWhitespace) {
  struct Row {
    std::u16string oldLine, newLine;
    std::size_t oldBegin, oldEnd, newBegin, newEnd;
  } rows[] = {
      {u"abcXdef", u"abcYYdef", 3, 4, 3, 5},
      {u"abc", u"abcd", 3, 3, 3, 4},
      {u"xbc", u"bc", 0, 1, 0, 0},
      {u"aaa", u"aa", 2, 3, 2, 2},
      // A surrogate pair that differs in its low half is marked whole.
      {u"a\U0001F600b", u"a\U0001F601b", 1, 3, 1, 3},
  };
  for (const Row& r : rows) {
    const TextDiff d = compareTexts(r.oldLine + u"\n", r.newLine + u"\r\n");
    ASSERT_EQ(shapeOf(d), "~1");
    const ChangedChars& c = d.ops[0].chars[0];
    EXPECT_EQ(std::vector<std::size_t>(
                  {c.oldRange.begin, c.oldRange.end, c.newRange.begin, c.newRange.end}),
              std::vector<std::size_t>({r.oldBegin, r.oldEnd, r.newBegin, r.newEnd}))
        << std::string(r.newLine.begin(), r.newLine.end());
  }

  TextDiffOptions ignore;
  ignore.ignoreWhitespaceChanges = true;
  EXPECT_TRUE(compareTexts(u"a  b \t\r\nc\n", u"a b\nc", ignore).identical);
  EXPECT_EQ(shapeOf(compareTexts(u"a b\n", u"ab\n", ignore)), "~1");
  EXPECT_EQ(shapeOf(compareTexts(u"a\n", u" a\n", ignore)), "~1");
  EXPECT_FALSE(compareTexts(u"a  b\n", u"a b\n").identical);
}

std::u16string generated(std::size_t lines, unsigned seed, unsigned changeEvery) {
  std::u16string text;
  for (std::size_t i = 0; i < lines; ++i) {
    const std::size_t v = (i * 2654435761u + seed * (i % changeEvery == 0)) % 1000003;
    for (char ch : "<td>" + std::to_string(v) + (i % 7 == 0 ? "</tr>" : "</td>") + "\r\n")
      text.push_back(ch);
  }
  return text;
}

TEST(TextDiffTest, TimeLimitAndCancel) {
  const std::u16string a = generated(400000, 0, 50), b = generated(400000, 1, 50);
  std::atomic<bool> cancel{true};
  TextDiffOptions options;
  options.cancel = &cancel;
  auto start = std::chrono::steady_clock::now();
  TextDiff d = compareTexts(a, b, options);
  EXPECT_EQ(d.outcome, DiffOutcome::Cancelled);
  EXPECT_TRUE(d.ops.empty());
  EXPECT_FALSE(d.identical);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));

  // Set while it runs, from another thread.
  cancel = false;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cancel = true;
  });
  d = compareTexts(a, b, options);
  canceller.join();
  EXPECT_EQ(d.outcome, DiffOutcome::Cancelled);

  // Past the limit the rest is coarser, but still an alignment of all lines.
  options.cancel = nullptr;
  options.timeLimit = std::chrono::milliseconds(1);
  start = std::chrono::steady_clock::now();
  d = compareTexts(a, b, options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(d.outcome, DiffOutcome::TimeLimit);
  const auto la = linesOf(a, DiffLineEnds::Display), lb = linesOf(b, DiffLineEnds::Display);
  expectConsistent(d, la, lb);
  options.timeLimit = std::chrono::milliseconds(0);
  const TextDiff exact = compareTexts(a, b, options);
  EXPECT_EQ(exact.outcome, DiffOutcome::Complete);
  EXPECT_GT(d.removed, exact.removed);
  EXPECT_EQ(exact.removed, 400000u / 50);
}

// Texts of a few distinct lines with every kind of line end, often without a final one.
std::string randomText(std::mt19937& rng, std::size_t lines) {
  static const char* const kLines[] = {"a", "b", "<p>", "", " x ", "c c"};
  static const char* const kEnds[] = {"\n", "\r\n", "\r", "\n", "\r\n"};
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += std::string(kLines[rng() % 6]) + kEnds[rng() % 5];
  if (!text.empty() && rng() % 3 == 0) text.pop_back();
  return text;
}

std::string mutated(std::mt19937& rng, std::string text) {
  for (int edits = static_cast<int>(rng() % 4); edits-- > 0;) {
    const std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
    switch (rng() % 3) {
      case 0:
        text.insert(at, rng() % 2 ? "neu\n" : "\r");
        break;
      case 1:
        text.erase(at, rng() % 6);
        break;
      case 2:
        text.insert(at, "y");
        break;
    }
  }
  return text;
}

TEST(TextDiffTest, PatchTurnsTheOldTextIntoTheNew) {
  if (::access("/usr/bin/patch", X_OK) != 0) GTEST_SKIP() << "patch(1) is not installed";
  testing::TempDir dir;
  std::mt19937 rng(19);
  TextDiffOptions lf;
  lf.lineEnds = DiffLineEnds::Lf;
  for (int round = 0; round < 60; ++round) {
    const std::string oldText = randomText(rng, rng() % 12);
    const std::string newText = round % 10 == 0 ? oldText : mutated(rng, oldText);
    const std::size_t context = static_cast<std::size_t>(round % 3) * 2;
    SCOPED_TRACE(::testing::PrintToString(oldText) + " -> " + ::testing::PrintToString(newText));
    const TextDiff d = compareTexts(oldText, newText, lf);
    const std::string hunks = unifiedDiffHunks(oldText, newText, d, context);
    ASSERT_EQ(d.identical, oldText == newText);
    if (d.identical) {
      EXPECT_EQ(hunks, "");
      continue;
    }
    dir.write("old", oldText);
    dir.write("patch", "--- alt\n+++ neu\n" + hunks);
    const auto applied = testing::runProcess(
        "/usr/bin/patch", {"-s", "-F", "0", "--no-backup-if-mismatch", "-r", dir.file("rej"),
                           dir.file("old"), dir.file("patch")});
    ASSERT_EQ(applied.exitCode, 0) << applied.out << applied.err << hunks;
    ASSERT_EQ(dir.read("old"), newText) << hunks;
  }
}

}  // namespace
}  // namespace korva
