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
#include <QListView>
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
#include "app/user_dialogs.h"
#include "capture/capture.h"
#include "capture/response_search.h"
#include "capture/row_filter.h"
#include "view/clsTextBox.h"
#include "view/qt_text.h"
#include "view/text_decode.h"
#include "view/text_search.h"

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
  updateFilterCount();
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
  connect(lstHits, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { showHit(item); });
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
  RowFilter filter(utf8(txtFilter->text()));
  lblFilterHint->setText(QString::fromStdString(filter.error()));
  if (!filter.error().empty()) {
    // The list stays as it was while the expression is being typed.
    filterRun_.reset();
    tmeFilter->stop();
    return;
  }
  if (filter.keepsEverything()) {
    filterRun_.reset();
    tmeFilter->stop();
    showKept({}, false);
    return;
  }
  filterRun_ = std::make_unique<FilterRun>(capture_->rows(), std::move(filter));
  tmeFilter->start();
}

void frmHaupt::filterStep() {
  if (!filterRun_) return;
  if (!filterRun_->step(kFilterSlice)) {
    tmeFilter->start();  // the rest after the window has looked at its input
    return;
  }
  std::vector<std::uint32_t> kept = filterRun_->takeKept();
  filterRun_.reset();
  showKept(std::move(kept), true);
}

void frmHaupt::applyFilterNow() {
  tmeFilter->stop();
  RowFilter filter(utf8(txtFilter->text()));
  if (!filter.error().empty() || filter.keepsEverything()) {
    filterRun_.reset();
    requestModel_->setKept(std::nullopt);
    updateFilterCount();
    return;
  }
  FilterRun run(capture_->rows(), std::move(filter));
  run.step(capture_->rows().size());
  filterRun_.reset();
  requestModel_->setKept(run.takeKept());
  updateFilterCount();
}

void frmHaupt::showKept(std::vector<std::uint32_t> kept, bool filtered) {
  // The selected request stays selected while it still passes; it is not shown anew.
  const int selected = requestModel_->captureRow(lstRequest->currentIndex().row());
  if (filtered)
    requestModel_->setKept(std::move(kept));
  else
    requestModel_->setKept(std::nullopt);
  const int row = requestModel_->listRow(selected);
  if (row >= 0) {
    suppressDisplay_ = true;
    lstRequest->setCurrentIndex(requestModel_->index(row));
    suppressDisplay_ = false;
    lstRequest->scrollTo(requestModel_->index(row));
  }
  updateFilterCount();
}

void frmHaupt::updateFilterCount() {
  if (lblStatusCount_) updateStatusCount();  // the status bar comes after the menus
  const int total = requestModel_->totalCount();
  lblFilterCount->setText(
      requestModel_->isFiltered()
          ? QStringLiteral("%1 von %2 Anfragen")
                .arg(QLocale(QLocale::German).toString(requestModel_->count()),
                     QLocale(QLocale::German).toString(total))
          : QStringLiteral("%1 Anfragen").arg(QLocale(QLocale::German).toString(total)));
}

// --- The search over all responses ---

void frmHaupt::mnuSuchenAlleAntworten_Click() {
  if (searchRunning_) return;
  const QString term = dialogs_->inputBox(
      QStringLiteral("Suchbegriff in allen Antworten (/…/ für einen regulären Ausdruck):"),
      QStringLiteral("In allen Antworten suchen"), allSearchTerm_);
  if (term.isEmpty()) return;
  runResponseSearch(term);
}

void frmHaupt::runResponseSearch(const QString& term) {
  if (searchRunning_ || !cIndex) return;
  const TextMatcher matcher = matcherForTerm(utf8(term));
  if (!matcher.error().empty()) {
    dialogs_->messageBox(QString::fromStdString(matcher.error()), UserDialogs::Icon::Warning,
                         QStringLiteral("Korvashimtale"));
    return;
  }
  allSearchTerm_ = term;
  lstHits->clear();
  dckTreffer->show();
  prgSearch->setValue(0);
  prgSearch->show();
  cmdSearchCancel->show();
  // While the search yields, nothing may change the rows or the index under it.
  ++busy_;
  searchRunning_ = true;
  searchCancel_ = false;
  mnuDateiAktualisieren->setEnabled(false);
  mnuSuchenAlleAntworten->setEnabled(false);
  mnuDateiOrdnerOeffnen->setEnabled(false);
  std::uint64_t total = 0;
  ResponseSearchOptions options;
  options.progress = [this](std::uint8_t percent, bool& cancel) {
    prgSearch->setValue(percent);
    QCoreApplication::processEvents();
    cancel = searchCancel_ || UnloadRequested_;
  };
  options.onHit = [this, &total](const ResponseHit& hit) {
    total += hit.matches;
    auto* item = new QTreeWidgetItem(lstHits);
    item->setText(0, toQString(decodeLine(capture_->rows().text(hit.row))));
    item->setText(1, QString::number(hit.matches));
    item->setText(2, toQString(hit.snippet));
    item->setData(0, kHitRowRole, static_cast<qulonglong>(hit.row));
  };
  QString outcome;
  try {
    const ResponseSearchResult result = searchResponses(*capture_, matcher, options);
    outcome = QStringLiteral("„%1“: %2 Treffer in %3 Antworten%4")
                  .arg(term)
                  .arg(total)
                  .arg(result.hits.size())
                  .arg(result.cancelled ? QStringLiteral(" (abgebrochen)") : QString());
  } catch (const std::exception& e) {
    outcome = QString::fromUtf8(e.what());
  }
  prgSearch->hide();
  cmdSearchCancel->hide();
  dckTreffer->setWindowTitle(QStringLiteral("Treffer in allen Antworten: ") + outcome);
  searchRunning_ = false;
  mnuDateiAktualisieren->setEnabled(!frmProgress->isVisible());
  mnuSuchenAlleAntworten->setEnabled(true);
  mnuDateiOrdnerOeffnen->setEnabled(true);
  --busy_;
}

void frmHaupt::showHit(QTreeWidgetItem* item) {
  if (!item) return;
  const int row = static_cast<int>(item->data(0, kHitRowRole).toULongLong());
  if (requestModel_->listRow(row) < 0) txtFilter->clear();  // the filter hides it
  const int listRow = requestModel_->listRow(row);
  if (listRow < 0) return;
  lstRequest->setCurrentIndex(requestModel_->index(listRow));
  lstRequest->scrollTo(requestModel_->index(listRow));
  // F3 goes on with a plain term from the first match on; an expression is not one F3 can take.
  const QString term = allSearchTerm_;
  if (term.size() >= 3 && term.startsWith(u'/') && term.endsWith(u'/')) return;
  keySearch_->setLastSearchTerm(term.toStdU16String());
  cSource->setSelStart(0);
  cSource->setSelLength(0);
  keySearch_->findNext();
  updateSourceMatches();
}

// --- Every match of the source search ---

void frmHaupt::clearSourceMatches() {
  sourceMatches_.clear();
  sourceMatchLength_ = 0;
  txtSource_->setExtraSelections({});
}

std::size_t frmHaupt::currentSourceMatch() const {
  const auto start = static_cast<std::size_t>(std::max(0, cSource->SelStart()));
  const auto at = std::lower_bound(sourceMatches_.begin(), sourceMatches_.end(), start);
  if (at == sourceMatches_.end() || *at != start ||
      static_cast<std::size_t>(cSource->SelLength()) != sourceMatchLength_)
    return 0;
  return static_cast<std::size_t>(at - sourceMatches_.begin()) + 1;
}

void frmHaupt::updateSourceMatches() {
  const std::u16string& term = keySearch_->LastSearchTerm();
  clearSourceMatches();
  if (term.empty()) return;
  const QString text = cSource->Text();
  sourceMatches_ = NoCaseFinder16(term).findAll(toU16View(text));
  sourceMatchLength_ = term.size();
  if (sourceMatches_.empty()) {
    showStatusMessage(QStringLiteral("„%1“ nicht gefunden").arg(toQString(term)));
  } else {
    showStatusMessage(
        QStringLiteral("Treffer %1 von %2").arg(currentSourceMatch()).arg(sourceMatches_.size()));
  }
  highlightVisibleMatches();
}

void frmHaupt::highlightVisibleMatches() {
  if (sourceMatches_.empty()) return;
  // Only what is in view: a body of many megabytes may hold a million matches.
  const QRect view = txtSource_->viewport()->rect();
  const auto first =
      static_cast<std::size_t>(txtSource_->cursorForPosition(view.topLeft()).position());
  const auto last =
      static_cast<std::size_t>(txtSource_->cursorForPosition(view.bottomRight()).position());
  auto at = std::lower_bound(sourceMatches_.begin(), sourceMatches_.end(),
                             first > sourceMatchLength_ ? first - sourceMatchLength_ : 0);
  QList<QTextEdit::ExtraSelection> marks;
  QTextCharFormat format;
  format.setBackground(QColor(255, 225, 110));
  for (; at != sourceMatches_.end() && *at <= last && marks.size() < int(kMaxHighlights); ++at) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(txtSource_->document());
    mark.cursor.setPosition(static_cast<int>(*at));
    mark.cursor.setPosition(static_cast<int>(*at + sourceMatchLength_), QTextCursor::KeepAnchor);
    mark.format = format;
    marks.append(mark);
  }
  txtSource_->setExtraSelections(marks);
}

}  // namespace korva
