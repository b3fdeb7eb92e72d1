// The comparison of two responses, in a window of its own: both sides next to each other, lines
// aligned and scrolling together, added, removed and changed lines coloured and the changed
// characters inside a changed line highlighted; "Änderung n von N" with next and previous.
// The texts are prepared and compared by a ComparisonTask; the window only shows its result.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "viewer/comparison.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace korva {

class AlignedTextView;

class ComparisonWindow : public QWidget {
  Q_OBJECT

 public:
  struct Side {
    QString request;  // as the list shows it
    ResponseLocation block;
  };
  // What the settings of a comparison follow from the main window: the filters, the character
  // set, the formatted view. `formatted` tells whether the formatted text is compared.
  using SettingsFor = std::function<ComparisonSettings(bool formatted)>;

  explicit ComparisonWindow(QWidget* parent = nullptr);
  ~ComparisonWindow() override;

  // Compares `left` (the marked request) with `right`, cancelling a comparison that runs.
  void compare(Side left, Side right, SettingsFor settings);
  bool running() const { return task_ != nullptr; }
  const Comparison& comparison() const { return comparison_; }
  // The change shown, from 1; 0 before the first is chosen.
  std::size_t currentChange() const { return current_; }
  void nextChange();
  void previousChange();
  QString statusText() const;
  AlignedTextView* leftView() const { return left_; }
  AlignedTextView* rightView() const { return right_; }
  QCheckBox* unformattedOption() const { return unformatted_; }
  QCheckBox* whitespaceOption() const { return whitespace_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void start();
  void retire();
  void dropEndedTasks();
  void finished();
  void showChange(std::size_t index);
  void updateStatus();

  Side sides_[2];
  SettingsFor settingsFor_;
  std::unique_ptr<ComparisonTask> task_;
  std::vector<std::unique_ptr<ComparisonTask>> retired_;  // cancelled, their threads ending
  Comparison comparison_;
  std::size_t current_ = 0;
  bool syncing_ = false;

  QLabel* lblLeft_ = nullptr;
  QLabel* lblRight_ = nullptr;
  AlignedTextView* left_ = nullptr;
  AlignedTextView* right_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QPushButton* cmdPrevious_ = nullptr;
  QPushButton* cmdNext_ = nullptr;
  QCheckBox* unformatted_ = nullptr;
  QCheckBox* whitespace_ = nullptr;
};

}  // namespace korva
