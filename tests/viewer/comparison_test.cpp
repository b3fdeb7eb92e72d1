// The comparison as the window shows it: the aligned lines and their marks, where the changes
// start, the texts, the task's cancel, and the marked request across a refresh.
#include "viewer/comparison.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>

#include "test_util.h"
#include "viewer/viewer.h"

namespace korva {
namespace {

using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::TempDir;

// One character per aligned line: = equal, - removed, + added, ~ changed, _ filler.
std::string marks(const AlignedText& side) {
  std::string out;
  for (LineMark m : side.marks) out += "=-+~_"[static_cast<int>(m)];
  return out;
}

TEST(ComparisonTest, LinesAlignWithFillersAndEachRunOfChangesCountsOnce) {
  struct Case {
    std::u16string oldText, newText;
    std::string left, right;
    std::vector<std::size_t> changes;
    std::u16string leftText, rightText;
  };
  const Case cases[] = {
      {u"a\nb\nc", u"a\nb\nc", "===", "===", {}, u"a\nb\nc", u"a\nb\nc"},
      {u"a\nc", u"a\nb\nc", "=_=", "=+=", {1}, u"a\n\nc", u"a\nb\nc"},
      {u"a\nb\nc", u"a\nc", "=-=", "=_=", {1}, u"a\nb\nc", u"a\n\nc"},
      {u"a\nb\nc", u"a\nB\nc", "=~=", "=~=", {1}, u"a\nb\nc", u"a\nB\nc"},
      // Changes at both ends are two changes; CR-only and CR LF line ends read as lines.
      {u"x\rm\r\ny", u"X\rm\r\nY", "~=~", "~=~", {0, 2}, u"x\nm\ny", u"X\nm\nY"},
      {u"", u"a\nb", "__", "++", {0}, u"\n", u"a\nb"},
  };
  for (const Case& c : cases) {
    const Comparison cmp =
        alignComparison(c.oldText, c.newText, compareTexts(c.oldText, c.newText));
    SCOPED_TRACE(std::string(c.left) + " / " + c.right);
    EXPECT_EQ(marks(cmp.left), c.left);
    EXPECT_EQ(marks(cmp.right), c.right);
    EXPECT_EQ(cmp.changes, c.changes);
    EXPECT_EQ(cmp.left.text, c.leftText);
    EXPECT_EQ(cmp.right.text, c.rightText);
    EXPECT_EQ(cmp.identical, c.changes.empty());
  }
  // A changed line knows its changed characters, on its own line of each side.
  const Comparison cmp = alignComparison(u"k\nvalue=1;", u"k\nvalue=22;",
                                         compareTexts(u"k\nvalue=1;", u"k\nvalue=22;"));
  ASSERT_EQ(cmp.right.changedChars.size(), 1u);
  EXPECT_EQ(cmp.right.changedChars[0].first, 1u);
  EXPECT_EQ(cmp.right.changedChars[0].second.begin, 6u);
  EXPECT_EQ(cmp.right.changedChars[0].second.end, 8u);

  EXPECT_EQ(changePositionText(0, 0), "Keine Änderung");
  EXPECT_EQ(changePositionText(0, 1), "1 Änderung");
  EXPECT_EQ(changePositionText(2, 1234), "Änderung 2 von 1.234");
  EXPECT_EQ(comparisonSummaryText(cmp), "+1 \u22121 Zeilen");
}

TEST(ComparisonTest, TaskReadsAndPreparesBothSidesOnItsThreadAndACancelEndsIt) {
  TempDir dir;
  // Both blocks in a log of their own, found by a scan from its start.
  auto run = [&](ComparisonSettings settings, const std::string& a, const std::string& b,
                 std::function<void()> afterCancel, const std::string& log = "HtmlResponse.log") {
    dir.write("HtmlResponse.log", makeBlock(makeKey(1), a) + makeBlock(makeKey(2), b));
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
    const std::string path = dir.path() + "/" + log;
    ComparisonTask task(ResponseLocation{path, makeKey(1), 0},
                        ResponseLocation{path, makeKey(2), 0}, std::move(settings), [&] {
                          std::lock_guard<std::mutex> lock(m);
                          finished = true;
                          cv.notify_all();
                        });
    if (afterCancel) {
      task.cancel();
      afterCancel();
    }
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return finished; });
    lock.unlock();
    EXPECT_TRUE(task.done());
    return task.take();
  };
  ComparisonSettings filtered;
  filtered.filters.stripComments = true;
  filtered.transform = [](std::u16string t) { return t + u"\nend"; };
  // The filters and the transform run on both sides: a comment is all that differs.
  Comparison same = run(filtered, "<p>a</p><!-- 1 -->\r\n", "<p>a</p><!-- 2 -->\r\n", nullptr);
  EXPECT_TRUE(same.identical);
  EXPECT_EQ(same.left.line(same.left.marks.size() - 1), u"end");
  EXPECT_EQ(comparisonSummaryText(same), "Die Antworten sind gleich");
  // The task waits in its first step until the cancel is set, so that the cancel comes first.
  std::promise<void> cancelSet;
  std::shared_future<void> gate = cancelSet.get_future().share();
  ComparisonSettings gated;
  gated.decode = [gate](std::string_view bytes) {
    gate.wait();
    return std::u16string(bytes.begin(), bytes.end());
  };
  std::string big(200000, 'x');
  for (std::size_t i = 0; i < big.size(); i += 8) big.replace(i, 2, "\r\n");
  Comparison cancelled = run(gated, big, big + "y\r\n", [&] { cancelSet.set_value(); });
  EXPECT_EQ(cancelled.outcome, DiffOutcome::Cancelled);
  EXPECT_TRUE(cancelled.left.marks.empty());
  EXPECT_EQ(comparisonSummaryText(cancelled), "Vergleich abgebrochen");
  // A log that cannot be read is said, not compared.
  Comparison unread = run(ComparisonSettings{}, "a\r\n", "b\r\n", nullptr, "missing.log");
  EXPECT_EQ(unread.outcome, DiffOutcome::Cancelled);
  EXPECT_NE(comparisonSummaryText(unread).find("missing.log"), std::string::npos);
}

struct QuietHost : ViewerHost {
  void progress(Activity, std::uint8_t, bool&) override {}
  void report(const std::string&, ReportKind) override {}
};

TEST(ComparisonTest, TheMarkedRequestStaysUntilAnotherIsMarkedOrTheLogIsReplaced) {
  TempDir dir;
  auto write = [&](const std::string& path) {
    dir.write("HtmlRequest.log", makeRequestLine(makeKey(1), "GET /" + path) +
                                     makeRequestLine(makeKey(2), "GET /two"));
    dir.write("HtmlResponse.log", makeBlock(makeKey(1), "one") + makeBlock(makeKey(2), "two"));
  };
  write("one");
  QuietHost host;
  Viewer viewer(dir.path(), host);
  viewer.refresh(RefreshMode::User);
  EXPECT_FALSE(viewer.markSelected());  // nothing selected
  viewer.select(0);
  EXPECT_TRUE(viewer.markSelected());
  viewer.select(1);
  EXPECT_EQ(viewer.markedRow(), 0u);
  viewer.refresh(RefreshMode::User);
  EXPECT_EQ(viewer.markedRow(), 0u);
  write("other");  // another request at the marked row
  viewer.refresh(RefreshMode::User);
  EXPECT_EQ(viewer.markedRow(), std::nullopt);
}

}  // namespace
}  // namespace korva
