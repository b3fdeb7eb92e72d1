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

  std::vector<Message> messages;
  std::vector<Prompt> prompts;
  QStringList answers;  // empty answer = cancelled
  std::function<void()> onPrompt;
};

}  // namespace korva::testing
