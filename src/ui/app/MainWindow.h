#pragma once
// TfMain: the main window, "fMain". Everything the user does happens on one of
// its three pages, Play, Find and Share, each a class of its own folder. The
// window holds what is its own: the banner, the page control, the log, the
// playlist store the pages share, the start-up and closing steps, the pump
// that runs the pages' enable rules, and the wiring between the pages.
//
// The enable rules run each time the event queue has been emptied while the
// window is visible, enabled and not behind a modal window; nothing needs to
// trigger them.
#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <string>

class QAction;
class QLabel;
class QToolButton;
class QPlainTextEdit;
class QTabWidget;

namespace sonabox {

class TFindPage;
class TMediaControls;
class TNowPlayingNotifier;
class TPlayListManager;
class TPlayPage;
class TSharePage;

class TfMain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs FormCreate. Settings must exist.
  TfMain();
  // Runs FormDestroy, which also frees the settings object.
  ~TfMain() override;

  QLabel *Image1;     // banner
  QLabel *imgTopText; // title artwork, top right of the banner
  QTabWidget *pMain;  // pages pPlay, pFind, pShare with picture tabs
  TPlayPage *pPlay;
  TFindPage *pFind;
  TSharePage *pShare;
  QWidget *pBottom;     // status strip
  QPlainTextEdit *mLog; // the log, hidden; newest line first
  QAction *aShowLog;    // Ctrl+Alt+L
  // The gear beside the banner's title, with its menu: Settings... (Ctrl+,)
  // and Check for Updates.
  QToolButton *btnMenu;
  QAction *aSettings, *aCheckForUpdates;

  std::unique_ptr<TPlayListManager> PlayListManager; // the playlist store of every page
  TMediaControls *MediaControls;                     // the Play page on the session bus
  TNowPlayingNotifier *NowPlayingNotifier;           // tells the desktop which video starts

  void FormCreate();
  void FormCloseQuery();
  void FormDestroy();
  void aShowLogExecute();
  // The settings dialog; the Play page takes the play mode chosen there.
  void aSettingsExecute();

  // Inserts a line at the top of the log.
  void AddLogLine(const std::string &line);

  // Fills the lists of playlists of the three pages; with `keep`, each selects
  // the playlist chosen in the Find page's cbAddPlayList.
  void RefreshPlayListCombos(bool keep);
  // Every page that chose the renamed playlist keeps it under its new name.
  void PlayListRenamed(const QString &old, const QString &renamed);

  // Playlist files opened from outside (the command line, another start):
  // the window comes to the front and the Play page imports them one by one,
  // asking which playlist each goes into.
  void OpenPlayListFiles(const QStringList &files);

  // Shows the picture of the tag's base name followed by the suffix ("",
  // "_hover", "_click", "_disabled") in the image button that the tag names
  // (tag 31: the save button of dShareVideos while it exists). An unknown tag
  // or a missing picture changes nothing.
  void SetControlImage(int tag, const std::string &suffix);

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  void CreateWindowFrame();
  void CreatePlayListStore(); // a damaged index is kept aside and a new one started
  void ConnectPages();
  void AskForTheService(); // in the background; the first-start line tells when none answers
  void RunEnableRules();
};

// The main window while it exists.
extern TfMain *fMain;

} // namespace sonabox
