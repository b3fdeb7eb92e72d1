// The viewer core driven without a window: refreshes of a growing and a replaced log, the
// filter and the selection across them, the error limits, and the search's refusals.
#include "viewer/viewer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "index/file_error.h"
#include "log_generator.h"
#include "test_util.h"

namespace korva {
namespace {

using testing::makeBlock;
using testing::makeKey;
using testing::makeRequestLine;
using testing::TempDir;

// Records what the core tells the user, as a window would see it.
struct FakeHost : ViewerHost {
  std::vector<std::pair<std::string, ReportKind>> reports;
  std::vector<ListChange> changes;
  std::vector<std::pair<std::size_t, bool>> restored;
  std::function<void(Activity, std::uint8_t)> onProgress;
  int progressCalls = 0;
  std::size_t countDuringChange = 0;
  Viewer* viewer = nullptr;

  void progress(Activity activity, std::uint8_t percent, bool&) override {
    ++progressCalls;
    if (onProgress) onProgress(activity, percent);
  }
  void report(const std::string& text, ReportKind kind) override {
    reports.emplace_back(text, kind);
  }
  void listChanging(const ListChange&) override {
    if (viewer) countDuringChange = viewer->listCount();
  }
  void listChanged(const ListChange& c) override { changes.push_back(c); }
  void selectionRestored(std::size_t row, bool display) override {
    restored.emplace_back(row, display);
  }
};

void appendRequests(const TempDir& dir, int from, int to, const std::string& path = "a") {
  for (int i = from; i < to; ++i) {
    dir.append("HtmlRequest.log",
               makeRequestLine(makeKey(i), "GET http://host/" + path + std::to_string(i)));
    dir.append("HtmlResponse.log", makeBlock(makeKey(i), "body " + std::to_string(i)));
  }
}

TEST(ViewerTest, RefreshOfAGrowingLogAppendsFiltersTheNewRowsAndKeepsTheSelection) {
  TempDir dir;
  appendRequests(dir, 0, 20);
  FakeHost host;
  Viewer viewer(dir.path(), host);
  host.viewer = &viewer;
  viewer.refresh(RefreshMode::User);
  ASSERT_EQ(viewer.listCount(), 20u);
  EXPECT_EQ(viewer.indexText(), "Index neu aufgebaut, 20 Einträge");
  viewer.setFilter("host/a1");  // a1, a10..a19
  while (viewer.filterPending()) viewer.filterStep(3);
  ASSERT_EQ(viewer.listCount(), 11u);
  EXPECT_EQ(viewer.countText(), "11 von 20 Anfragen");
  viewer.select(2);  // a11
  EXPECT_EQ(viewer.selectedRow(), 11u);

  // Appended rows come as an insert at the end of the list, filtered, announced while the list
  // still has its old count; live refresh does not show a found response anew.
  host.changes.clear();
  viewer.setDisplayed(true, 7);
  appendRequests(dir, 20, 200, "a1");
  viewer.refresh(RefreshMode::Live);
  ASSERT_EQ(host.changes.size(), 1u);
  EXPECT_EQ(host.changes[0].kind, ListChange::Kind::Appended);
  EXPECT_EQ(host.changes[0].first, 11u);
  EXPECT_EQ(host.changes[0].count, 180u);
  EXPECT_EQ(host.countDuringChange, 11u);
  EXPECT_EQ(viewer.listCount(), 191u);
  EXPECT_EQ(viewer.selectedListRow(), 2u);
  EXPECT_EQ(host.restored.back(), std::make_pair(std::size_t{2}, false));
  EXPECT_EQ(viewer.capture().index()->size(), 200u);
  viewer.refresh(RefreshMode::User);  // F5 shows it anew, as the user's refresh always did
  EXPECT_EQ(host.restored.back(), std::make_pair(std::size_t{2}, true));

  // A filter the selected request fails hides it; clearing the filter shows it selected again.
  viewer.setFilter("host/a19");
  viewer.finishFilter();
  EXPECT_EQ(viewer.selectedListRow(), std::nullopt);
  viewer.setFilter("");
  EXPECT_EQ(viewer.selectedListRow(), 11u);

  // A replaced log resets the list, drops the hits and keeps no selection whose line changed.
  ASSERT_TRUE(viewer.searchAll("body 1"));
  EXPECT_FALSE(viewer.hits().empty());
  dir.write("HtmlRequest.log", "");
  dir.write("HtmlResponse.log", "");
  appendRequests(dir, 100, 105, "b");
  host.changes.clear();
  viewer.refresh(RefreshMode::Live);
  ASSERT_EQ(host.changes.size(), 1u);
  EXPECT_EQ(host.changes[0].kind, ListChange::Kind::Reset);
  EXPECT_EQ(viewer.listCount(), 5u);
  EXPECT_TRUE(viewer.hits().empty());
  EXPECT_EQ(viewer.selectedRow(), std::nullopt);

  // A filter run half done when the log is replaced starts again over the new rows.
  viewer.setFilter("host/b");
  viewer.filterStep(3);
  dir.write("HtmlRequest.log", "");
  appendRequests(dir, 200, 210, "b");
  viewer.refresh(RefreshMode::User);
  viewer.finishFilter();
  EXPECT_EQ(viewer.listCount(), 10u);
  EXPECT_EQ(viewer.listEntry(0).substr(0, 24), makeKey(200));
  EXPECT_TRUE(host.reports.empty());
}

// F5 shows each failure in a box, the build's own ten and then a count; a refresh by itself
// notices each distinct failure once and never opens a box.
TEST(ViewerTest, ErrorsAreLimitedUnderF5AndNoticedOnceUnderLiveRefresh) {
  TempDir dir;
  std::string response;
  for (int i = 0; i < 30; ++i) response += makeBlock(makeKey(1));  // 29 duplicates
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)));
  for (const RefreshMode mode : {RefreshMode::User, RefreshMode::Live}) {
    FakeHost host;
    Viewer viewer(dir.path(), host);
    // The index keeps the first block of the key, so every refresh resumes after it and meets
    // the same duplicates again, as with a recorder that keeps writing them.
    dir.write("HtmlResponse.log", response);
    for (int i = 0; i < 3; ++i) viewer.refresh(mode);
    if (mode == RefreshMode::User) {
      ASSERT_EQ(host.reports.size(), 33u);
      EXPECT_EQ(host.reports[10].first,
                "48 weitere Fehler beim Aufbau des Index wurden nicht einzeln angezeigt.");
      for (const auto& [text, kind] : host.reports) EXPECT_EQ(kind, ReportKind::BuildError);
    } else {
      ASSERT_FALSE(host.reports.empty());
      EXPECT_LE(host.reports.size(), 2u);
      std::set<std::string> distinct;
      for (const auto& [text, kind] : host.reports) {
        EXPECT_EQ(kind, ReportKind::Notice);
        EXPECT_TRUE(distinct.insert(text).second);
      }
    }
  }
  // A missing request log: a warning under F5, a single notice however often it recurs.
  std::remove(dir.file("HtmlRequest.log").c_str());
  FakeHost host;
  Viewer viewer(dir.path(), host);
  viewer.refresh(RefreshMode::Live);
  viewer.refresh(RefreshMode::Live);
  viewer.refresh(RefreshMode::User);
  ASSERT_EQ(host.reports.size(), 2u);
  EXPECT_EQ(host.reports[0].second, ReportKind::Notice);
  EXPECT_EQ(host.reports[1].second, ReportKind::Warning);
  EXPECT_EQ(viewer.listCount(), 0u);
}

// A search started from inside a build's progress event is refused: it would read a half-built
// index. After the build it covers every request, and its texts group the digits.
TEST(ViewerTest, SearchIsRefusedDuringABuildAndCountsInGerman) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) {
    dir.append("HtmlRequest.log", makeRequestLine(makeKey(i)));
    dir.append("HtmlResponse.log",
               makeBlock(makeKey(i), std::string(4000, 'x') + std::string(4, ' ') + "wort"));
  }
  FakeHost host;
  Viewer viewer(dir.path(), host);
  std::vector<std::string> refusals;
  host.onProgress = [&](Activity activity, std::uint8_t) {
    if (activity != Activity::IndexBuild) return;
    std::string why;
    if (!viewer.searchAll("wort", &why)) refusals.push_back(why);
  };
  viewer.refresh(RefreshMode::User);
  ASSERT_FALSE(refusals.empty());
  EXPECT_EQ(refusals[0], "Während der Index aufgebaut wird, kann nicht gesucht werden.");
  EXPECT_TRUE(viewer.hits().empty());
  host.onProgress = nullptr;
  ASSERT_TRUE(viewer.searchAll("x"));
  EXPECT_EQ(viewer.hits().size(), 300u);
  EXPECT_EQ(viewer.hitsText(), "„x“: 1.200.000 Treffer in 300 Antworten");
  std::string why;
  EXPECT_FALSE(viewer.searchAll("/(/", &why));
  EXPECT_FALSE(why.empty());
}

TEST(ViewerTest, OpeningAFolderWithoutLogsFailsAndTheFolderIsAbsolute) {
  TempDir dir;
  FakeHost host;
  Viewer missing(dir.path(), host);
  EXPECT_THROW(missing.open(), FileError);
  dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)));
  EXPECT_THROW(missing.open(), FileError);  // the response log is missing
  dir.write("HtmlResponse.log", makeBlock(makeKey(1)));
  missing.open();
  EXPECT_EQ(missing.listCount(), 1u);
  EXPECT_EQ(missing.folder().front(), '/');
}

}  // namespace
}  // namespace korva
