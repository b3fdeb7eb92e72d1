// The program's only window: request list, request text, the source and the rendered view of
// the selected response, the progress frame of an index build, and the deferred close.
//
// The window is thin on purpose: what the user sees of the open folder (list, filter, selection,
// refresh, search, status texts) is the viewer core's, and the layout geometry, the splitter
// rules and the search keys live in Qt-free code too; this class renders and forwards.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "app/key_search.h"
#include "app/layout.h"
#include "app/splitter.h"
#include "view/html_format.h"
#include "viewer/source_matches.h"

class QAction;
class QDockWidget;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class QPlainTextEdit;
class QTimer;

namespace korva {

class clsIndex;
class ComparisonWindow;
class clsTextBox;
class RenderedView;
class RequestListModel;
class RequestListView;
class LiveRefresh;
class UserDialogs;
class Viewer;

class frmHaupt : public QMainWindow {
  Q_OBJECT

 public:
  // `folder` is where the three files are; the program passes its working directory. The
  // dialogs default to real message boxes; tests pass a fake that records and answers.
  explicit frmHaupt(std::string folder = ".", UserDialogs* dialogs = nullptr,
                    QWidget* parent = nullptr);
  ~frmHaupt() override;

  // Start-up: creates the index (loading "HtmlResponse.idx"), sizes and shows the window,
  // yields once and refreshes the request list.
  void Form_Load();

  // Menu and control handlers; public so that tests can drive them as a user would.
  void mnuDateiAktualisieren_Click();
  void mnuDateiBeenden_Click();
  void mnuAnsichtBrowserQuelltext_Click();
  void mnuAnsichtEntferneJavaScript_Click();
  void mnuAnsichtEntferneKommentare_Click();
  // "Formatiert": the source view shows the response pretty-printed, keeping the reader's place.
  void mnuAnsichtFormatiert_Click();
  // The source view shows formatted text (of a big body perhaps only its first lines yet) / waits
  // for the whole of it (a big body formats on a thread).
  bool formattedShown() const;
  bool formattingPending() const;
  void lstRequest_Click();
  // "Ordner öffnen…": asks for a folder and opens it.
  void mnuDateiOrdnerOeffnen_Click();
  // Works in `folder` from now on as if started there: the old index is saved as at a close,
  // the new one loaded and brought up to date.
  void openFolder(const QString& folder);
  // "Antwort speichern unter…": the selected response's bytes as the source view gets them.
  void mnuDateiAntwortSpeichern_Click();
  // "Zum Vergleich vormerken" and "Mit vorgemerkter Antwort vergleichen": the comparison window.
  void mnuVergleichenVormerken_Click();
  void mnuVergleichenVergleichen_Click();
  ComparisonWindow* comparisonWindow() const;
  void cIndex_Progress(std::uint8_t& PercentComplete, bool& Cancel);
  void tmeUnload_Timer();

  // The folder of the logs, absolute.
  QString absoluteFolder() const;
  // A passing message in the status bar, over its fields; 0 ms keeps it until the next one.
  void showStatusMessage(const QString& text, int timeoutMs = 0);
  // The status bar's fields and the filter's count, from the viewer core.
  void updateStatus();

  // Lays out every pane for the current client size.
  void ArrangeControls();

  // Finding things: the list filter, the search over all responses and its hits, the matches of
  // the source search. Beside the fixed menus; in frmHaupt_find.cpp.
  void setFilterText(const QString& text);
  // Runs the filter of the field to its end now.
  void applyFilterNow();
  // Asks for a term and searches every listed response; the hits list shows what is found.
  void mnuSuchenAlleAntworten_Click();
  void runResponseSearch(const QString& term);
  void cancelResponseSearch();
  bool responseSearchRunning() const;
  QTreeWidget* hitList() const { return lstHits; }
  void showHit(QTreeWidgetItem* item);
  // Occurrences of LastSearchTerm in the source text, and the one that is selected (from 1; 0
  // when the selection is none of them).
  std::size_t sourceMatchCount() const { return sourceMatches_.offsets().size(); }
  std::size_t currentSourceMatch() const;
  QString filterCountText() const;
  QString filterHintText() const;

  bool UnloadRequested() const { return UnloadRequested_; }
  float ListHeightRatio() const { return ListHeightRatio_; }
  std::int16_t ActiveSplitter() const { return splitter_.ActiveSplitter(); }
  const std::u16string& LastSearchTerm() const { return keySearch_->LastSearchTerm(); }
  clsIndex* index() const { return cIndex; }
  const Viewer& viewer() const { return *viewer_; }
  clsTextBox* source() const { return cSource.get(); }
  RenderedView* browser() const { return brwBrowser; }
  RequestListModel* requestModel() const { return requestModel_; }
  // The last computed geometry, in twips.
  const LayoutResult& lastLayout() const { return layout_; }
  // Twips per pixel of the screen the window is on.
  float twipsPerPixelX() const { return tppX_; }
  float twipsPerPixelY() const { return tppY_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Link;
  class SourceSearchTarget;
  class DialogSearchPrompt;

  void createControls();
  void createMenus();
  void createStatusBar();
  // Commands beside the fixed menu items: list navigation, copying.
  void createComfortActions();
  void createCompareCommands();
  void createFormatAction();
  // A place in the text as received (line ends unified): the top line and the selection.
  struct SourcePlace {
    bool keep = false;  // false: the new text starts at its top
    std::size_t top = 0, selStart = 0, selEnd = 0;
    bool selectionInView = false;  // scroll to the selection instead of the top
    bool matches = false;          // count and highlight the source search's matches
  };
  // Shows plainText_ in the source view as "Formatiert" says, at `place`.
  void showSource(const SourcePlace& place);
  void restorePlace(const SourcePlace& place);
  std::size_t toPlainPosition(std::size_t position) const;
  // Selects the first occurrence of `term` in the response as received, in either mode.
  bool selectFirstOccurrence(const std::u16string& term);
  // Selects the row `step` rows after the current one of the list as shown, as a click would.
  void selectAdjacentRequest(int step);
  // A change of the logs seen while "Automatisch aktualisieren" is on: the refresh of F5, with
  // the list following new rows only when its last row was in view.
  void liveRefresh_Changed();
  void copyRequest();
  void copyResponse();
  // Shows the warning that the index of `folder` could not be saved.
  void warnIndexNotSaved(const QString& folder);
  // True while a refresh, a build, a search or a display runs: the folder must not change.
  bool isBusy() const;
  // Enables the commands that may start now.
  void updateCommands();
  // The viewer core's calls, for the viewer that is open.
  void viewer_progress(int activity, std::uint8_t percent, bool& cancel);
  void viewer_report(const std::string& text, int kind);
  void viewer_selectionRestored(std::size_t listRow, bool display);
  void viewer_searchChanged();
  void viewer_hitFound(std::size_t row, std::uint64_t matches, const std::u16string& snippet);
  // The deferred close: every close but the program's own is refused and retried by the timer.
  void Form_QueryUnload(bool& cancel, bool programUnload);
  void showResponse(std::u16string text);
  // The source view's status fields: a chosen character set, shown while one is chosen, and a
  // line left without colours, while it is shown.
  void showSourceStatus();
  // "Zeilen umbrechen" and the other items of the source view under "Ansicht", after the rest.
  void createSourceViewActions();
  // Saves and releases the index; the window is going. False when the save failed.
  bool releaseIndex();
  void applyLayout();
  SplitterBand splitterBand() const;
  void windowMouseMove(float yTwips);
  void handleMouse(QObject* watched, QEvent* event);
  bool handleKeyPreview(QObject* watched, QEvent* event);
  void createFindControls();
  void createFilterBar();
  void createSuchenMenu();
  void createHitsDock();
  void startFilter();
  void filterStep();
  // After a source search: finds every occurrence, highlights those in view, counts.
  void updateSourceMatches();
  void highlightVisibleMatches();
  void clearSourceMatches();

  std::unique_ptr<UserDialogs> ownDialogs_;
  UserDialogs* dialogs_;

  std::unique_ptr<Link> link_;  // outlives the viewer, which calls it
  std::unique_ptr<Viewer> viewer_;
  clsIndex* cIndex = nullptr;  // the viewer's index, from start-up until the window goes
  std::unique_ptr<clsTextBox> cSource;
  std::unique_ptr<SourceSearchTarget> searchTarget_;
  std::unique_ptr<DialogSearchPrompt> searchPrompt_;
  std::unique_ptr<KeySearch> keySearch_;
  SplitterDrag splitter_;
  LayoutResult layout_;

  SourceMatches sourceMatches_;
  // The response on display as received, line ends unified; shared with the formatting thread.
  std::shared_ptr<const std::u16string> plainText_ = std::make_shared<const std::u16string>();
  HtmlFormatMap formatMap_;  // between plainText_ and the formatted text while that is shown
  bool formattedShown_ = false;
  bool formatPending_ = false;
  int formatGeneration_ = 0;
  SourcePlace pendingPlace_;
  bool placeShown_ = false;       // the pending place was shown among the first formatted lines
  bool suppressDisplay_ = false;  // a selection restored after filtering shows nothing anew
  QString allSearchTerm_;
  // The key event last seen by the key preview and the widget it was delivered to.
  const QEvent* lastKeyEvent_ = nullptr;
  QPointer<QWidget> lastKeyReceiver_;

  bool UnloadRequested_ = false;
  bool programUnload_ = false;
  float ListHeightRatio_ = 0.2f;
  float tppX_ = 15.0f;
  float tppY_ = 15.0f;

  QWidget* client_ = nullptr;
  RequestListModel* requestModel_ = nullptr;
  RequestListView* lstRequest = nullptr;
  QPlainTextEdit* txtRequest = nullptr;
  QPlainTextEdit* txtSource_ = nullptr;
  RenderedView* brwBrowser = nullptr;
  QFrame* frmProgress = nullptr;
  QLabel* lblProgress = nullptr;
  QFrame* Line1 = nullptr;
  QFrame* Line2 = nullptr;
  QFrame* Line3 = nullptr;
  QFrame* Line4 = nullptr;
  QTimer* tmeUnload = nullptr;
  QToolBar* tbrFilter = nullptr;
  QLineEdit* txtFilter = nullptr;
  QLabel* lblFilterCount = nullptr;
  QLabel* lblFilterHint = nullptr;
  QTimer* tmeFilter = nullptr;
  QDockWidget* dckTreffer = nullptr;
  QTreeWidget* lstHits = nullptr;
  QProgressBar* prgSearch = nullptr;
  QPushButton* cmdSearchCancel = nullptr;

  // The status bar's fields, left to right.
  QLabel* lblStatusFolder_ = nullptr;
  QLabel* lblStatusCount_ = nullptr;
  QLabel* lblStatusIndex_ = nullptr;
  QLabel* lblStatusResponse_ = nullptr;
  QLabel* lblStatusBlocked_ = nullptr;
  // The character set chosen under "Zeichensatz"; null for the automatic detection.
  const char* charset_ = nullptr;
  QLabel* lblStatusCharset_ = nullptr;
  QLabel* lblStatusColours_ = nullptr;
  LiveRefresh* liveRefresh_ = nullptr;
  QPointer<ComparisonWindow> comparison_;

  QAction* mnuDateiAktualisieren = nullptr;
  QAction* mnuDateiBeenden = nullptr;
  QAction* mnuDateiOrdnerOeffnen = nullptr;
  QAction* mnuDateiAntwortSpeichern = nullptr;
  QAction* mnuAnsichtBrowserQuelltext = nullptr;
  QAction* mnuAnsichtEntferneJavaScript = nullptr;
  QAction* mnuAnsichtEntferneKommentare = nullptr;
  QAction* mnuAnsichtFormatiert = nullptr;
  QAction* mnuSuchenAlleAntworten = nullptr;
  QAction* mnuVergleichenVormerken = nullptr;
  QAction* mnuVergleichenVergleichen = nullptr;
};

}  // namespace korva
