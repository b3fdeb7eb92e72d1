#include "app/user_dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace korva {

void QtUserDialogs::messageBox(const QString& text, Icon icon, const QString& title) {
  QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Warning, title,
                  text, QMessageBox::Ok, parent_);
  box.exec();
}

QString QtUserDialogs::inputBox(const QString& prompt, const QString& title,
                                const QString& defaultText) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, defaultText, &ok);
  return ok ? text : QString();
}

}  // namespace korva
