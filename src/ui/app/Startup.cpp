#include "ui/app/Startup.h"

#include "core/settings/Settings.h"
#include "ui/app/MainWindow.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/update/SoftwareUpdateDialog.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>

namespace sonabox {

TfMain *StartUp() {
  QApplication::setApplicationName("Sonabox");
  QApplication::setOrganizationName("Tarnwell");
  QGuiApplication::setDesktopFileName("sonabox");
  QGuiApplication::setWindowIcon(QIcon(":/images/SONABOX.png"));
  try {
    Settings = new TSettings();
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, "Sonabox", QString::fromStdString(e.what()));
    return nullptr;
  }
  QGuiApplication::setApplicationDisplayName("Sonabox");

  auto *window = new TfMain();
  new TdShareVideos(window);                          // hidden; becomes dShareVideos
  new TdSoftwareUpdate(window, Settings->TempPath()); // hidden; becomes dSoftwareUpdate
  window->show();
  return window;
}

void ShutDown(TfMain *window) {
  delete dSoftwareUpdate;
  delete dShareVideos;
  delete window;
}

} // namespace sonabox
