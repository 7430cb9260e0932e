#pragma once
// The "Export..." and "Import..." buttons of the playlist pane: the chosen
// playlist written as an M3U or XSPF file, and such a file read into the
// chosen playlist or into a new one named after the file.
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

signals:
  void PlayListsChanged(bool keep);
  void PlayListSaved(const std::string &fileName);

private:
  void ExportClicked();
  void ImportClicked();

  TPlayListManager &store_;
  QComboBox &chosen_;
};

} // namespace sonabox
