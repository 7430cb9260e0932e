#pragma once
// Runs the test's main-thread event loop until a condition holds, so that
// workers can hand their results over and released objects are deleted.
#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <functional>

namespace sonabox::test {

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
