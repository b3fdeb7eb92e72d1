// What the source view shows of the response on display: its text as it is, or formatted
// ("Formatiert"), which a big body gets from a thread of its own. Positions cross between the two
// through the formatter's map, so that a mode switch keeps the reader's place and a hit of the
// search over all responses selects the same occurrence in either mode.
#include <QAction>
#include <QFutureWatcher>
#include <QMenu>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

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
    cSource->setText(toQString(plainText_));
    restorePlace(place);
    return;
  }
  if (plainText_.size() <= kFormatInline) {
    FormattedHtml formatted = formatHtml(plainText_);
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
  const int generation = formatGeneration_;
  // The blocks of the formatted text are made on the thread too: for a million lines that takes
  // seconds, and the window need only take the finished document.
  struct Result {
    QTextDocument* document = nullptr;
    HtmlFormatMap map;
  };
  auto* watcher = new QFutureWatcher<Result>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
    watcher->deleteLater();
    Result result = watcher->future().takeResult();
    if (generation != formatGeneration_) {  // another response or mode came since
      delete result.document;
      return;
    }
    formatPending_ = false;
    txtSource_->setPlaceholderText(QString());
    static_cast<SourceView*>(txtSource_)->adoptDocument(result.document);
    formatMap_ = std::move(result.map);
    formattedShown_ = true;
    restorePlace(pendingPlace_);
  });
  QThread* window = thread();
  watcher->setFuture(QtConcurrent::run([text = plainText_, window] {
    FormattedHtml formatted = formatHtml(text);
    Result result;
    result.document = new QTextDocument;
    result.document->setDocumentLayout(new QPlainTextDocumentLayout(result.document));
    result.document->setUndoRedoEnabled(false);
    result.document->setPlainText(toQString(formatted.text));
    // Gives every block its layout object here; the view's own pass then only clears them.
    for (QTextBlock b = result.document->begin(); b.isValid(); b = b.next()) b.layout();
    result.document->moveToThread(window);
    result.map = std::move(formatted.map);
    return result;
  }));
}

void frmHaupt::restorePlace(const SourcePlace& place) {
  if (!place.keep) return;
  auto shown = [this](std::size_t plain) {
    return static_cast<std::int32_t>(formattedShown_ ? formatMap_.toFormatted(plain) : plain);
  };
  const std::size_t length = plainText_.size();
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
  const std::size_t at = findNoCase(plainText_, term, 0);
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
