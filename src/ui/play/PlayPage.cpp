#include "ui/play/PlayPage.h"

#include "core/common/TextHelpers.h"
#include "core/playback/Playback.h"
#include "core/playlists/PlayListManager.h"
#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PartyPanel.h"
#include "ui/play/PlayListFiles.h"
#include "ui/play/PlayerViews.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/PlayListCombo.h"
#include "ui/widgets/ShellWidgets.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

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

// "m:ss", or "h:mm:ss" from an hour on.
QString Clock(double seconds) {
  const int total = std::max(0, static_cast<int>(seconds));
  const int h = total / 3600, m = total / 60 % 60, s = total % 60;
  return h > 0 ? QString::asprintf("%d:%02d:%02d", h, m, s) : QString::asprintf("%d:%02d", m, s);
}

constexpr double kSeekStep = 5; // seconds, Left and Right
constexpr int kVolumeStep = 5;  // percent, Up and Down

} // namespace

TPlayPage::TPlayPage(TPlayListManager &store, QWidget *parent) : QWidget(parent), store_(store) {
  setObjectName("pPlay");
  Paint(this, kPage);
  alPlay = ActionList("alPlay", this);
  aDeletePlayList = Action("aDeletePlayList", "Delete PlayList", alPlay);
  aDeleteVideo = Action("aDeleteVideo", "Delete Video", alPlay);
  aDeleteVideo->setToolTip("Delete the video from the playlist (Ctrl+Z brings it back)");
  aDeletePlayList->setToolTip("Delete the playlist (Ctrl+Z brings it back)");
  aRenamePlayList = Action("aRenamePlayList", "Rename", alPlay);
  aRenamePlayList->setToolTip("Rename the playlist (F2)");
  aMoveUp = Action("aMoveUp", "Move Up", alPlay);
  aMoveUp->setToolTip("Move the video up (Ctrl+Up)");
  aMoveDown = Action("aMoveDown", "Move Down", alPlay);
  aMoveDown->setToolTip("Move the video down (Ctrl+Down)");
  aUndo = Action("aUndo", "Undo", alPlay);
  aUndo->setToolTip("Bring back what was deleted (Ctrl+Z)");
  alVideoControls = ActionList("alVideoControls", this);
  aControlsPrev = Action("aControlsPrev", "Previous", alVideoControls);
  aControlsPlay = Action("aControlsPlay", "Play", alVideoControls);
  aControlsStop = Action("aControlsStop", "Stop", alVideoControls);
  aControlsNext = Action("aControlsNext", "Next", alVideoControls);

  playback_ = std::make_unique<TPlayback>();
  cdsPlayList = &playback_->PlayList();
  Sequencer = &playback_->Sequencer();
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
  views_ = new TPlayerViews(*playback_, *wbPlayer, *this);
  ShowVolume();
  cbEvenLoudness->setChecked(playback_->EvenLoudness());
  tPosition_ = new QTimer(this);
  tPosition_->setInterval(250);
  cbPlayMode->setCurrentText(PlayModeName(playback_->PlayMode()));
  ConnectEvents();
  AddPlaybackKeys(*this);
  // F2 on the playlist choice, Ctrl+Up and Ctrl+Down on the grid, Ctrl+Z
  // anywhere in the window.
  aRenamePlayList->setShortcut(Qt::Key_F2);
  aRenamePlayList->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  cbPlayLists->addAction(aRenamePlayList);
  aMoveUp->setShortcut(Qt::CTRL | Qt::Key_Up);
  aMoveDown->setShortcut(Qt::CTRL | Qt::Key_Down);
  for (QAction *a : {aMoveUp, aMoveDown}) a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  sgPlayList->setContextMenuPolicy(Qt::ActionsContextMenu);
  sgPlayList->addActions({aMoveUp, aMoveDown, aDeleteVideo});
  aUndo->setShortcut(QKeySequence::Undo);
  aUndo->setShortcutContext(Qt::WindowShortcut);
  addAction(aUndo);
  wbPlayer->Navigate("about:blank");
}

TPlayPage::~TPlayPage() {
  // The views (and the expanded window) go before the playback they show.
  delete views_;
}

// ------------------------------------------------------------------ building

void TPlayPage::CreateVideoArea() {
  pMainVideoArea = Panel("pMainVideoArea", asMain);
  Paint(pMainVideoArea, Qt::black);
  pMainVideoArea->setFocusPolicy(Qt::ClickFocus); // a click on it leaves the keys to the player
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
  lbFirstSteps =
      Label("lbFirstSteps", "Find videos on the Find page, tick them and save them into a playlist",
            pMainVideoArea);
  lbFirstSteps->setAlignment(Qt::AlignCenter);
  lbFirstSteps->setWordWrap(true);
  lbFirstSteps->setContentsMargins(24, 0, 24, 0);
  lbFirstSteps->setMinimumSize(160, 120);
  Paint(lbFirstSteps, Qt::black, kAmberText);
  lbFirstSteps->hide();
  video->addWidget(lbFirstSteps, 1);

  pSeekBar = Panel("pSeekBar", pMainVideoArea);
  pSeekBar->setFixedHeight(22);
  Paint(pSeekBar, kNightPanel, kAmberText);
  lbElapsed = Label("lbElapsed", "0:00", pSeekBar);
  lbElapsed->setToolTip("Time played");
  lbRemaining = Label("lbRemaining", "-0:00", pSeekBar);
  lbRemaining->setToolTip("Time left");
  tbPosition = new QSlider(Qt::Horizontal, pSeekBar);
  tbPosition->setObjectName("tbPosition");
  tbPosition->setAccessibleName("Position");
  tbPosition->setToolTip("Position in the video (Left and Right: 5 seconds back or on)");
  tbPosition->setTracking(false);          // a drag seeks once, when it is let go
  JumpToClick(tbPosition);                 // a click jumps there
  tbPosition->setFocusPolicy(Qt::NoFocus); // the arrows are the page's keys
  tbPosition->setEnabled(false);
  auto *seekRow = new QHBoxLayout(pSeekBar);
  seekRow->setContentsMargins(8, 2, 8, 0);
  seekRow->addWidget(lbElapsed);
  seekRow->addWidget(tbPosition, 1);
  seekRow->addWidget(lbRemaining);
  video->addWidget(pSeekBar);

  pPlayerControls = Panel("pPlayerControls", pMainVideoArea);
  Paint(pPlayerControls, kNightPanel, kAmberText);
  iControlPrev = new TImageButton(1, {27, 25}, "Previous Video", pPlayerControls);
  iControlPlay = new TImageButton(2, {27, 25}, "Play Video", pPlayerControls);
  iControlStop = new TImageButton(3, {27, 25}, "Stop Video", pPlayerControls);
  iControlNext = new TImageButton(4, {27, 25}, "Next Video", pPlayerControls);
  // Two lines under each other; the second holds the tail of the row only
  // while the page is too narrow for one (ArrangeControls).
  auto *lines = new QVBoxLayout(pPlayerControls);
  lines->setContentsMargins(8, 5, 8, 5);
  lines->setSpacing(4);
  auto *controls = new QHBoxLayout;
  controls->setSpacing(6); // buttons at x 8, 41, 74 and 107
  lines->addLayout(controls);
  controlsSecondLine_ = new QHBoxLayout;
  lines->addLayout(controlsSecondLine_);
  const char *names[] = {"iControlPrev", "iControlPlay", "iControlStop", "iControlNext"};
  int i = 0;
  const char *keys[] = {" (P)", "", "", " (N)"};
  for (TImageButton *b : {iControlPrev, iControlPlay, iControlStop, iControlNext}) {
    b->setToolTip(b->accessibleName() + keys[i]);
    b->setObjectName(names[i++]);
    controls->addWidget(b);
  }
  btnPause = new QToolButton(pPlayerControls);
  btnPause->setObjectName("btnPause");
  btnPause->setText("Pause");
  btnPause->setAccessibleName("Pause");
  btnPause->setToolTip("Pause or resume (Space)");
  btnPause->setCheckable(true);
  btnPause->setEnabled(false);
  btnMute = new QToolButton(pPlayerControls);
  btnMute->setObjectName("btnMute");
  btnMute->setText("Mute");
  btnMute->setAccessibleName("Mute");
  btnMute->setToolTip("Sound off or on (M)");
  btnMute->setCheckable(true);
  tbVolume = new QSlider(Qt::Horizontal, pPlayerControls);
  tbVolume->setObjectName("tbVolume");
  tbVolume->setAccessibleName("Volume");
  tbVolume->setToolTip("Volume (Up and Down)");
  tbVolume->setRange(0, 100);
  tbVolume->setPageStep(kVolumeStep * 2);
  tbVolume->setFocusPolicy(Qt::NoFocus);
  tbVolume->setFixedWidth(70);
  pControlsTail = Panel("pControlsTail", pPlayerControls);
  auto *tail = new QHBoxLayout(pControlsTail);
  tail->setContentsMargins(0, 0, 0, 0);
  tail->setSpacing(6);
  cbEvenLoudness = new QCheckBox("Even out loudness", pControlsTail);
  cbEvenLoudness->setObjectName("cbEvenLoudness");
  cbEvenLoudness->setToolTip("Quiet and loud videos play at a like level");
  QPalette amber = cbEvenLoudness->palette();
  amber.setColor(QPalette::WindowText, kAmberText);
  cbEvenLoudness->setPalette(amber);
  controls->addSpacing(6);
  controls->addWidget(btnPause);
  controls->addSpacing(6);
  controls->addWidget(btnMute);
  controls->addWidget(tbVolume);
  controls->addSpacing(6);
  controls->addStretch(); // holds the buttons left while the tail is on the second line
  controls->addWidget(pControlsTail, 1);
  tail->addWidget(cbEvenLoudness);
  lbCountDown = Label("lbCountDown", "Timer: 0:00", pControlsTail);
  lbCountDown->hide();
  tail->addWidget(lbCountDown);
  tail->addStretch();
  lbExpand = new TLinkLabel("[ Expand Video]", "expand", QColor(255, 179, 74), pControlsTail);
  lbExpand->setObjectName("lbExpand");
  lbExpand->setAccessibleName("Expand Video");
  lbExpand->setToolTip("The video in a larger window (F or F11 there: full screen)");
  tail->addWidget(lbExpand);
  pPlayerControls->layout()->setSizeConstraint(QLayout::SetNoConstraint);
  pPlayerControls->installEventFilter(this);
  ArrangeControls();
  btnPrevious = CarrierButton("btnPrevious", aControlsPrev, pPlayerControls);
  btnPlay = CarrierButton("btnPlay", aControlsPlay, pPlayerControls);
  btnStop = CarrierButton("btnStop", aControlsStop, pPlayerControls);
  btnNext = CarrierButton("btnNext", aControlsNext, pPlayerControls);
  video->addWidget(pPlayerControls);
}

// One line when the whole row fits, else the tail (loudness, Expand) on a second.
// The row asks for the width of its first line only, so that the page can be
// made narrower than the whole row.
void TPlayPage::ArrangeControls() {
  auto *first = static_cast<QBoxLayout *>(pPlayerControls->layout()->itemAt(0)->layout());
  const bool wrapped = controlsSecondLine_->indexOf(pControlsTail) >= 0;
  const int tail = pControlsTail->minimumSizeHint().width() + first->spacing();
  const int margins = 16;
  const int head = first->minimumSize().width() - (wrapped ? 0 : tail);
  pPlayerControls->setMinimumWidth(head + margins);
  const bool wrap = pPlayerControls->width() < head + tail + margins;
  if (wrap != wrapped) {
    (wrapped ? controlsSecondLine_ : first)->removeWidget(pControlsTail);
    (wrap ? controlsSecondLine_ : first)->addWidget(pControlsTail, 1);
  }
  pPlayerControls->setFixedHeight(wrap ? 35 + 29 : 35);
}

bool TPlayPage::eventFilter(QObject *watched, QEvent *event) {
  if (watched == pPlayerControls && event->type() == QEvent::Resize) ArrangeControls();
  return QWidget::eventFilter(watched, event);
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
  btnRenamePlayList = LinkedButton("btnRenamePlayList", aRenamePlayList, pTopPlayList);
  auto *choice = new QHBoxLayout;
  choice->setSpacing(4);
  choice->addWidget(cbPlayLists, 1);
  choice->addWidget(btnRenamePlayList);
  lbSearch = Label("lbSearch", "Search Play List", pTopPlayList, true);
  edSearch = Edit("edSearch", pTopPlayList);
  edSearch->setClearButtonEnabled(true);
  lbSearch->setBuddy(edSearch);
  top->addWidget(lbPlayList);
  top->addLayout(choice);
  top->addWidget(lbSearch);
  top->addWidget(edSearch);
  top->addStretch();
  pane->addWidget(pTopPlayList);

  sgPlayList = Grid("sgPlayList", pRight);
  sgPlayList->setAccessibleName("Play list videos");
  ds = new TDataTableModel(*cdsPlayList,
                           {{VideoColumn::Title, "Title"}, {VideoColumn::Duration, "Time"}}, this);
  ds->setObjectName("ds");
  ds->SetRowsMovable(true);
  sgPlayList->setModel(ds);
  sgPlayList->setDragDropMode(QAbstractItemView::InternalMove);
  sgPlayList->setDragDropOverwriteMode(false);
  sgPlayList->setDefaultDropAction(Qt::MoveAction);
  sgPlayList->setDropIndicatorShown(true);
  sgPlayList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  sgPlayList->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  sgPlayList->setColumnWidth(1, 42);
  pane->addWidget(sgPlayList, 2);

  pMessage = Panel("pMessage", pRight);
  auto *message = new QHBoxLayout(pMessage);
  message->setContentsMargins(0, 2, 0, 2);
  lbMessage = Label("lbMessage", "", pMessage);
  lbMessage->setTextFormat(Qt::PlainText); // titles and names as they are
  lbMessage->setWordWrap(true);
  btnUndo = LinkedButton("btnUndo", aUndo, pMessage);
  message->addWidget(lbMessage, 1);
  message->addWidget(btnUndo, 0, Qt::AlignTop);
  pMessage->hide();
  pane->addWidget(pMessage);
  tMessage = new QTimer(this);
  tMessage->setObjectName("tMessage");
  tMessage->setSingleShot(true);
  tMessage->setInterval(8000);

  pBottomPlayList = Panel("pBottomPlayList", pRight);
  auto *bottom = new QGridLayout(pBottomPlayList);
  bottom->setContentsMargins(0, 4, 0, 4);
  bottom->setVerticalSpacing(2);
  btnMoveUp = LinkedButton("btnMoveUp", aMoveUp, pBottomPlayList);
  btnMoveDown = LinkedButton("btnMoveDown", aMoveDown, pBottomPlayList);
  btnDeleteVideo = LinkedButton("btnDeleteVideo", aDeleteVideo, pBottomPlayList);
  btnDeletePlayList = LinkedButton("btnDeletePlayList", aDeletePlayList, pBottomPlayList);
  lbPlayMode = Label("lbPlayMode", "Play mode", pBottomPlayList);
  cbPlayMode = Combo("cbPlayMode", pBottomPlayList);
  cbPlayMode->setToolTip("Which video comes next");
  for (TPlayMode mode :
       {TPlayMode::Shuffle, TPlayMode::ShuffleAll, TPlayMode::InOrder, TPlayMode::RepeatOne})
    cbPlayMode->addItem(PlayModeName(mode));
  lbPlayMode->setBuddy(cbPlayMode);
  bottom->addWidget(btnMoveUp, 0, 0);
  bottom->addWidget(btnMoveDown, 0, 1);
  bottom->addWidget(btnDeleteVideo, 1, 0);
  bottom->addWidget(btnDeletePlayList, 1, 1);
  bottom->addWidget(lbPlayMode, 2, 0);
  bottom->addWidget(cbPlayMode, 2, 1);
  bottom->setColumnStretch(2, 1);
  pane->addWidget(pBottomPlayList);
  pPlayListFiles = new TPlayListFiles(store_, *cbPlayLists, pRight);
  pane->addWidget(pPlayListFiles, 0, Qt::AlignLeft);
  pParty = new TPartyPanel(*playback_, pRight);
  pane->addWidget(pParty, 1); // while the party is on, Up next has a third of the height left
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

  // What the playback says.
  connect(playback_.get(), &TPlayback::NowPlayingChanged, this, &TPlayPage::ShowNowPlaying);
  // The position is shown four times a second while a video plays.
  connect(playback_.get(), &TPlayback::VideoChanged, this, [this] {
    tPosition_->start();
    ShowPosition();
  });
  connect(playback_.get(), &TPlayback::StateChanged, this, [this] {
    if (playback_->Running())
      tPosition_->start();
    else
      tPosition_->stop();
    ShowPausedState();
    ShowPosition();
  });
  connect(playback_.get(), &TPlayback::VolumeChanged, this, &TPlayPage::ShowVolume);
  // The row of the video that plays has a marker of its own, apart from the selection.
  ds->SetMarker([this](int recNo) {
    return playback_->Running() && cdsPlayList->Active() &&
           cdsPlayList->DisplayText(recNo, VideoColumn::Url) == playback_->CurrentVideo().Url;
  });
  connect(playback_.get(), &TPlayback::VideoChanged, ds, &TDataTableModel::MarkerChanged);
  connect(playback_.get(), &TPlayback::StateChanged, ds, &TDataTableModel::MarkerChanged);
  connect(playback_.get(), &TPlayback::Seeked, this, &TPlayPage::ShowPosition);
  connect(playback_.get(), &TPlayback::PlayModeChanged, this, [this] {
    const QSignalBlocker quiet(cbPlayMode);
    cbPlayMode->setCurrentText(PlayModeName(playback_->PlayMode()));
  });
  connect(playback_.get(), &TPlayback::LogLine, this, &TPlayPage::LogLine);
  connect(Sequencer, &TPlaySequencer::CountDown, this, [this](int secondsLeft) {
    lbCountDown->setText(
        QString::fromStdString("Timer: " + SecondsToText(std::to_string(secondsLeft))));
  });
  connect(Sequencer, &TPlaySequencer::RowChosen, this,
          [this](int recNo) { sgPlayList->setCurrentIndex(ds->index(recNo - 1, 0)); });
  connect(views_, &TPlayerViews::ExpandedChanged, this, [this](TdExpandedVideo *window) {
    dExpandedVideo = window;
    if (window) {
      AddPlaybackKeys(*window);
      pParty->ShowInCorner(*window);
    }
    ShowNowPlaying(); // the video moved: the line is told again
  });

  // The player controls.
  // Toggled, not clicked: assistive technology toggles a checkable button
  // without a click. The state set from elsewhere toggles them too, and then
  // already holds.
  connect(btnPause, &QToolButton::toggled, this, [this](bool paused) {
    if (paused != Paused()) RunGuarded(this, [this] { PlayPause(); });
  });
  connect(btnMute, &QToolButton::toggled, this, [this](bool on) { SetMuted(on); });
  connect(tbVolume, &QSlider::valueChanged, this, [this](int percent) { SetVolume(percent); });
  connect(cbEvenLoudness, &QCheckBox::toggled, this, [this](bool on) { SetEvenLoudness(on); });
  connect(tbPosition, &QSlider::valueChanged, this, [this](int seconds) { SetPosition(seconds); });
  connect(tPosition_, &QTimer::timeout, this, &TPlayPage::ShowPosition);

  connect(cbPlayLists, &QComboBox::currentTextChanged, this,
          Guarded(this, &TPlayPage::cbPlayListsChange));
  connect(edSearch, &QLineEdit::textChanged, this, Guarded(this, &TPlayPage::edSearchChange));
  connect(aDeleteVideo, &QAction::triggered, this, Guarded(this, &TPlayPage::aDeleteVideoExecute));
  connect(aDeletePlayList, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aDeletePlayListExecute));
  connect(aRenamePlayList, &QAction::triggered, this,
          Guarded(this, &TPlayPage::aRenamePlayListExecute));
  connect(aMoveUp, &QAction::triggered, this, Guarded(this, &TPlayPage::aMoveUpExecute));
  connect(aMoveDown, &QAction::triggered, this, Guarded(this, &TPlayPage::aMoveDownExecute));
  connect(aUndo, &QAction::triggered, this, Guarded(this, &TPlayPage::aUndoExecute));
  connect(tMessage, &QTimer::timeout, pMessage, &QWidget::hide);
  connect(cbPlayMode, &QComboBox::currentTextChanged, this,
          Guarded(this, &TPlayPage::cbPlayModeChange));
  // A dropped row moves once the drop has ended, so that the grid is not
  // refilled under the drag.
  connect(
      ds, &TDataTableModel::RowDropped, this,
      [this](int recNo, int to) { RunGuarded(this, [&] { MoveVideo(recNo, to); }); },
      Qt::QueuedConnection);
  connect(pPlayListFiles, &TPlayListFiles::PlayListsChanged, this, &TPlayPage::PlayListsChanged);
  connect(pPlayListFiles, &TPlayListFiles::PlayListSaved, this, &TPlayPage::PlayListSaved);
  connect(pPlayListFiles, &TPlayListFiles::Told, this, &TPlayPage::ShowNote);
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
  playback_->CheckActions();
  aDeletePlayListUpdate();
  aRenamePlayListUpdate();
  aUndoUpdate();
  aMoveUpdate();
  pPlayListFiles->RunEnableRules();
  aControlsPrevUpdate();
  aControlsPlayUpdate();
  aControlsStopUpdate();
  aControlsNextUpdate();
}

// A chosen playlist can be deleted even when its file could not be opened.
void TPlayPage::aDeletePlayListUpdate() {
  aDeletePlayList->setEnabled(ChosenPlayListListed());
  aDeleteVideo->setEnabled(cdsPlayList->Active() && cdsPlayList->RecNo() > 0);
}

// As Delete: a playlist whose file could not be opened can still be renamed.
void TPlayPage::aRenamePlayListUpdate() { aRenamePlayList->setEnabled(ChosenPlayListListed()); }

void TPlayPage::aUndoUpdate() { aUndo->setEnabled(!undo_.empty()); }

void TPlayPage::aMoveUpdate() {
  const int row = cdsPlayList->Active() ? cdsPlayList->RecNo() : 0;
  aMoveUp->setEnabled(row > 1);
  aMoveDown->setEnabled(row > 0 && row < cdsPlayList->RecordCount());
}

void TPlayPage::aControlsPrevUpdate() {
  const bool enabled = playback_->Actions().Previous;
  aControlsPrev->setEnabled(enabled);
  EnableControlImage(*iControlPrev, enabled);
}

void TPlayPage::aControlsPlayUpdate() {
  const bool enabled = playback_->Actions().Play;
  aControlsPlay->setEnabled(enabled);
  EnableControlImage(*iControlPlay, enabled);
}

void TPlayPage::aControlsStopUpdate() {
  const bool enabled = playback_->Actions().Stop;
  aControlsStop->setEnabled(enabled);
  EnableControlImage(*iControlStop, enabled);
}

void TPlayPage::aControlsNextUpdate() {
  const bool enabled = playback_->Actions().Next;
  aControlsNext->setEnabled(enabled);
  EnableControlImage(*iControlNext, enabled);
}

// ---------------------------------------------------------- playlist pane

void TPlayPage::FillPlayLists(const QString &remembered) {
  FillPlayListCombo(cbPlayLists, store_, remembered);
  // With no playlist yet, the video area says how to begin.
  const bool none = cbPlayLists->count() == 0;
  lbFirstSteps->setVisible(none);
  wbPlayer->setVisible(!none);
  if (cbPlayLists->currentIndex() >= 0) return; // chosen, and opened by the change handler
  // The choice and the grid always agree: the open playlist stays chosen while
  // it is listed, under the name its file now has when another program renamed
  // it, and one that is no longer listed is closed.
  if (cdsPlayList->Active() && !openName_.isEmpty())
    openName_ = QString::fromStdString(store_.PlayListNameOf(cdsPlayList->FileName()));
  const int open =
      openName_.isEmpty()
          ? -1
          : cbPlayLists->findText(openName_, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (open >= 0 && cdsPlayList->Active()) {
    const QSignalBlocker quiet(cbPlayLists);
    cbPlayLists->setCurrentIndex(open);
  } else if (cdsPlayList->Active()) {
    playback_->Stop();
    cdsPlayList->Close();
    openName_.clear();
  }
}

void TPlayPage::PlayListSaved(const std::string &fileName) {
  if (cdsPlayList->Active() && cdsPlayList->FileName() == fileName) {
    PlayListChangedElsewhere(fileName);
  } else if (cbPlayLists->currentIndex() < 0) {
    // Nothing on show (a first playlist was just made): the page shows it.
    const QString name = QString::fromStdString(store_.PlayListNameOf(fileName));
    if (!name.isEmpty())
      cbPlayLists->setCurrentIndex(
          cbPlayLists->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
  }
}

void TPlayPage::PlayListChangedElsewhere(const std::string &fileName) {
  if (!cdsPlayList->Active() || cdsPlayList->FileName() != fileName || openName_.isEmpty()) return;
  const int recNo = cdsPlayList->RecNo();
  const int rowNumber = cdsPlayList->RowNumber(recNo);
  const std::string url = cdsPlayList->DisplayText(recNo, VideoColumn::Url);
  RunGuarded(this, [&] {
    if (!store_.OpenPlayList(*cdsPlayList, openName_.toStdString())) return;
    const int again = FindPlayListRow(*cdsPlayList, rowNumber, url);
    if (again > 0) {
      cdsPlayList->SetRecNo(again);
      sgPlayList->setCurrentIndex(ds->index(again - 1, 0));
    }
  });
}

void TPlayPage::ChangeOpenPlayList(const std::function<void(TDataTable &)> &change) {
  store_.ChangePlayList(*cdsPlayList, openName_.toStdString(), change);
  if (cdsPlayList->RecNo() > 0) sgPlayList->setCurrentIndex(ds->index(cdsPlayList->RecNo() - 1, 0));
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
  if (!cdsPlayList->Active() || cdsPlayList->RecNo() < 1) return;
  TUndo undo;
  undo.Title = cdsPlayList->FieldByName(VideoColumn::Title).AsString();
  undo.PlayList = openName_.toStdString();
  undo.FileName = cdsPlayList->FileName();
  undo.RowNumber = cdsPlayList->RowNumber(cdsPlayList->RecNo());
  const std::string url = cdsPlayList->FieldByName(VideoColumn::Url).AsString();
  ChangeOpenPlayList([&](TDataTable &playList) {
    const int recNo = FindPlayListRow(playList, undo.RowNumber, url);
    if (recNo == 0)
      throw std::runtime_error("\"" + undo.Title + "\" is no longer in \"" + undo.PlayList + "\".");
    undo.RowNumber = playList.RowNumber(recNo);
    playList.SetRecNo(recNo);
    playList.Delete();
  });
  undo_.push_back(undo);
  ShowMessage("Deleted \"" + undo.Title + "\" from \"" + undo.PlayList + "\".");
}

// A choice, not an empty box: an empty text never deletes an old playlist of
// an empty name.
bool TPlayPage::ChosenPlayListListed() const {
  return cbPlayLists->currentIndex() >= 0 &&
         store_.HasPlayList(cbPlayLists->currentText().toStdString());
}

void TPlayPage::aDeletePlayListExecute() {
  if (!ChosenPlayListListed()) return;
  playback_->Stop(); // the playlist that plays goes: playback ends quietly
  cdsPlayList->Close();
  openName_.clear();
  TUndo undo;
  undo.Deleted = store_.DeletePlayList(cbPlayLists->currentText().toStdString());
  cbPlayLists->setCurrentIndex(-1);
  emit PlayListsChanged(false);
  undo_.push_back(undo);
  ShowMessage("Deleted the playlist \"" + undo.Deleted->Name + "\".");
}

void TPlayPage::aRenamePlayListExecute() {
  if (!ChosenPlayListListed()) return;
  QInputDialog dialog(this);
  dialog.setObjectName("dRenamePlayList");
  dialog.setWindowTitle("Rename PlayList");
  dialog.setLabelText("New name for \"" + NoMnemonic(cbPlayLists->currentText()) + "\":");
  dialog.setTextValue(cbPlayLists->currentText());
  // Room for the caption and a long name (the dialog sizes itself to its field).
  if (auto *field = dialog.findChild<QLineEdit *>()) field->setMinimumWidth(320);
  // A name the store refuses is said, and the dialog comes back with it.
  while (dialog.exec() == QDialog::Accepted) {
    try {
      RenamePlayList(dialog.textValue());
      return;
    } catch (const std::exception &error) {
      ShowError(this, error.what());
    }
  }
}

void TPlayPage::RenamePlayList(const QString &newName) {
  if (!ChosenPlayListListed()) return;
  const QString old = cbPlayLists->currentText();
  const QString kept =
      QString::fromStdString(store_.RenamePlayList(old.toStdString(), newName.toStdString()));
  if (kept == old) return;
  // The open playlist is the same file under its new name: it stays open and chosen.
  if (openName_ == old) openName_ = kept;
  for (TUndo &undo : undo_)
    if (undo.PlayList == old.toStdString()) undo.PlayList = kept.toStdString();
  emit PlayListRenamed(old, kept); // the open playlist stays chosen
  ShowMessage("Renamed \"" + old.toStdString() + "\" to \"" + kept.toStdString() + "\".");
}

void TPlayPage::aMoveUpExecute() { MoveVideo(cdsPlayList->RecNo(), cdsPlayList->RecNo() - 1); }

void TPlayPage::aMoveDownExecute() { MoveVideo(cdsPlayList->RecNo(), cdsPlayList->RecNo() + 1); }

void TPlayPage::MoveVideo(int recNo, int to) {
  if (!cdsPlayList->Active()) return;
  const int rows = cdsPlayList->RecordCount();
  if (recNo < 1 || recNo > rows || to < 1 || to > rows || recNo == to) return;
  const int rowNumber = cdsPlayList->RowNumber(recNo);
  const std::string url = cdsPlayList->DisplayText(recNo, VideoColumn::Url);
  ChangeOpenPlayList([&](TDataTable &playList) {
    const int from = FindPlayListRow(playList, rowNumber, url);
    if (from > 0 && to <= playList.RecordCount() && from != to) playList.MoveRow(from, to);
  });
}

void TPlayPage::aUndoExecute() {
  if (undo_.empty()) return;
  // Taken off first: a deletion that cannot be taken back any more (its
  // playlist deleted, its name taken) does not stand in the way of the ones
  // before it.
  const TUndo undo = undo_.back();
  undo_.pop_back();
  if (undo.Deleted) {
    store_.RestorePlayList(*undo.Deleted);
    const QString name = QString::fromStdString(undo.Deleted->Name);
    emit PlayListsChanged(false);
    cbPlayLists->setCurrentIndex(
        cbPlayLists->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
    ShowMessage("The playlist \"" + undo.Deleted->Name + "\" is back.");
    return;
  }
  // The playlist's file may have been changed elsewhere since.
  const std::string notBack =
      "\"" + undo.Title + "\" could not be brought back into \"" + undo.PlayList + "\".";
  const auto undelete = [&](TDataTable &playList) {
    if (playList.FileName() != undo.FileName || !playList.Undelete(undo.RowNumber))
      throw std::runtime_error(notBack);
  };
  if (cdsPlayList->Active() && cdsPlayList->FileName() == undo.FileName) {
    ChangeOpenPlayList(undelete);
  } else {
    TDataTable playList;
    store_.ChangePlayList(playList, undo.PlayList, undelete);
  }
  ShowMessage("\"" + undo.Title + "\" is back in \"" + undo.PlayList + "\".");
}

void TPlayPage::ShowNote(const std::string &message) {
  ShowMessage(message);
  btnUndo->hide(); // Undo is for deletions
}

void TPlayPage::ShowMessage(const std::string &message) {
  const QString text = QString::fromStdString(message);
  lbMessage->setText(text);
  lbMessage->setAccessibleName(text);
  btnUndo->setVisible(!undo_.empty());
  aUndo->setEnabled(!undo_.empty());
  pMessage->show();
  tMessage->start();
}

void TPlayPage::cbPlayModeChange() {
  playback_->SetPlayMode(PlayModeFromName(cbPlayMode->currentText().toStdString()));
}

// ---------------------------------------------------------------- playback

void TPlayPage::aControlsNextExecute() { playback_->Next(); }

void TPlayPage::aControlsPlayExecute() { playback_->Play(); }

void TPlayPage::aControlsPrevExecute() { playback_->Previous(); }

void TPlayPage::aControlsStopExecute() { playback_->Stop(); }

void TPlayPage::tShuffleTimer() { playback_->Tick(); }

void TPlayPage::sgPlayListDblClickCell(int row, int column) {
  if (row < 1 || !cdsPlayList->Active()) return;
  if (ds->data(ds->index(row - 1, column)).toString().isEmpty()) return;
  playback_->PlayRow(row);
}

void TPlayPage::lbExpandClick() { views_->Expand(); }

// F, F11 and a double click on the expanded window; from the page they open
// that window first.
void TPlayPage::ToggleFullScreen() { views_->ToggleFullScreen(); }

void TPlayPage::StopPlayer() {
  playback_->Stop(); // the players are blanked: the videos unload and go silent
}

// ------------------------------------------------------- what the page shows

void TPlayPage::ShowNowPlaying() {
  const QString line = QString::fromStdString(playback_->NowPlayingLine());
  lbNowPlayingTitle->setText(line);
  lbNowPlayingTitle->setAccessibleName(line); // a screen reader hears which video plays
}

void TPlayPage::ShowPosition() {
  const bool running = playback_->Running();
  const double duration = running ? playback_->Duration() : 0;
  const double position = running ? std::min(playback_->Position(), duration) : 0;
  if (!tbPosition->isSliderDown()) {
    const QSignalBlocker quiet(tbPosition);
    tbPosition->setRange(0, static_cast<int>(duration));
    tbPosition->setValue(static_cast<int>(position));
  }
  tbPosition->setEnabled(duration > 0);
  btnPause->setEnabled(playback_->Actions().Pause);
  lbElapsed->setText(Clock(position));
  lbRemaining->setText("-" + Clock(duration - position));
}

void TPlayPage::ShowPausedState() {
  const bool paused = playback_->Paused();
  const QSignalBlocker quiet(btnPause);
  btnPause->setChecked(paused);
  btnPause->setText(paused ? "Resume" : "Pause");
}

void TPlayPage::ShowVolume() {
  const QSignalBlocker quietVolume(tbVolume), quietMute(btnMute);
  tbVolume->setValue(playback_->Volume());
  btnMute->setChecked(playback_->Muted());
  btnMute->setText(playback_->Muted() ? "Muted" : "Mute"); // the state, not only a pressed look
}

// The playback object's, under the page's names.
void TPlayPage::PlayPause() { playback_->PlayPause(); }
bool TPlayPage::Playing() const { return playback_->Playing(); }
bool TPlayPage::Paused() const { return playback_->Paused(); }
double TPlayPage::Position() const { return playback_->Position(); }
double TPlayPage::Duration() const { return playback_->Duration(); }
void TPlayPage::SeekBy(double seconds) { playback_->SeekBy(seconds); }
void TPlayPage::SetPosition(double seconds) { playback_->SetPosition(seconds); }
int TPlayPage::Volume() const { return playback_->Volume(); }
void TPlayPage::SetVolume(int percent) { playback_->SetVolume(percent); }
bool TPlayPage::Muted() const { return playback_->Muted(); }
void TPlayPage::SetMuted(bool muted) { playback_->SetMuted(muted); }
bool TPlayPage::EvenLoudness() const { return playback_->EvenLoudness(); }
void TPlayPage::SetEvenLoudness(bool on) {
  playback_->SetEvenLoudness(on);
  const QSignalBlocker quiet(cbEvenLoudness);
  cbEvenLoudness->setChecked(on);
}

// ------------------------------------------------------------------- keys

namespace {

// Keys a focused control needs for itself win over the playback keys: a text
// field keeps every key it types or moves with (Qt already gives a line edit
// the keys it uses), the playlist grid Up and Down; Enter on the grid plays its
// row and hands the keys to the video.
class TGridKeys : public QObject {
public:
  TGridKeys(QObject *grid, std::function<void()> enter) : QObject(grid), enter_(std::move(enter)) {}

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    const bool override = event->type() == QEvent::ShortcutOverride;
    if (!override && event->type() != QEvent::KeyPress) return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
      // Ctrl+Up and Ctrl+Down are the shortcuts that move the row.
      if (override && !(key->modifiers() & Qt::ControlModifier)) event->accept();
      return false;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (override) {
        event->accept();
        return false;
      }
      enter_();
      return true;
    default: return QObject::eventFilter(watched, event);
    }
  }

private:
  std::function<void()> enter_;
};

} // namespace

// The keys are the window's while the page shows (or the expanded window's),
// wherever the focus is: on the tabs, the banner or a button as well.
void TPlayPage::AddPlaybackKeys(QWidget &target) {
  auto add = [&](std::initializer_list<QKeySequence> keys, auto handler) {
    for (const QKeySequence &key : keys) {
      auto *shortcut = new QShortcut(key, &target);
      shortcut->setContext(Qt::WindowShortcut);
      connect(shortcut, &QShortcut::activated, this,
              [this, handler] { RunGuarded(this, [&] { handler(); }); });
    }
  };
  add({Qt::Key_Space, Qt::Key_MediaTogglePlayPause, Qt::Key_MediaPlay, Qt::Key_MediaPause},
      [this] { PlayPause(); });
  add({Qt::Key_Left}, [this] { SeekBy(-kSeekStep); });
  add({Qt::Key_Right}, [this] { SeekBy(kSeekStep); });
  add({Qt::Key_Up}, [this] { SetVolume(Volume() + kVolumeStep); });
  add({Qt::Key_Down}, [this] { SetVolume(Volume() - kVolumeStep); });
  add({Qt::Key_M}, [this] { SetMuted(!Muted()); });
  add({Qt::Key_N, Qt::Key_MediaNext}, [this] { aControlsNextExecute(); });
  add({Qt::Key_P, Qt::Key_MediaPrevious}, [this] { aControlsPrevExecute(); });
  add({Qt::Key_MediaStop}, [this] { aControlsStopExecute(); });
  add({Qt::Key_F, Qt::Key_F11}, [this] { ToggleFullScreen(); });
  add({Qt::Key_Escape}, [this] {
    if (dExpandedVideo && dExpandedVideo->isFullScreen()) ToggleFullScreen();
  });
  if (&target == this) {
    sgPlayList->installEventFilter(new TGridKeys(sgPlayList, [this] {
      RunGuarded(this, [this] {
        const QModelIndex current = sgPlayList->currentIndex();
        if (!current.isValid()) return;
        sgPlayListDblClickCell(current.row() + 1, 0);
        pMainVideoArea->setFocus(Qt::OtherFocusReason); // the arrows are the player's again
      });
    }));
  }
}

} // namespace sonabox
