// The floor: a bare Qt Widgets window of the same size, up to its first paint.
// The program's first window takes four fifths of the screen (at least
// 769 x 556 where that fits); so does this one.
#include "FirstPaint.h"

#include <QScreen>
#include <QWidget>

#include <clocale>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QWidget window;
  window.setWindowTitle("Bare");
  const QSize area = QGuiApplication::primaryScreen()->availableGeometry().size();
  window.resize((area * 4 / 5).expandedTo({769, 556}).boundedTo(area));
  FirstPaint probe;
  app.installEventFilter(&probe);
  window.show();
  return app.exec();
}
