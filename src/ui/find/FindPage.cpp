#include "ui/find/FindPage.h"

#include "core/common/Background.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Categories.h"
#include "core/search/TubeSearch.h"
#include "core/settings/Settings.h"
#include "ui/find/ResultPanels.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/PlayListCombo.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMovie>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

namespace sonabox {

namespace {

constexpr int WheelNotch = 120;                 // wheel units per notch
constexpr int WheelStep = 3 * ResultPanelPitch; // three results a notch
constexpr int PageSize = 25;                    // videos the feed sends per page at most
// The service's list of categories replaces the fixed one when it comes
// within this time; the page never waits for it.
constexpr std::chrono::seconds CategoriesDeadline{3};
// A list of categories this old is read again when the page shows.
constexpr std::chrono::minutes CategoriesAge{1};
// How long the line under the results tells what a save did.
constexpr std::chrono::seconds SaveMessageTime{8};

// Why a search for the keywords (as typed) brought no videos, in the user's
// words; empty when it did.
QString OutcomeText(const TTubeSearch &search, const std::string &keywords,
                    const std::string &category) {
  switch (search.Outcome()) {
  case TWebOutcome::Answered:
    if (!search.PageRead()) return "The video service sent an answer that could not be read.";
    if (!search.Videos().empty()) return {};
    if (category == "Any")
      return QString::fromStdString("No videos found for \"" + keywords + "\".");
    return QString::fromStdString("No videos found for \"" + keywords + "\" in " + category + ".");
  case TWebOutcome::Unreachable: return "The video service could not be reached.";
  case TWebOutcome::TimedOut: return "The video service did not answer in time.";
  case TWebOutcome::Refused:
    return QString("The video service refused the search (HTTP %1).").arg(search.Status());
  case TWebOutcome::Failed: break;
  }
  return "The search failed.";
}

} // namespace

TFindPage::TFindPage(TPlayListManager &store, QWidget *parent) : QWidget(parent), store_(store) {
  setObjectName("pFind");
  Paint(this, kPage);
  alFind = ActionList("alFind", this);
  aSearch = Action("aSearch", "Search", alFind);
  aSaveVideos = Action("aSaveVideos", "Save Videos", alFind);
  aAddMore = Action("aAddMore", "More", alFind);

  auto *page = new QVBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  CreateSearchBar();
  CreateResultArea();
  CreateSaveBar();
  ConnectEvents();
  ReadCategories();
}

TFindPage::~TFindPage() { ClearResults(); }

// ------------------------------------------------------------------ building

void TFindPage::CreateSearchBar() {
  pFindTop = Panel("pFindTop", this);
  pFindTop->setFixedHeight(57);
  auto *bar = new QGridLayout(pFindTop);
  bar->setContentsMargins(10, 4, 10, 4);
  bar->setHorizontalSpacing(8);
  bar->setVerticalSpacing(2);
  lbSearchYouTube = Label("lbSearchYouTube", "Search for new tunes to add", pFindTop, true);
  edTubeSearch = Edit("edTubeSearch", pFindTop);
  edTubeSearch->setClearButtonEnabled(true);
  lbSearchYouTube->setBuddy(edTubeSearch);
  lbCategory = Label("lbCategory", "Category", pFindTop, true);
  cbCategory = Combo("cbCategory", pFindTop);
  cbCategory->setFixedWidth(126);
  cbCategory->setMaxVisibleItems(12);
  chosenCategory_ = StoreReadString(store_key::kSearchCategory).value_or(kDefaultCategory);
  FillCategories(FixedCategories());
  lbCategory->setBuddy(cbCategory);
  iFindSearch = new TImageButton(11, {32, 32}, "Search", pFindTop);
  iFindSearch->setObjectName("iFindSearch");
  btnStartSearch = CarrierButton("btnStartSearch", aSearch, pFindTop);
  iFindAdd = Label("iFindAdd", "", pFindTop);
  iFindAdd->setPixmap(QPixmap(":/images/ADD.png"));
  iFindAdd->hide();
  iFindRemove = Label("iFindRemove", "", pFindTop);
  iFindRemove->setPixmap(QPixmap(":/images/ADDED.png"));
  iFindRemove->hide();
  bar->addWidget(lbSearchYouTube, 0, 0);
  bar->addWidget(lbCategory, 0, 1);
  bar->addWidget(edTubeSearch, 1, 0);
  bar->addWidget(cbCategory, 1, 1);
  bar->addWidget(iFindSearch, 0, 2, 2, 1, Qt::AlignVCenter);
  bar->setColumnStretch(0, 1);
  layout()->addWidget(pFindTop);
}

void TFindPage::CreateResultArea() {
  // The result area with the busy picture behind it.
  auto *results = Panel("pResults", this);
  Paint(results, kResults);
  auto *stack = new QGridLayout(results);
  stack->setContentsMargins(0, 0, 0, 0);
  imgProgress = Label("imgProgress", "", results);
  imgProgress->setFixedSize(32, 32);
  imgProgress->setAccessibleName("Searching");
  imgProgressMovie = new QMovie(":/images/PROGRESS.gif", {}, imgProgress);
  imgProgress->setMovie(imgProgressMovie);
  sbResults = new QScrollArea(results);
  sbResults->setObjectName("sbResults");
  sbResults->setAccessibleName("Search results");
  sbResults->setFrameShape(QFrame::NoFrame);
  sbResults->setFocusPolicy(Qt::NoFocus); // the keyboard goes to the results' toggles
  sbResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sbResults->setWidgetResizable(true);
  sbResults->verticalScrollBar()->setSingleStep(20);
  auto *content = Panel("sbResultsContent", sbResults);
  Paint(content, kResults);
  sbResults->setWidget(content);
  lbSearchOutcome = Label("lbSearchOutcome", "", content);
  lbSearchOutcome->setTextFormat(Qt::PlainText); // it quotes the keywords as typed
  lbSearchOutcome->setWordWrap(true);
  lbSearchOutcome->setGeometry(12, 12, 600, 40);
  lbSearchOutcome->hide();
  Paint(sbResults->viewport(), kResults);
  stack->addWidget(imgProgress, 0, 0, Qt::AlignCenter);
  stack->addWidget(sbResults, 0, 0);
  sbResults->raise();
  static_cast<QVBoxLayout *>(layout())->addWidget(results, 1);
}

void TFindPage::CreateSaveBar() {
  pFindBottom = Panel("pFindBottom", this);
  pFindBottom->setFixedHeight(78);
  auto *save = new QGridLayout(pFindBottom);
  save->setContentsMargins(10, 4, 10, 4);
  save->setHorizontalSpacing(8);
  save->setVerticalSpacing(2);
  Label1 = Label("Label1", "Add videos to play list: ", pFindBottom);
  cbAddPlayList = Combo("cbAddPlayList", pFindBottom);
  cbAddPlayList->setFixedWidth(263);
  Label1->setBuddy(cbAddPlayList);
  lbOrNewPlayList = Label("lbOrNewPlayList", "Or create new play list:", pFindBottom);
  edPlayListName = Edit("edPlayListName", pFindBottom);
  edPlayListName->setFixedWidth(263);
  lbOrNewPlayList->setBuddy(edPlayListName);
  iFindSave = new TImageButton(12, {48, 48}, "Save Videos", pFindBottom);
  iFindSave->setObjectName("iFindSave");
  btnFindSave = CarrierButton("btnFindSave", aSaveVideos, pFindBottom);
  btnMore = LinkedButton("btnMore", aAddMore, pFindBottom);
  btnMore->hide();

  save->addWidget(Label1, 0, 0);
  save->addWidget(cbAddPlayList, 1, 0);
  save->addWidget(lbOrNewPlayList, 0, 1);
  save->addWidget(edPlayListName, 1, 1);
  save->addWidget(iFindSave, 0, 2, 2, 1, Qt::AlignVCenter);
  save->setColumnStretch(3, 1);
  save->setRowStretch(2, 1);
  save->addWidget(btnMore, 0, 4, 2, 1, Qt::AlignVCenter | Qt::AlignRight);
  // What a save did, on a line above the save bar for a few seconds: nothing
  // to click away.
  lbSaveMessage = Label("lbSaveMessage", "", this);
  lbSaveMessage->setTextFormat(Qt::PlainText); // it quotes the playlist's name
  lbSaveMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); // never widens the page
  lbSaveMessage->setContentsMargins(10, 3, 10, 3);
  lbSaveMessage->hide();
  tSaveMessage = new QTimer(this);
  tSaveMessage->setSingleShot(true);
  tSaveMessage->setInterval(SaveMessageTime);
  connect(tSaveMessage, &QTimer::timeout, lbSaveMessage, &QLabel::hide);
  layout()->addWidget(lbSaveMessage);
  layout()->addWidget(pFindBottom);
}

void TFindPage::ConnectEvents() {
  ConnectControlImage(*iFindSearch);
  ConnectControlImage(*iFindSave);
  connect(aSearch, &QAction::triggered, this, &TFindPage::aSearchExecute);
  connect(iFindSearch, &TImageButton::clicked, this, &TFindPage::aSearchExecute);
  connect(aAddMore, &QAction::triggered, this, &TFindPage::aAddMoreExecute);
  connect(aSaveVideos, &QAction::triggered, this, Guarded(this, &TFindPage::aSaveVideosExecute));
  connect(iFindSave, &TImageButton::clicked, this, Guarded(this, &TFindPage::aSaveVideosExecute));
  connect(cbAddPlayList, &QComboBox::currentTextChanged, this, &TFindPage::cbAddPlayListChange);
  connect(cbCategory, &QComboBox::currentTextChanged, this, &TFindPage::cbAddPlayListChange);
  connect(cbCategory, &QComboBox::activated, this, Guarded(this, &TFindPage::cbCategoryChosen));
  // Enter in the keywords, a character typed into the new playlist's name, the
  // wheel over the result area or unused by the control under the pointer, and
  // the resizing of the result area; the busy picture runs only while uncovered.
  edTubeSearch->installEventFilter(this);
  edPlayListName->installEventFilter(this);
  sbResults->installEventFilter(this);
  sbResults->viewport()->installEventFilter(this);
  sbResults->verticalScrollBar()->installEventFilter(this);
  installEventFilter(this);
}

bool TFindPage::eventFilter(QObject *watched, QEvent *event) {
  if (auto *button = qobject_cast<TSelectButton *>(watched))
    return SelectButtonEvent(*button, event);
  switch (event->type()) {
  case QEvent::KeyPress: {
    auto *key = static_cast<QKeyEvent *>(event);
    if (watched == edTubeSearch) return edTubeSearchKeyPress(key->key());
    if (watched == edPlayListName) {
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Enter in the new name saves, as the save button would.
        aSaveVideosUpdate();
        if (aSaveVideos->isEnabled()) aSaveVideos->trigger();
        return true;
      }
      if (!key->text().isEmpty()) edPlayListNameKeyPress();
    }
    break;
  }
  case QEvent::Wheel: return Wheel(static_cast<QWheelEvent *>(event));
  case QEvent::Resize:
    if (watched == sbResults) sbResultsResize();
    break;
  case QEvent::Hide:
    if (watched == sbResults) imgProgressMovie->start();
    break;
  case QEvent::Show:
    if (watched == sbResults) {
      imgProgressMovie->stop();
      // A resize while the page was hidden reached no panel.
      sbResultsResize();
    }
    if (watched == this) ReadCategoriesAgain();
    break;
  default: break;
  }
  return QWidget::eventFilter(watched, event);
}

// The arrow keys move between the results' toggles; the one that takes the
// focus is scrolled into view.
bool TFindPage::SelectButtonEvent(TSelectButton &button, QEvent *event) {
  const int index = button.Tag;
  if (index < 0 || index >= static_cast<int>(VisualResults.size())) return false;
  if (event->type() == QEvent::FocusIn) {
    for (TVisualResult *result : VisualResults)
      result->SelectImage->setFocusPolicy(result->SelectImage == &button ? Qt::StrongFocus
                                                                         : Qt::ClickFocus);
    sbResults->ensureWidgetVisible(VisualResults[index]->Panel, 0, 0);
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  int next = index;
  switch (static_cast<QKeyEvent *>(event)->key()) {
  case Qt::Key_Up:
  case Qt::Key_Left: next = index - 1; break;
  case Qt::Key_Down:
  case Qt::Key_Right: next = index + 1; break;
  default: return false;
  }
  if (next >= 0 && next < static_cast<int>(VisualResults.size()))
    VisualResults[next]->SelectImage->setFocus(Qt::TabFocusReason);
  return true;
}

// Whole notches are passed on; finer wheels add up to them. Only while the
// page is shown.
bool TFindPage::Wheel(QWheelEvent *event) {
  if (!isVisible()) return false;
  wheelDelta_ += event->angleDelta().y();
  for (; wheelDelta_ <= -WheelNotch; wheelDelta_ += WheelNotch) sbResultsMouseWheelDown();
  for (; wheelDelta_ >= WheelNotch; wheelDelta_ -= WheelNotch) sbResultsMouseWheelUp();
  event->accept();
  return true;
}

// ------------------------------------------------------------- enable rules

void TFindPage::RunEnableRules() {
  aSearchUpdate();
  aSaveVideosUpdate();
}

void TFindPage::aSearchUpdate() {
  const bool enabled = !edTubeSearch->text().isEmpty() && !TubeSearch;
  aSearch->setEnabled(enabled);
  EnableControlImage(*iFindSearch, enabled);
}

void TFindPage::aSaveVideosUpdate() {
  const bool ticked = std::any_of(VisualResults.begin(), VisualResults.end(),
                                  [](const TVisualResult *result) { return result->Selected; });
  const bool enabled =
      ticked && (!cbAddPlayList->currentText().isEmpty() || !edPlayListName->text().isEmpty());
  aSaveVideos->setEnabled(enabled);
  EnableControlImage(*iFindSave, enabled);
}

// ------------------------------------------------------------------- search

void TFindPage::aSearchExecute() {
  if (TubeSearch) return;
  auto *search =
      new TTubeSearch(edTubeSearch->text().toStdString(), cbCategory->currentText().toStdString());
  search->SetOnTerminate(this, [this](TTubeSearch &s) { OnTubeSearchTerminate(s); });
  TubeSearch = search;
  search->start();
  // The old panels go while the request is under way; its results can only
  // arrive on this thread, after them.
  ClearResults();
  SearchKeywords = edTubeSearch->text().toStdString();
  SearchCategory = cbCategory->currentText().toStdString();
  sbResults->hide();
  searched_ = true;
}

// The service's categories, read in the background; the page never waits for
// them.
void TFindPage::ReadCategories() {
  CategoriesRead = std::chrono::steady_clock::now();
  readingCategories_ = true;
  auto categories = std::make_shared<std::optional<std::vector<std::string>>>();
  RunInBackground(
      this, [categories] { *categories = FetchCategories(CategoriesDeadline); },
      [this, categories] {
        readingCategories_ = false;
        if (*categories) FillCategories(**categories);
      });
}

// The library may have changed since: its categories are read again when the
// page shows, at most once a minute.
void TFindPage::ReadCategoriesAgain() {
  if (!readingCategories_ && std::chrono::steady_clock::now() - CategoriesRead >= CategoriesAge)
    ReadCategories();
}

void TFindPage::FillCategories(const std::vector<std::string> &categories) {
  const QSignalBlocker quiet(cbCategory);
  cbCategory->clear();
  cbCategory->addItem(kAnyCategory);
  for (const std::string &category : categories)
    cbCategory->addItem(QString::fromStdString(category));
  const int chosen = cbCategory->findText(QString::fromStdString(chosenCategory_),
                                          Qt::MatchExactly | Qt::MatchCaseSensitive);
  cbCategory->setCurrentIndex(std::max(chosen, 0));
}

void TFindPage::cbCategoryChosen() {
  chosenCategory_ = cbCategory->currentText().toStdString();
  if (searched_) {
    if (TubeSearch) {
      searchAgain_ = true;
    } else {
      aSearchUpdate();
      if (aSearch->isEnabled()) aSearchExecute();
    }
  }
  StoreWriteString(store_key::kSearchCategory, chosenCategory_);
}

void TFindPage::aAddMoreExecute() {
  if (TubeSearch) return;
  auto *search = new TTubeSearch(SearchKeywords, SearchCategory);
  search->SetStartIndex(static_cast<int32_t>(VisualResults.size()) + 1);
  search->SetOnTerminate(this, [this](TTubeSearch &s) { OnTubeSearchTerminate(s); });
  TubeSearch = search;
  search->start();
  sbResults->hide();
}

bool TFindPage::edTubeSearchKeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  aSearchUpdate();
  if (aSearch->isEnabled()) aSearchExecute();
  return true;
}

void TFindPage::OnTubeSearchTerminate(TTubeSearch &search) {
  QWidget *area = sbResults->widget();
  QScrollBar *bar = sbResults->verticalScrollBar();
  const int scrolled = bar->value();
  const int areaWidth = sbResults->width();
  const QPixmap add = iFindAdd->pixmap();
  for (const TVideo &video : search.Videos()) {
    const int index = static_cast<int>(VisualResults.size());
    auto *result = new TVisualResult(video, area);
    VisualResults.push_back(result);
    SetSelection(*result, false, add);
    result->DescriptionLabel->resize(areaWidth - 165, result->DescriptionLabel->height());
    result->Panel->Tag = index;
    connect(result->Panel, &TClickPanel::Clicked, this, &TFindPage::ModifySongSelection);
    result->Panel->setGeometry(0, index * ResultPanelPitch, areaWidth - 20, ResultPanelHeight);
    TSelectButton *button = result->SelectImage;
    button->Tag = index;
    connect(button, &TSelectButton::Clicked, this, &TFindPage::ModifySongSelection);
    button->move(areaWidth - button->width() - 25, 8);
    result->TitleLabel->resize(button->x() - 8 - result->TitleLabel->x(),
                               result->TitleLabel->height());
    // The results are one stop of Tab, between the search bar and the save
    // bar: the toggle that had the focus last (the first at first); the
    // arrow keys go from one to the next.
    setTabOrder(index == 0 ? static_cast<QWidget *>(iFindSearch)
                           : VisualResults[index - 1]->SelectImage,
                button);
    button->setFocusPolicy(index == 0 ? Qt::StrongFocus : Qt::ClickFocus);
    button->installEventFilter(this);
  }
  if (!VisualResults.empty())
    area->setMinimumHeight(static_cast<int>(VisualResults.size()) * ResultPanelPitch -
                           (ResultPanelPitch - ResultPanelHeight));
  // "More" is offered while the feed has more to send and this page was full:
  // a short page is the last one. A request that failed changes nothing, so
  // that "More" can be tried again.
  if (search.PageRead())
    btnMore->setVisible(static_cast<int64_t>(VisualResults.size()) < search.TotalResults() &&
                        search.Videos().size() >= PageSize);
  const QString outcome = OutcomeText(search, SearchKeywords, SearchCategory);
  lbSearchOutcome->setText(outcome);
  lbSearchOutcome->setAccessibleName(outcome);
  lbSearchOutcome->resize(areaWidth - 24, lbSearchOutcome->height());
  lbSearchOutcome->setVisible(VisualResults.empty() && !outcome.isEmpty());
  sbResults->show();
  // A new search starts at the top; "More" keeps the place.
  bar->setValue(search.StartIndex() == 1 ? 0 : scrolled);
  TubeSearch = nullptr;
  if (searchAgain_) {
    searchAgain_ = false;
    aSearchUpdate();
    if (aSearch->isEnabled()) aSearchExecute();
  }
}

void TFindPage::ClearResults() {
  for (TVisualResult *result : VisualResults) delete result;
  VisualResults.clear();
  lbSearchOutcome->hide();
  sbResults->widget()->setMinimumHeight(0);
  btnMore->hide();
}

void TFindPage::ModifySongSelection(int index) {
  if (index < 0 || index >= static_cast<int>(VisualResults.size())) return;
  TVisualResult &result = *VisualResults[index];
  if (result.Selected)
    SetSelection(result, false, iFindAdd->pixmap());
  else
    SetSelection(result, true, iFindRemove->pixmap());
}

void TFindPage::sbResultsMouseWheelDown() {
  QScrollBar *bar = sbResults->verticalScrollBar();
  bar->setValue(bar->value() + WheelStep);
}

void TFindPage::sbResultsMouseWheelUp() {
  QScrollBar *bar = sbResults->verticalScrollBar();
  bar->setValue(bar->value() - WheelStep);
}

void TFindPage::sbResultsResize() {
  if (VisualResults.empty() || !sbResults->isVisible()) return;
  sbResults->setUpdatesEnabled(false);
  const int width = sbResults->width() - 20;
  for (TVisualResult *result : VisualResults) result->Panel->resize(width, result->Panel->height());
  sbResults->setUpdatesEnabled(true);
}

// --------------------------------------------------------------------- save

// A ticked video that the chosen playlist already holds is added again only
// when the user says so. After a save the ticks are cleared, so that pressing
// Save twice does not add the same videos twice.
void TFindPage::aSaveVideosExecute() {
  std::vector<TVisualResult *> ticked;
  for (TVisualResult *result : VisualResults)
    if (result->Selected) ticked.push_back(result);
  TVideos videos;
  for (const TVisualResult *result : ticked) videos.push_back(result->Video);
  std::string name = cbAddPlayList->currentText().toStdString();
  const bool create = name.empty();
  if (create) name = TrimPlayListName(edPlayListName->text().toStdString());
  size_t skipped = 0;
  if (!create) {
    std::optional<TVideos> kept =
        AskAboutRepeats(this, store_, name, videos, "ticked videos", skipped);
    if (!kept) return;
    videos = std::move(*kept);
  }
  const std::string fileName = AddVideosToPlayList(store_, name, create, videos);
  for (TVisualResult *result : ticked) SetSelection(*result, false, iFindAdd->pixmap());
  emit PlayListsChanged(true);
  // A playlist just created becomes the choice, so that the next Save adds to
  // it instead of trying to create it again.
  if (create) cbAddPlayList->setCurrentIndex(cbAddPlayList->findText(QString::fromStdString(name)));
  emit PlayListSaved(fileName);
  ShowSaveMessage(SavedText(videos.size(), skipped, name));
}

void TFindPage::ShowSaveMessage(const std::string &message) {
  const QString text = QString::fromStdString(message);
  lbSaveMessage->setText(text);
  lbSaveMessage->setAccessibleName(text);
  lbSaveMessage->show();
  tSaveMessage->start();
}

void TFindPage::FillPlayLists(const QString &remembered) {
  FillPlayListCombo(cbAddPlayList, store_, remembered);
}

void TFindPage::cbAddPlayListChange() { edPlayListName->clear(); }

// Only a choice that exists is cleared: clearing an empty one again would run the
// change handler, which empties the name being typed.
void TFindPage::edPlayListNameKeyPress() {
  if (cbAddPlayList->currentIndex() >= 0) cbAddPlayList->setCurrentIndex(-1);
}

} // namespace sonabox
