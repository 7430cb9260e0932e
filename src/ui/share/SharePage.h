#pragma once
// TSharePage, "pShare": the share wizard. From its first step one road sends
// ticked videos of a playlist to the share service, which answers a share
// code; the other fetches the videos behind a share code and saves them into a
// playlist chosen in the save-shared-videos dialog.
//
// Both exchanges run on a worker thread: the page shows that it is busy and
// its buttons are disabled meanwhile, and a slow or silent service never
// freezes the window. A page closed during an exchange abandons it.
//
// The page tells the window, by signals, that the list of playlists changed,
// which playlist file it saved, and that the Play page should be shown.
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTableView;
class QToolButton;

namespace sonabox {

class TBusyIndicator;
class TDataTable;
class TDataTableModel;
class TPlayListManager;
class TSettings;
class TShare;
class TShareGridModel;
class TWebImage;
struct TVideo;

class TSharePage : public QWidget {
  Q_OBJECT
public:
  // `store` and `settings` must outlive the page.
  TSharePage(TPlayListManager &store, TSettings &settings, QWidget *parent);
  ~TSharePage() override;

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
  TBusyIndicator *acpFetching; // runs while a share code is looked up
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
  TBusyIndicator *acpSharing; // runs while the share is sent
  // tsShare5
  QLabel *lbShareConfirm, *lbMoreShare, *Label10;
  QLineEdit *edNewShareCode;
  QActionGroup *alShare;
  QAction *aSelectAll, *aSelectNone, *aSharePrevious;
  QAction *aShareStep1, *aShareStep2, *aShareStep3, *aShareStep4, *aShareStep5;

  std::unique_ptr<TDataTable> cdsShare; // the playlist being shared
  TDataTableModel *dsShare;
  TShareGridModel *sgShareVideosModel; // dsShare with the check-box column

  // Whether an exchange with the share service is under way, and its thread.
  bool Busy() const { return busy_; }
  QThread *Exchange() const { return exchange_; }

  // The enable rules, run by the window when the event queue is empty.
  void RunEnableRules();
  void aShareStep1Update();
  void aSharePreviousUpdate();
  void aShareStep4Update();

  void aShareStep1Execute(); // a typed share code takes the receive road
  void aShareStep2Execute();
  void aShareStep3Execute(); // runs step 4 itself
  void aShareStep4Execute(); // starts the send; the wizard moves on when it ends
  void aShareStep5Execute(); // "Restart"
  void aSharePreviousExecute();
  void aShareSelection(const QAction *sender);      // tag 1 ticks every row, any other clears them
  void sgShareVideosClickCell(int column, int row); // grid rows: 0 is the header
  void UpdateShareCount();
  bool IsCellTicked(const QTableView *grid, int column, int row) const;
  // The receive road: starts the fetch of the share of edShareCode; when it
  // ends, asks where its videos go and saves them there.
  void ReceiveShare();
  void SaveSharedVideos(const std::vector<TVideo> &videos, const std::string &existing,
                        const std::string &newName);

  // Fills cbSharePlayList with the playlist names, nothing chosen.
  void FillPlayLists(const QString &remembered = {});

signals:
  void PlayListsChanged(bool keep);
  void PlayListSaved(const std::string &fileName);
  void ShowPlayPage();
  // What a save did, for the message line of the page shown.
  void Told(const std::string &message);

private:
  void CreatePage();
  void CreateSteps();
  void ConnectEvents();
  void SendFinished(const TShare &share);
  void FetchFinished(const TShare &share);

  TPlayListManager &store_;
  TSettings &settings_;
  bool busy_ = false;
  QPointer<QThread> exchange_;
};

} // namespace sonabox
