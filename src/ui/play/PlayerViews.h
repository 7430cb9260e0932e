#pragma once
// TPlayerViews: the player of the playback object, on the screen. The video
// plays in the expanded window's view while that window exists, else in the
// Play page's small view; each view makes its libmpv player (TMpvPlayer) when
// it first plays. When the window opens or closes the video moves to the
// other view and goes on where it was.
#include "core/playback/Playback.h"

#include <QObject>
#include <QPointer>

#include <string>
#include <vector>

class QWidget;

namespace sonabox {

class TdExpandedVideo;
class THtmlView;
class TMpvPlayer;

class TPlayerViews : public QObject, public TVideoPlayer {
  Q_OBJECT
public:
  // `playback`, `small` and `page` must outlive the views; the expanded
  // window is a window of the page's window. Sets itself as the playback's player.
  TPlayerViews(TPlayback &playback, THtmlView &small, QWidget &page);
  ~TPlayerViews() override;

  void Expand();           // opens (or raises) the expanded window; the video moves there
  void ToggleFullScreen(); // of the expanded window, opened first when needed
  bool FullScreen() const;

  void Show(const TVideoDetails &video) override;
  void SetNext(const TVideoDetails &video) override;
  void Blank() override;
  void SetPaused(bool paused) override;
  void SeekTo(double seconds) override;
  double Position() const override;
  double Duration() const override;
  void SetVolume(int percent) override;
  void SetMuted(bool muted) override;
  void SetEvenLoudness(bool on) override;

signals:
  // The expanded window was made (the page gives it its keys) or is gone (nullptr).
  void ExpandedChanged(TdExpandedVideo *window);
  void FullScreenChanged();

private:
  THtmlView &PlayingView() const;
  TMpvPlayer *ActivePlayer() const; // none before the view's first video
  std::vector<TMpvPlayer *> Players() const;
  void Adopt(TMpvPlayer *player); // a view made its player: it gets the state
  void MoveVideo();               // to the view that plays now, where it was
  void ExpandedClosed();

  TPlayback &playback_;
  THtmlView &small_;
  QWidget &owner_; // the page: errors are shown over it
  QPointer<TdExpandedVideo> expanded_;
  double resumeAt_ = 0; // where the video goes on in the view it moves to
  std::string next_;    // the player address of the next video; empty: none
};

} // namespace sonabox
