#include "app/comparison_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

#include "view/qt_text.h"

namespace korva {

namespace {

// Line backgrounds that read on a light and on a dark palette: a tint of the base colour.
QColor tint(const QPalette& palette, int hue, int strength) {
  const QColor base = palette.color(QPalette::Base);
  const bool dark = base.lightness() < 128;
  QColor c = QColor::fromHsv(hue, dark ? 160 : 90, dark ? 90 : 255);
  const int a = std::clamp(strength, 0, 255);
  return QColor((c.red() * a + base.red() * (255 - a)) / 255,
                (c.green() * a + base.green() * (255 - a)) / 255,
                (c.blue() * a + base.blue() * (255 - a)) / 255);
}

QColor lineColour(const QPalette& palette, LineMark mark) {
  switch (mark) {
    case LineMark::Removed:
      return tint(palette, 0, 110);
    case LineMark::Added:
      return tint(palette, 120, 110);
    case LineMark::Changed:
      return tint(palette, 50, 110);
    case LineMark::Filler:
      return palette.color(QPalette::AlternateBase).darker(105);
    case LineMark::Equal:
      break;
  }
  return palette.color(QPalette::Base);
}

QPlainTextEdit* makeSide(QWidget* parent, const char* name) {
  auto* view = new QPlainTextEdit(parent);
  view->setObjectName(QLatin1String(name));
  view->setReadOnly(true);
  view->setUndoRedoEnabled(false);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);  // aligned lines stay aligned
  view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(10.5);
  view->setFont(font);
  return view;
}

QLabel* makeRequestLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // long requests are cut
  return label;
}

}  // namespace

ComparisonWindow::ComparisonWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("frmVergleich"));
  setWindowTitle(QStringLiteral("Antworten vergleichen"));
  auto* layout = new QVBoxLayout(this);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  auto* leftPane = new QWidget(splitter);
  auto* rightPane = new QWidget(splitter);
  lblLeft_ = makeRequestLabel(leftPane, "lblVergleichLinks");
  lblRight_ = makeRequestLabel(rightPane, "lblVergleichRechts");
  left_ = makeSide(leftPane, "txtVergleichLinks");
  right_ = makeSide(rightPane, "txtVergleichRechts");
  for (auto [pane, label, view] :
       {std::tuple{leftPane, lblLeft_, left_}, std::tuple{rightPane, lblRight_, right_}}) {
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(label);
    column->addWidget(view);
  }
  layout->addWidget(splitter, 1);

  auto* bar = new QHBoxLayout;
  cmdPrevious_ = new QPushButton(QStringLiteral("&Vorherige Änderung"), this);
  cmdPrevious_->setObjectName(QStringLiteral("cmdVorherigeAenderung"));
  cmdNext_ = new QPushButton(QStringLiteral("&Nächste Änderung"), this);
  cmdNext_->setObjectName(QStringLiteral("cmdNaechsteAenderung"));
  unformatted_ = new QCheckBox(QStringLiteral("&Unformatiert vergleichen"), this);
  unformatted_->setObjectName(QStringLiteral("chkUnformatiert"));
  whitespace_ = new QCheckBox(QStringLiteral("&Leerraum-Änderungen ignorieren"), this);
  whitespace_->setObjectName(QStringLiteral("chkLeerraum"));
  lblStatus_ = new QLabel(this);
  lblStatus_->setObjectName(QStringLiteral("lblVergleichStatus"));
  bar->addWidget(cmdPrevious_);
  bar->addWidget(cmdNext_);
  bar->addWidget(lblStatus_, 1);
  bar->addWidget(unformatted_);
  bar->addWidget(whitespace_);
  layout->addLayout(bar);

  connect(cmdPrevious_, &QPushButton::clicked, this, &ComparisonWindow::previousChange);
  connect(cmdNext_, &QPushButton::clicked, this, &ComparisonWindow::nextChange);
  auto* next = new QShortcut(QKeySequence(Qt::AltModifier | Qt::Key_Down), this);
  auto* previous = new QShortcut(QKeySequence(Qt::AltModifier | Qt::Key_Up), this);
  connect(next, &QShortcut::activated, this, &ComparisonWindow::nextChange);
  connect(previous, &QShortcut::activated, this, &ComparisonWindow::previousChange);
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
  connect(unformatted_, &QCheckBox::toggled, this, &ComparisonWindow::start);
  connect(whitespace_, &QCheckBox::toggled, this, &ComparisonWindow::start);

  // Both sides hold as many lines, so the same scroll value shows the same lines.
  for (auto [from, to] : {std::pair{left_, right_}, std::pair{right_, left_}}) {
    for (Qt::Orientation o : {Qt::Vertical, Qt::Horizontal}) {
      QScrollBar* source =
          o == Qt::Vertical ? from->verticalScrollBar() : from->horizontalScrollBar();
      QScrollBar* target = o == Qt::Vertical ? to->verticalScrollBar() : to->horizontalScrollBar();
      connect(source, &QScrollBar::valueChanged, this, [this, target](int value) {
        if (syncing_) return;
        syncing_ = true;
        target->setValue(value);
        syncing_ = false;
        markVisibleLines();
      });
    }
  }
  resize(1100, 700);
  updateStatus();
}

ComparisonWindow::~ComparisonWindow() = default;

void ComparisonWindow::closeEvent(QCloseEvent* event) {
  if (task_) task_->cancel();  // its thread ends at the next check; the result is dropped
  QWidget::closeEvent(event);
}

void ComparisonWindow::compare(Side left, Side right, SettingsFor settings) {
  sides_[0] = std::move(left);
  sides_[1] = std::move(right);
  settingsFor_ = std::move(settings);
  lblLeft_->setText(sides_[0].request);
  lblRight_->setText(sides_[1].request);
  lblLeft_->setToolTip(sides_[0].request);
  lblRight_->setToolTip(sides_[1].request);
  start();
}

void ComparisonWindow::start() {
  if (!settingsFor_) return;
  task_.reset();  // cancels and waits; its thread checks the cancel every few thousand steps
  comparison_ = Comparison{};
  current_ = 0;
  left_->clear();
  right_->clear();
  ComparisonSettings settings = settingsFor_(!unformatted_->isChecked());
  settings.ignoreWhitespace = whitespace_->isChecked();
  QPointer<ComparisonWindow> self(this);
  task_ = std::make_unique<ComparisonTask>(sides_[0].block, sides_[1].block, std::move(settings),
                                           [self] {
                                             // On the task's thread: the window takes the result on
                                             // its own.
                                             QMetaObject::invokeMethod(
                                                 self.data(),
                                                 [self] {
                                                   if (self) self->finished();
                                                 },
                                                 Qt::QueuedConnection);
                                           });
  updateStatus();
}

void ComparisonWindow::finished() {
  if (!task_ || !task_->done()) return;
  comparison_ = task_->take();
  task_.reset();
  left_->setPlainText(toQString(comparison_.left.text));
  right_->setPlainText(toQString(comparison_.right.text));
  markVisibleLines();
  updateStatus();
  if (!comparison_.changes.empty()) showChange(0);
}

void ComparisonWindow::nextChange() {
  if (comparison_.changes.empty()) return;
  showChange(current_ < comparison_.changes.size() ? current_ : current_ - 1);
}

void ComparisonWindow::previousChange() {
  if (comparison_.changes.empty()) return;
  showChange(current_ >= 2 ? current_ - 2 : 0);
}

void ComparisonWindow::showChange(std::size_t index) {
  current_ = index + 1;
  const int line = static_cast<int>(comparison_.changes[index]);
  for (QPlainTextEdit* view : {left_, right_}) {
    QTextCursor cursor(view->document()->findBlockByNumber(line));
    view->setTextCursor(cursor);
  }
  // A few lines of what comes before the change stay in view.
  syncing_ = true;
  left_->verticalScrollBar()->setValue(std::max(0, line - 3));
  right_->verticalScrollBar()->setValue(left_->verticalScrollBar()->value());
  left_->horizontalScrollBar()->setValue(0);
  right_->horizontalScrollBar()->setValue(0);
  syncing_ = false;
  markVisibleLines();
  updateStatus();
}

void ComparisonWindow::markVisibleLines() {
  // Only what is in view (plus a screen): two 20 MB responses may differ in many thousand lines.
  const int first = left_->verticalScrollBar()->value();
  const int rows = left_->viewport()->height() / std::max(1, left_->fontMetrics().height()) + 2;
  const std::size_t begin = static_cast<std::size_t>(std::max(0, first - rows));
  const std::size_t end = static_cast<std::size_t>(first + 2 * rows);
  const AlignedText* sides[] = {&comparison_.left, &comparison_.right};
  QPlainTextEdit* views[] = {left_, right_};
  for (int s = 0; s < 2; ++s) {
    const AlignedText& side = *sides[s];
    QPlainTextEdit* view = views[s];
    QList<QTextEdit::ExtraSelection> marks;
    const std::size_t last = std::min(end, side.marks.size());
    for (std::size_t line = begin; line < last; ++line) {
      if (side.marks[line] == LineMark::Equal) continue;
      QTextEdit::ExtraSelection mark;
      mark.cursor = QTextCursor(view->document()->findBlockByNumber(static_cast<int>(line)));
      mark.format.setBackground(lineColour(view->palette(), side.marks[line]));
      mark.format.setProperty(QTextFormat::FullWidthSelection, true);
      marks.push_back(mark);
    }
    auto at = std::lower_bound(side.changedChars.begin(), side.changedChars.end(), begin,
                               [](const auto& c, std::size_t line) { return c.first < line; });
    for (; at != side.changedChars.end() && at->first < last; ++at) {
      if (at->second.end <= at->second.begin) continue;
      const QTextBlock block = view->document()->findBlockByNumber(static_cast<int>(at->first));
      QTextEdit::ExtraSelection chars;
      chars.cursor = QTextCursor(block);
      chars.cursor.setPosition(block.position() + static_cast<int>(at->second.begin));
      chars.cursor.setPosition(block.position() + static_cast<int>(std::min<std::size_t>(
                                                      at->second.end, block.length() - 1)),
                               QTextCursor::KeepAnchor);
      chars.format.setBackground(tint(view->palette(), s == 0 ? 0 : 120, 200));
      marks.push_back(chars);
    }
    view->setExtraSelections(marks);
  }
}

QString ComparisonWindow::statusText() const { return lblStatus_->text(); }

void ComparisonWindow::updateStatus() {
  QString text;
  if (task_) {
    text = QStringLiteral("Wird verglichen …");
  } else if (settingsFor_) {
    text = QString::fromStdString(comparisonSummaryText(comparison_));
    if (!comparison_.identical && comparison_.outcome != DiffOutcome::Cancelled)
      text = QString::fromStdString(changePositionText(current_, comparison_.changes.size())) +
             QStringLiteral(" · ") + text;
  }
  lblStatus_->setText(text);
  const bool changes = !task_ && !comparison_.changes.empty();
  cmdNext_->setEnabled(changes && current_ < comparison_.changes.size());
  cmdPrevious_->setEnabled(changes && current_ > 1);
}

}  // namespace korva
