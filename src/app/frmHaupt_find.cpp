// The window's find commands: the filter over the request list, the search over all responses
// with its hit list, and the highlighted matches of the source search. The logic is the capture
// core's; this file wires it to controls.
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/frmHaupt.h"
#include "app/request_list_model.h"
#include "app/request_list_view.h"
#include "app/user_dialogs.h"
#include "capture/text_match.h"
#include "view/clsTextBox.h"
#include "view/qt_text.h"
#include "view/text_decode.h"
#include "viewer/status_texts.h"
#include "viewer/viewer.h"

namespace korva {
namespace {

// Rows filtered between two chances for the window to take input: a few milliseconds' work.
constexpr std::size_t kFilterSlice = 50'000;
// Highlights at most this many matches at once; only the ones in view are highlighted anyway.
constexpr std::size_t kMaxHighlights = 2000;
constexpr int kHitRowRole = Qt::UserRole;

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

void frmHaupt::createFindControls() {
  createFilterBar();
  createSuchenMenu();
  createHitsDock();
  // The source view's matches follow it as it scrolls.
  connect(txtSource_->verticalScrollBar(), &QScrollBar::valueChanged, this,
          &frmHaupt::highlightVisibleMatches);
  updateStatus();
}

void frmHaupt::createFilterBar() {
  tbrFilter = addToolBar(QStringLiteral("Filter"));
  tbrFilter->setObjectName(QStringLiteral("tbrFilter"));
  tbrFilter->setMovable(false);
  txtFilter = new QLineEdit(tbrFilter);
  txtFilter->setObjectName(QStringLiteral("txtFilter"));
  txtFilter->setPlaceholderText(
      QStringLiteral("Anfragen filtern: Wörter, -ausschließen, /regulärer Ausdruck/"));
  txtFilter->setClearButtonEnabled(true);
  txtFilter->installEventFilter(this);
  tbrFilter->addWidget(txtFilter);
  lblFilterCount = new QLabel(tbrFilter);
  lblFilterCount->setObjectName(QStringLiteral("lblFilterCount"));
  lblFilterCount->setContentsMargins(8, 0, 8, 0);
  tbrFilter->addWidget(lblFilterCount);
  lblFilterHint = new QLabel(tbrFilter);
  lblFilterHint->setObjectName(QStringLiteral("lblFilterHint"));
  lblFilterHint->setStyleSheet(QStringLiteral("color: #b00000"));
  tbrFilter->addWidget(lblFilterHint);
  tmeFilter = new QTimer(this);
  tmeFilter->setSingleShot(true);
  tmeFilter->setInterval(0);
  connect(tmeFilter, &QTimer::timeout, this, &frmHaupt::filterStep);
  connect(txtFilter, &QLineEdit::textChanged, this, &frmHaupt::startFilter);
}

void frmHaupt::createSuchenMenu() {
  QMenu* suchen = menuBar()->addMenu(QStringLiteral("&Suchen"));
  suchen->setObjectName(QStringLiteral("mnuSuchen"));
  // Ctrl+F and F3 are the window's own keys; these entries run the same and only show the key,
  // so that one press never runs twice.
  QAction* find = suchen->addAction(QStringLiteral("&Suchen…\tStrg+F"));
  find->setObjectName(QStringLiteral("mnuSuchenSuchen"));
  connect(find, &QAction::triggered, this, [this] {
    keySearch_->find();
    updateSourceMatches();
  });
  QAction* next = suchen->addAction(QStringLiteral("&Weitersuchen\tF3"));
  next->setObjectName(QStringLiteral("mnuSuchenWeitersuchen"));
  connect(next, &QAction::triggered, this, [this] {
    keySearch_->findNext();
    updateSourceMatches();
  });
  suchen->addSeparator();
  QAction* filter = suchen->addAction(QStringLiteral("Liste &filtern"));
  filter->setObjectName(QStringLiteral("mnuSuchenFiltern"));
  filter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  connect(filter, &QAction::triggered, this, [this] {
    txtFilter->setFocus(Qt::ShortcutFocusReason);
    txtFilter->selectAll();
  });
  mnuSuchenAlleAntworten = suchen->addAction(QStringLiteral("In allen &Antworten suchen…"));
  mnuSuchenAlleAntworten->setObjectName(QStringLiteral("mnuSuchenAlleAntworten"));
  mnuSuchenAlleAntworten->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  connect(mnuSuchenAlleAntworten, &QAction::triggered, this,
          &frmHaupt::mnuSuchenAlleAntworten_Click);
}

void frmHaupt::createHitsDock() {
  dckTreffer = new QDockWidget(QStringLiteral("Treffer in allen Antworten"), this);
  dckTreffer->setObjectName(QStringLiteral("dckTreffer"));
  dckTreffer->setFeatures(QDockWidget::DockWidgetClosable);
  auto* panel = new QWidget(dckTreffer);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(2, 2, 2, 2);
  auto* progressRow = new QHBoxLayout();
  prgSearch = new QProgressBar(panel);
  prgSearch->setObjectName(QStringLiteral("prgSearch"));
  prgSearch->setRange(0, 100);
  cmdSearchCancel = new QPushButton(QStringLiteral("Abbrechen"), panel);
  cmdSearchCancel->setObjectName(QStringLiteral("cmdSearchCancel"));
  connect(cmdSearchCancel, &QPushButton::clicked, this, &frmHaupt::cancelResponseSearch);
  progressRow->addWidget(prgSearch);
  progressRow->addWidget(cmdSearchCancel);
  column->addLayout(progressRow);
  lstHits = new QTreeWidget(panel);
  lstHits->setObjectName(QStringLiteral("lstHits"));
  lstHits->setRootIsDecorated(false);
  lstHits->setUniformRowHeights(true);
  lstHits->setHeaderLabels(
      {QStringLiteral("Anfrage"), QStringLiteral("Treffer"), QStringLiteral("Ausschnitt")});
  lstHits->header()->setStretchLastSection(true);
  lstHits->setColumnWidth(0, 420);
  lstHits->setColumnWidth(1, 60);
  connect(lstHits, &QTreeWidget::itemActivated, this, &frmHaupt::showHit);
  connect(lstHits, &QTreeWidget::itemClicked, this, &frmHaupt::showHit);
  // The arrow keys walk from hit to hit; a current item that the view picks for itself (when
  // it takes the focus, or the first hit comes in) is no choice of the user's.
  connect(lstHits, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item, QTreeWidgetItem* previous) {
            if (previous && lstHits->hasFocus()) showHit(item);
          });
  column->addWidget(lstHits);
  dckTreffer->setWidget(panel);
  addDockWidget(Qt::BottomDockWidgetArea, dckTreffer);
  dckTreffer->hide();
}

// --- The filter over the request list ---

void frmHaupt::setFilterText(const QString& text) { txtFilter->setText(text); }

QString frmHaupt::filterCountText() const { return lblFilterCount->text(); }
QString frmHaupt::filterHintText() const { return lblFilterHint->text(); }

void frmHaupt::startFilter() {
  viewer_->setFilter(utf8(txtFilter->text()));
  lblFilterHint->setText(QString::fromStdString(viewer_->filterHint()));
  if (viewer_->filterPending())
    tmeFilter->start();
  else
    tmeFilter->stop();
}

void frmHaupt::filterStep() {
  viewer_->filterStep(kFilterSlice);
  if (viewer_->filterPending()) tmeFilter->start();  // the rest after the window saw its input
}

void frmHaupt::applyFilterNow() {
  tmeFilter->stop();
  viewer_->finishFilter();
}

// --- The search over all responses ---

void frmHaupt::mnuSuchenAlleAntworten_Click() {
  if (viewer_->busy()) return;
  const QString term = dialogs_->inputBox(
      QStringLiteral("Suchbegriff in allen Antworten (/…/ für einen regulären Ausdruck):"),
      QStringLiteral("In allen Antworten suchen"), allSearchTerm_);
  if (term.isEmpty()) return;
  runResponseSearch(term);
}

void frmHaupt::runResponseSearch(const QString& term) {
  std::string refusal;
  allSearchTerm_ = term;
  if (!viewer_->searchAll(utf8(term), &refusal))
    dialogs_->messageBox(QString::fromStdString(refusal), UserDialogs::Icon::Warning,
                         QStringLiteral("Korvashimtale"));
}

void frmHaupt::cancelResponseSearch() { viewer_->cancelSearch(); }

bool frmHaupt::responseSearchRunning() const { return viewer_->searching(); }

void frmHaupt::viewer_searchChanged() {
  const bool running = viewer_->searching();
  if (running) {
    lstHits->clear();
    dckTreffer->show();
    prgSearch->setValue(0);
  } else if (viewer_->searchTerm().empty()) {
    lstHits->clear();  // the hits named rows of a log that was replaced
  }
  prgSearch->setVisible(running);
  cmdSearchCancel->setVisible(running);
  const std::string text = viewer_->hitsText();
  dckTreffer->setWindowTitle(text.empty() ? QStringLiteral("Treffer in allen Antworten")
                                          : QStringLiteral("Treffer in allen Antworten: ") +
                                                QString::fromStdString(text));
  updateCommands();
}

void frmHaupt::viewer_hitFound(std::size_t row, std::uint64_t matches,
                               const std::u16string& snippet) {
  auto* item = new QTreeWidgetItem(lstHits);
  item->setText(0, toQString(decodeLine(viewer_->capture().rows().text(row))));
  item->setText(1, QString::fromStdString(germanNumber(matches)));
  item->setText(2, toQString(snippet));
  item->setData(0, kHitRowRole, static_cast<qulonglong>(row));
}

void frmHaupt::showHit(QTreeWidgetItem* item) {
  if (!item || viewer_->searching()) return;
  const int row = static_cast<int>(item->data(0, kHitRowRole).toULongLong());
  if (requestModel_->listRow(row) < 0) txtFilter->clear();  // the filter hides it
  const int listRow = requestModel_->listRow(row);
  if (listRow < 0) return;
  lstRequest->setCurrentIndex(requestModel_->index(listRow));
  lstRequest->scrollTo(requestModel_->index(listRow));
  // F3 goes on with a plain term from the first match on; an expression is not one F3 can take.
  if (isRegexTerm(utf8(allSearchTerm_))) return;
  keySearch_->setLastSearchTerm(allSearchTerm_.toStdU16String());
  if (!selectFirstOccurrence(allSearchTerm_.toStdU16String())) updateSourceMatches();
}

// --- Every match of the source search ---

void frmHaupt::clearSourceMatches() {
  sourceMatches_.clear();
  txtSource_->setExtraSelections({});
}

std::size_t frmHaupt::currentSourceMatch() const {
  return sourceMatches_.current(cSource->SelStart(), cSource->SelLength());
}

void frmHaupt::updateSourceMatches() {
  const std::u16string& term = keySearch_->LastSearchTerm();
  clearSourceMatches();
  if (term.empty()) return;
  const QString text = cSource->Text();
  sourceMatches_.find(term, toU16View(text));
  showStatusMessage(
      QString::fromStdString(sourceMatches_.statusText(cSource->SelStart(), cSource->SelLength())));
  highlightVisibleMatches();
}

void frmHaupt::highlightVisibleMatches() {
  const std::vector<std::size_t>& offsets = sourceMatches_.offsets();
  if (offsets.empty()) return;
  const std::size_t length = sourceMatches_.length();
  // Only what is in view: a body of many megabytes may hold a million matches.
  const QRect view = txtSource_->viewport()->rect();
  const auto first =
      static_cast<std::size_t>(txtSource_->cursorForPosition(view.topLeft()).position());
  const auto last =
      static_cast<std::size_t>(txtSource_->cursorForPosition(view.bottomRight()).position());
  auto at = std::lower_bound(offsets.begin(), offsets.end(), first > length ? first - length : 0);
  QList<QTextEdit::ExtraSelection> marks;
  QTextCharFormat format;
  format.setBackground(QColor(255, 225, 110));
  for (; at != offsets.end() && *at <= last && marks.size() < int(kMaxHighlights); ++at) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(txtSource_->document());
    mark.cursor.setPosition(static_cast<int>(*at));
    mark.cursor.setPosition(static_cast<int>(*at + length), QTextCursor::KeepAnchor);
    mark.format = format;
    marks.append(mark);
  }
  txtSource_->setExtraSelections(marks);
}

}  // namespace korva
