// The main window driven as a user would: start-up, refresh, the deferred close, the display,
// the filters, the view switch, the search keys and the layout.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>
#include <memory>

#include "app/aligned_text_view.h"
#include "app/comparison_window.h"
#include "app/frmHaupt.h"
#include "app/live_refresh.h"
#include "app/request_list_model.h"
#include "app/translations.h"
#include "fake_dialogs.h"
#include "index/clsIndex.h"
#include "test_util.h"
#include "view/charset.h"
#include "view/clsTextBox.h"
#include "view/rendered_view.h"
#include "view/source_view.h"

using korva::frmHaupt;
using korva::UserDialogs;
using korva::testing::FakeDialogs;
using korva::testing::makeBlock;
using korva::testing::makeKey;
using korva::testing::makeRequestLine;
using korva::testing::TempDir;

namespace {

bool germanInstalled = false;  // set by main(), as the program does it

// A folder with `count` requests; block i has body "<p>body i</p>" plus `extra`.
void writeLogs(const TempDir& dir, int count, const std::string& extra = "") {
  std::string request, response;
  for (int i = 0; i < count; ++i) {
    request += makeRequestLine(makeKey(i), "GET http://host/" + std::to_string(i) + " HTTP/1.1");
    response += makeBlock(makeKey(i), "<p>body " + std::to_string(i) + "</p>" + extra + "\r\n");
  }
  dir.write("HtmlRequest.log", request);
  dir.write("HtmlResponse.log", response);
}

template <typename T>
T* child(frmHaupt& w, const char* name) {
  T* found = w.findChild<T*>(QString::fromLatin1(name));
  if (!found) qFatal("no child %s", name);
  return found;
}

QAction* action(frmHaupt& w, const char* name) { return child<QAction>(w, name); }

void select(frmHaupt& w, int row) {
  auto* list = child<QAbstractItemView>(w, "lstRequest");
  list->setCurrentIndex(list->model()->index(row, 0));
}

QString sourceText(frmHaupt& w) { return w.source()->Text(); }

// Whether the status bar's passing message is what it paints: the message is drawn left of the
// permanent fields, so they must leave it room, and the folder field gives way while it shows.
bool messageVisible(frmHaupt& w, const QString& text) {
  QStatusBar* bar = w.statusBar();
  QCoreApplication::processEvents();
  if (bar->currentMessage() != text) return false;
  if (child<QLabel>(w, "lblStatusFolder")->isVisible()) return false;
  int left = bar->width();
  for (const char* name : {"lblStatusCount", "lblStatusIndex", "lblStatusResponse"}) {
    QLabel* field = child<QLabel>(w, name);
    if (field->isVisible() && !field->text().isEmpty()) left = std::min(left, field->x());
  }
  return bar->fontMetrics().horizontalAdvance(text) + 8 < left;
}

// Lets pending events and timers run until the window has gone or the time is up.
bool waitUntilClosed(frmHaupt& w, int ms = 5000) {
  return QTest::qWaitFor([&] { return !w.isVisible(); }, ms);
}

struct Started {
  TempDir dir;
  FakeDialogs dialogs;
  std::unique_ptr<frmHaupt> window;
  void start() {
    window = std::make_unique<frmHaupt>(dir.path(), &dialogs);
    window->Form_Load();
  }
};

}  // namespace

class TestFrmHaupt : public QObject {
  Q_OBJECT

 private slots:
  void startUpShowsEveryControlAndMenu() {
    Started s;
    writeLogs(s.dir, 3);
    s.start();
    frmHaupt& w = *s.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Korvashimtale"));
    QCOMPARE(w.size(), QSize(1024, 768));
    QVERIFY(!w.windowIcon().isNull());
    for (const char* name : {"lstRequest", "txtRequest", "txtSource_", "brwBrowser", "frmProgress",
                             "lblProgress", "Line1", "Line2", "Line3", "Line4"})
      QVERIFY2(w.findChild<QWidget*>(QString::fromLatin1(name)), name);
    QVERIFY(w.findChild<QTimer*>(QStringLiteral("tmeUnload")));
    const std::pair<const char*, const char*> menus[] = {
        {"mnuDateiAktualisieren", "Liste &aktualisieren"},
        {"mnuDateiBeenden", "&Beenden"},
        {"mnuAnsichtBrowserQuelltext", "&Quelltext"},
        {"mnuAnsichtEntferneJavaScript", "&JavaScript entfernen"},
        {"mnuAnsichtEntferneKommentare", "&Kommentare entfernen"}};
    for (auto [name, caption] : menus)
      QCOMPARE(action(w, name)->text(), QString::fromUtf8(caption));
    QCOMPARE(action(w, "mnuDateiAktualisieren")->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(action(w, "mnuAnsichtEntferneKommentare")->shortcut(), QKeySequence(Qt::Key_F8));
    QVERIFY(action(w, "mnuDateiAktualisieren")->isEnabled());
    QVERIFY(!action(w, "mnuAnsichtEntferneJavaScript")->isChecked());
    QCOMPARE(w.requestModel()->count(), 3);
    QCOMPARE(w.index()->size(), 3u);
    QVERIFY(child<QFrame>(w, "frmProgress")->isHidden());
    QCOMPARE(w.ListHeightRatio(), 0.2f);
    QVERIFY(s.dialogs.messages.empty());
  }

  void refreshKeepsTheSelectionOnlyWhereTheSameLineStands() {
    Started s;
    writeLogs(s.dir, 4);
    s.start();
    frmHaupt& w = *s.window;
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    QCOMPARE(list->currentIndex().row(), -1);
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(list->currentIndex().row(), -1);  // nothing selected stays so

    select(w, 2);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 2")));
    writeLogs(s.dir, 6);  // lines appended
    w.source()->setText(QString());
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(list->currentIndex().row(), 2);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 2")));  // shown again

    std::string changed = s.dir.read("HtmlRequest.log");
    changed.replace(changed.find("/2 HTTP"), 2, "/X");
    s.dir.write("HtmlRequest.log", changed);
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(list->currentIndex().row(), -1);

    select(w, 5);
    writeLogs(s.dir, 3);  // shorter than the old position
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(list->currentIndex().row(), -1);
    QCOMPARE(w.requestModel()->count(), 3);
  }

  void missingRequestLogWarnsAndLeavesF5Enabled() {
    Started s;
    s.start();
    frmHaupt& w = *s.window;
    QCOMPARE(w.requestModel()->count(), 0);
    QCOMPARE(s.dialogs.messages.size(), std::size_t{1});
    QCOMPARE(s.dialogs.messages[0].icon, UserDialogs::Icon::Warning);
    QCOMPARE(s.dialogs.messages[0].title, QStringLiteral("Korvashimtale"));
    QVERIFY(s.dialogs.messages[0].text.contains(QStringLiteral("Datei nicht gefunden")));
    QVERIFY(action(w, "mnuDateiAktualisieren")->isEnabled());
    QVERIFY(child<QFrame>(w, "frmProgress")->isHidden());
    writeLogs(s.dir, 2);  // the cause is gone: F5 works again
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(w.requestModel()->count(), 2);
  }

  void progressCaptionAndCancelFollowTheCloseRequest() {
    Started s;
    writeLogs(s.dir, 1);
    s.start();
    frmHaupt& w = *s.window;
    auto* label = child<QLabel>(w, "lblProgress");
    std::uint8_t percent = 7;
    bool cancel = true;
    w.cIndex_Progress(percent, cancel);
    QCOMPARE(label->text(), QStringLiteral("Index wird aufgebaut: 7%"));
    QVERIFY(!cancel);
    percent = 100;
    w.mnuDateiBeenden_Click();
    w.cIndex_Progress(percent, cancel);
    QCOMPARE(label->text(), QStringLiteral("Index wird aufgebaut: 100%"));
    QVERIFY(cancel);
  }

  void closeWhileIdleSavesTheIndexAtTheNextTick() {
    Started s;
    writeLogs(s.dir, 5);
    s.start();
    frmHaupt& w = *s.window;
    QVERIFY(!w.close());  // refused at first
    QVERIFY(w.isVisible());
    QVERIFY(w.UnloadRequested());
    QVERIFY(waitUntilClosed(w));
    QVERIFY(s.dir.exists("HtmlResponse.idx"));
    QCOMPARE(korva::clsIndex(s.dir.path()).size(), 5u);
  }

  void closeWarnsOnceWhenTheIndexCannotBeSaved() {
    Started s;
    writeLogs(s.dir, 3);
    s.start();
    frmHaupt& w = *s.window;
    // Root writes through any mode bits; a folder that is gone cannot be written by anyone.
    const std::string moved = s.dir.path() + "-moved";
    QCOMPARE(::rename(s.dir.path().c_str(), moved.c_str()), 0);
    w.close();
    const bool closed = waitUntilClosed(w);
    ::rename(moved.c_str(), s.dir.path().c_str());
    QVERIFY(closed);  // the close goes on
    s.window.reset();
    QCOMPARE(s.dialogs.messages.size(), std::size_t{1});
    QCOMPARE(s.dialogs.messages[0].icon, UserDialogs::Icon::Warning);
    QVERIFY(s.dialogs.messages[0].text.contains(QString::fromStdString(s.dir.path())));
    QVERIFY(s.dialogs.messages[0].text.contains(QStringLiteral("neu aufgebaut")));
  }

  void qtsOwnDialogsAndMenusAreGerman() {
    QVERIFY(germanInstalled);
    Started s;
    writeLogs(s.dir, 1);
    s.start();
    QStringList texts;
    for (const char* name : {"txtSource_", "txtRequest"}) {
      std::unique_ptr<QMenu> menu(
          child<QPlainTextEdit>(*s.window, name)->createStandardContextMenu());
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text().section(u'\t', 0, 0);
    }
    QInputDialog prompt(s.window.get());
    prompt.show();  // builds its buttons
    for (QPushButton* button : prompt.findChildren<QPushButton*>()) texts << button->text();
    QVERIFY2(texts.contains(QStringLiteral("&Kopieren")), qPrintable(texts.join(u'|')));
    QVERIFY2(texts.contains(QStringLiteral("Abbrechen")), qPrintable(texts.join(u'|')));
    for (const char* english : {"Copy", "Select All", "Cancel"})
      QVERIFY2(!texts.join(u'|').remove(u'&').contains(QLatin1String(english)), english);
  }

  void closeDuringABuildCancelsItAndSavesWhatWasIndexed() {
    Started s;
    writeLogs(s.dir, 3000, std::string(300, 'x'));
    s.window = std::make_unique<frmHaupt>(s.dir.path(), &s.dialogs);
    frmHaupt& w = *s.window;
    int refused = 0;
    // Three close requests arrive in the first yields of the build.
    for (int i = 0; i < 3; ++i) QTimer::singleShot(0, &w, [&] { refused += w.close() ? 0 : 1; });
    w.Form_Load();
    QCOMPARE(refused, 3);
    QVERIFY(!w.index()->InBuildIndex());
    const std::size_t indexed = w.index()->size();
    QVERIFY(indexed > 0);
    QVERIFY(indexed < 3000);
    QVERIFY(w.isVisible());
    QVERIFY(waitUntilClosed(w));
    QCOMPARE(korva::clsIndex(s.dir.path()).size(), indexed);
  }

  void closeInTheStartUpYieldWaitsForTheRefresh() {
    Started s;
    writeLogs(s.dir, 20);
    s.window = std::make_unique<frmHaupt>(s.dir.path(), &s.dialogs);
    frmHaupt& w = *s.window;
    // The close arrives in the start-up yield; the tick must not tear down the refresh.
    QTimer::singleShot(0, &w, [&] { w.close(); });
    w.Form_Load();
    QVERIFY(w.UnloadRequested());
    QCOMPARE(w.requestModel()->count(), 20);
    QVERIFY(waitUntilClosed(w));
    QVERIFY(s.dir.exists("HtmlResponse.idx"));
  }

  void displayFillsBothViewsAndAppliesTheFilters() {
    Started s;
    writeLogs(s.dir, 3, "<script>evil()</script><!-- note -->");
    s.start();
    frmHaupt& w = *s.window;
    QSignalSpy bodySet(w.browser(), &korva::RenderedView::bodySet);
    select(w, 1);
    QCOMPARE(child<QPlainTextEdit>(w, "txtRequest")->toPlainText(),
             QStringLiteral("GET http://host/1 HTTP/1.1"));
    QCOMPARE(sourceText(w), QStringLiteral("<p>body 1</p><script>evil()</script><!-- note -->\n"));
    QVERIFY(child<QAbstractItemView>(w, "lstRequest")->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(bodySet.wait(10000) || bodySet.count() > 0);
    action(w, "mnuAnsichtEntferneJavaScript")->trigger();
    QVERIFY(action(w, "mnuAnsichtEntferneJavaScript")->isChecked());
    QCOMPARE(sourceText(w), QStringLiteral("<p>body 1</p><!-- note -->\n"));
    action(w, "mnuAnsichtEntferneKommentare")->trigger();
    QCOMPARE(sourceText(w), QStringLiteral("<p>body 1</p>\n"));
    action(w, "mnuAnsichtEntferneJavaScript")->trigger();
    QCOMPARE(sourceText(w), QStringLiteral("<p>body 1</p><script>evil()</script>\n"));
  }

  void statusBarFollowsFolderListIndexAndResponse() {
    Started s;
    writeLogs(s.dir, 2);  // bodies "<p>body N</p>\r\n": 15 bytes
    s.dir.append("HtmlRequest.log", makeRequestLine(makeKey(7)) + makeRequestLine(makeKey(8)));
    s.dir.append("HtmlResponse.log", makeBlock(makeKey(8), ""));  // key 7 has no block
    s.start();
    frmHaupt& w = *s.window;
    auto text = [&](const char* name) { return child<QLabel>(w, name)->text(); };
    QCOMPARE(text("lblStatusFolder"), QString::fromStdString(s.dir.path()));
    QCOMPARE(text("lblStatusCount"), QStringLiteral("4 Anfragen"));
    QCOMPARE(text("lblStatusIndex"), QStringLiteral("Index neu aufgebaut, 3 Einträge"));
    QCOMPARE(text("lblStatusResponse"), QString());
    // Below the client area, which keeps the panes.
    QVERIFY(w.centralWidget()->geometry().bottom() < w.statusBar()->geometry().top());
    QVERIFY(child<QWidget>(w, "txtSource_")->geometry().bottom() < w.centralWidget()->height());

    w.mnuDateiAktualisieren_Click();
    QCOMPARE(text("lblStatusIndex"), QStringLiteral("Index aktuell, 3 Einträge"));
    s.dir.append("HtmlRequest.log", makeRequestLine(makeKey(9)));
    s.dir.append("HtmlResponse.log", makeBlock(makeKey(9)));
    QString during;
    QTimer poll;  // fires in every yield of the refresh
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
      if (w.index()->InBuildIndex()) during = text("lblStatusIndex");
    });
    poll.start();
    w.mnuDateiAktualisieren_Click();
    poll.stop();
    QCOMPARE(during, QStringLiteral("Index wird aufgebaut"));
    QCOMPARE(text("lblStatusIndex"), QStringLiteral("Index fortgesetzt, 4 Einträge"));
    QCOMPARE(text("lblStatusCount"), QStringLiteral("5 Anfragen"));

    select(w, 1);
    QCOMPARE(text("lblStatusResponse"), QStringLiteral("Antwort: 15 Bytes"));
    select(w, 2);
    QCOMPARE(text("lblStatusResponse"), QStringLiteral("Keine Antwort aufgezeichnet"));
    select(w, 3);
    QCOMPARE(text("lblStatusResponse"), QStringLiteral("Leere Antwort"));

    w.showStatusMessage(QStringLiteral("Treffer 1 von 2"));
    QVERIFY(messageVisible(w, QStringLiteral("Treffer 1 von 2")));
    // A page that asks the network for an image: the rendered view blocks it and says so.
    s.dir.append("HtmlRequest.log", makeRequestLine(makeKey(10)));
    s.dir.append("HtmlResponse.log",
                 makeBlock(makeKey(10), "<img src='http://example.invalid/a.png'>\r\n"));
    w.mnuDateiAktualisieren_Click();
    select(w, 5);
    QTRY_COMPARE_WITH_TIMEOUT(text("lblStatusBlocked"), QStringLiteral("1 Anfrage blockiert"),
                              20000);
    select(w, 0);
    QTRY_COMPARE_WITH_TIMEOUT(text("lblStatusBlocked"), QString(), 20000);
  }

  void filterBeforeAnySelectionShowsEmptyViews() {
    Started s;
    std::string request = makeRequestLine(makeKey(1));
    // An empty line, then a block: the plain scan for an empty key would show this block.
    s.dir.write("HtmlRequest.log", request);
    s.dir.write("HtmlResponse.log", makeBlock(makeKey(1)) + "\r\nsurprise\r\n");
    s.start();
    frmHaupt& w = *s.window;
    action(w, "mnuAnsichtEntferneKommentare")->trigger();
    QCOMPARE(sourceText(w), QString());
  }

  void viewSwitchAlternatesCaptionAndVisibility() {
    Started s;
    writeLogs(s.dir, 2);
    s.start();
    frmHaupt& w = *s.window;
    QAction* view = action(w, "mnuAnsichtBrowserQuelltext");
    auto* browser = child<QWidget>(w, "brwBrowser");
    auto* source = child<QPlainTextEdit>(w, "txtSource_");
    QVERIFY(!browser->isHidden() && !source->isHidden());  // the browser lies on top
    view->trigger();
    QCOMPARE(view->text(), QStringLiteral("&Browser"));
    QVERIFY(browser->isHidden());
    QVERIFY(!source->isHidden());
    select(w, 0);
    QCOMPARE(QApplication::focusWidget(), source);  // the display focuses the view that is up
    view->trigger();
    QCOMPARE(view->text(), QStringLiteral("&Quelltext"));
    QVERIFY(!browser->isHidden());
    QVERIFY(source->isHidden());
    QCOMPARE(w.source()->Visible(), 0);
  }

  void selectingDuringARunningBuildUsesWhatIsIndexedSoFar() {
    Started s;
    writeLogs(s.dir, 3000, std::string(300, 'y'));
    s.window = std::make_unique<frmHaupt>(s.dir.path(), &s.dialogs);
    frmHaupt& w = *s.window;
    QString shown;
    bool duringBuild = false;
    // A zero timer fires in every yield; the first one inside the build selects a request far
    // behind what the build has reached, so it is found by the scan from the start.
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
      if (!w.index() || !w.index()->InBuildIndex()) return;
      poll.stop();
      duringBuild = true;
      select(w, 2999);
      shown = sourceText(w);
    });
    poll.start();
    w.Form_Load();
    QVERIFY(duringBuild);
    QVERIFY(shown.startsWith(QStringLiteral("<p>body 2999</p>")));
    QCOMPARE(w.index()->size(), 3000u);
  }

  void ctrlFAndF3SearchTheSourceText() {
    Started s;
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)));
    s.dir.write("HtmlResponse.log", makeBlock(makeKey(1), "abc ABC abc\r\n"));
    s.start();
    frmHaupt& w = *s.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    select(w, 0);
    action(w, "mnuAnsichtBrowserQuelltext")->trigger();  // the source view is up
    auto* source = child<QPlainTextEdit>(w, "txtSource_");
    QTRY_COMPARE(QApplication::focusWidget(), source);

    QTest::keyClick(source, Qt::Key_F3);  // no term yet: the prompt, with an empty default
    QCOMPARE(s.dialogs.prompts.size(), std::size_t{1});
    QCOMPARE(s.dialogs.prompts[0].prompt, QStringLiteral("Suchbegriff:"));
    QCOMPARE(s.dialogs.prompts[0].title, QStringLiteral("Suchen"));
    QCOMPARE(s.dialogs.prompts[0].defaultText, QString());

    s.dialogs.answers << QStringLiteral("abc");
    QTest::keyClick(source, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(w.source()->SelStart(), 0);
    QCOMPARE(w.source()->SelLength(), 3);
    QTest::keyClick(source, Qt::Key_F3);
    QCOMPARE(w.source()->SelStart(), 4);
    QTest::keyClick(source, Qt::Key_F3);
    QCOMPARE(w.source()->SelStart(), 8);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
    QCOMPARE(w.source()->SelStart(), 0);  // wrapped once to the start
    QTest::keyClick(source, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(source, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(s.dialogs.prompts.size(), std::size_t{2});  // neither did anything
    QCOMPARE(w.source()->SelStart(), 0);

    s.dialogs.answers << QStringLiteral("zzz");
    QTest::keyClick(source, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(s.dialogs.prompts.back().defaultText, QStringLiteral("abc"));
    QCOMPARE(w.source()->SelStart(), 0);  // not found: nothing changes
    QCOMPARE(w.LastSearchTerm(), std::u16string(u"zzz"));
  }

  void ctrlFRunsOnceWhenARealPromptTakesTheFocus() {
    Started s;
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)));
    s.dir.write("HtmlResponse.log", makeBlock(makeKey(1), "abc abc\r\n"));
    s.start();
    frmHaupt& w = *s.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    select(w, 0);
    action(w, "mnuAnsichtBrowserQuelltext")->trigger();
    auto* source = child<QPlainTextEdit>(w, "txtSource_");
    QTRY_COMPARE(QApplication::focusWidget(), source);
    // The prompt is a real modal dialog: it takes the focus and gives it back when it closes,
    // closed by Enter, by Escape, or left open while F3 is pressed.
    for (Qt::Key closeKey : {Qt::Key_Return, Qt::Key_Escape}) {
      const std::size_t before = s.dialogs.prompts.size();
      s.dialogs.onPrompt = [&] {
        QInputDialog prompt(&w);
        QTimer::singleShot(50, &prompt, [&] {
          QWidget* focus = QApplication::focusWidget();
          QTest::keyClick(focus ? focus : &prompt, closeKey);
        });
        QTimer::singleShot(5000, &prompt, &QDialog::reject);  // never hang the suite
        prompt.exec();
      };
      s.dialogs.answers << QStringLiteral("abc");
      w.activateWindow();  // the window manager's part once the prompt has gone
      QVERIFY(QTest::qWaitForWindowActive(&w));
      QTRY_COMPARE(QApplication::focusWidget(), source);
      QTest::keyClick(source, Qt::Key_F, Qt::ControlModifier);
      QCOMPARE(s.dialogs.prompts.size(), before + 1);
    }
    s.dialogs.onPrompt = nullptr;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(QApplication::focusWidget(), source);
    const int at = w.source()->SelStart();
    QTest::keyClick(source, Qt::Key_F3);
    QCOMPARE(w.source()->SelStart(), at == 0 ? 4 : 0);
    QCOMPARE(s.dialogs.prompts.size(), std::size_t{2});
  }

  void keysWorkWhileTheRenderedViewHasTheFocus() {
    Started s;
    writeLogs(s.dir, 2);
    s.start();
    frmHaupt& w = *s.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    select(w, 0);  // the display focuses the rendered view, which is up
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QVERIFY(focus == w.browser() || w.browser()->isAncestorOf(focus));
    QTest::keyClick(focus, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(s.dialogs.prompts.size(), std::size_t{1});  // seen before the web engine
    QCOMPARE(QApplication::focusWidget(), child<QPlainTextEdit>(w, "txtSource_"));
    w.browser()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);  // the menu shortcut too
    QCOMPARE(action(w, "mnuAnsichtBrowserQuelltext")->text(), QStringLiteral("&Browser"));
  }

  void altArrowsWalkTheListAndTheListCopies() {
    Started s;
    writeLogs(s.dir, 3);
    s.start();
    frmHaupt& w = *s.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    const QList<QAction*> items = w.findChild<QMenu*>(QStringLiteral("mnuAnsicht"))->actions();
    QCOMPARE(items.first(), action(w, "mnuAnsichtBrowserQuelltext"));  // the fixed items first
    QVERIFY(items.indexOf(action(w, "mnuAnsichtEntferneKommentare")) <
            items.indexOf(action(w, "mnuAnsichtNaechsteAnfrage")));
    QCOMPARE(action(w, "mnuAnsichtNaechsteAnfrage")->text(), QStringLiteral("&Nächste Anfrage"));

    auto press = [](Qt::Key key) {
      QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
    };
    QTRY_VERIFY(QApplication::focusWidget());
    press(Qt::Key_Down);  // nothing selected: the first row
    QCOMPARE(list->currentIndex().row(), 0);
    QWidget* focus = QApplication::focusWidget();  // the rendered view, which is up
    QVERIFY(focus == w.browser() || w.browser()->isAncestorOf(focus));
    press(Qt::Key_Down);
    QCOMPARE(list->currentIndex().row(), 1);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 1")));
    action(w, "mnuAnsichtBrowserQuelltext")->trigger();  // now from the source view
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(w, "txtSource_"));
    press(Qt::Key_Down);
    press(Qt::Key_Down);  // stays on the last row
    QCOMPARE(list->currentIndex().row(), 2);
    press(Qt::Key_Up);
    QCOMPARE(list->currentIndex().row(), 1);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 1")));

    list->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), list);
    QApplication::clipboard()->clear();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("GET http://host/1 HTTP/1.1"));
    QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(list->actions().size(), 4);  // the copies, then marking and comparing
    QCOMPARE(list->actions().at(2)->objectName(), QStringLiteral("mnuVergleichenVormerken"));
    list->actions().at(1)->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("<p>body 1</p>\n"));
  }

  // The list as a user drives it: a click, the arrow and page keys, the wheel; the selected row
  // painted in the highlight colour where it stands, the rows' text readable beside it.
  void listFollowsClicksKeysAndTheWheel() {
    Started s;
    writeLogs(s.dir, 300);
    s.start();
    frmHaupt& w = *s.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    QWidget* port = list->viewport();
    QScrollBar* bar = list->verticalScrollBar();
    const int rowHeight = list->visualRect(list->model()->index(0, 0)).height();
    const int shown = port->height() / rowHeight;
    QVERIFY(shown >= 3);
    QCOMPARE(bar->maximum(), 300 - shown);

    QTest::mouseClick(port, Qt::LeftButton, {}, QPoint(20, rowHeight * 2 + rowHeight / 2));
    QCOMPARE(list->currentIndex().row(), 2);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 2")));
    const QImage painted = port->grab().toImage();
    const QColor highlight = list->palette().color(QPalette::Active, QPalette::Highlight);
    QCOMPARE(painted.pixelColor(port->width() - 4, rowHeight * 2 + rowHeight / 2), highlight);
    QVERIFY(painted.pixelColor(port->width() - 4, rowHeight / 2) != highlight);
    bool text = false;  // dark pixels of the text in the first row
    for (int x = 2; x < 200 && !text; ++x)
      text = painted.pixelColor(x, rowHeight / 2).lightness() < 100;
    QVERIFY(text);

    struct Step {
      Qt::Key key;
      int row, first;  // the current row after it, and the first row in view
    };
    const Step steps[] = {{Qt::Key_Down, 3, 0},
                          {Qt::Key_Up, 2, 0},
                          {Qt::Key_PageDown, 2 + shown, 3},
                          {Qt::Key_End, 299, 300 - shown},
                          {Qt::Key_Down, 299, 300 - shown},
                          {Qt::Key_Home, 0, 0}};
    for (const Step& step : steps) {
      QTest::keyClick(list, step.key);
      QCOMPARE(list->currentIndex().row(), step.row);
      QCOMPARE(bar->value(), step.first);
    }
    QVERIFY(sourceText(w).contains(QStringLiteral("body 0")));
    QWheelEvent wheel(QPointF(20, 20), port->mapToGlobal(QPointF(20, 20)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(port, &wheel);
    QCOMPARE(bar->value(), QApplication::wheelScrollLines());
    QCOMPARE(list->indexAt(QPoint(20, rowHeight / 2)).row(), bar->value());
  }

  void openAnotherFolderAndSaveAResponse() {
    Started s;
    writeLogs(s.dir, 2);
    s.start();
    frmHaupt& w = *s.window;
    TempDir other;
    writeLogs(other, 3, "<script>x()</script>");
    QCOMPARE(action(w, "mnuDateiOrdnerOeffnen")->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+O")));
    action(w, "mnuDateiOrdnerOeffnen")->trigger();  // cancelled: nothing changes
    QCOMPARE(s.dialogs.fileRequests.back().defaultText, QString::fromStdString(s.dir.path()));
    QCOMPARE(w.requestModel()->count(), 2);

    // A folder without logs is refused, and the program stays where it was, with its state.
    TempDir empty;
    select(w, 1);
    s.dialogs.folderAnswers << QString::fromStdString(empty.path());
    action(w, "mnuDateiOrdnerOeffnen")->trigger();
    QCOMPARE(s.dialogs.messages.size(), std::size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains(QStringLiteral("kann nicht geöffnet werden")));
    s.dialogs.messages.clear();
    QCOMPARE(w.requestModel()->count(), 2);
    QCOMPARE(child<QAbstractItemView>(w, "lstRequest")->currentIndex().row(), 1);
    QCOMPARE(child<QLabel>(w, "lblStatusFolder")->text(), QString::fromStdString(s.dir.path()));
    QCOMPARE(child<QLabel>(w, "lblStatusCount")->text(), QStringLiteral("2 Anfragen"));
    QVERIFY(QDir::currentPath() != QString::fromStdString(empty.path()));

    bool disabledDuringBuild = false;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
      if (w.index() && w.index()->InBuildIndex())
        disabledDuringBuild = !action(w, "mnuDateiOrdnerOeffnen")->isEnabled();
    });
    poll.start();
    s.dialogs.folderAnswers << QString::fromStdString(other.path());
    action(w, "mnuDateiOrdnerOeffnen")->trigger();
    poll.stop();
    QVERIFY(disabledDuringBuild);
    QVERIFY(action(w, "mnuDateiOrdnerOeffnen")->isEnabled());
    QCOMPARE(QDir::currentPath(), QString::fromStdString(other.path()));
    QCOMPARE(korva::clsIndex(s.dir.path()).size(), 2u);  // the old index saved as at a close
    QVERIFY(!QFile::exists(QString::fromStdString(empty.file("HtmlResponse.idx"))));
    QCOMPARE(w.requestModel()->count(), 3);
    QCOMPARE(w.index()->size(), 3u);
    QCOMPARE(child<QAbstractItemView>(w, "lstRequest")->currentIndex().row(), -1);
    QCOMPARE(sourceText(w), QString());
    QCOMPARE(child<QLabel>(w, "lblStatusFolder")->text(), QString::fromStdString(other.path()));

    select(w, 2);
    action(w, "mnuAnsichtEntferneJavaScript")->trigger();
    s.dialogs.saveAnswers << QString::fromStdString(other.file("saved.html"));
    action(w, "mnuDateiAntwortSpeichern")->trigger();
    QCOMPARE(s.dialogs.fileRequests.back().defaultText,
             QString::fromStdString(other.file("2.html")));
    QCOMPARE(other.read("saved.html"), std::string("<p>body 2</p>\r\n"));  // bytes, filtered
    QVERIFY(s.dialogs.messages.empty());
    s.dialogs.saveAnswers << QString::fromStdString(other.file("gone/saved.html"));
    action(w, "mnuDateiAntwortSpeichern")->trigger();
    QCOMPARE(s.dialogs.messages.size(), std::size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains(QStringLiteral("gone/saved.html")));
  }

  void chosenCharacterSetRedisplaysTheResponse() {
    Started s;
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
    // Greek and Japanese without a declaration: the detection finds the Greek, not the Japanese,
    // which it leaves as Windows-1252.
    s.dir.write("HtmlResponse.log", makeBlock(makeKey(1), "<p>\xC1\xE8\xDE\xED\xE1</p>\r\n") +
                                        makeBlock(makeKey(2), "\x93\xFA\x96\x7B\r\n"));
    s.start();
    frmHaupt& w = *s.window;
    for (const korva::Charset& c : korva::kCharsets)  // this Qt build converts every offered set
      QVERIFY2(w.findChild<QAction*>(QStringLiteral("mnuZeichensatz_") + QLatin1String(c.name)),
               c.name);
    QVERIFY(action(w, "mnuZeichensatzAutomatisch")->isChecked());
    auto* charsetField = w.findChild<QLabel*>(QStringLiteral("lblStatusCharset"));
    QVERIFY(!charsetField || charsetField->isHidden());
    select(w, 0);
    QCOMPARE(sourceText(w), QStringLiteral("<p>Αθήνα</p>\n"));
    action(w, "mnuZeichensatz_windows-1252")->trigger();
    QVERIFY(!action(w, "mnuZeichensatzAutomatisch")->isChecked());
    QCOMPARE(sourceText(w), QStringLiteral("<p>Áèĩíá</p>\n").replace(u'ĩ', u'Þ'));
    charsetField = child<QLabel>(w, "lblStatusCharset");
    QCOMPARE(charsetField->text(), QStringLiteral("Zeichensatz: Windows-1252 (fest)"));
    QVERIFY(!charsetField->isHidden());
    select(w, 1);  // the choice stays for the next request
    action(w, "mnuZeichensatz_Shift_JIS")->trigger();
    QCOMPARE(sourceText(w), QStringLiteral("日本\n"));
    QCOMPARE(charsetField->text(), QStringLiteral("Zeichensatz: Shift-JIS (fest)"));
    action(w, "mnuZeichensatzAutomatisch")->trigger();
    QCOMPARE(sourceText(w), QStringLiteral("\u201C\u00FA\u2013{\n"));
    QVERIFY(charsetField->isHidden());
  }

  void sourceViewNumbersItsLinesAndWrapsOnlyWhenAsked() {
    Started s;
    std::string lines;
    for (int i = 0; i < 1200; ++i) lines += "<p>" + std::to_string(i) + "</p>\r\n";
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
    s.dir.write("HtmlResponse.log", makeBlock(makeKey(1), "<p>" + std::string(4000, 'x') + "</p>") +
                                        makeBlock(makeKey(2), lines));
    s.start();
    frmHaupt& w = *s.window;
    QMenu* ansicht = child<QMenu>(w, "mnuAnsicht");
    QAction* wrap = action(w, "mnuAnsichtZeilenUmbrechen");
    // After the items that were there before; checked: the wrapped view stays the default.
    QVERIFY(ansicht->actions().indexOf(wrap) >
            ansicht->actions().indexOf(child<QMenu>(w, "mnuAnsichtZeichensatz")->menuAction()));
    QVERIFY(wrap->isCheckable() && wrap->isChecked());
    action(w, "mnuAnsichtBrowserQuelltext")->trigger();  // the source view is up
    auto* view = child<korva::SourceView>(w, "txtSource_");
    select(w, 0);
    QCoreApplication::processEvents();
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    wrap->trigger();
    QCoreApplication::processEvents();
    QVERIFY(view->horizontalScrollBar()->isVisible());
    QVERIFY(view->horizontalScrollBar()->maximum() > 0);
    wrap->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);

    select(w, 1);
    QCoreApplication::processEvents();
    QWidget* gutter = view->lineNumberArea();
    QVERIFY(gutter->isVisible());
    const int needed = view->fontMetrics().horizontalAdvance(QStringLiteral("1201"));
    QVERIFY2(gutter->width() >= needed, qPrintable(QString::number(gutter->width())));
    QCOMPARE(view->viewport()->geometry().left(), gutter->geometry().right() + 1);
  }

  void sourceViewColoursWhatIsInViewOnLightAndDarkPalettes() {
    Started s;
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
    s.dir.write("HtmlResponse.log",
                makeBlock(makeKey(1),
                          "<!DOCTYPE html><p class=\"x\">A &amp; B<!-- c --></p>\r\n"
                          "<script>var s = 'x'; // c\r\n</script>") +
                    makeBlock(makeKey(2), std::string(korva::SourceView::kColourLimit + 1, 'a')));
    s.start();
    frmHaupt& w = *s.window;
    action(w, "mnuAnsichtBrowserQuelltext")->trigger();
    auto* view = child<korva::SourceView>(w, "txtSource_");
    select(w, 0);
    std::vector<QColor> tagColours;
    for (const QColor& base : {QColor(Qt::white), QColor(0x1E, 0x1E, 0x1E)}) {
      QPalette palette = view->palette();
      palette.setColor(QPalette::Base, base);
      palette.setColor(QPalette::Text, base.lightness() > 128 ? Qt::black : Qt::white);
      view->setPalette(palette);
      view->viewport()->repaint();
      const QTextBlock first = view->document()->firstBlock();
      const auto ranges = first.layout()->formats();
      const auto script = first.next().layout()->formats();
      QVERIFY(ranges.size() >= 6);  // doctype, tag, attribute name and value, reference, comment
      QVERIFY(script.size() >= 3);  // tags, string, comment
      for (const auto& range : ranges + script) {
        const QColor colour = range.format.foreground().color();
        QVERIFY2(std::abs(colour.lightness() - base.lightness()) >= 90,
                 qPrintable(colour.name() + QStringLiteral(" on ") + base.name()));
        if (first.text().mid(range.start, range.length).endsWith(QStringLiteral("<p")))
          tagColours.push_back(colour);
      }
    }
    QCOMPARE(tagColours.size(), std::size_t{2});
    QVERIFY(tagColours[0] != tagColours[1]);
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("lblStatusColours"))->isHidden());

    select(w, 1);  // one line just over the limit: left plain, and the status bar says so
    view->viewport()->repaint();
    QVERIFY(view->document()->firstBlock().layout()->formats().isEmpty());
    auto* field = child<QLabel>(w, "lblStatusColours");
    QCOMPARE(field->text(), QStringLiteral("Sehr lange Zeile: nicht eingefärbt"));
    QVERIFY(!field->isHidden());
    select(w, 0);
    QVERIFY(field->isHidden());
  }

  void liveRefreshListsAppendedRequestsAndKeepsTheSelection() {
    Started s;
    writeLogs(s.dir, 40);
    s.start();
    frmHaupt& w = *s.window;
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    QAction* live = action(w, "mnuAnsichtAutomatischAktualisieren");
    QVERIFY(live->isCheckable() && !live->isChecked());  // off at start
    auto append = [&](int from, int to) {
      for (int i = from; i < to; ++i) {
        s.dir.append("HtmlResponse.log",
                     makeBlock(makeKey(i), "<p>body " + std::to_string(i) + "</p>\r\n"));
        s.dir.append(
            "HtmlRequest.log",
            makeRequestLine(makeKey(i), "GET http://host/" + std::to_string(i) + " HTTP/1.1"));
      }
    };
    append(40, 42);
    QTest::qWait(2 * korva::LiveRefresh::kMergeMs);
    QCOMPARE(w.requestModel()->count(), 40);  // not watching yet

    live->trigger();
    select(w, 3);  // the top of the list is in view: the list stays there
    const int top = list->verticalScrollBar()->value();
    append(42, 45);
    QTRY_COMPARE_WITH_TIMEOUT(w.requestModel()->count(), 45, 1000);
    QTRY_COMPARE(w.index()->size(), 45u);
    QCOMPARE(list->currentIndex().row(), 3);
    QVERIFY(sourceText(w).contains(QStringLiteral("body 3")));
    QCOMPARE(list->verticalScrollBar()->value(), top);

    list->scrollToBottom();  // now the last row is in view: the list follows new rows
    append(45, 60);
    QTRY_COMPARE_WITH_TIMEOUT(w.requestModel()->count(), 60, 1000);
    QTRY_COMPARE(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    QVERIFY(list->verticalScrollBar()->value() > top);

    writeLogs(s.dir, 5, "<p>new</p>");  // replaced by other, shorter logs: rebuilt as by F5
    QTRY_COMPARE_WITH_TIMEOUT(w.requestModel()->count(), 5, 1000);
    QTRY_COMPARE(w.index()->size(), 5u);
    live->trigger();
    append(5, 7);
    QTest::qWait(2 * korva::LiveRefresh::kMergeMs);
    QCOMPARE(w.requestModel()->count(), 5);
  }

  void resizeKeepsBrowserOverTheSourcePane() {
    Started s;
    writeLogs(s.dir, 2);
    s.start();
    frmHaupt& w = *s.window;
    for (QSize size : {QSize(800, 600), QSize(1300, 900), QSize(400, 120)}) {
      w.resize(size);
      QCoreApplication::processEvents();
      QCOMPARE(child<QWidget>(w, "brwBrowser")->geometry(),
               child<QWidget>(w, "txtSource_")->geometry());
      auto* list = child<QAbstractItemView>(w, "lstRequest");
      auto* request = child<QWidget>(w, "txtRequest");
      QVERIFY(request->geometry().top() >= list->geometry().bottom());
      QVERIFY(child<QWidget>(w, "txtSource_")->height() >= 0);
    }
  }

  void splitterDragMovesTheListAndKeepsTheShare() {
    Started s;
    writeLogs(s.dir, 2);
    s.start();
    frmHaupt& w = *s.window;
    QWidget* client = w.centralWidget();
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    const int bandY = list->geometry().bottom() + 2;  // inside the 40-twip band (2.67 px)
    QTest::mouseMove(client, QPoint(50, bandY));
    QCOMPARE(client->cursor().shape(), Qt::SizeVerCursor);
    QTest::mousePress(client, Qt::RightButton, {}, QPoint(50, bandY));
    QCOMPARE(w.ActiveSplitter(), std::int16_t{2});
    QMouseEvent move(QEvent::MouseMove, QPointF(50, client->height() / 2),
                     client->mapToGlobal(QPointF(50, client->height() / 2)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(client, &move);
    QVERIFY(qAbs(w.ListHeightRatio() - 0.5f) < 0.01f);
    QTest::mouseRelease(client, Qt::RightButton, {}, QPoint(50, client->height() / 2));
    QCOMPARE(w.ActiveSplitter(), std::int16_t{0});
    w.resize(900, 700);
    QCoreApplication::processEvents();
    QVERIFY(qAbs(list->height() - client->height() / 2) <= 1);
  }

  void manyDuplicateKeysDoNotFloodTheUserWithBoxes() {
    Started s;
    std::string response;
    for (int i = 0; i < 200; ++i) response += makeBlock(makeKey(1));  // 199 duplicates
    response += makeBlock(makeKey(2));
    s.dir.write("HtmlResponse.log", response);
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(1)) + makeRequestLine(makeKey(2)));
    s.start();
    frmHaupt& w = *s.window;
    QCOMPARE(w.index()->size(), 2u);
    QCOMPARE(s.dialogs.messages.size(), std::size_t{11});
    QVERIFY(s.dialogs.messages[0].text.endsWith(QString::fromStdString(makeKey(1))));
    QCOMPARE(s.dialogs.messages[0].title, QStringLiteral("Fehler"));
    QCOMPARE(
        s.dialogs.messages.back().text,
        QStringLiteral("388 weitere Fehler beim Aufbau des Index wurden nicht einzeln angezeigt."));
    w.mnuDateiAktualisieren_Click();  // current now: no build, no boxes
    QCOMPARE(s.dialogs.messages.size(), std::size_t{11});
  }

  void vanishingResponseLogIsReportedAndTheWindowStaysUsable() {
    Started s;
    writeLogs(s.dir, 3);
    s.start();
    frmHaupt& w = *s.window;
    ::unlink(s.dir.file("HtmlResponse.log").c_str());
    select(w, 1);
    QCOMPARE(s.dialogs.messages.size(), std::size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains(QStringLiteral("HtmlResponse.log")));
    QVERIFY(child<QAbstractItemView>(w, "lstRequest")->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(sourceText(w), QString());
    s.dir.write("HtmlRequest.log", s.dir.read("HtmlRequest.log") + makeRequestLine(makeKey(9)));
    // The restored selection fails to read again, then the build finds the log missing.
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(s.dialogs.messages.size(), std::size_t{3});
    QCOMPARE(s.dialogs.messages[1].title, QStringLiteral("Korvashimtale"));
    QCOMPARE(s.dialogs.messages[2].title, QStringLiteral("Fehler"));
    QCOMPARE(s.dialogs.messages[2].icon, UserDialogs::Icon::Critical);
    QVERIFY(action(w, "mnuDateiAktualisieren")->isEnabled());
    QVERIFY(child<QFrame>(w, "frmProgress")->isHidden());
  }

  // Filter the list, refresh under the filter, search all responses, follow a hit, and see the
  // source search count and highlight its matches.
  void formattedViewSearchesTheFormattedTextAndKeepsThePlace() {
    Started s;
    const std::string page =
        "<html><body><div><p>one</p><p>needle two</p></div><pre>a  <b>x</b>\n</pre></body></html>";
    // Big enough to be formatted on a thread of its own.
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "<div><p>row " + std::to_string(i) + "</p></div>";
    big += "<div>needle</div>";
    s.dir.write("HtmlRequest.log", makeRequestLine(makeKey(0), "GET http://host/small") +
                                       makeRequestLine(makeKey(1), "GET http://host/big"));
    s.dir.write("HtmlResponse.log",
                makeBlock(makeKey(0), page + "\r\n") + makeBlock(makeKey(1), big + "\r\n"));
    s.start();
    frmHaupt& w = *s.window;
    auto* view = child<QPlainTextEdit>(w, "txtSource_");
    auto inserted = [](QString text) { return text.remove(QRegularExpression("\n *")); };
    auto selected = [&] { return view->textCursor().selectedText(); };
    w.mnuAnsichtBrowserQuelltext_Click();  // the source view up
    select(w, 0);
    const QString plain = sourceText(w);
    QAction* formatted = action(w, "mnuAnsichtFormatiert");
    QVERIFY(!formatted->isChecked());
    formatted->trigger();
    QVERIFY(w.formattedShown());
    // Line breaks and indentation only, none inside the pre.
    QVERIFY(view->document()->blockCount() > plain.count(QChar(u'\n')) + 3);
    QCOMPARE(inserted(sourceText(w)), inserted(plain));
    QVERIFY(sourceText(w).contains(QStringLiteral("<pre>a  <b>x</b>\n</pre>")));

    // Ctrl+F finds in the formatted text; a mode switch keeps the selection on the same text.
    s.dialogs.answers << QStringLiteral("needle");
    action(w, "mnuSuchenSuchen")->trigger();
    QCOMPARE(selected(), QStringLiteral("needle"));
    const int formattedAt = w.source()->SelStart();
    formatted->trigger();
    QVERIFY(!w.formattedShown());
    QCOMPARE(selected(), QStringLiteral("needle"));
    QVERIFY(w.source()->SelStart() < formattedAt);
    formatted->trigger();
    QCOMPARE(w.source()->SelStart(), formattedAt);

    // A hit over a place where formatting broke the line selects that occurrence all the same.
    w.runResponseSearch(QStringLiteral("</p><p>"));
    QCOMPARE(w.hitList()->topLevelItemCount(), 1);
    w.showHit(w.hitList()->topLevelItem(0));
    QVERIFY(selected().contains(QChar(0x2029)));  // the selection spans the inserted line end
    QCOMPARE(inserted(selected().replace(QChar(0x2029), QChar(u'\n'))), QStringLiteral("</p><p>"));

    // The big body: formatted on a thread while the window goes on; the hit waits for it.
    w.runResponseSearch(QStringLiteral("needle"));
    QCOMPARE(w.hitList()->topLevelItemCount(), 2);
    w.showHit(w.hitList()->topLevelItem(1));
    QVERIFY(w.formattingPending());
    QCOMPARE(view->placeholderText(), QStringLiteral("Wird formatiert …"));
    QVERIFY(QTest::qWaitFor([&] { return !w.formattingPending(); }, 10000));
    QVERIFY(w.formattedShown());
    QCOMPARE(selected(), QStringLiteral("needle"));
    QCOMPARE(w.sourceMatchCount(), 1u);
    QVERIFY(view->placeholderText().isEmpty());
  }

  void comparisonMarksComparesWalksTheChangesAndCancelsOnClose() {
    Started s;
    auto lines = [](int count, int changedEvery) {
      std::string body;
      for (int i = 0; i < count; ++i)
        body += "<p>line " + std::to_string(i) +
                (changedEvery && i % changedEvery == 0 ? "x" : "") + "</p>\r\n";
      return body;
    };
    const std::string bodies[] = {lines(40, 0), lines(40, 10), lines(40, 0), lines(300000, 3),
                                  lines(300000, 0)};
    std::string request, response;
    for (int i = 0; i < 5; ++i) {
      request += makeRequestLine(makeKey(i), "GET http://host/" + std::to_string(i));
      response += makeBlock(makeKey(i), bodies[i]);
    }
    s.dir.write("HtmlRequest.log", request);
    s.dir.write("HtmlResponse.log", response);
    s.start();
    frmHaupt& w = *s.window;
    select(w, 1);
    action(w, "mnuVergleichenVergleichen")->trigger();  // nothing marked yet: it says so
    QVERIFY(messageVisible(w, QStringLiteral("Keine Anfrage zum Vergleich vorgemerkt (Strg+M).")));
    QVERIFY(!w.comparisonWindow());
    select(w, 0);
    action(w, "mnuVergleichenVormerken")->trigger();
    select(w, 1);
    action(w, "mnuVergleichenVergleichen")->trigger();
    korva::ComparisonWindow* cmp = w.comparisonWindow();
    QVERIFY(cmp && cmp->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return !cmp->running(); }, 10000));
    // Lines 0, 10, 20, 30 changed: four changes, the first one shown.
    QCOMPARE(cmp->statusText(), QStringLiteral("Änderung 1 von 4 · +4 \u22124 Zeilen"));
    QVERIFY(cmp->findChild<QLabel*>(QStringLiteral("lblVergleichRechts"))
                ->text()
                .endsWith(QStringLiteral("GET http://host/1")));
    QCOMPARE(cmp->rightView()->lineText(cmp->rightView()->currentLine()),
             QStringLiteral("<p>line 0x</p>"));
    QTest::keyClick(cmp, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(cmp, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(cmp->currentChange(), 3u);
    QCOMPARE(cmp->rightView()->lineText(cmp->rightView()->currentLine()),
             QStringLiteral("<p>line 20x</p>"));
    QCOMPARE(cmp->leftView()->verticalScrollBar()->value(),
             cmp->rightView()->verticalScrollBar()->value());
    cmp->previousChange();
    QCOMPARE(cmp->statusText(), QStringLiteral("Änderung 2 von 4 · +4 \u22124 Zeilen"));
    // The changed characters are marked within the line.
    QCOMPARE(cmp->rightView()->changedRangesIn(cmp->rightView()->currentLine()), 1);

    // The same response twice says so.
    select(w, 2);
    action(w, "mnuVergleichenVergleichen")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return !cmp->running(); }, 10000));
    QCOMPARE(cmp->statusText(), QStringLiteral("Die Antworten sind gleich"));

    // Two big ones: closing the comparison cancels it, and the window never waited for it.
    select(w, 3);
    action(w, "mnuVergleichenVormerken")->trigger();
    select(w, 4);
    QElapsedTimer timer;
    timer.start();
    action(w, "mnuVergleichenVergleichen")->trigger();
    QVERIFY(cmp->running());
    // Switched twice while it runs: the running ones are dropped, the last one's result shown.
    cmp->unformattedOption()->setChecked(!cmp->unformattedOption()->isChecked());
    cmp->unformattedOption()->setChecked(!cmp->unformattedOption()->isChecked());
    QVERIFY(cmp->running());
    QVERIFY(QTest::qWaitFor([&] { return !cmp->running(); }, 20000));
    QVERIFY(cmp->comparison().outcome != korva::DiffOutcome::Cancelled);
    QVERIFY(cmp->statusText().startsWith(QStringLiteral("Änderung 1 von ")));
    cmp->unformattedOption()->setChecked(!cmp->unformattedOption()->isChecked());
    timer.restart();
    QVERIFY(cmp->running());
    cmp->close();
    QVERIFY(QTest::qWaitFor([&] { return !cmp->running(); }, 10000));
    QCOMPARE(cmp->comparison().outcome, korva::DiffOutcome::Cancelled);
    QVERIFY(timer.elapsed() < 3000);  // well under the comparison's own time limit
  }

  void findingThingsInACapture() {
    Started s;
    writeLogs(s.dir, 30, "<b>x</b>");
    s.dir.append("HtmlResponse.log", makeBlock(makeKey(99), "needle NEEDLE needle"));
    s.dir.append("HtmlRequest.log", makeRequestLine(makeKey(99), "GET http://other/needle"));
    s.start();
    frmHaupt& w = *s.window;
    auto* list = child<QAbstractItemView>(w, "lstRequest");
    w.setFilterText(QStringLiteral("host/1 -host/12"));
    QVERIFY(QTest::qWaitFor([&] { return w.requestModel()->isFiltered(); }));
    // host/1, host/10..19 without host/12
    QCOMPARE(w.requestModel()->count(), 10);
    QCOMPARE(w.filterCountText(), QStringLiteral("10 von 31 Anfragen"));
    QCOMPARE(child<QLabel>(w, "lblStatusCount")->text(), QStringLiteral("10 von 31 Anfragen"));
    select(w, 2);  // host/11: what a row shows is its own request, whatever its list position
    QVERIFY(sourceText(w).contains(QStringLiteral("body 11")));
    // A refresh keeps the filter, applies it to the new rows and keeps the selection.
    s.dir.append("HtmlRequest.log", makeRequestLine(makeKey(100), "GET http://host/100 HTTP/1.1"));
    s.dir.append("HtmlResponse.log", makeBlock(makeKey(100), "new"));
    w.mnuDateiAktualisieren_Click();
    QCOMPARE(w.requestModel()->count(), 11);
    QCOMPARE(w.requestModel()->captureRow(list->currentIndex().row()), 11);
    w.setFilterText(QStringLiteral("/[/"));  // a bad expression: a hint, the list as it was
    QVERIFY(!w.filterHintText().isEmpty());
    QCOMPARE(w.requestModel()->count(), 11);
    QTest::keyClick(w.findChild<QWidget*>(QStringLiteral("txtFilter")), Qt::Key_Escape);
    QVERIFY(QTest::qWaitFor([&] { return !w.requestModel()->isFiltered(); }));
    QCOMPARE(w.requestModel()->count(), 32);

    // Search all responses; following a hit hidden by the filter clears the filter.
    w.setFilterText(QStringLiteral("host"));
    QVERIFY(QTest::qWaitFor([&] { return w.requestModel()->count() == 31; }));
    w.runResponseSearch(QStringLiteral("NEEDLE"));
    QCOMPARE(w.hitList()->topLevelItemCount(), 1);
    QCOMPARE(w.hitList()->topLevelItem(0)->text(1), QStringLiteral("3"));
    QCOMPARE(w.hitList()->topLevelItem(0)->text(2), QStringLiteral("needle NEEDLE needle"));
    w.showHit(w.hitList()->topLevelItem(0));
    QVERIFY(!w.requestModel()->isFiltered());
    QCOMPARE(w.requestModel()->captureRow(list->currentIndex().row()), 30);
    QCOMPARE(w.LastSearchTerm(), std::u16string(u"NEEDLE"));
    QCOMPARE(w.source()->SelStart(), 0);
    QCOMPARE(w.sourceMatchCount(), 3u);
    QCOMPARE(w.currentSourceMatch(), 1u);
    QVERIFY(messageVisible(w, QStringLiteral("Treffer 1 von 3")));
    QCOMPARE(child<QPlainTextEdit>(w, "txtSource_")->extraSelections().size(), 3);
    // F3 goes on to the next one.
    w.mnuAnsichtBrowserQuelltext_Click();  // the source view up, with the focus
    QTest::keyClick(child<QPlainTextEdit>(w, "txtSource_"), Qt::Key_F3);
    QCOMPARE(w.currentSourceMatch(), 2u);
    QVERIFY(messageVisible(w, QStringLiteral("Treffer 2 von 3")));
    // A term that is not there says so, without a box.
    s.dialogs.answers << QStringLiteral("absent");
    action(w, "mnuSuchenSuchen")->trigger();
    QVERIFY(messageVisible(w, QStringLiteral("„absent“ nicht gefunden")));
    QVERIFY(s.dialogs.messages.empty());

    // A search cancelled in its first yield: the title says so, and neither the cancel nor the
    // hit list taking the focus moves the list's selection.
    select(w, 4);
    QTimer::singleShot(0, &w, [&] { w.cancelResponseSearch(); });
    w.runResponseSearch(QStringLiteral("body"));
    QVERIFY(
        child<QWidget>(w, "dckTreffer")->windowTitle().endsWith(QStringLiteral("(abgebrochen)")));
    w.hitList()->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(list->currentIndex().row(), 4);
  }
};

int main(int argc, char** argv) {
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  germanInstalled = korva::installGermanTranslations();
  TestFrmHaupt test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_frmHaupt.moc"
