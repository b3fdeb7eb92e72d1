// Dialogs for window tests: records every message box and answers input boxes from a queue.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "app/user_dialogs.h"

namespace korva::testing {

class FakeDialogs : public UserDialogs {
 public:
  struct Message {
    QString text;
    Icon icon;
    QString title;
  };
  struct Prompt {
    QString prompt, title, defaultText;
  };

  void messageBox(const QString& text, Icon icon, const QString& title) override {
    messages.push_back({text, icon, title});
  }
  QString inputBox(const QString& prompt, const QString& title,
                   const QString& defaultText) override {
    prompts.push_back({prompt, title, defaultText});
    if (onPrompt) onPrompt();
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }

  QString chooseFolder(const QString& title, const QString& start) override {
    fileRequests.push_back({title, title, start});
    return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
  }
  QString saveFileName(const QString& title, const QString& proposed) override {
    fileRequests.push_back({title, title, proposed});
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
  }

  std::vector<Message> messages;
  std::vector<Prompt> fileRequests;        // folder and save choosers: title, proposed path
  QStringList folderAnswers, saveAnswers;  // empty answer = cancelled
  std::vector<Prompt> prompts;
  QStringList answers;  // empty answer = cancelled
  std::function<void()> onPrompt;
};

}  // namespace korva::testing
