#pragma once
// Image buttons: the round picture buttons of the program (previous, play, stop
// and next under the player, find on the search bar, save on the save bar and
// in the save-shared-videos dialog).
//
// A button knows only its tag and the picture it shows. Which picture it shows
// follows the pointer and the enabled state (ConnectControlImage,
// EnableControlImage below); the tag alone names the button and its pictures:
//
//   tag  button                      base name  size
//   1    iControlPrev                "prev"     24 x 24
//   2    iControlPlay                "play"     24 x 24
//   3    iControlStop                "stop"     24 x 24
//   4    iControlNext                "next"     24 x 24
//   11   iFindSearch                 "find"     32 x 32
//   12   iFindSave                   "save"     48 x 48
//   31   iFindSave of dShareVideos   "save"     48 x 48
//
// The pictures are Qt resources ":/images/" + NAME + ".png", stored in upper
// case (PLAY, PLAY_HOVER, PLAY_CLICK, PLAY_DISABLED) and looked up without
// regard to case. For assistive technology a button is a push button named by
// its hint, or by its action's caption where it has no hint.
#include <QAbstractButton>
#include <QPixmap>
#include <QString>

#include <string>

namespace sonabox {

class TImageButton : public QAbstractButton {
  Q_OBJECT
public:
  // Shows the normal picture of its tag at once. `size` is the control's size
  // (a little larger than the picture for the player buttons).
  TImageButton(int tag, QSize size, const QString &accessibleName, QWidget *parent);

  int Tag() const { return tag_; }

  // The upper-case name of the picture shown ("PLAY_HOVER"), for tests.
  const QString &PictureName() const { return pictureName_; }

  // Loads the named picture; when no such picture exists the button keeps the
  // one it shows and false is returned.
  bool ShowPicture(const QString &name);

  QSize sizeHint() const override { return size_; }

signals:
  // Any mouse button pressed or released on the button; the pointer entering
  // or leaving it. Sent also while the button is disabled (Qt then delivers
  // enter and leave but no presses).
  void MouseDown();
  void MouseUp();
  void MouseEnter();
  void MouseLeave();

protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void enterEvent(QEnterEvent *event) override;
  void leaveEvent(QEvent *event) override;

private:
  int tag_;
  QSize size_;
  QPixmap picture_;
  QString pictureName_;
};

// The base name of a tag's pictures ("play"), or empty for a tag not in the table.
std::string ControlImageBaseName(int tag);

// Shows the picture of the button's tag followed by the suffix ("", "_hover",
// "_click", "_disabled"); a missing picture changes nothing.
void SetControlImage(TImageButton &button, const std::string &suffix);

// Sets the button's enabled flag and its normal or disabled picture when the
// flag changes; nothing when it already has that value.
void EnableControlImage(TImageButton &button, bool enabled);

// The pictures follow the pointer: "_click" while pressed, "_hover" while the
// pointer is over an enabled button, else the normal or disabled picture.
void ConnectControlImage(TImageButton &button);

// Makes the pictures of the program's resources available (idempotent).
void InitArtwork();

} // namespace sonabox
