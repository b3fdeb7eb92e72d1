// Watches the two logs of a folder and says when they have changed, with bursts of writes
// merged into one notice.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

namespace korva {

class LiveRefresh : public QObject {
  Q_OBJECT

 public:
  // A notice comes at most this long after the first change of a burst.
  static constexpr int kMergeMs = 250;

  explicit LiveRefresh(QObject* parent = nullptr);

  // Starts or stops watching `folder`; stopping drops a notice still pending.
  void watch(const QString& folder);
  void stop();
  bool isWatching() const { return !folder_.isEmpty(); }
  // Called after each refresh: a log that was replaced (renamed over) is watched anew.
  void rearm();
  // Asks again later, for a notice that came while the window was busy.
  void retry() { merge_.start(); }

 signals:
  void changed();

 private:
  QString folder_;
  QFileSystemWatcher watcher_;
  QTimer merge_;
};

}  // namespace korva
