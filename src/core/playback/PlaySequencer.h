#pragma once
// TPlaySequencer: playback of the open playlist, one video after another.
//
// Each video gets a lead-in, its length and a lead-out, counted here one second
// at a time by the timer tShuffle, then another row of the playlist is drawn at
// random, until Stop. The count-down is what moves playback on when the player
// says nothing; a player that reports what it does moves it sooner and more
// exactly: its first frame ends the lead-in (FollowPlayer), its end or failure
// goes straight on to the next video (VideoEnded), and while it is paused the
// count-down holds (SetPaused).
// The sequencer owns the playback state (the current and the previous video,
// the phase and the count-down) and works on the playlist table it is given;
// it shows nothing itself. Its page hears what to show through the signals
// below and decides which view shows the player.
//
// Phases (what happens when the count-down runs out), with the log line each
// step writes (the number is the new count-down length):
//   2 next video  -> 0, 5 s   "Next - 5 <id>"     previous := current, draw a row, show it
//   3 restart     -> 0, 3 s   "Restart - 3 <id>"  show the current video again
//   0 lead-in over-> 4, length "Lead In - <length>"
//   4 video over  -> 1, 5 s   "Lead Out - 5"
//   1 lead-out over-> 2, 0 s  "Lead Out - 0"
// (TPlayPhase names them.) When the next video is due, the first of the up-next
// queue comes before the playlist: any video (not only a row of the playlist),
// each with the name of who queued it, if anyone. Otherwise which row comes
// next is the play mode's choice (TPlayMode); in Shuffle the draw takes a
// visible row whose video differs from the one just played; after 100 draws
// that all find that video (every row holds it) the last one drawn is taken.
// RowChosen comes before ShowVideo, LogLine last.
//
// The history: every video that became the current one since the sequencer
// was made, oldest first (a video that comes again at once, as in Repeat one,
// once). Previous walks back through it; Next, and the end of a video, walk
// forward again before the queue or the play mode choose anew (Repeat one
// repeats at the end of a video all the same). A video chosen anew while
// walked back takes the place of the videos after it.
//
// The place in the playlist is the last playlist row played, kept apart from
// the last video played: a queued video, or Repeat one, never moves it, so In
// order goes on with the row after it and Shuffle all keeps its round.
//
// The sequencer does not connect its timer: the page connects Timer()'s
// timeout to Tick through the guard that shows errors, as it does the controls.
//
// A closed playlist, or one with no visible row, has nothing to play: Play,
// Next and Previous do nothing, and when the next video is due playback stops
// (Stopped) instead of showing an empty identifier. Other errors of the table
// (a table without the playlist's columns) are thrown as EDataTableError out of
// the operation that met them; the timer is then off.
#include "core/common/VideoRecord.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sonabox {

class TDataTable;

// What happens when the count-down runs out, by the number the log and the
// tests have always used.
enum class TPlayPhase {
  LeadIn = 0,    // the lead-in runs; then the video's own length
  LeadOut = 1,   // the lead-out runs; then the next video is due
  NextVideo = 2, // the next video is drawn and shown
  Restart = 3,   // the current video is shown again
  Video = 4,     // the video plays; then the lead-out
};

// How the next row is chosen, when a video ends or Next is pressed. Only the
// visible rows (the title filter's) take part.
enum class TPlayMode {
  Shuffle,    // a random row whose video is not the one just played
  ShuffleAll, // each video once, in random order, before any comes again; a
              // new round does not begin with the video just played
  InOrder,    // the row after the one just played, then from the top again
  RepeatOne,  // the video just played again; Next goes on to the row after it
};

// The mode's name, as the Play page shows it and the settings store keeps it:
// "Shuffle", "Shuffle all", "In order", "Repeat one".
const char *PlayModeName(TPlayMode mode);
// The mode of that name; Shuffle for a name that is none of them.
TPlayMode PlayModeFromName(const std::string &name);

// A video waiting in the up-next queue.
struct TQueuedVideo {
  TVideoDetails Video;
  std::string QueuedBy; // who asked for it; may be empty
};

// What Next and Previous do to a paused or stopped player: play the video
// they go to, or leave the player as it was (paused, or stopped with that
// video chosen for Play).
enum class TSkip { Play, KeepState };

class TPlaySequencer : public QObject {
  Q_OBJECT
public:
  // Plays rows of `playList`, which must outlive the sequencer.
  explicit TPlaySequencer(TDataTable &playList, QObject *parent = nullptr);

  // The controls.
  // Phase 2: the first queued video, else a row of the playlist. While
  // stopped, KeepState only chooses that video (RowChosen), and Play plays it.
  void Next(TSkip skip = TSkip::Play);
  // Phase 3 on the table's current row when no video is chosen yet, or when
  // the row holds another video and the current one is not the previous one;
  // on the video already chosen otherwise.
  void Play();
  // Phase 3 on the video before the current one in the history; the table
  // moves to the first visible row of that video when there is one. Nothing
  // at the start of the history.
  void Previous(TSkip skip = TSkip::Play); // KeepState: as Next
  void Stop();                             // the timer stops (Stopped); the state stays as it is
  void Hold(); // Stop, with the current video chosen: Play plays it again from its start
  void PlayRow(int recNo); // a double-clicked row (1-based record number); 0 (the
                           // header row), a row out of range or a closed table: nothing
  void Tick();             // one second of the count-down (tShuffle's handler)

  // The up-next queue. Enqueue adds at its end; PlayNow puts the video first
  // and goes on to it at once (phase 2).
  void Enqueue(const TVideoDetails &video, const std::string &queuedBy);
  void PlayNow(const TVideoDetails &video, const std::string &queuedBy);
  const std::deque<TQueuedVideo> &UpNext() const { return upNext_; }
  // Asked when the next video is due and the up-next queue is empty: a video
  // to play before the playlist's next row (a party's first entry), or
  // nothing, and the playlist goes on. None by default.
  using TNextSource = std::function<std::optional<TQueuedVideo>()>;
  void SetNextSource(TNextSource source) { nextSource_ = std::move(source); }

  // What the player reports. Each does nothing while playback is stopped.
  // The current video ended, or could not be played: the phases run through
  // at once to the next video, each writing its log line.
  void VideoEnded();
  // The player shows the current video, `length` seconds long (0: not known),
  // at second `position` (its first frame, or after a seek): a lead-in still
  // running ends, and the video's count-down becomes the player's remaining time.
  void FollowPlayer(int position, int length);
  // The count-down holds while paused; any step to another phase, or Stop, ends the pause.
  void SetPaused(bool paused);

  // The video that comes after the current one, decided ahead of time so that
  // the player can open it before the current one ends: the step to the next
  // video takes it, unless the mind changed first. It is decided again when
  // what it was decided on has changed: the video that plays, the first of the
  // queue, the mode, the open playlist's rows, the place in it; and after Next.
  // An empty Url: playback stops there (played once to the end, no rows). Of
  // a row of the playlist only the Url and the Title are read here.
  const TVideoDetails &NextVideo();

  // A new mode also begins a new round of Shuffle all.
  void SetPlayMode(TPlayMode mode);
  TPlayMode PlayMode() const { return mode_; }
  // In order stops after the last visible row, Shuffle all after its round,
  // instead of beginning again (Stopped). Other modes go on as ever.
  void SetPlaysOnce(bool once);
  bool PlaysOnce() const { return once_; }

  bool Running() const { return tShuffle_.isActive() || paused_; } // playing or paused
  bool Paused() const { return paused_; }
  const TVideoDetails &CurrentVideo() const { return current_; }
  // The current video's details became known (a title looked up for a video
  // opened by its address): they replace the current video's when its Url
  // is the same; nothing else changes.
  void UpdateCurrentVideo(const TVideoDetails &video);
  // The video shown before the current one (the draw of Shuffle avoids it).
  const TVideoDetails &PreviousVideo() const { return previous_; }
  // Previous has a video to go back to.
  bool HasPrevious() const { return at_ > 0; }
  // Who queued the current video: empty for a row of the playlist, or when
  // nobody was named.
  const std::string &QueuedBy() const { return queuedBy_; }
  // The video of the last playlist row played (the place); empty before any.
  const TVideoDetails &PlaceInPlayList() const { return place_; }
  TPlayPhase PlayPhase() const { return phase_; }
  int CountDownLength() const { return countDownLength_; }
  int TickCount() const { return tickCount_; }
  QTimer &Timer() { return tShuffle_; } // "tShuffle", 1000 ms

signals:
  // Show the current video in the view that plays (the page decides which).
  void ShowVideo();
  // The seconds left of the running count-down, after each tick that does
  // not end it.
  void CountDown(int secondsLeft);
  // One line for the top of the log.
  void LogLine(const std::string &line);
  // The table moved to another row: the draw of the next video, or the row of
  // the previous video.
  void RowChosen(int recNo);
  // Playback has ended: by Stop, or because the playlist was closed or left
  // with no visible row when the next video was due. The page blanks its
  // player views.
  void Stopped();

private:
  void Advance();
  bool HasRows() const; // open, with at least one visible row
  // The next video, decided ahead of time, and what it was decided on.
  struct TDecision {
    bool Made = false;
    TVideoDetails Video;
    std::string QueuedBy;
    bool Queued = false;   // the first of the up-next queue
    bool Walked = false;   // else the next video of the history
    int RecNo = 0;         // else the row of the playlist; 0: none
    bool NewRound = false; // Shuffle all begins a new round with it
    std::string Current, File;
    int Rows = -1, PlaceRow = 0;
    std::size_t At = 0, History = 0; // the place in the history, and its length
  };

  bool ChooseNextVideo();
  void Decide(bool skipped);
  bool NextStillHolds() const;
  void ForgetNext();
  int PickNextRow(bool skipped, bool &newRound) const;
  int PickRandomRow() const;
  int PickUnplayedRow(bool &newRound) const;
  int RowOfPlace() const;
  bool MoveToRowOf(const std::string &url); // false when no visible row holds it
  void Remember();                          // the current video, into the history
  void WalkTo(std::size_t at);              // the current video from the history

  TDataTable &playList_;
  QTimer tShuffle_;
  TVideoDetails current_, previous_;
  TVideoDetails place_; // the last playlist row played
  std::string queuedBy_;
  std::deque<TQueuedVideo> upNext_;
  TNextSource nextSource_;
  TPlayPhase phase_ = TPlayPhase::LeadIn;
  int countDownLength_ = 0, tickCount_ = 0;
  bool paused_ = false;
  TPlayMode mode_ = TPlayMode::Shuffle;
  bool once_ = false;
  bool chosen_ = false;          // Next or Previous chose the video while stopped
  bool skipping_ = false;        // Next was pressed: Repeat one goes on
  std::set<std::string> played_; // Shuffle all: the videos of this round so far
  std::string playedFile_;       // the playlist file that round belongs to
  TDecision next_;
  std::vector<TVideoDetails> history_;
  std::size_t at_ = 0; // the current video's place in history_
};

} // namespace sonabox
