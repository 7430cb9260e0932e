#pragma once
// Turning the test's main-thread event loop.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <chrono>
#include <functional>

namespace sonabox::test {

// Runs the event loop until it has emptied its queue once: the moment the main
// window runs its enable rules. No timer, no sleep.
inline void RunUntilIdle() {
  QEventLoop loop;
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until a condition holds, so that workers can hand their
// results over and released objects are deleted; false after `limit`.
inline bool ProcessEventsUntil(const std::function<bool()> &done,
                               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(1);
  }
  return true;
}

} // namespace sonabox::test
