#include "core/playlists/PlayListWatcher.h"

#include "core/playlists/PlayListManager.h"

namespace sonabox {

TPlayListWatcher::TPlayListWatcher(TPlayListManager &store, QObject *parent)
    : QObject(parent), store_(store) {
  // Files are replaced by renames, which a watch on the file itself would
  // lose: the folders are watched.
  watcher_.addPath(QString::fromStdString(store.DataFolder()));
  watcher_.addPath(QString::fromStdString(store.PlayListFolder()));
  settle_.setSingleShot(true);
  settle_.setInterval(50);
  // Not restarted by each notice, so that a steady stream of changes is
  // still looked at.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!settle_.isActive()) settle_.start();
  });
  connect(&settle_, &QTimer::timeout, this, &TPlayListWatcher::Check);
}

void TPlayListWatcher::Check() {
  const TPlayListManager::TOutsideChanges changes = store_.TakeOutsideChanges();
  if (changes.Index) emit IndexChanged();
  for (const std::string &path : changes.PlayListFiles) emit PlayListChanged(path);
}

} // namespace sonabox
