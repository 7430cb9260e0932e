#pragma once
// TPlayback: playback of the program, beneath every view of it. The Play page,
// the expanded window, the desktop's media controls and the notifications all
// drive and show this one object.
//
// It owns the open playlist table and its sequencer (with the play mode and
// the up-next queue), and the player's state: pause, position, volume, mute
// and even loudness, the last three remembered in the settings store. What
// actually plays is a TVideoPlayer, which the ui implements with libmpv; the
// player reports back through PlayerStarted, PlayerEnded and PlayerFailed.
//
// The next video is decided while the current one plays and handed to the
// player ahead of time; when the mind changes before the end (Next, a video
// queued, another mode, the playlist edited) the player is given the new one.
//
// A video that cannot be played is named in the now-playing line beside the
// video after it ("Could not play A. Now playing: B"), once the video service
// is known to answer. When video after video fails with the service answering,
// playback stops once as many have failed in a row as the playlist shows, and
// the line says so. When the service cannot be reached, the video stays the
// current one, the line says so, and the service is asked again after a
// pause that grows to a few seconds; once it answers, the video plays. That
// wait counts as playing: Stop ends it.
//
// Play while a video plays does nothing, and resumes a paused one. The line
// names a video only while one plays or is paused.
//
// What can be done now (play, pause, next, previous, seek, stop) is Actions();
// ActionsChanged tells when any of it changes. Table changes made elsewhere
// (a playlist opened, filtered, emptied) are noticed by CheckActions, which the
// window runs with its other enable rules.
#include "core/common/VideoRecord.h"
#include "core/playback/PlaySequencer.h"
#include "core/playlists/DataTable.h"

#include <QObject>
#include <QTimer>

#include <string>

namespace sonabox {

// What plays the videos: the ui's libmpv views, or a fake in tests.
class TVideoPlayer {
public:
  virtual ~TVideoPlayer() = default;
  virtual void Show(const TVideoDetails &video) = 0; // loads the video and plays it
  // The video that follows the one shown when it ends (an empty Url: none),
  // so that the player opens it ahead of time and goes on to it without a
  // gap. Each Show forgets it; a new one replaces it.
  virtual void SetNext(const TVideoDetails &video) = 0;
  virtual void Blank() = 0; // nothing plays any more
  virtual void SetPaused(bool paused) = 0;
  virtual void SeekTo(double seconds) = 0;
  virtual double Position() const = 0; // seconds into the video; 0 when not known
  virtual double Duration() const = 0; // seconds; 0 until the video is open
  virtual void SetVolume(int percent) = 0;
  virtual void SetMuted(bool muted) = 0;
  virtual void SetEvenLoudness(bool on) = 0;
};

// What can be done now.
struct TPlaybackActions {
  bool Play = false, Pause = false, Next = false, Previous = false, Seek = false, Stop = false;
  bool operator==(const TPlaybackActions &) const = default;
};

class TPlayback : public QObject {
  Q_OBJECT
public:
  // Reads the remembered volume, mute, loudness and play mode.
  explicit TPlayback(QObject *parent = nullptr);
  ~TPlayback() override;

  // The player that shows the videos; none (nullptr) plays nothing. It gets
  // the volume, mute and loudness at once.
  void SetPlayer(TVideoPlayer *player);

  TDataTable &PlayList() { return playList_; } // "cdsPlayList": closed at start
  TPlaySequencer &Sequencer() { return sequencer_; }
  const TPlaySequencer &Sequencer() const { return sequencer_; }

  // The controls.
  // Stopped: the chosen video (or the highlighted row) from its start;
  // paused: resumes; playing: nothing.
  void Play();
  void PlayPause(); // stopped: Play; else pause or resume
  void SetPaused(bool paused);
  void Stop();
  // The next or previous video, which plays; KeepState leaves a paused
  // player paused and a stopped one stopped.
  void Next(TSkip skip = TSkip::Play);
  void Previous(TSkip skip = TSkip::Play);
  void PlayRow(int recNo); // 1-based record number of the open playlist
  void Tick();             // one second of the count-down: the handler of Sequencer().Timer()
  void Enqueue(const TVideoDetails &video, const std::string &queuedBy = {});
  void PlayNow(const TVideoDetails &video, const std::string &queuedBy = {});
  // A watch or stream address of the configured web host ("http://HOST/watch?v=ID",
  // "http://HOST/v/ID") plays now, as PlayNow; the details are those of a row of
  // the open playlist that holds the video. Else it plays at once under its
  // identifier, and its title, artist and length, looked up from the video
  // service on a thread of their own, follow while it still plays (a lookup
  // that fails is logged, and the identifier stays). False, and nothing
  // happens, for any other address.
  bool PlayAddress(const std::string &address);
  void SeekBy(double seconds);
  void SetPosition(double seconds); // within the current video; nothing when it cannot seek
  void SetVolume(int percent);      // 0-100
  void SetMuted(bool muted);
  void SetEvenLoudness(bool on);
  void SetPlayMode(TPlayMode mode); // remembered; playing once ends
  // In order, or Shuffle all, that stop after the last video of the playlist
  // (of the round) instead of beginning again; not remembered.
  void SetPlaysOnce(bool once);
  bool PlaysOnce() const { return sequencer_.PlaysOnce(); }

  // What the player reports about the video it was last given.
  void PlayerStarted(); // its first frame (the count-down follows the player from here)
  void PlayerEnded();   // played to its end
  void PlayerFailed();  // could not be opened or decoded

  // The state.
  // Playing, paused, or waiting for the video service.
  bool Running() const { return sequencer_.Running() || waiting_; }
  bool WaitingForService() const { return waiting_; }
  bool Playing() const { return Running() && !Paused(); }
  bool Paused() const { return sequencer_.Paused(); }
  double Position() const; // seconds; 0 when nothing plays
  double Duration() const;
  int Volume() const { return volume_; }
  bool Muted() const { return muted_; }
  bool EvenLoudness() const { return evenLoudness_; }
  TPlayMode PlayMode() const { return sequencer_.PlayMode(); }
  const TVideoDetails &CurrentVideo() const { return sequencer_.CurrentVideo(); }
  const std::string &QueuedBy() const { return sequencer_.QueuedBy(); }
  // "Now playing: <ShownTitle>", with a failure before it; empty before the
  // first video.
  const std::string &NowPlayingLine() const { return nowPlaying_; }

  TPlaybackActions Actions() const;
  void CheckActions(); // ActionsChanged when Actions() differ from the last told

signals:
  void VideoChanged();      // another video is shown (CurrentVideo)
  void StateChanged();      // playing, paused or stopped changed
  void NowPlayingChanged(); // NowPlayingLine changed
  void ActionsChanged();
  void Seeked(double position);
  void VolumeChanged(); // volume or mute
  void PlayModeChanged();
  void LogLine(const std::string &line);

private:
  void VideoShown();
  void Stopped();
  void SetNowPlaying(const std::string &line);
  void Remember(const char *key, int value);
  void Changed();     // the state may have changed: tells what did
  void OfferNext();   // the player has the next video the sequencer decided
  void VideoFailed(); // the service answers: the video itself could not be played
  // Asks the video web host, in the background, whether it answers at all.
  void CheckService();
  void ServiceChecked(bool answers);
  void LookUp(const std::string &id); // PlayAddress's video without a row
  std::string NowPlayingText() const;

  TDataTable playList_{"cdsPlayList"};
  TPlaySequencer sequencer_{playList_};
  TVideoPlayer *player_ = nullptr;
  int volume_ = 100;
  bool muted_ = false, evenLoudness_ = false;
  std::string nowPlaying_;
  std::string failedTitle_;  // the video that could not be played, until the next one shows
  std::string failedBefore_; // the video that could not be played before the current one
  int failuresInARow_ = 0;   // videos that could not be played since the last that did
  bool waiting_ = false;     // for the video service, with the current video kept
  int retries_ = 0;          // checks of the service that found it away
  QTimer retry_;             // the next check while waiting
  int serial_ = 0;           // counts shown videos and stops: a late check's answer is dropped
  bool wasRunning_ = false, wasPaused_ = false;
  TPlaybackActions told_; // the actions last told
  std::string offered_;   // the next video the player has
};

} // namespace sonabox
