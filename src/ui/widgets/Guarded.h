#pragma once
// Handlers that may meet an error (a table that refuses an operation, a store
// that cannot be written) run guarded: the error ends the handler, is shown in
// the standard error box over the widget's window, and the program goes on.
#include <QString>
#include <QWidget>

#include <exception>
#include <string>

namespace sonabox {

// The title of the program, the caption of its message boxes: "Sonabox"
// until the main window gives its own ("Sonabox 1.0.0"). It is not the
// application's display name, which the desktop would append to the caption
// of every window, the expanded video window's included.
QString ProgramTitle();
void SetProgramTitle(const QString &title);

// The standard error box over `parent`'s window, its text shown as plain text.
void ShowError(QWidget *parent, const std::string &message);

// The standard information box, its text shown as plain text: it may quote a
// name that the user typed or that came with a share.
void ShowInformation(QWidget *parent, const std::string &message);

template <typename Handler> void RunGuarded(QWidget *parent, Handler &&handler) {
  try {
    handler();
  } catch (const std::exception &error) {
    ShowError(parent, error.what());
  }
}

// A slot that runs the member handler of `page` guarded.
template <typename Page> auto Guarded(Page *page, void (Page::*handler)()) {
  return [page, handler] { RunGuarded(page, [page, handler] { (page->*handler)(); }); };
}

} // namespace sonabox
