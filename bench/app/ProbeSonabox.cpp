// The program's own start-up, up to the first paint of the main window.
#include "FirstPaint.h"
#include "core/playback/PlaySequencer.h"
#include "ui/app/MainWindow.h"
#include "ui/app/Startup.h"
#include "ui/find/FindPage.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  sonabox::TfMain *window = sonabox::StartUp();
  if (!window) return 1;
  FirstPaint probe;
  app.installEventFilter(&probe);
  const int result = app.exec();
  sonabox::ShutDown(window);
  return result;
}
