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
#include <initializer_list>
#include <optional>
#include <string>

struct mpv_handle;
struct mpv_event;

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

  // The address that follows the one playing when it ends (empty: none). It
  // goes into the core's playlist behind the current one, so that the core
  // opens it ahead of time and goes on to it with the sound output kept open;
  // a new address replaces it, and Play forgets it. Once the core has gone on
  // to it, PlaybackEnded tells of the end of the one before, and Play with
  // this address keeps it playing instead of loading it again; before then,
  // Play with it goes on to it at once.
  void SetNext(const std::string &address);

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
  // The video was clicked (the keys go to the view around it), or the mouse
  // moved over it.
  void Pressed();
  void MouseMoved();

private:
  enum class TReport { None, Started, Ended, Failed };
  void HandleEvents();
  TReport Follow(const mpv_event &event);
  void Tell(TReport report);
  void RenderReady();
  void Load(const std::string &address);
  void Append();
  void GoOnToNext();
  void Command(std::uint64_t reply, std::initializer_list<const char *> arguments);

  static constexpr std::int64_t kNoEntry = -1, kLoading = -2;

  mpv_handle *mpv_ = nullptr;
  QPointer<QWidget> video_; // the container of window_
  TMpvVideoWindow *window_ = nullptr;
  bool renderReady_ = false;
  std::string pending_; // waits for the render context
  double start_ = 0;    // where the address loaded next begins, in seconds
  // The core's playlist entry of the video this player plays: kLoading until
  // the core has answered the load, kNoEntry when none. Events of other
  // entries (a file replaced or stopped on purpose) are not told.
  std::int64_t current_ = kNoEntry;
  std::uint64_t loads_ = 0;           // numbers the loads: only the last one's answer counts
  bool toldStarted_ = false;          // PlaybackStarted was told for current_
  std::string nextAddress_;           // what SetNext asked for
  std::uint64_t appends_ = 0;         // numbers the appends: only the last one's answer counts
  bool appended_ = false;             // nextAddress_ is in the core's playlist, or on its way
  std::int64_t nextEntry_ = kNoEntry; // its entry, once the core has answered
  bool otherEntries_ = false;         // the core's playlist may hold more than current_
  // The end (or failure) of current_, told once the core has started the
  // entry after it, or gone idle.
  TReport heldEnd_ = TReport::None;
  std::optional<double> timePosition_, duration_; // as the core last told them
  std::int64_t coreEntry_ = kNoEntry;             // the entry the core started last
  bool coreShowing_ = false;                      // and has shown its first frame
  bool coreEnded_ = false;                        // or has already ended
};

} // namespace sonabox
