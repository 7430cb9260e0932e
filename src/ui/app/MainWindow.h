#pragma once
// TfMain: the main window, "fMain". Everything the user does happens on one of
// its three pages, Play, Find and Share.
//
// Every control is a public member named like its object name. The members
// are grouped by subsystem below; each subsystem implements its handlers in
// its own folder (search/SearchHandlers.cpp, playlists/PlayListPane.cpp,
// playback/PlaybackHandlers.cpp, sharing/ShareWizard.cpp) and wires them in a
// Connect...() function of its own, called once from the constructor.
//
// Conventions of this window:
// - Buttons linked to an action are QToolButtons whose default action is that
//   action: they show its caption and follow its enabled state, and a click
//   triggers it. The share wizard re-links btnShareNext with setDefaultAction.
// - An action's tag is its data() (an int).
// - Image buttons are not linked to actions: their clicked() signal is
//   connected to the action's execute handler by the subsystem that owns it.
// - The enable rules (the ...Update handlers) run each time the event queue
//   has been emptied while the window is visible, enabled and not behind a
//   modal window; nothing needs to trigger them.
#include <QMainWindow>
#include <QPointer>

#include <exception>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMovie;
class QPlainTextEdit;
class QProgressBar;
class QScrollArea;
class QSplitter;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;

namespace sonabox {

class TBusyIndicator;
class TdExpandedVideo;
class TDataTable;
class TDataTableModel;
class THtmlView;
class TImageButton;
class TPlayListManager;
class TSettings;
class TShare;
class TShareGridModel;
class TTubeSearch;
class TVideoDetails;
class TVisualResult;
class TWebImage;
struct TVideo;

class TfMain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs FormCreate. Settings must exist.
  TfMain();
  // Runs FormDestroy, which also frees the settings object.
  ~TfMain() override;

  // ----------------------------------------------------------------- window
  QLabel *Image1;     // banner
  QLabel *imgTopText; // title artwork, top right of the banner
  QTabWidget *pMain;  // pages pPlay, pFind, pShare with picture tabs
  QWidget *pPlay, *pFind, *pShare;
  QWidget *pBottom;     // status strip
  QPlainTextEdit *mLog; // the log, hidden; newest line first
  QAction *aShowLog;    // Ctrl+Alt+L

  void FormCreate();
  void FormCloseQuery();
  void FormDestroy();
  void aShowLogExecute();

  // Inserts a line at the top of the log.
  void AddLogLine(const std::string &line);

  // Runs a handler; an error it raises (from a table, say) ends it and is
  // shown in the standard error box, and the program goes on.
  template <typename Handler> void RunGuarded(Handler &&handler) {
    try {
      handler();
    } catch (const std::exception &error) {
      ShowError(error.what());
    }
  }
  // A slot that runs the member handler through RunGuarded.
  auto Guarded(void (TfMain::*handler)()) {
    return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
  }
  // The standard error box over this window.
  void ShowError(const std::string &message);

  // ---------------------------------------------------------- image buttons
  TImageButton *iControlPrev, *iControlPlay, *iControlStop, *iControlNext; // tags 1-4
  TImageButton *iFindSearch;                                               // tag 11
  TImageButton *iFindSave;                                                 // tag 12

  // Shows the picture of the tag's base name followed by the suffix ("",
  // "_hover", "_click", "_disabled") in the button that the tag names (tag
  // 31: the save button of dShareVideos while it exists). An unknown tag or
  // a missing picture changes nothing.
  void SetControlImage(int tag, const std::string &suffix);
  // Sets the button's enabled flag and its normal or disabled picture when
  // the flag changes; nothing when it already has that value.
  void EnableControlImage(TImageButton *button, bool enabled);
  // The picture handlers of the six buttons (the sender names the button).
  void iControlMouseDown();
  void iControlMouseUp();
  void iControlMouseEnter();
  void iControlMouseLeave();

  // ----------------------------------------------------------------- search
  QWidget *pFindTop;
  QLabel *lbSearchYouTube;
  QLineEdit *edTubeSearch;
  QLabel *lbCategory;
  QComboBox *cbCategory;
  QToolButton *btnStartSearch;    // hidden carrier of aSearch
  QLabel *iFindAdd, *iFindRemove; // hidden; the "ADD" and "REMOVE" pictures
  QScrollArea *sbResults; // panels go on sbResults->widget(); set its minimum height to fit them
  QLabel *imgProgress;    // busy picture behind sbResults: seen while sbResults is hidden
  QMovie *imgProgressMovie;
  QToolButton *btnMore; // aAddMore, hidden at start
  QActionGroup *alFind;
  QAction *aSearch, *aSaveVideos, *aAddMore;

  TTubeSearch *TubeSearch = nullptr;          // the running search, if any
  std::vector<TVisualResult *> VisualResults; // the result panels, owned

  void aSearchUpdate();

  // search/SearchHandlers.cpp
  std::string SearchKeywords, SearchCategory; // of the last search started; "More" repeats them
  void ConnectSearch();
  void aSearchExecute();
  void aAddMoreExecute();
  bool edTubeSearchKeyPress(int key); // true: the key is consumed
  void OnTubeSearchTerminate(TTubeSearch &search);
  void ClearResults();
  void ModifySongSelection(int index); // the panel's index in VisualResults
  void sbResultsMouseWheelDown();      // one notch, on the Find page
  void sbResultsMouseWheelUp();
  void sbResultsResize();

  // ----------------------------------------------------------- playlist pane
  QWidget *pRight;
  QSplitter *asMain;
  QWidget *pTopPlayList;
  QLabel *lbPlayList;
  QComboBox *cbPlayLists;
  QLabel *lbSearch;
  QLineEdit *edSearch;
  QTableView *sgPlayList; // columns Title (stretches, no header text), Duration "Time"
  QWidget *pBottomPlayList;
  QToolButton *btnDeleteVideo, *btnDeletePlayList;
  QWidget *pFindBottom; // save bar of the Find page
  QLabel *Label1;
  QComboBox *cbAddPlayList;
  QLabel *lbOrNewPlayList;
  QLineEdit *edPlayListName;
  QToolButton *btnFindSave; // hidden carrier of aSaveVideos
  QActionGroup *alPlay;
  QAction *aDeletePlayList, *aDeleteVideo;

  std::unique_ptr<TDataTable> cdsPlayList; // the open playlist; closed at start
  TDataTableModel *ds;                     // feeds sgPlayList

  void aSaveVideosUpdate();
  void aDeletePlayListUpdate(); // also the rule of aDeleteVideo

  // playlists/PlayListPane.cpp
  std::unique_ptr<TPlayListManager> PlayListManager; // the playlist store
  void CreatePlayListStore(); // a damaged index is kept aside and a new one started
  void ConnectPlayListPane();
  // Fills the box with the playlist names; with `keep`, selects the name
  // chosen in cbAddPlayList.
  void FillPlayListCombo(QComboBox *box, bool keep);
  void RefreshPlayListCombos(bool keep); // cbAddPlayList, cbPlayLists, cbSharePlayList
  void cbPlayListsChange();
  void edSearchChange();
  void aDeleteVideoExecute();
  void aDeletePlayListExecute();
  void aSaveVideosExecute();
  void cbAddPlayListChange();    // also the change handler of cbCategory
  void edPlayListNameKeyPress(); // a character typed into edPlayListName

  // ---------------------------------------------------------------- playback
  QWidget *pMainVideoArea;
  QWidget *pPlayingTitle;
  QLabel *lbNowPlayingTitle;
  THtmlView *wbPlayer; // about:blank at start
  QWidget *pPlayerControls;
  QLabel *lbCountDown; // hidden
  QLabel *lbExpand;    // "[ Expand Video]", emits linkActivated when clicked
  QToolButton *btnPrevious, *btnPlay, *btnStop, *btnNext; // hidden carriers
  QActionGroup *alVideoControls;
  QAction *aControlsPrev, *aControlsPlay, *aControlsStop, *aControlsNext;
  QTimer *tShuffle; // 1000 ms, stopped

  std::unique_ptr<TVideoDetails> CurrentVideo;  // the video on show or about to be
  std::unique_ptr<TVideoDetails> PreviousVideo; // the one before it; an empty Url: none

  // playback/PlaybackHandlers.cpp: the sequencer
  int PlayPhase = 0;       // at the end of the count-down: 0 lead-in over, 4 video over,
                           // 1 lead-out over, 2 next video, 3 restart
  int CountDownLength = 0; // seconds of the running count-down
  int TickCount = 0;       // seconds counted since it began
  QPointer<TdExpandedVideo> dExpandedVideo; // the expanded video window while it exists
  void ConnectPlayback();
  void Advance();                     // the step of the current PlayPhase
  void ShowCurrentVideo(bool forced); // in the expanded window's view when it exists
  void aControlsNextExecute();
  void aControlsPlayExecute();
  void aControlsPrevExecute();
  void aControlsStopExecute();
  void tShuffleTimer();
  void sgPlayListDblClickCell(int row, int column); // row 0 is the header row
  void lbExpandClick();
  void PickNextRow(); // moves cdsPlayList to a random visible row, avoiding PreviousVideo

  void aControlsPrevUpdate();
  void aControlsPlayUpdate();
  void aControlsStopUpdate();
  void aControlsNextUpdate();

  // ----------------------------------------------------------------- sharing
  QWidget *pShareTop;
  QLabel *lbShareTitle;
  QWidget *pShareBottom;
  QToolButton *btnSharePrevious, *btnShareNext;
  QTabWidget *pcShareWizard;
  QWidget *tsShare1, *tsShare2, *tsShare3, *tsShare4, *tsShare5;
  // tsShare1
  QLabel *Label2;
  QComboBox *cbSharePlayList;
  QLabel *Label7, *Label9;
  QLineEdit *edShareCode;
  // tsShare2
  QLabel *lbSendShareTitle;
  QComboBox *cbShareTitle; // editable, no items
  QLabel *Label3;
  QTableView *sgShareVideos; // columns Share (check boxes), Title, Duration
  TWebImage *wbShareImage;   // 148 x 105
  QToolButton *btnSelectAll, *btnSelectNone;
  QLabel *lbShareCount;
  // tsShare3
  QLabel *lbYourName, *lbYourEmail, *lbRecipientName, *Label5, *Label8;
  QLineEdit *edYourName, *edYourEmail, *edRecipientName, *edRecipientEmail, *edEmailNote;
  // tsShare4
  QLabel *Label6;
  TBusyIndicator *acpSharing;
  // tsShare5
  QLabel *lbShareConfirm, *lbMoreShare, *Label10;
  QLineEdit *edNewShareCode;
  QActionGroup *alShare;
  QAction *aSelectAll, *aSelectNone, *aSharePrevious;
  QAction *aShareStep1, *aShareStep2, *aShareStep3, *aShareStep4, *aShareStep5;

  std::unique_ptr<TDataTable> cdsShare; // the playlist being shared
  TDataTableModel *dsShare;
  TShareGridModel *sgShareVideosModel; // dsShare with the check-box column

  void aShareStep1Update();
  void aSharePreviousUpdate();
  void aShareStep4Update();

  // sharing/ShareWizard.cpp
  std::unique_ptr<TShare> Share; // the share client of the last exchange, if any
  void ConnectShareWizard();
  void aShareStep1Execute(); // a typed share code takes the receive road
  void aShareStep2Execute();
  void aShareStep3Execute(); // runs step 4 itself
  void aShareStep4Execute();
  void aShareStep5Execute(); // "Restart"
  void aSharePreviousExecute();
  void aShareSelection(const QAction *sender);      // tag 1 ticks every row, any other clears them
  void sgShareVideosClickCell(int column, int row); // grid rows: 0 is the header
  void UpdateShareCount();
  bool IsCellTicked(const QTableView *grid, int column, int row) const;
  // The receive road: fetches the share of edShareCode, asks where its videos
  // go and saves them there.
  void ReceiveShare();
  void SaveSharedVideos(const std::vector<TVideo> &videos, const std::string &existing,
                        const std::string &newName);

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateActions();
  void CreateWindowFrame();
  void CreatePlayPage();
  void CreateFindPage();
  void CreateSharePage();
  void ConnectEvents();
  void RunEnableRules();
};

// The main window while it exists.
extern TfMain *fMain;

// The process-wide settings, created before the main window and freed by its
// destruction.
extern TSettings *Settings;

} // namespace sonabox
