#include "ui/play/PlayPage.h"

#include "core/common/TextHelpers.h"
#include "core/playback/PlaySequencer.h"
#include "core/playback/PlayerDocument.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PlayListFiles.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/PlayListCombo.h"
#include "ui/widgets/ShellWidgets.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace sonabox {

namespace {

// "Title LIKE '%text%'", a quote inside the pattern doubled.
std::string TitleFilter(const std::string &text) {
  std::string pattern = "%" + text + "%";
  std::string quoted;
  for (char c : pattern) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return "Title LIKE '" + quoted + "'";
}

} // namespace

TPlayPage::TPlayPage(TPlayListManager &store, QWidget *parent) : QWidget(parent), store_(store) {
  setObjectName("pPlay");
  Paint(this, kPage);
  alPlay = ActionList("alPlay", this);
  aDeletePlayList = Action("aDeletePlayList", "Delete PlayList", alPlay);
  aDeleteVideo = Action("aDeleteVideo", "Delete Video", alPlay);
  alVideoControls = ActionList("alVideoControls", this);
  aControlsPrev = Action("aControlsPrev", "Previous", alVideoControls);
  aControlsPlay = Action("aControlsPlay", "Play", alVideoControls);
  aControlsStop = Action("aControlsStop", "Stop", alVideoControls);
  aControlsNext = Action("aControlsNext", "Next", alVideoControls);

  cdsPlayList = std::make_unique<TDataTable>("cdsPlayList");
  cdsPlayList->SetFilterCaseInsensitive(true);
  Sequencer = std::make_unique<TPlaySequencer>(*cdsPlayList);
  tShuffle = &Sequencer->Timer();

  auto *page = new QHBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  asMain = new QSplitter(Qt::Horizontal, this);
  asMain->setObjectName("asMain");
  asMain->setChildrenCollapsible(false);
  page->addWidget(asMain);
  CreateVideoArea();
  CreatePlayListPane();
  asMain->addWidget(pMainVideoArea);
  asMain->addWidget(pRight);
  asMain->setStretchFactor(0, 1);
  asMain->setStretchFactor(1, 0);
  asMain->setSizes({769 - 100 - 258, 258});
  ConnectEvents();
  wbPlayer->Navigate("about:blank");
}

TPlayPage::~TPlayPage() {
  // The expanded window belongs to the main window; it goes before the player
  // state it shows.
  delete dExpandedVideo;
}

// ------------------------------------------------------------------ building

void TPlayPage::CreateVideoArea() {
  pMainVideoArea = Panel("pMainVideoArea", asMain);
  Paint(pMainVideoArea, Qt::black);
  auto *video = new QVBoxLayout(pMainVideoArea);
  video->setContentsMargins(0, 0, 0, 0);
  video->setSpacing(0);
  pPlayingTitle = Panel("pPlayingTitle", pMainVideoArea);
  pPlayingTitle->setFixedHeight(27);
  Paint(pPlayingTitle, kNightPanel, kAmberText);
  lbNowPlayingTitle = Label("lbNowPlayingTitle", "", pPlayingTitle, true);
  lbNowPlayingTitle->setAccessibleName("Now playing");
  // A title is the feed's or a sharer's text: shown as it is, never as markup.
  lbNowPlayingTitle->setTextFormat(Qt::PlainText);
  auto *titleRow = new QHBoxLayout(pPlayingTitle);
  titleRow->setContentsMargins(8, 0, 8, 0);
  titleRow->addWidget(lbNowPlayingTitle);
  video->addWidget(pPlayingTitle);

  wbPlayer = new THtmlView(pMainVideoArea);
  wbPlayer->setObjectName("wbPlayer");
  wbPlayer->setAccessibleName("Player");
  wbPlayer->setMinimumSize(160, 120);
  video->addWidget(wbPlayer, 1);

  pPlayerControls = Panel("pPlayerControls", pMainVideoArea);
  pPlayerControls->setFixedHeight(35);
  Paint(pPlayerControls, kNightPanel, kAmberText);
  iControlPrev = new TImageButton(1, {27, 25}, "Previous Video", pPlayerControls);
  iControlPlay = new TImageButton(2, {27, 25}, "Play Video", pPlayerControls);
  iControlStop = new TImageButton(3, {27, 25}, "Stop Video", pPlayerControls);
  iControlNext = new TImageButton(4, {27, 25}, "Next Video", pPlayerControls);
  auto *controls = new QHBoxLayout(pPlayerControls);
  controls->setContentsMargins(8, 5, 8, 5);
  controls->setSpacing(6); // buttons at x 8, 41, 74 and 107
  const char *names[] = {"iControlPrev", "iControlPlay", "iControlStop", "iControlNext"};
  int i = 0;
  for (TImageButton *b : {iControlPrev, iControlPlay, iControlStop, iControlNext}) {
    b->setObjectName(names[i++]);
    b->setToolTip(b->accessibleName());
    controls->addWidget(b);
  }
  controls->addSpacing(138);
  lbCountDown = Label("lbCountDown", "Timer: 0:00", pPlayerControls);
  lbCountDown->hide();
  controls->addWidget(lbCountDown);
  controls->addStretch();
  lbExpand = new TLinkLabel("[ Expand Video]", "expand", QColor(255, 179, 74), pPlayerControls);
  lbExpand->setObjectName("lbExpand");
  lbExpand->setAccessibleName("Expand Video");
  controls->addWidget(lbExpand);
  btnPrevious = CarrierButton("btnPrevious", aControlsPrev, pPlayerControls);
  btnPlay = CarrierButton("btnPlay", aControlsPlay, pPlayerControls);
  btnStop = CarrierButton("btnStop", aControlsStop, pPlayerControls);
  btnNext = CarrierButton("btnNext", aControlsNext, pPlayerControls);
  video->addWidget(pPlayerControls);
}

void TPlayPage::CreatePlayListPane() {
  pRight = Panel("pRight", asMain);
  Paint(pRight, kPage);
  auto *pane = new QVBoxLayout(pRight);
  pane->setContentsMargins(6, 4, 6, 0);
  pane->setSpacing(2);
  pTopPlayList = Panel("pTopPlayList", pRight);
  pTopPlayList->setFixedHeight(104);
  auto *top = new QVBoxLayout(pTopPlayList);
  top->setContentsMargins(0, 2, 0, 2);
  top->setSpacing(2);
  lbPlayList = Label("lbPlayList", "Play List", pTopPlayList, true);
  cbPlayLists = Combo("cbPlayLists", pTopPlayList);
  lbPlayList->setBuddy(cbPlayLists);
  lbSearch = Label("lbSearch", "Search Play List", pTopPlayList, true);
  edSearch = Edit("edSearch", pTopPlayList);
  edSearch->setClearButtonEnabled(true);
  lbSearch->setBuddy(edSearch);
  for (QWidget *w : std::initializer_list<QWidget *>{lbPlayList, cbPlayLists, lbSearch, edSearch})
    top->addWidget(w);
  top->addStretch();
  pane->addWidget(pTopPlayList);

  sgPlayList = Grid("sgPlayList", pRight);
  sgPlayList->setAccessibleName("Play list videos");
  ds = new TDataTableModel(*cdsPlayList, {{"Title", ""}, {"Duration", "Time"}}, this);
  ds->setObjectName("ds");
  sgPlayList->setModel(ds);
  sgPlayList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  sgPlayList->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  sgPlayList->setColumnWidth(1, 42);
  pane->addWidget(sgPlayList, 1);

  pBottomPlayList = Panel("pBottomPlayList", pRight);
  pBottomPlayList->setFixedHeight(36);
  auto *bottom = new QHBoxLayout(pBottomPlayList);
  bottom->setContentsMargins(0, 4, 0, 4);
  btnDeleteVideo = LinkedButton("btnDeleteVideo", aDeleteVideo, pBottomPlayList);
  btnDeletePlayList = LinkedButton("btnDeletePlayList", aDeletePlayList, pBottomPlayList);
  bottom->addWidget(btnDeleteVideo);
  bottom->addWidget(btnDeletePlayList);
  bottom->addStretch();
  pane->addWidget(pBottomPlayList);
  pPlayListFiles = new TPlayListFiles(store_, *cbPlayLists, pRight);
  pane->addWidget(pPlayListFiles, 0, Qt::AlignLeft);
}

void TPlayPage::ConnectEvents() {
  for (TImageButton *b : {iControlPrev, iControlPlay, iControlStop, iControlNext})
    ConnectControlImage(*b);
  connect(aControlsPrev, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aControlsPrevExecute));
  connect(aControlsPlay, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aControlsPlayExecute));
  connect(aControlsStop, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aControlsStopExecute));
  connect(aControlsNext, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aControlsNextExecute));
  connect(iControlPrev, &TImageButton::clicked, this,
          Guarded(this, &TPlayPage::aControlsPrevExecute));
  connect(iControlPlay, &TImageButton::clicked, this,
          Guarded(this, &TPlayPage::aControlsPlayExecute));
  connect(iControlStop, &TImageButton::clicked, this,
          Guarded(this, &TPlayPage::aControlsStopExecute));
  connect(iControlNext, &TImageButton::clicked, this,
          Guarded(this, &TPlayPage::aControlsNextExecute));
  connect(tShuffle, &QTimer::timeout, this, Guarded(this, &TPlayPage::tShuffleTimer));
  connect(lbExpand, &QLabel::linkActivated, this, Guarded(this, &TPlayPage::lbExpandClick));
  // Grid row 0 is the header row; the rows of the playlist follow from 1.
  connect(sgPlayList, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
    RunGuarded(this, [&] { sgPlayListDblClickCell(index.row() + 1, index.column()); });
  });
  connect(sgPlayList->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
          [this](int column) { RunGuarded(this, [&] { sgPlayListDblClickCell(0, column); }); });

  // What the sequencer asks to be shown.
  connect(Sequencer.get(), &TPlaySequencer::ShowVideo, this, [this] { ShowCurrentVideo(true); });
  connect(Sequencer.get(), &TPlaySequencer::CountDown, this, [this](int secondsLeft) {
    lbCountDown->setText(
        QString::fromStdString("Timer: " + SecondsToText(std::to_string(secondsLeft))));
  });
  connect(Sequencer.get(), &TPlaySequencer::LogLine, this, &TPlayPage::LogLine);
  connect(Sequencer.get(), &TPlaySequencer::RowChosen, this,
          [this](int recNo) { sgPlayList->setCurrentIndex(ds->index(recNo - 1, 0)); });
  connect(Sequencer.get(), &TPlaySequencer::Stopped, this, &TPlayPage::BlankPlayers);

  connect(cbPlayLists, &QComboBox::currentTextChanged, this,
          Guarded(this, &TPlayPage::cbPlayListsChange));
  connect(edSearch, &QLineEdit::textChanged, this, Guarded(this, &TPlayPage::edSearchChange));
  connect(aDeleteVideo, &QAction::triggered, this, Guarded(this, &TPlayPage::aDeleteVideoExecute));
  connect(aDeletePlayList, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aDeletePlayListExecute));
  connect(pPlayListFiles, &TPlayListFiles::PlayListsChanged, this, &TPlayPage::PlayListsChanged);
  connect(pPlayListFiles, &TPlayListFiles::PlayListSaved, this, &TPlayPage::PlayListSaved);
  // The grid and the open playlist share one current row: choosing a row in
  // the grid moves the table, and a refreshed grid shows the table's row.
  connect(sgPlayList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex &current) {
            if (current.isValid() && cdsPlayList->Active())
              cdsPlayList->SetRecNo(current.row() + 1);
          });
  connect(ds, &QAbstractItemModel::modelReset, this, [this] {
    if (cdsPlayList->Active() && cdsPlayList->RecNo() > 0)
      sgPlayList->setCurrentIndex(ds->index(cdsPlayList->RecNo() - 1, 0));
  });
}

// ------------------------------------------------------------- enable rules

void TPlayPage::RunEnableRules() {
  aDeletePlayListUpdate();
  pPlayListFiles->RunEnableRules();
  aControlsPrevUpdate();
  aControlsPlayUpdate();
  aControlsStopUpdate();
  aControlsNextUpdate();
}

// A chosen playlist can be deleted even when its file could not be opened.
void TPlayPage::aDeletePlayListUpdate() {
  aDeletePlayList->setEnabled(ChosenPlayListListed());
  aDeleteVideo->setEnabled(cdsPlayList->Active());
}

// Play, Next and Previous need an open playlist with a visible row to play from.
bool TPlayPage::HasRows() const { return cdsPlayList->Active() && cdsPlayList->RecordCount() > 0; }

void TPlayPage::aControlsPrevUpdate() {
  const bool enabled = HasRows() && !Sequencer->PreviousVideo().Url.empty();
  aControlsPrev->setEnabled(enabled);
  EnableControlImage(*iControlPrev, enabled);
}

void TPlayPage::aControlsPlayUpdate() {
  const bool enabled = HasRows();
  aControlsPlay->setEnabled(enabled);
  EnableControlImage(*iControlPlay, enabled);
}

void TPlayPage::aControlsStopUpdate() {
  const bool enabled = Sequencer->Running();
  aControlsStop->setEnabled(enabled);
  EnableControlImage(*iControlStop, enabled);
}

void TPlayPage::aControlsNextUpdate() {
  const bool enabled = HasRows();
  aControlsNext->setEnabled(enabled);
  EnableControlImage(*iControlNext, enabled);
}

// ---------------------------------------------------------- playlist pane

void TPlayPage::FillPlayLists(const QString &remembered) {
  FillPlayListCombo(cbPlayLists, store_, remembered);
  if (cbPlayLists->currentIndex() >= 0) return; // chosen, and opened by the change handler
  // The choice and the grid always agree: the open playlist stays chosen while
  // it is listed, and one that is no longer listed is closed.
  const int open =
      openName_.isEmpty()
          ? -1
          : cbPlayLists->findText(openName_, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (open >= 0 && cdsPlayList->Active()) {
    const QSignalBlocker quiet(cbPlayLists);
    cbPlayLists->setCurrentIndex(open);
  } else if (cdsPlayList->Active()) {
    Sequencer->Stop();
    cdsPlayList->Close();
    openName_.clear();
  }
}

void TPlayPage::PlayListSaved(const std::string &fileName) {
  if (cdsPlayList->Active() && cdsPlayList->FileName() == fileName) {
    cdsPlayList->Close();
    cdsPlayList->LoadFromFile(fileName);
  }
}

void TPlayPage::cbPlayListsChange() {
  cdsPlayList->Close();
  openName_.clear();
  if (store_.OpenPlayList(*cdsPlayList, cbPlayLists->currentText().toStdString()))
    openName_ = cbPlayLists->currentText();
}

void TPlayPage::edSearchChange() {
  if (!cdsPlayList->Active()) return;
  const std::string text = edSearch->text().toStdString();
  if (!text.empty()) {
    cdsPlayList->SetFilter(TitleFilter(text));
    cdsPlayList->SetFiltered(true);
  } else {
    cdsPlayList->SetFiltered(false);
    cdsPlayList->SetFilter("");
  }
}

void TPlayPage::aDeleteVideoExecute() {
  if (!cdsPlayList->Active()) return;
  cdsPlayList->Delete();
  cdsPlayList->SaveToFile();
}

// A choice, not an empty box: an empty text never deletes an old playlist of
// an empty name.
bool TPlayPage::ChosenPlayListListed() const {
  return cbPlayLists->currentIndex() >= 0 &&
         store_.HasPlayList(cbPlayLists->currentText().toStdString());
}

void TPlayPage::aDeletePlayListExecute() {
  if (!ChosenPlayListListed()) return;
  Sequencer->Stop(); // the playlist that plays goes: playback ends quietly
  cdsPlayList->Close();
  openName_.clear();
  store_.DeletePlayList(cbPlayLists->currentText().toStdString());
  cbPlayLists->setCurrentIndex(-1);
  emit PlayListsChanged(false);
}

// ---------------------------------------------------------------- playback

void TPlayPage::aControlsNextExecute() { Sequencer->Next(); }

void TPlayPage::aControlsPlayExecute() { Sequencer->Play(); }

void TPlayPage::aControlsPrevExecute() { Sequencer->Previous(); }

void TPlayPage::aControlsStopExecute() { Sequencer->Stop(); }

void TPlayPage::BlankPlayers() {
  wbPlayer->Navigate("about:blank");
  if (dExpandedVideo) dExpandedVideo->wbExpandedVideo->Navigate("about:blank");
}

void TPlayPage::tShuffleTimer() { Sequencer->Tick(); }

void TPlayPage::sgPlayListDblClickCell(int row, int column) {
  if (row < 1 || !cdsPlayList->Active()) return;
  if (ds->data(ds->index(row - 1, column)).toString().isEmpty()) return;
  Sequencer->PlayRow(row);
}

void TPlayPage::ShowCurrentVideo(bool forced) {
  if (!forced && !Sequencer->Running()) return;
  const std::string &title = Sequencer->CurrentVideo().Title;
  const std::string &id = Sequencer->CurrentVideo().Url;
  const QString nowPlaying = QString::fromStdString("Now playing: " + title);
  lbNowPlayingTitle->setText(nowPlaying);
  lbNowPlayingTitle->setAccessibleName(nowPlaying); // a screen reader hears which video plays
  if (dExpandedVideo) {
    dExpandedVideo->setWindowTitle(QString::fromStdString("Now Playing: " + title));
    ShowPlayer(id, *dExpandedVideo->wbExpandedVideo);
    wbPlayer->Navigate("about:blank");
  } else {
    ShowPlayer(id, *wbPlayer);
  }
}

void TPlayPage::lbExpandClick() {
  if (!dExpandedVideo) {
    dExpandedVideo = new TdExpandedVideo(*window());
    connect(dExpandedVideo, &TdExpandedVideo::Closed, this, &TPlayPage::ExpandedVideoClosed);
    Sequencer->RestartIfRunning();
  }
  dExpandedVideo->show();
  dExpandedVideo->raise();
  dExpandedVideo->activateWindow();
}

void TPlayPage::ExpandedVideoClosed() {
  dExpandedVideo = nullptr;
  ShowCurrentVideo(false);
}

void TPlayPage::StopPlayer() {
  Sequencer->Stop(); // the players are blanked: the videos unload and go silent
}

} // namespace sonabox
