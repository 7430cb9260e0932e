#pragma once
// TdExpandedVideo, "dExpandedVideo": the playing video in a larger, separate,
// non-modal window. While it exists the Play page sends the player page to its
// view instead of the small one; when it closes it says so (Closed), and the
// page sends playback back there. It is made on demand and released once it
// has closed. The video goes on where it was when it moves in or out. It
// fills the screen on a double click (or the page's F and F11 keys) and leaves
// full screen on another, or Escape.
#include <QWidget>

namespace sonabox {

class THtmlView;

class TdExpandedVideo : public QWidget {
  Q_OBJECT
public:
  // A window of `owner`, centred on it, that deletes itself when closed.
  explicit TdExpandedVideo(QWidget &owner);

  THtmlView *wbExpandedVideo; // fills the window

  void FormCreate(); // gives the view its document
  void ToggleFullScreen();

signals:
  void Closed();

protected:
  void closeEvent(QCloseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
};

} // namespace sonabox
