#include "app/user_dialogs.h"

#include <QFileDialog>
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

QString QtUserDialogs::chooseFolder(const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent_, title, start);
}

QString QtUserDialogs::saveFileName(const QString& title, const QString& proposed) {
  return QFileDialog::getSaveFileName(
      parent_, title, proposed, QStringLiteral("HTML-Dateien (*.html *.htm);;Alle Dateien (*)"));
}

}  // namespace korva
