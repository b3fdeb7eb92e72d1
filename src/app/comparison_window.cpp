#include "app/comparison_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

#include "app/aligned_text_view.h"

namespace korva {

namespace {

AlignedTextView* makeSide(QWidget* parent, const char* name) {
  auto* view = new AlignedTextView(parent);
  view->setObjectName(QLatin1String(name));
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
  retire();
  comparison_ = Comparison{};
  current_ = 0;
  left_->setSide(nullptr, 0);
  right_->setSide(nullptr, 0);
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

// A task still running is cancelled and kept until its thread has ended: its thread notices the
// cancel only between steps, and formatting 20 MB is one step. Waiting for it here held the
// window for 400 ms.
void ComparisonWindow::retire() {
  if (task_) {
    task_->cancel();
    retired_.push_back(std::move(task_));
  }
  dropEndedTasks();
}

void ComparisonWindow::dropEndedTasks() {
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                [](const std::unique_ptr<ComparisonTask>& t) { return t->done(); }),
                 retired_.end());
}

void ComparisonWindow::finished() {
  dropEndedTasks();
  if (!task_ || !task_->done()) return;
  comparison_ = task_->take();
  task_.reset();
  left_->setSide(&comparison_.left, 0);
  right_->setSide(&comparison_.right, 120);
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
  // A few lines of what comes before the change stay in view.
  for (AlignedTextView* view : {left_, right_}) {
    view->setCurrentLine(line);
    view->setTopLine(std::max(0, line - 3));
    view->horizontalScrollBar()->setValue(0);
  }
  updateStatus();
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
