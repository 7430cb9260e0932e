#pragma once
// TdExpandedVideo, "dExpandedVideo": the playing video in a larger, separate,
// non-modal window. While it exists the main window sends the player page to
// its view instead of the small one; closing it sends playback back there.
// It is made on demand and released once it has closed.
#include <QWidget>

namespace sonabox {

class TfMain;
class THtmlView;

class TdExpandedVideo : public QWidget {
  Q_OBJECT
public:
  // A window of the main window, centred on it, that deletes itself when closed.
  explicit TdExpandedVideo(TfMain &owner);

  THtmlView *wbExpandedVideo; // fills the window

  void FormCreate(); // gives the view its document
  void FormClose();  // the main window forgets the window and shows the video itself

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  TfMain &owner_;
};

} // namespace sonabox
