// What the source view shows of the response on display: its text as it is, or formatted
// ("Formatiert"), which a big body gets from a thread of its own. Positions cross between the two
// through the formatter's map, so that a mode switch keeps the reader's place and a hit of the
// search over all responses selects the same occurrence in either mode.
#include <QAction>
#include <QFutureWatcher>
#include <QMenu>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPromise>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>

#include "app/frmHaupt.h"
#include "view/clsTextBox.h"
#include "view/qt_text.h"
#include "view/source_view.h"
#include "view/text_decode.h"
#include "view/text_search.h"

namespace korva {

namespace {

// Bodies up to this many characters are formatted at once; more could hold the window longer
// than a frame.
constexpr std::size_t kFormatInline = 256 * 1024;
// Lines of a big formatted text shown before the whole of it is ready.
constexpr int kHeadLines = 3000;

}  // namespace

void frmHaupt::createFormatAction() {
  QMenu* ansicht = findChild<QMenu*>(QStringLiteral("mnuAnsicht"));
  mnuAnsichtFormatiert = ansicht->addAction(QStringLiteral("&Formatiert"));
  mnuAnsichtFormatiert->setObjectName(QStringLiteral("mnuAnsichtFormatiert"));
  mnuAnsichtFormatiert->setCheckable(true);
  mnuAnsichtFormatiert->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_U));
  connect(mnuAnsichtFormatiert, &QAction::triggered, this, &frmHaupt::mnuAnsichtFormatiert_Click);
}

bool frmHaupt::formattedShown() const { return formattedShown_; }
bool frmHaupt::formattingPending() const { return formatPending_; }

std::size_t frmHaupt::toPlainPosition(std::size_t position) const {
  return formattedShown_ ? formatMap_.toOriginal(position) : position;
}

void frmHaupt::mnuAnsichtFormatiert_Click() {
  SourcePlace place;
  if (formatPending_) {
    place = pendingPlace_;
  } else {
    place.top = toPlainPosition(
        static_cast<std::size_t>(txtSource_->cursorForPosition(QPoint(0, 0)).position()));
    const auto start = static_cast<std::size_t>(cSource->SelStart());
    place.selStart = toPlainPosition(start);
    place.selEnd =
        cSource->SelLength() > 0
            ? toPlainPosition(start + static_cast<std::size_t>(cSource->SelLength()) - 1) + 1
            : place.selStart;
  }
  place.keep = true;
  showSource(place);
}

void frmHaupt::showSource(const SourcePlace& place) {
  ++formatGeneration_;
  formatMap_ = HtmlFormatMap();
  formattedShown_ = false;
  formatPending_ = false;
  txtSource_->setPlaceholderText(QString());
  if (!mnuAnsichtFormatiert || !mnuAnsichtFormatiert->isChecked()) {
    cSource->setText(toQString(*plainText_));
    restorePlace(place);
    return;
  }
  if (plainText_->size() <= kFormatInline) {
    FormattedHtml formatted = formatHtml(*plainText_);
    cSource->setText(toQString(formatted.text));
    formatMap_ = std::move(formatted.map);
    formattedShown_ = true;
    restorePlace(place);
    return;
  }
  cSource->setText(QString());
  txtSource_->setPlaceholderText(QStringLiteral("Wird formatiert …"));
  formatPending_ = true;
  pendingPlace_ = place;
  placeShown_ = false;
  const int generation = formatGeneration_;
  // The blocks of the formatted text are made on the thread too: for a million lines that takes
  // seconds. The window takes the first lines as soon as they are formatted, then the whole
  // document; the first is a prefix of the second, so positions and lines stay where they were,
  // and so is the map of the first lines for the positions in them.
  struct Result {
    QTextDocument* document = nullptr;
    std::shared_ptr<HtmlFormatMap> map;  // taken over by the window
    bool whole = false;
  };
  auto* watcher = new QFutureWatcher<Result>(this);
  connect(watcher, &QFutureWatcherBase::resultReadyAt, this, [this, watcher, generation](int i) {
    const Result result = watcher->future().resultAt(i);
    if (generation != formatGeneration_) {  // another response or mode came since
      delete result.document;
      return;
    }
    auto* view = static_cast<SourceView*>(txtSource_);
    const int scroll = txtSource_->verticalScrollBar()->value();
    const QTextCursor before = txtSource_->textCursor();
    const int anchor = before.anchor(), position = before.position();
    txtSource_->setPlaceholderText(QString());
    view->adoptDocument(result.document);
    formatMap_ = std::move(*result.map);
    formattedShown_ = true;
    if (!result.whole) {
      // The place now if it is among the first lines, else once the whole text is there.
      const auto length = static_cast<std::size_t>(result.document->characterCount());
      placeShown_ = pendingPlace_.keep && formatMap_.toFormatted(std::max(
                                              pendingPlace_.top, pendingPlace_.selEnd)) < length;
      if (placeShown_) restorePlace(pendingPlace_);
      return;
    }
    formatPending_ = false;
    if (pendingPlace_.keep && !placeShown_) {
      restorePlace(pendingPlace_);
      return;
    }
    // What the reader sees of the first lines stays as it is.
    QTextCursor cursor(result.document);
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    txtSource_->setTextCursor(cursor);
    txtSource_->verticalScrollBar()->setValue(scroll);
    if (pendingPlace_.matches) updateSourceMatches();
  });
  connect(watcher, &QFutureWatcherBase::finished, watcher, &QObject::deleteLater);
  QThread* window = thread();
  watcher->setFuture(QtConcurrent::run([text = plainText_, window](QPromise<Result>& promise) {
    auto document = [&](std::u16string_view chars) {
      auto* doc = new QTextDocument;
      doc->setDocumentLayout(new QPlainTextDocumentLayout(doc));
      doc->setUndoRedoEnabled(false);
      doc->setPlainText(toQString(chars));
      // Gives every block its layout object here; the view's own pass then only clears them.
      for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) b.layout();
      doc->moveToThread(window);
      return doc;
    };
    // A few screens' worth of lines first, as soon as they are formatted.
    const FormattedHead head = [&](std::u16string_view formatted,
                                   const std::vector<HtmlInsertion>& insertions) {
      std::size_t end = 0;
      for (int lines = 0; lines < kHeadLines; ++lines) end = formatted.find(u'\n', end + 1);
      promise.addResult(Result{document(formatted.substr(0, end)),
                               std::make_shared<HtmlFormatMap>(insertions), false});
    };
    FormattedHtml formatted = formatHtml(*text, kHeadLines + 1, head);
    promise.addResult(Result{document(formatted.text),
                             std::make_shared<HtmlFormatMap>(std::move(formatted.map)), true});
  }));
}

void frmHaupt::restorePlace(const SourcePlace& place) {
  if (!place.keep) return;
  auto shown = [this](std::size_t plain) {
    return static_cast<std::int32_t>(formattedShown_ ? formatMap_.toFormatted(plain) : plain);
  };
  const std::size_t length = plainText_->size();
  // The top line first, from below, so that it ends at the top of the view; then the selection.
  QTextCursor top(txtSource_->document());
  top.setPosition(shown(std::min(place.top, length)));
  txtSource_->verticalScrollBar()->setValue(txtSource_->verticalScrollBar()->maximum());
  txtSource_->setTextCursor(top);
  txtSource_->ensureCursorVisible();
  const int value = txtSource_->verticalScrollBar()->value();
  const std::int32_t start = shown(std::min(place.selStart, length));
  const std::int32_t end =
      place.selEnd > place.selStart ? shown(std::min(place.selEnd, length) - 1) + 1 : start;
  QTextCursor selection(txtSource_->document());
  selection.setPosition(start);
  selection.setPosition(end, QTextCursor::KeepAnchor);
  txtSource_->setTextCursor(selection);
  if (!place.selectionInView) txtSource_->verticalScrollBar()->setValue(value);
  if (place.matches) {
    txtSource_->ensureCursorVisible();
    updateSourceMatches();
  }
}

bool frmHaupt::selectFirstOccurrence(const std::u16string& term) {
  // In the text as received: formatting may have put a line break inside the occurrence.
  const std::size_t at = findNoCase(*plainText_, term, 0);
  if (at == kNotFound) return false;
  SourcePlace place;
  place.keep = true;
  place.selStart = at;
  place.selEnd = at + term.size();
  place.selectionInView = true;
  place.matches = true;
  if (formatPending_) {
    pendingPlace_ = place;
    return true;
  }
  restorePlace(place);
  return true;
}

}  // namespace korva
