// The entry of the program: the application object, then the settings, the
// main window and the two hidden dialogs, then the event loop.
//
// Files on the command line are playlists to import. When a program already
// runs with the same settings, they are handed to it and this start ends.
#include "core/settings/Settings.h"
#include "ui/app/FileHandOver.h"
#include "ui/app/MainWindow.h"
#include "ui/app/Startup.h"

#include <QApplication>
#include <QTimer>

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C"); // libmpv needs the C numeric locale
  const QStringList files = sonabox::FilesOfCommandLine(app.arguments().mid(1));
  const QString handOver = sonabox::HandOverName(sonabox::StoreFilePath());
  if (!files.isEmpty() && sonabox::HandFilesOver(handOver, files)) return 0;

  sonabox::TfMain *window = sonabox::StartUp();
  if (!window) return 1;
  auto *listener = new sonabox::TFileHandOver(handOver, window);
  // Queued: the import asks in a dialog of its own, never inside the socket's handler.
  QObject::connect(listener, &sonabox::TFileHandOver::FilesHandedOver, window,
                   &sonabox::TfMain::OpenPlayListFiles, Qt::QueuedConnection);
  if (!files.isEmpty())
    QTimer::singleShot(0, window, [window, files] { window->OpenPlayListFiles(files); });
  const int result = app.exec();
  sonabox::ShutDown(window);
  return result;
}
