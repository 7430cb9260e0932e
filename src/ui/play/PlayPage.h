#pragma once
// TPlayPage, "pPlay": the video area with its player controls, and the
// playlist pane beside it (choosing, filtering and pruning a playlist).
//
// Playback itself is the core's TPlaySequencer, working on the open playlist
// cdsPlayList; the page shows what it is told: the player page for the
// current video, in the expanded window's view while that window exists, else
// in wbPlayer; the count-down; the grid's row. Log lines go to the window by
// the LogLine signal.
//
// What the player does, for the controls under the video and for anyone else
// who drives playback (keys, the desktop's media controls): all act on the
// view that plays, small or expanded, and hold for the videos that follow.
//   PlayPause()            pause or resume; starts playback when stopped
//   Paused(), Playing()    the state; StateChanged() when either changes
//   Position(), Duration() seconds of the current video (0 when not known)
//   SeekBy(s), SetPosition(s)  move within it; Seeked(position) after either
//   Volume(), SetVolume(percent 0-100), Muted(), SetMuted(on); VolumeChanged()
//   EvenLoudness(), SetEvenLoudness(on)
//   VideoChanged()         another video is shown (CurrentVideo of the sequencer)
// Volume, mute and the loudness choice are remembered in the settings store.
//
// The playlist pane: the grid's rows are put in another order by dragging them
// or by Move Up and Move Down (Ctrl+Up, Ctrl+Down); each move saves the
// playlist. Rename (F2) renames the chosen playlist. Deleting a video or a
// playlist asks nothing: the message line under the grid says what went, with
// an Undo for a few seconds, and Ctrl+Z takes the deletions back one by one,
// newest first, for as long as the window is open. The play mode (how the
// next video is chosen) is remembered.
#include "core/playlists/PlayListManager.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;

namespace sonabox {

class TDataTable;
class TDataTableModel;
class TdExpandedVideo;
class THtmlView;
class TImageButton;
class TMpvPlayer;
class TPlayListFiles;
class TPlayListManager;
class TPlaySequencer;

class TPlayPage : public QWidget {
  Q_OBJECT
public:
  // `store` must outlive the page.
  TPlayPage(TPlayListManager &store, QWidget *parent);
  ~TPlayPage() override;

  QSplitter *asMain;
  // The video area: title above, player, controls below.
  QWidget *pMainVideoArea;
  QWidget *pPlayingTitle;
  QLabel *lbNowPlayingTitle;
  THtmlView *wbPlayer;  // about:blank at start
  QLabel *lbFirstSteps; // instead of the player while there is no playlist: how to begin
  QWidget *pPlayerControls;
  TImageButton *iControlPrev, *iControlPlay, *iControlStop, *iControlNext; // tags 1-4
  QLabel *lbCountDown;                                                     // hidden
  QLabel *lbExpand; // "[ Expand Video]", emits linkActivated when clicked
  QToolButton *btnPrevious, *btnPlay, *btnStop, *btnNext; // hidden carriers
  // Under the video: the position, and what the player does.
  QWidget *pSeekBar;
  QLabel *lbElapsed, *lbRemaining; // "1:05", "-2:10"
  QSlider *tbPosition;             // "Position", in seconds
  QToolButton *btnPause;           // "Pause", checked while paused
  QToolButton *btnMute;            // "Mute", checked while muted
  QSlider *tbVolume;               // "Volume", 0-100
  QCheckBox *cbEvenLoudness;       // "Even out loudness"
  QWidget *pControlsTail;          // cbEvenLoudness, lbCountDown and lbExpand, wrapped when narrow
  QActionGroup *alVideoControls;
  QAction *aControlsPrev, *aControlsPlay, *aControlsStop, *aControlsNext;
  // The playlist pane.
  QWidget *pRight;
  QWidget *pTopPlayList;
  QLabel *lbPlayList;
  QComboBox *cbPlayLists;
  QToolButton *btnRenamePlayList; // aRenamePlayList, also F2 on cbPlayLists
  QLabel *lbSearch;
  QLineEdit *edSearch;
  QTableView *sgPlayList; // columns Title (stretches), Duration "Time"; rows can be dragged
  // The message line: what was deleted (or brought back), with Undo.
  QWidget *pMessage;
  QLabel *lbMessage;
  QToolButton *btnUndo;
  QTimer *tMessage; // hides the message line after a few seconds
  QWidget *pBottomPlayList;
  QToolButton *btnMoveUp, *btnMoveDown, *btnDeleteVideo, *btnDeletePlayList;
  QLabel *lbPlayMode;
  QComboBox *cbPlayMode; // "Shuffle", "Shuffle all", "In order", "Repeat one"; remembered
  QActionGroup *alPlay;
  QAction *aDeletePlayList, *aDeleteVideo, *aRenamePlayList, *aMoveUp, *aMoveDown, *aUndo;
  TPlayListFiles *pPlayListFiles; // Export... and Import..., a row below the buttons

  std::unique_ptr<TDataTable> cdsPlayList; // the open playlist; closed at start
  TDataTableModel *ds;                     // feeds sgPlayList
  std::unique_ptr<TPlaySequencer> Sequencer;
  QTimer *tShuffle;                         // the sequencer's one-second timer
  QPointer<TdExpandedVideo> dExpandedVideo; // the expanded video window while it exists

  // The enable rules, run by the window when the event queue is empty.
  void RunEnableRules();
  void aDeletePlayListUpdate(); // also the rule of aDeleteVideo, aRenamePlayList and aUndo
  void aMoveUpdate();           // aMoveUp and aMoveDown
  void aControlsPrevUpdate();
  void aControlsPlayUpdate();
  void aControlsStopUpdate();
  void aControlsNextUpdate();

  void cbPlayListsChange();
  void edSearchChange();
  void aDeleteVideoExecute();
  void aDeletePlayListExecute();
  void aRenamePlayListExecute(); // asks for the new name until it is taken or given up
  // Renames the chosen playlist, which stays chosen (and open); throws the
  // store's error for a name it refuses.
  void RenamePlayList(const QString &newName);
  void aMoveUpExecute();
  void aMoveDownExecute();
  // Moves the recNo-th row of the grid to the place `to` and saves the playlist.
  void MoveVideo(int recNo, int to);
  void aUndoExecute(); // the newest deletion not yet taken back
  void cbPlayModeChange();
  void aControlsNextExecute();
  void aControlsPlayExecute();
  void aControlsPrevExecute();
  void aControlsStopExecute();
  void tShuffleTimer();
  void sgPlayListDblClickCell(int row, int column); // row 0 is the header row
  void lbExpandClick();
  void ShowCurrentVideo(bool forced); // in the expanded window's view when it exists

  // Fills cbPlayLists with the playlist names; selects `remembered` when listed.
  void FillPlayLists(const QString &remembered);
  // The playlist file was written elsewhere: when it is the open playlist, it
  // is read again, on the same row; when no playlist is chosen, that one is.
  void PlayListSaved(const std::string &fileName);
  // The playlist file was changed by another program: when it is the open
  // playlist, it is read again, on the same row.
  void PlayListChangedElsewhere(const std::string &fileName);
  // Playback stops and the player goes quiet (the window is closing).
  void StopPlayer();

  void PlayPause();
  bool Playing() const; // a video is shown and not paused
  bool Paused() const;
  void SeekBy(double seconds);
  void SetPosition(double seconds);
  double Position() const;
  double Duration() const;
  int Volume() const { return volume_; }
  void SetVolume(int percent);
  bool Muted() const { return muted_; }
  void SetMuted(bool muted);
  bool EvenLoudness() const { return evenLoudness_; }
  void SetEvenLoudness(bool on);

  // The playback keys (Space, arrows, M, N, P, F, F11, Escape, media keys) on
  // `target` and its children: the page, and the expanded window.
  void AddPlaybackKeys(QWidget &target);

signals:
  void LogLine(const std::string &line);
  void StateChanged();
  void Seeked(double position);
  void VolumeChanged();
  void VideoChanged();
  // A playlist was deleted: the lists of playlists are filled again.
  void PlayListsChanged(bool keep);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateVideoArea();
  void ArrangeControls();
  void CreatePlayListPane();
  void ConnectEvents();
  void ExpandedVideoClosed();
  void BlankPlayers(); // playback ended: every view goes quiet
  THtmlView &PlayingView() const;
  TMpvPlayer *
  ActivePlayer() const; // the player of the view that plays; none before its first video
  std::vector<TMpvPlayer *> Players() const; // of both views, those made so far
  void AdoptPlayer(TMpvPlayer *player);      // a view made its player: it gets the controls' state
  void PlayerStarted();
  void PlayerEnded(bool failed);
  void ShowPosition();
  void SetPausedState(bool paused);
  void Remember(const char *key, int value);
  void ToggleFullScreen();
  bool HasRows() const;
  bool ChosenPlayListListed() const;
  void ShowMessage(const std::string &message); // on the message line, for a few seconds

  // A deletion that Undo takes back: a video (the playlist file and the row's
  // place among its stored rows, which neither deletions nor moves change) or
  // a whole playlist.
  // Changes the open playlist as its file is now (another program may have
  // changed it since it was read); the grid shows the result.
  void ChangeOpenPlayList(const std::function<void(TDataTable &)> &change);

  struct TUndo {
    std::string Title, PlayList; // for the messages
    std::string FileName;
    int RowNumber = 0;
    std::optional<TPlayListManager::TDeleted> Deleted;
  };

  TPlayListManager &store_;
  QString openName_; // the name of the playlist open in cdsPlayList, or empty
  std::vector<TUndo> undo_;
  QBoxLayout *controlsSecondLine_; // the controls' second line, empty while one fits
  QTimer *tPosition_;              // shows the position while a video plays
  int volume_ = 100;
  bool muted_ = false, evenLoudness_ = false;
  std::string failedTitle_;  // the video that could not be played, until the next one shows
  std::string shownFailure_; // named in the now-playing line beside the video after it
  int failuresInARow_ = 0;   // videos that could not be played since the last that did
  double resumeAt_ = 0;      // where the video continues in the view it moves to
};

} // namespace sonabox
