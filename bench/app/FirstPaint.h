#pragma once
// Reports the first paint in a window (of any of its widgets) on standard output: one line with the
// process's resident memory in kB at that moment, then ends the event loop.
#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

class FirstPaint : public QObject {
public:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      std::printf("%ld\n", ResidentKb());
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QObject::eventFilter(watched, event);
  }

private:
  static long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
      if (key == "VmRSS:") {
        status >> value;
        return value;
      }
      status.ignore(1 << 20, '\n');
    }
    return 0;
  }
  bool seen_ = false;
};
