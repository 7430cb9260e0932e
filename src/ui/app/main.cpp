// The entry of the program: the application object, then the settings, the
// main window and the two hidden dialogs, then the event loop.
#include "ui/app/Startup.h"

#include <QApplication>

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C"); // libmpv needs the C numeric locale
  sonabox::TfMain *window = sonabox::StartUp();
  if (!window) return 1;
  const int result = app.exec();
  sonabox::ShutDown(window);
  return result;
}
