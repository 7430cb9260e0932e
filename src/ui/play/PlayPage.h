#pragma once
// TPlayPage, "pPlay": the video area with its player controls, and the
// playlist pane beside it (choosing, filtering and pruning a playlist).
//
// Playback itself is the core's TPlaySequencer, working on the open playlist
// cdsPlayList; the page shows what it is told: the player page for the
// current video, in the expanded window's view while that window exists, else
// in wbPlayer; the count-down; the grid's row. Log lines go to the window by
// the LogLine signal.
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
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
  THtmlView *wbPlayer; // about:blank at start
  QWidget *pPlayerControls;
  TImageButton *iControlPrev, *iControlPlay, *iControlStop, *iControlNext; // tags 1-4
  QLabel *lbCountDown;                                                     // hidden
  QLabel *lbExpand; // "[ Expand Video]", emits linkActivated when clicked
  QToolButton *btnPrevious, *btnPlay, *btnStop, *btnNext; // hidden carriers
  QActionGroup *alVideoControls;
  QAction *aControlsPrev, *aControlsPlay, *aControlsStop, *aControlsNext;
  // The playlist pane.
  QWidget *pRight;
  QWidget *pTopPlayList;
  QLabel *lbPlayList;
  QComboBox *cbPlayLists;
  QLabel *lbSearch;
  QLineEdit *edSearch;
  QTableView *sgPlayList; // columns Title (stretches, no header text), Duration "Time"
  QWidget *pBottomPlayList;
  QToolButton *btnDeleteVideo, *btnDeletePlayList;
  QActionGroup *alPlay;
  QAction *aDeletePlayList, *aDeleteVideo;
  TPlayListFiles *pPlayListFiles; // Export... and Import..., a row below the buttons

  std::unique_ptr<TDataTable> cdsPlayList; // the open playlist; closed at start
  TDataTableModel *ds;                     // feeds sgPlayList
  std::unique_ptr<TPlaySequencer> Sequencer;
  QTimer *tShuffle;                         // the sequencer's one-second timer
  QPointer<TdExpandedVideo> dExpandedVideo; // the expanded video window while it exists

  // The enable rules, run by the window when the event queue is empty.
  void RunEnableRules();
  void aDeletePlayListUpdate(); // also the rule of aDeleteVideo
  void aControlsPrevUpdate();
  void aControlsPlayUpdate();
  void aControlsStopUpdate();
  void aControlsNextUpdate();

  void cbPlayListsChange();
  void edSearchChange();
  void aDeleteVideoExecute();
  void aDeletePlayListExecute();
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
  // is read again, so that its next save does not write the new rows away.
  void PlayListSaved(const std::string &fileName);
  // Playback stops and the player goes quiet (the window is closing).
  void StopPlayer();

signals:
  void LogLine(const std::string &line);
  // A playlist was deleted: the lists of playlists are filled again.
  void PlayListsChanged(bool keep);

private:
  void CreateVideoArea();
  void CreatePlayListPane();
  void ConnectEvents();
  void ExpandedVideoClosed();
  void BlankPlayers(); // playback ended: every view goes quiet
  bool HasRows() const;
  bool ChosenPlayListListed() const;

  TPlayListManager &store_;
  QString openName_; // the name of the playlist open in cdsPlayList, or empty
};

} // namespace sonabox
