#include "app/frmHaupt.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <string_view>

#include "app/live_refresh.h"
#include "app/request_list_model.h"
#include "app/request_list_view.h"
#include "app/user_dialogs.h"
#include "index/atomic_file.h"
#include "index/clsIndex.h"
#include "view/charset.h"
#include "view/clsTextBox.h"
#include "view/qt_text.h"
#include "view/rendered_view.h"
#include "view/source_view.h"
#include "view/text_decode.h"
#include "viewer/status_texts.h"
#include "viewer/viewer.h"

namespace korva {
namespace {

const QString kAppTitle = QStringLiteral("Korvashimtale");
const QString kCaptionBrowser = QStringLiteral("&Browser");
const QString kCaptionSource = QStringLiteral("&Quelltext");
constexpr float kRequestTextHeight = 615.0f;  // twips; the layout never changes it
constexpr int kUnloadInterval = 100;          // ms

QFont fixedFont(qreal points) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(points);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QString fromUtf8(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

QRect toQRect(const PixelRect& r) { return QRect(r.left, r.top, r.width, r.height); }

int modifierBits(Qt::KeyboardModifiers m) {
  int bits = 0;
  if (m & Qt::ShiftModifier) bits |= kModShift;
  if (m & Qt::ControlModifier) bits |= kModCtrl;
  if (m & Qt::AltModifier) bits |= kModAlt;
  // The Meta key has no bit of its own among the three; any further bit keeps a Meta
  // combination from reading as the same key without modifiers.
  if (m & Qt::MetaModifier) bits |= 8;
  return bits;
}

// Runs a function when the scope ends, however it ends.
template <typename F>
class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() { f_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

}  // namespace

// The viewer core's calls for one viewer; ignored until that viewer is the open one, so that a
// folder that is still being tried cannot touch the list.
class frmHaupt::Link : public ViewerHost {
 public:
  explicit Link(frmHaupt& window) : w_(window) {}
  bool live = false;

  void progress(Activity activity, std::uint8_t percent, bool& cancel) override {
    if (live) w_.viewer_progress(static_cast<int>(activity), percent, cancel);
  }
  void report(const std::string& text, ReportKind kind) override {
    w_.viewer_report(text, static_cast<int>(kind));
  }
  void listChanging(const ListChange& change) override {
    if (live) w_.requestModel_->beginChange(change);
  }
  void listChanged(const ListChange& change) override {
    if (!live) return;
    w_.requestModel_->endChange(change);
    w_.updateStatus();
  }
  void selectionRestored(std::size_t listRow, bool display) override {
    if (live) w_.viewer_selectionRestored(listRow, display);
  }
  void indexStepChanged(bool running) override {
    if (!live) return;
    w_.frmProgress->setVisible(running);
    w_.updateCommands();
  }
  void searchChanged() override {
    if (live) w_.viewer_searchChanged();
  }
  void hitFound(const ResponseHit& hit) override {
    if (live) w_.viewer_hitFound(hit.row, hit.matches, hit.snippet);
  }
  void statusChanged() override {
    if (live) w_.updateStatus();
  }

 private:
  frmHaupt& w_;
};

// The source pane as the keyboard search sees it.
class frmHaupt::SourceSearchTarget : public SearchTarget {
 public:
  explicit SourceSearchTarget(frmHaupt& window) : window_(window) {}
  std::u16string_view text() const override {
    text_ = window_.cSource->Text();
    return toU16View(text_);
  }
  std::int32_t selStart() const override { return window_.cSource->SelStart(); }
  std::int32_t selLength() const override { return window_.cSource->SelLength(); }
  void setSelStart(std::int32_t start) override { window_.cSource->setSelStart(start); }
  void setSelLength(std::int32_t length) override { window_.cSource->setSelLength(length); }
  // A hidden text box cannot take the focus; the search still selects in it, so the match is
  // there when the user switches to the source view.
  bool canTakeFocus() const override { return window_.cSource->Visible() != 0; }
  void setFocus() override { window_.cSource->SetFocus(); }

 private:
  frmHaupt& window_;
  mutable QString text_;
};

class frmHaupt::DialogSearchPrompt : public SearchPrompt {
 public:
  explicit DialogSearchPrompt(UserDialogs*& dialogs) : dialogs_(dialogs) {}
  std::u16string ask(std::u16string_view prompt, std::u16string_view title,
                     std::u16string_view defaultText) override {
    QString answer =
        dialogs_->inputBox(toQString(prompt), toQString(title), toQString(defaultText));
    return answer.toStdU16String();
  }

 private:
  UserDialogs*& dialogs_;
};

frmHaupt::frmHaupt(std::string folder, UserDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs) {
  if (!dialogs_) {
    ownDialogs_ = std::make_unique<QtUserDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  // The request log is read ahead while the window builds itself; the start-up's refresh takes
  // it.
  link_ = std::make_unique<Link>(*this);
  viewer_ = std::make_unique<Viewer>(folder, *link_);
  searchTarget_ = std::make_unique<SourceSearchTarget>(*this);
  searchPrompt_ = std::make_unique<DialogSearchPrompt>(dialogs_);
  keySearch_ = std::make_unique<KeySearch>(*searchTarget_, *searchPrompt_);
  setObjectName(QStringLiteral("frmHaupt"));
  setWindowTitle(kAppTitle);
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/korvashimtale-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/icons/korvashimtale-32.png"), QSize(32, 32));
  setWindowIcon(icon);
  createControls();
  createMenus();
  createStatusBar();
  createComfortActions();
  createSourceViewActions();
  createFormatAction();
  createCompareCommands();
  qApp->installEventFilter(this);
}

frmHaupt::~frmHaupt() {
  qApp->removeEventFilter(this);
  releaseIndex();
}

bool frmHaupt::releaseIndex() {
  cIndex = nullptr;
  return viewer_->releaseIndex();
}

void frmHaupt::createControls() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  client_->setMouseTracking(true);
  client_->installEventFilter(this);
  setCentralWidget(client_);

  requestModel_ = new RequestListModel(viewer_.get(), this);
  lstRequest = new RequestListView(client_);
  lstRequest->setObjectName(QStringLiteral("lstRequest"));
  lstRequest->setModel(requestModel_);
  lstRequest->setFont(fixedFont(9.75));
  connect(lstRequest->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            // A list that lost its rows keeps the viewer's selection for the refresh to restore.
            if (!current.isValid()) return;
            viewer_->select(static_cast<std::size_t>(current.row()));
            if (!suppressDisplay_) lstRequest_Click();
          });

  txtRequest = new QPlainTextEdit(client_);
  txtRequest->setObjectName(QStringLiteral("txtRequest"));
  txtRequest->setReadOnly(true);
  txtRequest->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtRequest->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtRequest->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtRequest->setFont(fixedFont(9.75));

  txtSource_ = new SourceView(client_);
  txtSource_->setObjectName(QStringLiteral("txtSource_"));
  txtSource_->setReadOnly(true);
  txtSource_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtSource_->setFont(fixedFont(11.25));
  txtSource_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  for (QAbstractScrollArea* area : {static_cast<QAbstractScrollArea*>(lstRequest),
                                    static_cast<QAbstractScrollArea*>(txtRequest),
                                    static_cast<QAbstractScrollArea*>(txtSource_)}) {
    area->viewport()->setMouseTracking(true);
    area->viewport()->installEventFilter(this);
  }

  brwBrowser = new RenderedView(client_);
  brwBrowser->setObjectName(QStringLiteral("brwBrowser"));
  connect(brwBrowser, &RenderedView::linkRefused, this, [this] {
    showStatusMessage(QStringLiteral("Links werden in der Vorschau nicht geöffnet."), 5000);
  });

  frmProgress = new QFrame(client_);
  frmProgress->setObjectName(QStringLiteral("frmProgress"));
  frmProgress->setAutoFillBackground(true);
  frmProgress->hide();
  lblProgress = new QLabel(QStringLiteral("Index wird aufgebaut: 100%"), frmProgress);
  lblProgress->setObjectName(QStringLiteral("lblProgress"));
  lblProgress->setFont(fixedFont(9.75));
  lblProgress->adjustSize();
  QFrame** lines[] = {&Line1, &Line2, &Line3, &Line4};
  for (int i = 0; i < 4; ++i) {
    QFrame* line = new QFrame(frmProgress);
    line->setObjectName(QStringLiteral("Line%1").arg(i + 1));
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
    line->setPalette(palette);
    *lines[i] = line;
  }
  frmProgress->raise();

  setTabOrder(txtSource_, lstRequest);
  setTabOrder(lstRequest, txtRequest);

  tmeUnload = new QTimer(this);
  tmeUnload->setObjectName(QStringLiteral("tmeUnload"));
  tmeUnload->setInterval(kUnloadInterval);
  connect(tmeUnload, &QTimer::timeout, this, &frmHaupt::tmeUnload_Timer);
}

void frmHaupt::createMenus() {
  auto addAction = [this](QMenu* menu, const char* name, const QString& caption,
                          QKeySequence shortcut, void (frmHaupt::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  QMenu* datei = menuBar()->addMenu(QStringLiteral("&Datei"));
  datei->setObjectName(QStringLiteral("mnuDatei"));
  mnuDateiAktualisieren =
      addAction(datei, "mnuDateiAktualisieren", QStringLiteral("Liste &aktualisieren"),
                QKeySequence(Qt::Key_F5), &frmHaupt::mnuDateiAktualisieren_Click);
  mnuDateiBeenden = addAction(datei, "mnuDateiBeenden", QStringLiteral("&Beenden"), QKeySequence(),
                              &frmHaupt::mnuDateiBeenden_Click);
  QMenu* ansicht = menuBar()->addMenu(QStringLiteral("&Ansicht"));
  ansicht->setObjectName(QStringLiteral("mnuAnsicht"));
  mnuAnsichtBrowserQuelltext =
      addAction(ansicht, "mnuAnsichtBrowserQuelltext", kCaptionSource, QKeySequence(Qt::Key_F6),
                &frmHaupt::mnuAnsichtBrowserQuelltext_Click);
  mnuAnsichtEntferneJavaScript =
      addAction(ansicht, "mnuAnsichtEntferneJavaScript", QStringLiteral("&JavaScript entfernen"),
                QKeySequence(Qt::Key_F7), &frmHaupt::mnuAnsichtEntferneJavaScript_Click);
  mnuAnsichtEntferneJavaScript->setCheckable(true);
  mnuAnsichtEntferneKommentare =
      addAction(ansicht, "mnuAnsichtEntferneKommentare", QStringLiteral("&Kommentare entfernen"),
                QKeySequence(Qt::Key_F8), &frmHaupt::mnuAnsichtEntferneKommentare_Click);
  mnuAnsichtEntferneKommentare->setCheckable(true);
  createFindControls();
}

void frmHaupt::createStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("staStatus"));
  auto field = [bar](const char* name, int stretch) {
    auto* label = new QLabel(bar);
    label->setObjectName(QString::fromLatin1(name));
    bar->addPermanentWidget(label, stretch);
    return label;
  };
  // The folder is no permanent field: a passing message ("Treffer 2 von 5") takes its place
  // while it shows, where permanent fields would leave it no room.
  lblStatusFolder_ = new QLabel(bar);
  lblStatusFolder_->setObjectName(QStringLiteral("lblStatusFolder"));
  bar->addWidget(lblStatusFolder_, 1);
  // A long path must not widen the window; it is cut on the right.
  lblStatusFolder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblStatusCount_ = field("lblStatusCount", 0);
  lblStatusIndex_ = field("lblStatusIndex", 0);
  lblStatusResponse_ = field("lblStatusResponse", 0);
  lblStatusBlocked_ = field("lblStatusBlocked", 0);
  lblStatusFolder_->setText(absoluteFolder());
  lblStatusFolder_->setToolTip(absoluteFolder());
  connect(brwBrowser, &RenderedView::blockedRequestCountChanged, this,
          [this](int count) { lblStatusBlocked_->setText(fromUtf8(blockedText(count))); });
  updateStatus();
}

void frmHaupt::createComfortActions() {
  auto add = [this](QWidget* owner, const char* name, const QString& caption,
                    const QKeySequence& shortcut, auto handler) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, handler);
    owner->addAction(action);
    return action;
  };
  QMenu* datei = findChild<QMenu*>(QStringLiteral("mnuDatei"));
  datei->addSeparator();
  mnuDateiOrdnerOeffnen =
      add(datei, "mnuDateiOrdnerOeffnen", QStringLiteral("&Ordner öffnen…"),
          QKeySequence(Qt::ControlModifier | Qt::Key_O), &frmHaupt::mnuDateiOrdnerOeffnen_Click);
  mnuDateiAntwortSpeichern =
      add(datei, "mnuDateiAntwortSpeichern", QStringLiteral("Antwort &speichern unter…"),
          QKeySequence(Qt::ControlModifier | Qt::Key_S), &frmHaupt::mnuDateiAntwortSpeichern_Click);
  QMenu* ansicht = findChild<QMenu*>(QStringLiteral("mnuAnsicht"));
  ansicht->addSeparator();
  // Alt with the arrows: the plain arrows belong to the view that has the focus.
  add(ansicht, "mnuAnsichtNaechsteAnfrage", QStringLiteral("&Nächste Anfrage"),
      QKeySequence(Qt::AltModifier | Qt::Key_Down), [this] { selectAdjacentRequest(1); });
  add(ansicht, "mnuAnsichtVorherigeAnfrage", QStringLiteral("&Vorherige Anfrage"),
      QKeySequence(Qt::AltModifier | Qt::Key_Up), [this] { selectAdjacentRequest(-1); });

  liveRefresh_ = new LiveRefresh(this);
  connect(liveRefresh_, &LiveRefresh::changed, this, &frmHaupt::liveRefresh_Changed);
  QAction* live = add(ansicht, "mnuAnsichtAutomatischAktualisieren",
                      QStringLiteral("A&utomatisch aktualisieren"), QKeySequence(), [this] {});
  live->setCheckable(true);
  connect(live, &QAction::toggled, this, [this](bool on) {
    if (on)
      liveRefresh_->watch(absoluteFolder());
    else
      liveRefresh_->stop();
  });
  QMenu* charsets = ansicht->addMenu(QStringLiteral("&Zeichensatz"));
  charsets->setObjectName(QStringLiteral("mnuAnsichtZeichensatz"));
  auto* group = new QActionGroup(charsets);
  auto addCharset = [&](const QString& caption, const char* name, const QString& objectName) {
    QAction* item = charsets->addAction(caption);
    item->setObjectName(objectName);
    item->setCheckable(true);
    group->addAction(item);
    connect(item, &QAction::triggered, this, [this, name] {
      charset_ = name;
      showSourceStatus();
      lstRequest_Click();
    });
    return item;
  };
  addCharset(QStringLiteral("&Automatisch"), nullptr, QStringLiteral("mnuZeichensatzAutomatisch"))
      ->setChecked(true);
  charsets->addSeparator();
  for (const Charset& c : kCharsets)
    if (charsetAvailable(c.name))
      addCharset(QString::fromUtf8(c.caption), c.name,
                 QStringLiteral("mnuZeichensatz_") + QLatin1String(c.name));

  lstRequest->setContextMenuPolicy(Qt::ActionsContextMenu);
  QAction* copy = add(lstRequest, "mnuListeAnfrageKopieren", QStringLiteral("Anfrage &kopieren"),
                      QKeySequence::Copy, &frmHaupt::copyRequest);
  copy->setShortcutContext(Qt::WidgetShortcut);
  add(lstRequest, "mnuListeAntwortKopieren", QStringLiteral("&Antwort kopieren"), QKeySequence(),
      &frmHaupt::copyResponse);
}

void frmHaupt::selectAdjacentRequest(int step) {
  if (!lstRequest->isEnabled()) return;  // a display is reading; the list waits for it
  QAbstractItemModel* model = lstRequest->model();
  const int count = model->rowCount();
  if (count == 0) return;
  const int row = lstRequest->currentIndex().row();
  const int next = row < 0 ? (step > 0 ? 0 : count - 1) : std::clamp(row + step, 0, count - 1);
  if (next == row) return;
  const QModelIndex index = model->index(next, 0);
  lstRequest->setCurrentIndex(index);
  lstRequest->scrollTo(index);
}

bool frmHaupt::isBusy() const { return viewer_->busy(); }

void frmHaupt::updateCommands() {
  const bool indexStep = viewer_->building() || !frmProgress->isHidden();
  const bool searching = viewer_->searching();
  mnuDateiAktualisieren->setEnabled(!indexStep && !searching);
  if (mnuDateiOrdnerOeffnen) mnuDateiOrdnerOeffnen->setEnabled(!indexStep && !searching);
  // A search over a half-built index would present a part of the responses as all of them.
  if (mnuSuchenAlleAntworten) mnuSuchenAlleAntworten->setEnabled(!indexStep && !searching);
}

void frmHaupt::mnuDateiOrdnerOeffnen_Click() {
  if (isBusy()) return;
  const QString folder = dialogs_->chooseFolder(QStringLiteral("Ordner öffnen"), absoluteFolder());
  if (!folder.isEmpty()) openFolder(folder);
}

void frmHaupt::openFolder(const QString& folder) {
  if (isBusy()) return;
  const QString absolute = QDir(folder).absolutePath();
  // The new folder is tried first; a folder that cannot be opened leaves everything as it was.
  auto link = std::make_unique<Link>(*this);
  auto next = std::make_unique<Viewer>(QFile::encodeName(absolute).toStdString(), *link);
  try {
    next->open();
  } catch (const std::exception& e) {
    dialogs_->messageBox(QStringLiteral("Der Ordner „%1“ kann nicht geöffnet werden.\n\n%2")
                             .arg(absolute, QString::fromUtf8(e.what())),
                         UserDialogs::Icon::Warning, kAppTitle);
    return;
  }
  const QString old = absoluteFolder();
  if (!releaseIndex()) warnIndexNotSaved(old);
  QDir::setCurrent(absolute);
  link_->live = false;
  lstHits->clear();
  dckTreffer->hide();
  tmeFilter->stop();
  next->setFilter(utf8(txtFilter->text()));
  next->finishFilter();
  requestModel_->setViewer(next.get());
  std::unique_ptr<Viewer> previous = std::exchange(viewer_, std::move(next));
  std::unique_ptr<Link> previousLink = std::exchange(link_, std::move(link));
  previous.reset();  // before its link
  link_->live = true;
  cIndex = viewer_->capture().index();
  lblStatusFolder_->setText(absoluteFolder());
  lblStatusFolder_->setToolTip(absoluteFolder());
  if (liveRefresh_->isWatching()) liveRefresh_->watch(absoluteFolder());
  lstRequest_Click();  // nothing selected: empty views and status
  mnuDateiAktualisieren_Click();
}

void frmHaupt::mnuDateiAntwortSpeichern_Click() {
  const std::optional<std::size_t> row = viewer_->selectedRow();
  if (!row) return;
  const std::string name = suggestedFileName(viewer_->capture().rows().text(*row));
  const QString path = dialogs_->saveFileName(
      QStringLiteral("Antwort speichern unter"),
      QDir(absoluteFolder()).filePath(QString::fromUtf8(name.data(), qsizetype(name.size()))));
  if (path.isEmpty()) return;
  try {
    ShowOptions options;
    options.stripJavaScript = mnuAnsichtEntferneJavaScript->isChecked();
    options.stripComments = mnuAnsichtEntferneKommentare->isChecked();
    options.decode = false;
    const RowResponse shown = viewer_->showSelected(options);
    writeFileAtomically(QFile::encodeName(path).toStdString(), shown.bytes);
  } catch (const std::exception& e) {
    dialogs_->messageBox(QStringLiteral("Die Antwort konnte nicht gespeichert werden.\n\n%1")
                             .arg(QString::fromUtf8(e.what())),
                         UserDialogs::Icon::Warning, kAppTitle);
  }
}

void frmHaupt::liveRefresh_Changed() {
  if (!liveRefresh_->isWatching()) return;
  if (isBusy() || UnloadRequested_) {
    if (!UnloadRequested_) liveRefresh_->retry();
    return;
  }
  QScrollBar* bar = lstRequest->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  const int position = bar->value();
  viewer_->refresh(RefreshMode::Live);
  if (following)
    lstRequest->scrollToBottom();
  else
    bar->setValue(position);  // never move the list under a reader
  liveRefresh_->rearm();
}

void frmHaupt::copyRequest() {
  if (!viewer_->selectedRow()) return;
  QApplication::clipboard()->setText(txtRequest->toPlainText());
}

void frmHaupt::copyResponse() {
  if (!viewer_->selectedRow()) return;
  QApplication::clipboard()->setText(cSource->Text());
}

void frmHaupt::showStatusMessage(const QString& text, int timeoutMs) {
  statusBar()->showMessage(text, timeoutMs);
}

void frmHaupt::updateStatus() {
  const QString count = fromUtf8(viewer_->countText());
  if (lblFilterCount) lblFilterCount->setText(count);
  if (!lblStatusCount_) return;  // the status bar comes after the menus
  lblStatusCount_->setText(count);
  lblStatusIndex_->setText(fromUtf8(viewer_->indexText()));
  lblStatusResponse_->setText(fromUtf8(viewer_->responseText()));
}

void frmHaupt::viewer_progress(int activity, std::uint8_t percent, bool& cancel) {
  if (static_cast<Activity>(activity) == Activity::IndexBuild) {
    cIndex_Progress(percent, cancel);
    return;
  }
  prgSearch->setValue(percent);
  QCoreApplication::processEvents();
  cancel = UnloadRequested_;
}

void frmHaupt::viewer_report(const std::string& text, int kind) {
  switch (static_cast<ReportKind>(kind)) {
    case ReportKind::Warning:
      dialogs_->messageBox(fromUtf8(text), UserDialogs::Icon::Warning, kAppTitle);
      break;
    case ReportKind::BuildError:
      dialogs_->messageBox(fromUtf8(text), UserDialogs::Icon::Critical, QStringLiteral("Fehler"));
      break;
    case ReportKind::Notice: {
      // No box while the list refreshes by itself; the line ends of a key report read as one
      // line in the status bar.
      QString line = fromUtf8(text).simplified();
      showStatusMessage(line, 15000);
      break;
    }
  }
}

void frmHaupt::viewer_selectionRestored(std::size_t listRow, bool display) {
  const QModelIndex index = requestModel_->index(static_cast<int>(listRow));
  if (lstRequest->currentIndex() != index) {
    suppressDisplay_ = true;
    lstRequest->setCurrentIndex(index);
    suppressDisplay_ = false;
  }
  if (display) lstRequest_Click();
}

void frmHaupt::Form_Load() {
  ListHeightRatio_ = 0.2f;
  cIndex = &viewer_->openIndex();
  link_->live = true;
  cSource = std::make_unique<clsTextBox>();
  cSource->setTextBox(txtSource_);
  // Qt sizes the window without its frame; the frame belongs to the window manager here.
  resize(1024, 768);
  ArrangeControls();
  brwBrowser->navigateBlank();
  show();
  QCoreApplication::processEvents();
  mnuDateiAktualisieren_Click();
}

void frmHaupt::mnuDateiAktualisieren_Click() { viewer_->refresh(RefreshMode::User); }

void frmHaupt::cIndex_Progress(std::uint8_t& PercentComplete, bool& Cancel) {
  Cancel = UnloadRequested_;
  lblProgress->setText(QStringLiteral("Index wird aufgebaut: %1%").arg(unsigned{PercentComplete}));
  lblProgress->adjustSize();
  QCoreApplication::processEvents();
}

void frmHaupt::lstRequest_Click() {
  const std::optional<std::size_t> row = viewer_->selectedRow();
  if (!row) {
    // Nothing selected: an empty key would find the block after the first empty line, which
    // means nothing to the user.
    txtRequest->clear();
    viewer_->clearDisplayed();
    showResponse({});
    return;
  }
  Viewer::Hold hold(*viewer_);
  txtRequest->setPlainText(toQString(decodeLine(viewer_->capture().rows().text(*row))));

  RowResponse shown;
  QString failure;
  {
    lstRequest->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Finally restore([this] {
      lstRequest->setEnabled(true);
      QApplication::restoreOverrideCursor();
    });
    QCoreApplication::processEvents();
    try {
      ShowOptions options;
      options.stripJavaScript = mnuAnsichtEntferneJavaScript->isChecked();
      options.stripComments = mnuAnsichtEntferneKommentare->isChecked();
      options.decode = charset_ == nullptr;
      shown = viewer_->showSelected(options);
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
    }
  }
  if (!failure.isEmpty()) {
    viewer_->clearDisplayed();
    showResponse({});
    dialogs_->messageBox(failure, UserDialogs::Icon::Warning, kAppTitle);
    return;
  }
  viewer_->setDisplayed(shown.found, shown.bodySize);
  showResponse(charset_ ? std::u16string(toU16View(decodeAs(shown.bytes, charset_)))
                        : std::move(shown.text));
}

void frmHaupt::showResponse(std::u16string text) {
  clearSourceMatches();
  // The rendered view takes the text as received (as much of it as it shows) before the source
  // view's line ends are unified in it.
  const QStringView received(text.data(), static_cast<qsizetype>(text.size()));
  brwBrowser->setBodyHtml(received);
  const qsizetype nul = received.indexOf(QChar(u'\0'));  // the text box keeps what comes before one
  if (nul >= 0) text.resize(static_cast<std::size_t>(nul));
  unifyLineEnds(text);
  plainText_ = std::make_shared<const std::u16string>(std::move(text));
  showSource(SourcePlace{});
  if (!brwBrowser->isHidden())
    brwBrowser->setFocus();
  else
    cSource->SetFocus();
}

void frmHaupt::createSourceViewActions() {
  auto* view = static_cast<SourceView*>(txtSource_);
  QMenu* ansicht = findChild<QMenu*>(QStringLiteral("mnuAnsicht"));
  ansicht->addSeparator();
  QAction* wrap = ansicht->addAction(QStringLiteral("Zei&len umbrechen"));
  wrap->setObjectName(QStringLiteral("mnuAnsichtZeilenUmbrechen"));
  wrap->setCheckable(true);
  wrap->setChecked(view->wrapped());
  connect(wrap, &QAction::toggled, view, &SourceView::setWrapped);
  connect(view, &SourceView::longLineLeftPlainChanged, this, &frmHaupt::showSourceStatus);
  showSourceStatus();
}

void frmHaupt::showSourceStatus() {
  auto field = [this](QLabel*& label, const char* name) {
    if (!label) {
      label = new QLabel(statusBar());
      label->setObjectName(QString::fromLatin1(name));
      statusBar()->addPermanentWidget(label, 0);
    }
    return label;
  };
  std::string_view caption;
  for (const Charset& c : kCharsets)
    if (charset_ && std::string_view(c.name) == charset_) caption = c.caption;
  const QString charset = fromUtf8(forcedCharsetText(caption));
  field(lblStatusCharset_, "lblStatusCharset")->setText(charset);
  lblStatusCharset_->setVisible(!charset.isEmpty());
  const QString colours =
      fromUtf8(longLinePlainText(static_cast<SourceView*>(txtSource_)->longLineLeftPlain()));
  field(lblStatusColours_, "lblStatusColours")->setText(colours);
  lblStatusColours_->setVisible(!colours.isEmpty());
}

void frmHaupt::mnuAnsichtEntferneJavaScript_Click() { lstRequest_Click(); }
void frmHaupt::mnuAnsichtEntferneKommentare_Click() { lstRequest_Click(); }

void frmHaupt::mnuAnsichtBrowserQuelltext_Click() {
  if (mnuAnsichtBrowserQuelltext->text() == kCaptionBrowser) {
    mnuAnsichtBrowserQuelltext->setText(kCaptionSource);
    brwBrowser->setVisible(true);
    cSource->setVisible(0);
    brwBrowser->setFocus();
  } else {
    mnuAnsichtBrowserQuelltext->setText(kCaptionBrowser);
    brwBrowser->setVisible(false);
    cSource->setVisible(-1);
    cSource->SetFocus();
  }
}

void frmHaupt::mnuDateiBeenden_Click() {
  bool cancel = false;
  Form_QueryUnload(cancel, false);
}

void frmHaupt::Form_QueryUnload(bool& cancel, bool programUnload) {
  if (programUnload) return;
  UnloadRequested_ = true;
  cancel = true;
  tmeUnload->start();
}

void frmHaupt::closeEvent(QCloseEvent* event) {
  bool cancel = false;
  Form_QueryUnload(cancel, programUnload_);
  if (cancel) {
    event->ignore();
    return;
  }
  event->accept();
  if (!releaseIndex()) warnIndexNotSaved(absoluteFolder());
}

void frmHaupt::warnIndexNotSaved(const QString& folder) {
  // The engine keeps quiet about it; only the window knows a user is there to tell.
  dialogs_->messageBox(QStringLiteral("Der Index konnte im Ordner „%1“ nicht gespeichert werden. "
                                      "Er wird beim nächsten Öffnen des Ordners neu aufgebaut.")
                           .arg(folder),
                       UserDialogs::Icon::Warning, kAppTitle);
}

QString frmHaupt::absoluteFolder() const {
  return QDir(QFile::decodeName(viewer_->folder().c_str())).absolutePath();
}

void frmHaupt::tmeUnload_Timer() {
  tmeUnload->stop();
  // A refresh or a display still on the stack (the tick came in one of their yields) must finish
  // before the window and the index go away.
  if (isBusy()) {
    tmeUnload->start();
    return;
  }
  programUnload_ = true;
  close();
}

void frmHaupt::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ArrangeControls();
}

void frmHaupt::ArrangeControls() {
  if (!cSource || isMinimized()) return;
  tppX_ = twipsPerPixel(static_cast<float>(logicalDpiX()));
  tppY_ = twipsPerPixel(static_cast<float>(logicalDpiY()));
  cSource->setTwipsPerPixel(tppX_, tppY_);
  LayoutInput in;
  in.clientWidth = pixelsToTwips(static_cast<float>(client_->width()), tppX_);
  in.clientHeight = pixelsToTwips(static_cast<float>(client_->height()), tppY_);
  in.ListHeightRatio = ListHeightRatio_;
  in.requestHeight = kRequestTextHeight;
  in.labelWidth = pixelsToTwips(static_cast<float>(lblProgress->width()), tppX_);
  in.labelHeight = pixelsToTwips(static_cast<float>(lblProgress->height()), tppY_);
  in.twipsPerPixelX = tppX_;
  in.twipsPerPixelY = tppY_;
  // The list box takes whole pixels only; the request text follows its real bottom edge.
  const float tpp = tppY_;
  layout_ = korva::ArrangeControls(in, [tpp](float requested) {
    return static_cast<float>(twipsToWholePixels(requested, tpp)) * tpp;
  });
  applyLayout();
}

void frmHaupt::applyLayout() {
  if (layout_.unchanged) return;
  lstRequest->setGeometry(toQRect(toPixels(layout_.lstRequest, tppX_, tppY_)));
  txtRequest->setGeometry(toQRect(toPixels(layout_.txtRequest, tppX_, tppY_)));
  cSource->setLeft(layout_.sourcePane.left);
  cSource->setTop(layout_.sourcePane.top);
  cSource->setWidth(layout_.sourcePane.width);
  cSource->setHeight(layout_.sourcePane.height);
  brwBrowser->setGeometry(toQRect(toPixels(layout_.brwBrowser, tppX_, tppY_)));
  frmProgress->setGeometry(toQRect(toPixels(layout_.frmProgress, tppX_, tppY_)));
  lblProgress->move(toQRect(toPixels(layout_.lblProgress, tppX_, tppY_)).topLeft());
  const LineF* lines[] = {&layout_.line1, &layout_.line2, &layout_.line3, &layout_.line4};
  QFrame* widgets[] = {Line1, Line2, Line3, Line4};
  for (int i = 0; i < 4; ++i) {
    const LineF& l = *lines[i];
    const int x = twipsToWholePixels(std::min(l.x1, l.x2), tppX_);
    const int y = twipsToWholePixels(std::min(l.y1, l.y2), tppY_);
    const int w = std::max(1, twipsToWholePixels(std::abs(l.x2 - l.x1), tppX_));
    const int h = std::max(1, twipsToWholePixels(std::abs(l.y2 - l.y1), tppY_));
    widgets[i]->setGeometry(x, y, w, h);
  }
}

SplitterBand frmHaupt::splitterBand() const {
  return {layout_.lstRequest.top, pixelsToTwips(static_cast<float>(lstRequest->height()), tppY_),
          layout_.txtRequest.top};
}

void frmHaupt::windowMouseMove(float yTwips) {
  const float clientHeight = pixelsToTwips(static_cast<float>(client_->height()), tppY_);
  SplitterAction action = splitter_.move(yTwips, clientHeight, splitterBand());
  switch (action.kind) {
    case SplitterAction::Kind::SetPointer:
      if (action.pointer == kPointerSizeNS)
        client_->setCursor(Qt::SizeVerCursor);
      else
        client_->unsetCursor();
      break;
    case SplitterAction::Kind::Relayout:
      ListHeightRatio_ = action.ListHeightRatio;
      ArrangeControls();
      break;
    case SplitterAction::Kind::None:
      break;
  }
}

void frmHaupt::handleMouse(QObject* watched, QEvent* event) {
  auto* mouse = static_cast<QMouseEvent*>(event);
  auto* widget = static_cast<QWidget*>(watched);
  // Moves over a child arrive in its own coordinates; the splitter works in the window's.
  const QPointF pos = widget == client_
                          ? mouse->position()
                          : QPointF(widget->mapTo(client_, mouse->position().toPoint()));
  const float y = pixelsToTwips(static_cast<float>(pos.y()), tppY_);
  if (event->type() == QEvent::MouseMove) {
    windowMouseMove(y);
  } else if (widget == client_ && event->type() == QEvent::MouseButtonPress) {
    splitter_.press(y, splitterBand());
  } else if (widget == client_ && event->type() == QEvent::MouseButtonRelease) {
    splitter_.release();
  }
}

bool frmHaupt::handleKeyPreview(QObject* watched, QEvent* event) {
  // Every key press passes here before the focused control sees it; it is handled once, at the
  // widget it is delivered to, and then passed on unchanged.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  // A key the receiver ignores goes on to its parent as the same event. A prompt that took and
  // gave back the focus meanwhile can make that parent pass the focus test below, so a delivery
  // to the parent of the last receiver of the same event is never a new key press.
  const bool passedOn =
      event == lastKeyEvent_ && lastKeyReceiver_ && widget == lastKeyReceiver_->parentWidget();
  lastKeyEvent_ = event;
  lastKeyReceiver_ = widget;
  if (passedOn) return false;
  QWidget* focus = QApplication::focusWidget();
  if (focus ? widget != focus : widget != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_F || key->key() == Qt::Key_F3) {
    if (keySearch_->keyDown(key->key() == Qt::Key_F ? kKeyF : kKeyF3,
                            modifierBits(key->modifiers())))
      updateSourceMatches();
  }
  return false;
}

bool frmHaupt::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      if (watched == txtFilter && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        txtFilter->clear();
        return true;
      }
      if (cSource) handleKeyPreview(watched, event);
      break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      if (cSource && (watched == client_ || watched == lstRequest->viewport() ||
                      watched == txtRequest->viewport() || watched == txtSource_->viewport()))
        handleMouse(watched, event);
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace korva
