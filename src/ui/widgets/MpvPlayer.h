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

#include <cstdint>
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

  // Plays the address from `startSeconds` on, replacing whatever played, and
  // shows the video widget. Until the widget's render context exists the
  // address waits for it.
  void Play(const std::string &address, double startSeconds = 0);

  // Stops at once and hides the video widget; the core goes idle.
  void Stop();

  QWidget *VideoWidget() const;                 // none with null outputs
  std::string Path() const;                     // the address loaded; empty when idle
  std::string Property(const char *name) const; // the core's property as text; empty when unset
  std::optional<double> TimePosition() const;   // seconds into the video; none when nothing plays
  std::optional<double> Duration() const;       // seconds; none until the video is open
  bool Idle() const;

  // What the user controls. Pause, volume, mute and the audio filter belong to
  // the core, not to one video: they hold for the videos that follow.
  void SetPaused(bool paused);
  void SeekTo(double seconds); // within the video that plays; nothing while idle
  void SetVolume(int percent); // 0-100
  void SetMuted(bool muted);
  void SetEvenLoudness(bool on); // a loudness normaliser in the audio chain

signals:
  // The first frame of a newly loaded address is decoded and playback runs.
  void PlaybackStarted();
  // The video that was last loaded played to its end.
  void PlaybackEnded();
  // The video that was last loaded could not be opened or decoded (a missing
  // page, an unreachable server, a broken file).
  void PlaybackFailed();
  // The video was double-clicked.
  void DoubleClicked();

private:
  void HandleEvents();
  void RenderReady();
  void Load(const std::string &address);

  mpv_handle *mpv_ = nullptr;
  QPointer<QWidget> video_; // the container of window_
  TMpvVideoWindow *window_ = nullptr;
  bool renderReady_ = false;
  std::string pending_;        // waits for the render context
  double start_ = 0;           // where the address loaded next begins, in seconds
  bool awaitingStart_ = false; // a file has started loading and has not yet shown a frame
  // Loads asked for whose start the core has not yet announced: the end of an
  // older file, already queued, must not be taken for the end of the new one.
  int loadsPending_ = 0;
  std::int64_t entry_ = -1; // the core's playlist entry of the file last started
};

} // namespace sonabox
