#pragma once
// TFindPage, "pFind": searching the video feed and saving ticked results into
// a playlist.
//
// The search bar starts a search thread (one at a time); its results become
// panels in the result area, each ticked or unticked by a click; "More" asks
// for the next page of the same search. The save bar stores the ticked videos
// in the playlist chosen in cbAddPlayList, or in a new one named in
// edPlayListName (the two exclude each other).
//
// The page tells the window, by signals, that the list of playlists changed
// and which playlist file it saved; it never reaches into other pages.
#include <QString>
#include <QWidget>

#include <chrono>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMovie;
class QScrollArea;
class QTimer;
class QToolButton;
class QWheelEvent;

namespace sonabox {

class TImageButton;
class TSelectButton;
class TPlayListManager;
class TTubeSearch;
class TVisualResult;

class TFindPage : public QWidget {
  Q_OBJECT
public:
  // `store` must outlive the page.
  TFindPage(TPlayListManager &store, QWidget *parent);
  ~TFindPage() override;

  // The search bar.
  QWidget *pFindTop;
  QLabel *lbSearchYouTube;
  QLineEdit *edTubeSearch;
  QLabel *lbCategory;
  QComboBox *cbCategory;
  TImageButton *iFindSearch;      // tag 11
  QToolButton *btnStartSearch;    // hidden carrier of aSearch
  QLabel *iFindAdd, *iFindRemove; // hidden; the "ADD" and "Added" pictures
  // The result area: panels go on sbResults->widget().
  QScrollArea *sbResults;
  QLabel *imgProgress; // busy picture behind sbResults: seen while sbResults is hidden
  // Why a search shows no videos: nothing found, or the service could not be
  // reached, refused the search or did not answer. Hidden while panels show.
  QLabel *lbSearchOutcome;
  QMovie *imgProgressMovie;
  // The save bar.
  QWidget *pFindBottom;
  QLabel *Label1;
  QComboBox *cbAddPlayList;
  QLabel *lbOrNewPlayList;
  QLineEdit *edPlayListName;
  TImageButton *iFindSave;  // tag 12
  QToolButton *btnFindSave; // hidden carrier of aSaveVideos
  QToolButton *btnMore;     // aAddMore, hidden at start
  QLabel *lbSaveMessage;    // what the last save did, for a few seconds
  QTimer *tSaveMessage;
  QActionGroup *alFind;
  QAction *aSearch, *aSaveVideos, *aAddMore;

  TTubeSearch *TubeSearch = nullptr;          // the running search, if any
  std::vector<TVisualResult *> VisualResults; // the result panels, owned
  std::string SearchKeywords, SearchCategory; // of the last search started; "More" repeats them
  std::chrono::steady_clock::time_point CategoriesRead; // when the categories were last asked for

  // The enable rules, run by the window when the event queue is empty.
  void RunEnableRules();
  void aSearchUpdate();
  void aSaveVideosUpdate();

  void aSearchExecute();
  void aAddMoreExecute();
  void aSaveVideosExecute();
  bool edTubeSearchKeyPress(int key); // true: the key is consumed
  void OnTubeSearchTerminate(TTubeSearch &search);
  void ClearResults();
  void ModifySongSelection(int index); // the panel's index in VisualResults
  void sbResultsMouseWheelDown();      // one notch
  void sbResultsMouseWheelUp();
  void sbResultsResize();
  // Fills cbAddPlayList with the playlist names; selects `remembered` when listed.
  void FillPlayLists(const QString &remembered);
  void cbAddPlayListChange(); // also the change handler of cbCategory
  // Offers "Any" and the categories, choosing the one last chosen (the
  // default at first) when it is among them, else "Any".
  void FillCategories(const std::vector<std::string> &categories);
  // The user chose a category: it is remembered, and the search runs again
  // (once the running one has ended) when one was started before.
  void cbCategoryChosen();
  void edPlayListNameKeyPress(); // a character typed into edPlayListName

signals:
  // The playlists were added to; with `keep`, the lists select the playlist
  // chosen in cbAddPlayList.
  void PlayListsChanged(bool keep);
  // This playlist file was written.
  void PlayListSaved(const std::string &fileName);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void CreateSearchBar();
  void CreateResultArea();
  void CreateSaveBar();
  void ConnectEvents();
  bool Wheel(QWheelEvent *event);
  bool SelectButtonEvent(TSelectButton &button, QEvent *event);
  void ShowSaveMessage(const std::string &message);
  void ReadCategories();
  void ReadCategoriesAgain();

  TPlayListManager &store_;
  int wheelDelta_ = 0;
  std::string chosenCategory_; // what the user chose last, offered or not
  bool searched_ = false;      // a search was started
  bool searchAgain_ = false;   // the category changed while a search ran
  bool readingCategories_ = false;
};

} // namespace sonabox
