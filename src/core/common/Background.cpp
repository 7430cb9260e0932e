#include "core/common/Background.h"

#include <QThread>

namespace sonabox {

QThread *RunInBackground(QObject *context, std::function<void()> work, std::function<void()> done) {
  QThread *thread = QThread::create([work = std::move(work)] {
    try {
      work();
    } catch (...) {
      // The caller learns the outcome from what `work` left behind.
    }
  });
  QObject::connect(thread, &QThread::finished, context, std::move(done));
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
  return thread;
}

} // namespace sonabox
