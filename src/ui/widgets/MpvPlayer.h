#pragma once
// The player plug-in of the HTML view: plays a movie address with libmpv.
//
// The core decodes on its own threads; its events are handled on the UI thread.
// With a display, an OpenGL window in a container widget (a native child of
// the view) draws the video through libmpv's render API. On Qt's offscreen platform there is
// nothing to show, so the player uses the null video and audio outputs and makes no widget: the
// core still loads and decodes, which is what tests rely on.
//
// Creating the core costs tens of megabytes, so the view makes its player only
// when a document first declares something to play.
#include <QObject>
#include <QPointer>

#include <optional>
#include <string>

struct mpv_handle;

class QWidget;

namespace sonabox {

class TMpvVideoWindow;

class TMpvPlayer : public QObject {
  Q_OBJECT
public:
  // Creates the core; with a display, also the video widget as a hidden child of videoParent.
  explicit TMpvPlayer(QWidget *videoParent);
  ~TMpvPlayer() override;
  TMpvPlayer(const TMpvPlayer &) = delete;
  TMpvPlayer &operator=(const TMpvPlayer &) = delete;

  // Plays the address, replacing whatever played, and shows the video widget.
  // Until the widget's render context exists the address waits for it.
  void Play(const std::string &address);

  // Stops at once and hides the video widget; the core goes idle.
  void Stop();

  QWidget *VideoWidget() const;               // none with null outputs
  std::string Path() const;                   // the address loaded; empty when idle
  std::optional<double> TimePosition() const; // seconds into the video; none when nothing plays
  bool Idle() const;

signals:
  // The first frame of a newly loaded address is decoded and playback runs.
  void PlaybackStarted();

private:
  void HandleEvents();
  void RenderReady();
  void Load(const std::string &address);

  mpv_handle *mpv_ = nullptr;
  QPointer<QWidget> video_; // the container of window_
  TMpvVideoWindow *window_ = nullptr;
  bool renderReady_ = false;
  std::string pending_;        // waits for the render context
  bool awaitingStart_ = false; // a file has started loading and has not yet shown a frame
};

} // namespace sonabox
