#pragma once
// One program per user settings: a second start that is given files (the
// desktop's "Open with", `sonabox list.m3u`) hands them to the program that
// already runs and ends, so they are imported where the user's window is.
//
// The running program listens on a local socket in the user's runtime folder,
// named after the settings file; the second start writes the files' absolute paths to it, each ended
// by a NUL byte, and closes.
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace sonabox {

// The socket path of the programs that use the settings file `storePath`.
QString HandOverName(const std::string &storePath);

// The files of a command line (`arguments` without the program), as absolute
// paths from the current folder.
QStringList FilesOfCommandLine(const QStringList &arguments);

// Hands the files to the program listening on `name`: false when none
// listens (or it did not take them in time).
bool HandFilesOver(const QString &name, const QStringList &files);

class TFileHandOver : public QObject {
  Q_OBJECT
public:
  // Listens on `name`; a socket that a program which ended left behind is
  // taken over. When another program listens there already, this one takes
  // no files (Listening() is false).
  TFileHandOver(const QString &name, QObject *parent);

  bool Listening() const { return server_.isListening(); }

signals:
  void FilesHandedOver(const QStringList &files);

private:
  void Connected();
  QLocalServer server_;
};

} // namespace sonabox
