// The message boxes and the input box the window shows, behind one small interface so that
// tests can answer them.
#pragma once

#include <QString>

class QWidget;

namespace korva {

class UserDialogs {
 public:
  enum class Icon { Warning, Critical };
  virtual ~UserDialogs() = default;
  // A modal box with the text, the icon, one OK button and the title.
  virtual void messageBox(const QString& text, Icon icon, const QString& title) = 0;
  // A modal input box; returns the entered text, or an empty text when it was cancelled.
  virtual QString inputBox(const QString& prompt, const QString& title,
                           const QString& defaultText) = 0;
  // A folder chooser starting in `start`; an empty text when it was cancelled.
  virtual QString chooseFolder(const QString& title, const QString& start) = 0;
  // A save-file chooser proposing `proposed` (a path); an empty text when it was cancelled.
  virtual QString saveFileName(const QString& title, const QString& proposed) = 0;
};

// The real dialogs, owned by the window they are shown over.
class QtUserDialogs : public UserDialogs {
 public:
  explicit QtUserDialogs(QWidget* parent) : parent_(parent) {}
  void messageBox(const QString& text, Icon icon, const QString& title) override;
  QString inputBox(const QString& prompt, const QString& title,
                   const QString& defaultText) override;
  QString chooseFolder(const QString& title, const QString& start) override;
  QString saveFileName(const QString& title, const QString& proposed) override;

 private:
  QWidget* parent_;
};

}  // namespace korva
