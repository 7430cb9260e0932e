// The floor: a bare Qt Widgets window of the same size, up to its first paint.
#include "FirstPaint.h"

#include <QWidget>

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QWidget window;
  window.setWindowTitle("Bare");
  window.resize(769, 556);
  FirstPaint probe;
  app.installEventFilter(&probe);
  window.show();
  return app.exec();
}
