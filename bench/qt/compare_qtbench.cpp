// The formatted view and the comparison in the whole window, offscreen: a click until a 30 MB
// single-line page shows formatted, and "Mit vorgemerkter Antwort vergleichen" on two 2 MB and two
// 20 MB responses (about 1% of their lines changed) until the result shows, each with the longest
// stall of the window's event loop meanwhile. Prints one line per figure.
//
//   compare_qtbench
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/comparison_window.h"
#include "app/frmHaupt.h"
#include "view/rendered_view.h"

namespace fs = std::filesystem;

namespace {

std::string key(int n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "20261209-REQ-%011d", n);
  return buffer;
}

// A folder with one request per body, written as the recorder writes them.
std::string makeFolder(const std::vector<std::string>& bodies) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder =
      std::string(tmp ? tmp : "/tmp") + "/korva-compare-bench-" + std::to_string(::getpid());
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::FILE* requests = std::fopen((folder + "/HtmlRequest.log").c_str(), "wb");
  std::FILE* responses = std::fopen((folder + "/HtmlResponse.log").c_str(), "wb");
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const std::string k = key(static_cast<int>(i));
    std::fprintf(requests, "%s - GET http://host/%zu HTTP/1.1\r\n", k.c_str(), i);
    std::fprintf(responses, "%s\r\n", k.c_str());
    std::fwrite(bodies[i].data(), 1, bodies[i].size(), responses);
    std::fprintf(responses, "\r\n200 %010zu B 0001 ms\r\n%s\r\n", bodies[i].size(),
                 std::string(47, '-').c_str());
  }
  std::fclose(requests);
  std::fclose(responses);
  return folder;
}

// A page of `bytes` as one line, as minified pages come.
std::string minifiedPage(std::size_t bytes) {
  std::string page = "<!DOCTYPE html><html><head><title>t</title></head><body>";
  for (int i = 0; page.size() < bytes; ++i)
    page += "<div class=\"row\"><p>Artikel " + std::to_string(i) +
            " <b>fett</b> und <a href=\"/a/" + std::to_string(i) + "\">ein Link</a></p></div>";
  return page + "</body></html>";
}

// A page of `bytes` in lines; `changed` changes every 100th line.
std::string linedPage(std::size_t bytes, bool changed) {
  std::string page;
  for (int i = 0; page.size() < bytes; ++i) {
    page += "<tr><td>Zeile " + std::to_string(i) + "</td><td>Wert " +
            std::to_string(changed && i % 100 == 7 ? i * 3 : i) + "</td></tr>\r\n";
  }
  return page;
}

// Watches the event loop: the longest gap between two ticks of a 5 ms timer.
struct StallWatch {
  QTimer timer;
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  StallWatch() {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const qint64 now = clock.elapsed();
      longest = std::max(longest, now - last);
      last = now;
    });
    clock.start();
    timer.start();
  }
};

template <typename F>
void waitFor(F done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void settle() {
  QElapsedTimer idle;
  idle.start();
  while (idle.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void select(korva::frmHaupt& window, int row) {
  auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lstRequest"));
  list->setCurrentIndex(list->model()->index(row, 0));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  const std::string folder = makeFolder({"<p>small</p>", minifiedPage(30u << 20),
                                         linedPage(2u << 20, false), linedPage(2u << 20, true),
                                         linedPage(20u << 20, false), linedPage(20u << 20, true)});
  {
    korva::frmHaupt window(folder);
    window.Form_Load();
    window.show();
    window.mnuAnsichtBrowserQuelltext_Click();  // the source view up
    window.findChild<QAction*>(QStringLiteral("mnuAnsichtFormatiert"))->trigger();
    select(window, 0);
    QCoreApplication::processEvents();
    // Medians: a later click may find the memory of an earlier one free to reuse.
    std::vector<double> first, whole;
    double worstStall = 0;
    for (int i = 0; i < 5; ++i) {
      select(window, 0);
      QCoreApplication::processEvents();
      StallWatch watch;
      QElapsedTimer timer;
      timer.start();
      select(window, 1);
      waitFor([&] { return window.formattedShown(); });
      first.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      waitFor([&] { return !window.formattingPending(); });
      whole.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      settle();  // the stall counts until the view is idle again: its first paint is in it
      worstStall = std::max(worstStall, static_cast<double>(watch.longest));
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    std::printf(
        "click to the formatted source view, 30 MB single-line page: first lines shown %.0f ms, "
        "the whole text %.0f ms (medians of 5); longest event-loop stall meanwhile %.0f ms\n",
        median(first), median(whole), worstStall);

    for (int pair : {2, 4}) {
      for (bool formatted : {true, false}) {
        select(window, pair);
        window.findChild<QAction*>(QStringLiteral("mnuVergleichenVormerken"))->trigger();
        select(window, pair + 1);
        // The main window's own display of the big response first: it is not the comparison's.
        waitFor([&] { return !window.formattingPending(); });
        settle();
        double ms = 1e9, stall = 0;
        std::size_t changes = 0;
        for (int i = 0; i < 3; ++i) {
          StallWatch watch;
          QElapsedTimer timer;
          timer.start();
          window.findChild<QAction*>(QStringLiteral("mnuVergleichenVergleichen"))->trigger();
          korva::ComparisonWindow* cmp = window.comparisonWindow();
          if (cmp->unformattedOption()->isChecked() == formatted) {
            cmp->unformattedOption()->setChecked(!formatted);  // starts it anew
            timer.restart();
          }
          waitFor([&] { return !cmp->running(); });
          ms = std::min(ms, static_cast<double>(timer.nsecsElapsed()) / 1e6);
          stall = std::max(stall, static_cast<double>(watch.longest));
          changes = cmp->comparison().changes.size();
        }
        std::printf(
            "comparison of two %d MB responses (%zu changes, %s): %.0f ms to the result shown "
            "(best of 3); longest event-loop stall meanwhile %.0f ms\n",
            pair == 2 ? 2 : 20, changes, formatted ? "formatted" : "unformatted", ms, stall);
      }
    }
  }
  fs::remove_all(folder);
  return 0;
}
