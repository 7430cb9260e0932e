#pragma once
// Tells the program when another program (sonabox-cli, a second window) has
// changed the playlist store: it watches the data folder and the playlists
// folder, lets the store read the new index, and says what changed. The
// store's own changes are not reported.
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <string>

namespace sonabox {

class TPlayListManager;

class TPlayListWatcher : public QObject {
  Q_OBJECT
public:
  // `store` must outlive the watcher.
  TPlayListWatcher(TPlayListManager &store, QObject *parent = nullptr);

  // Looks at once instead of waiting for the folders' change notices.
  void Check();

signals:
  // The index was changed by another writer and the store has read it again:
  // the list of names may differ.
  void IndexChanged();
  // A playlist file was written, added or removed by another writer.
  void PlayListChanged(const std::string &path);

private:
  TPlayListManager &store_;
  QFileSystemWatcher watcher_;
  QTimer settle_; // a burst of changes is looked at once
};

} // namespace sonabox
