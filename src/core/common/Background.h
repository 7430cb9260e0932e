#pragma once
// Work that may block for long (an exchange with a service) runs on a thread of
// its own, so that the user-interface thread keeps handling events.
#include <functional>

class QObject;
class QThread;

namespace sonabox {

// Runs `work` on a new thread; once it has ended, runs `done` on the thread
// that called this (which must run an event loop), unless `context` is gone
// by then. The thread is never awaited: a program that ends meanwhile leaves
// it behind, so `work` must own (or share) everything it touches. An error
// that `work` raises ends the work and is otherwise ignored; `done` runs.
// Returns the thread, which deletes itself once it has finished.
QThread *RunInBackground(QObject *context, std::function<void()> work, std::function<void()> done);

} // namespace sonabox
