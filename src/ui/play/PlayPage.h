#pragma once
// TPlayPage, "pPlay": the video area with its player controls, and the
// playlist pane beside it (choosing, filtering and pruning a playlist).
//
// Playback itself is the core's TPlayback (Playback()), which owns the open
// playlist cdsPlayList and its sequencer; the page is a view of it: the
// controls drive it, and the page shows what it says (the now-playing line,
// the position, the count-down, the grid's row). The video plays in the
// player views (TPlayerViews): the expanded window's while that window
// exists, else wbPlayer. Log lines go to the window by the LogLine signal.
// PlayPause, Paused, Playing, SeekBy, SetPosition, Position, Duration, Volume,
// SetVolume, Muted, SetMuted, EvenLoudness and SetEvenLoudness are the
// playback object's, under the names the page has always had.
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
class TPartyPanel;
class TPlayListFiles;
class TPlayListManager;
class TPlaySequencer;
class TPlayback;
class TPlayerViews;

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
  TPartyPanel *pParty;            // the Party switch, its address and QR code, Up next

  TPlayback &Playback() { return *playback_; }
  TDataTable *cdsPlayList;                  // the open playlist (the playback's); closed at start
  TDataTableModel *ds;                      // feeds sgPlayList
  TPlaySequencer *Sequencer;                // the playback's
  QTimer *tShuffle;                         // the sequencer's one-second timer
  QPointer<TdExpandedVideo> dExpandedVideo; // the expanded video window while it exists

  // The enable rules, run by the window when the event queue is empty.
  void RunEnableRules();
  void aDeletePlayListUpdate(); // also the rule of aDeleteVideo
  void aRenamePlayListUpdate();
  void aUndoUpdate();
  void aMoveUpdate(); // aMoveUp and aMoveDown
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
  int Volume() const;
  void SetVolume(int percent);
  bool Muted() const;
  void SetMuted(bool muted);
  bool EvenLoudness() const;
  void SetEvenLoudness(bool on);
  TPlayerViews &PlayerViews() { return *views_; }

  // The playback keys (Space, arrows, M, N, P, F, F11, Escape, media keys) on
  // `target` and its children: the page, and the expanded window.
  void AddPlaybackKeys(QWidget &target);

  // What another part of the program did (a share saved, a playlist
  // imported), on the message line for a few seconds.
  void ShowNote(const std::string &message);

signals:
  void LogLine(const std::string &line);
  // A playlist was deleted: the lists of playlists are filled again.
  void PlayListsChanged(bool keep);
  // A playlist was renamed: the lists are filled again, and a choice of the
  // old name becomes the new one.
  void PlayListRenamed(const QString &old, const QString &renamed);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateVideoArea();
  void ArrangeControls();
  void CreatePlayListPane();
  void ConnectEvents();
  void ShowNowPlaying();
  void ShowPosition();
  void ShowPausedState();
  void ShowVolume();
  void ToggleFullScreen();
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
  std::unique_ptr<TPlayback> playback_;
  TPlayerViews *views_;
};

} // namespace sonabox
