// The entry of the program: the application object, the settings, the main
// window and the two hidden dialogs, then the event loop.
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "sharing/ShareVideosDialog.h"
#include "update/SoftwareUpdateDialog.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <clocale>
#include <exception>

int main(int argc, char **argv) {
  using namespace sonabox;
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C"); // libmpv needs the C numeric locale
  QApplication::setApplicationName("Sonabox");
  QApplication::setOrganizationName("Tarnwell");
  QGuiApplication::setDesktopFileName("sonabox");
  QGuiApplication::setWindowIcon(QIcon(":/images/SONABOX.png"));

  try {
    Settings = new TSettings();
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, "Sonabox", QString::fromStdString(e.what()));
    return 1;
  }
  QGuiApplication::setApplicationDisplayName("Sonabox");

  auto *window = new TfMain();
  new TdShareVideos(window);     // hidden; sets dShareVideos
  new TdSoftwareUpdate(window);  // hidden; sets dSoftwareUpdate
  window->show();
  const int result = app.exec();

  delete dSoftwareUpdate;
  delete dShareVideos;
  delete window;
  return result;
}
