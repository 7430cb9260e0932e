#pragma once
// The "Export..." and "Import..." buttons of the playlist pane: the chosen
// playlist written as an M3U or XSPF file, and such a file read into the
// chosen playlist or into a new one named after the file. Videos that come
// without a title or a length get them from the video service on the way in.
#include "core/common/VideoRecord.h"

#include <QString>
#include <QWidget>

#include <string>

class QComboBox;
class QToolButton;

namespace sonabox {

class TPlayListManager;

class TPlayListFiles : public QWidget {
  Q_OBJECT
public:
  // `store` and `chosen` (the pane's playlist choice) must outlive the buttons.
  TPlayListFiles(TPlayListManager &store, QComboBox &chosen, QWidget *parent);

  QToolButton *btnExport, *btnImport;

  // Export needs a chosen playlist; import always works.
  void RunEnableRules();

  // The work behind the buttons once the file dialog has answered; each
  // returns what the user is told. ExportTo writes XSPF when the path ends in
  // ".xspf" (letter case aside), M3U otherwise, replacing the file whole.
  // ImportFrom merges into the chosen playlist, or makes a new playlist named
  // after the file ("Road Trip.m3u" gives "Road Trip", then "Road Trip 2",
  // ...). Both throw what the store or the file reader throws, and
  // std::runtime_error when the file cannot be read or written.
  std::string ExportTo(const QString &path);
  std::string ImportFrom(const QString &path, bool merge);

  // A file opened from outside the program (its command line, a file
  // manager): asks which playlist to import it into, a new one named after
  // the file or one that exists, imports it and tells what was imported. A
  // file that holds no video of the program (not a playlist at all, or one of
  // other players' addresses) is named with the reason, and nothing is asked.
  void OpenFile(const QString &path);

signals:
  void PlayListsChanged(bool keep);
  void PlayListSaved(const std::string &fileName);
  // What an export or import did, for the message line.
  void Told(const std::string &message);

private:
  void ExportClicked();
  void ImportClicked();
  // Imports the file into the playlist `into`, or into a new one named after
  // the file when `into` is empty.
  std::string Import(const QString &path, const std::string &into);
  // Titles and lengths that the videos lack, from the video service (see
  // LookUpVideos): "" when it answered, else why not.
  std::string LookUp(TVideos &videos);
  std::string NewPlayListName(const QString &path);

  TPlayListManager &store_;
  QComboBox &chosen_;
};

} // namespace sonabox
