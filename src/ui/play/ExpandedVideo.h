#pragma once
// TdExpandedVideo, "dExpandedVideo": the playing video in a larger, separate,
// non-modal window. While it exists the Play page sends the player page to its
// view instead of the small one; when it closes it says so (Closed), and the
// page sends playback back there. It is made on demand and released once it
// has closed. The video goes on where it was when it moves in or out. It
// fills the screen on a double click (or the page's F and F11 keys) and leaves
// full screen on another, or Escape.
//
// It opens at three quarters of the screen, larger than the page's video.
// When the mouse moves over it, the player controls (position, pause, next,
// volume) show under the video; 2 s after the mouse last moved they hide
// again, unless it rests on them.
#include <QWidget>

class QSlider;
class QTimer;
class QToolButton;

namespace sonabox {

class THtmlView;
class TPlayback;

class TdExpandedVideo : public QWidget {
  Q_OBJECT
public:
  // A window of `owner`, centred on it, that deletes itself when closed; its
  // controls drive `playback`, which must outlive it.
  TdExpandedVideo(QWidget &owner, TPlayback &playback);

  THtmlView *wbExpandedVideo; // fills the window, above the controls
  QWidget *pControls;         // hidden until the mouse moves
  QSlider *tbPosition;        // "Position", in seconds; a click jumps there
  QToolButton *btnPause;      // "Pause", checked while paused
  QToolButton *btnNext;       // "Next"
  QSlider *tbVolume;          // "Volume", 0-100
  QTimer *tHideControls;      // 2 s after the mouse last moved

  void FormCreate(); // gives the view its document
  void ToggleFullScreen();
  void MouseMoved(); // over the window or the video in it: the controls show

signals:
  void Closed();

protected:
  void closeEvent(QCloseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateControls();
  void ShowState(); // what the controls show: position, pause, volume

  TPlayback &playback_;
  QTimer *tPosition_; // shows the position while the controls show
};

} // namespace sonabox
