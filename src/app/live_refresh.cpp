#include "app/live_refresh.h"

#include <QDir>

#include "index/constants.h"

namespace korva {

LiveRefresh::LiveRefresh(QObject* parent) : QObject(parent) {
  merge_.setSingleShot(true);
  merge_.setInterval(kMergeMs);
  connect(&merge_, &QTimer::timeout, this, &LiveRefresh::changed);
  // Only the first change of a burst starts the timer; the rest fall into the same notice.
  auto noted = [this] {
    if (!merge_.isActive()) merge_.start();
  };
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, noted);
  // The folder changes when a log is created, removed or renamed over.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, noted);
}

void LiveRefresh::watch(const QString& folder) {
  stop();
  folder_ = folder;
  rearm();
}

void LiveRefresh::stop() {
  merge_.stop();
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  folder_.clear();
}

void LiveRefresh::rearm() {
  if (folder_.isEmpty()) return;
  const QDir dir(folder_);
  QStringList paths{folder_};
  for (const char* name : {kRequestLogName, kResponseLogName}) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (QFileInfo::exists(path)) paths << path;
  }
  for (const QString& path : paths)
    if (!watcher_.files().contains(path) && !watcher_.directories().contains(path))
      watcher_.addPath(path);
}

}  // namespace korva
