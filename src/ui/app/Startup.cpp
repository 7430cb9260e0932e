#include "ui/app/Startup.h"

#include "core/settings/Settings.h"
#include "ui/app/MainWindow.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/update/SoftwareUpdateDialog.h"
#include "ui/widgets/Guarded.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>
#include <string>

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
  SetProgramTitle("Sonabox");

  TfMain *window = nullptr;
  try {
    window = new TfMain();
  } catch (const std::exception &e) {
    // The window could not be built because its files cannot be kept (a data
    // folder that cannot be created or written): one message says what and
    // where, nothing is changed, and the program ends.
    fMain = nullptr; // the window that was being built is gone
    delete Settings;
    Settings = nullptr;
    QMessageBox::critical(
        nullptr, "Sonabox",
        QString::fromStdString(std::string(e.what()) + "\n\nSonabox cannot start and will close."));
    return nullptr;
  }
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
