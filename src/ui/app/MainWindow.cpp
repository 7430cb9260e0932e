#include "ui/app/MainWindow.h"

#include "ui/widgets/ImageButtons.h"
#include "core/settings/Settings.h"
#include "ui/widgets/ShareGridModel.h"
#include "ui/widgets/ShellWidgets.h"
#include "core/common/Random.h"
#include "ui/widgets/HtmlView.h"
#include "core/playback/VideoDetails.h"
#include "core/playlists/DataTable.h"
#include "ui/widgets/DataTableModel.h"
#include "core/playlists/PlayListManager.h"
#include "ui/widgets/WebImage.h"
#include "core/sharing/Share.h"
#include "ui/share/ShareVideosDialog.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMovie>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace sonabox {

TfMain *fMain = nullptr;
TSettings *Settings = nullptr;

namespace {

const char *const kLogHeader = "*** Sonabox log ***";
const char *const kTitle = "Sonabox 1.0.0";

// The jukebox colours: night blue around the pages, amber for what plays.
const QColor kNight(22, 24, 40);
const QColor kNightPanel(32, 34, 58);
const QColor kPage(243, 242, 248);
const QColor kResults(252, 253, 254);
const QColor kAmberText(255, 205, 130);

void Paint(QWidget *w, const QColor &background, const QColor &text = {}) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  if (text.isValid()) {
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
  }
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

QWidget *Panel(const char *name, QWidget *parent) {
  auto *w = new QWidget(parent);
  w->setObjectName(name);
  return w;
}

QLabel *Label(const char *name, const char *text, QWidget *parent, bool bold = false) {
  auto *l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

QLineEdit *Edit(const char *name, QWidget *parent) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(name);
  return e;
}

QComboBox *Combo(const char *name, QWidget *parent) {
  auto *c = new QComboBox(parent);
  c->setObjectName(name);
  return c;
}

QToolButton *LinkedButton(const char *name, QAction *action, QWidget *parent) {
  auto *b = new QToolButton(parent);
  b->setObjectName(name);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setDefaultAction(action);
  b->setMinimumHeight(26);
  return b;
}

// A button that keeps its action's enable rule alive in the original layout;
// the rules run by themselves here, so it stays hidden and out of the way of
// the keyboard and of screen readers.
QToolButton *CarrierButton(const char *name, QAction *action, QWidget *parent) {
  auto *b = LinkedButton(name, action, parent);
  b->hide();
  return b;
}

QAction *Action(const char *name, const char *caption, QActionGroup *list, int tag = 0) {
  auto *a = new QAction(QString::fromUtf8(caption), list);
  a->setObjectName(name);
  a->setData(tag);
  return a;
}

QActionGroup *ActionList(const char *name, QObject *parent) {
  auto *l = new QActionGroup(parent);
  l->setObjectName(name);
  l->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
  return l;
}

QTableView *Grid(const char *name, QWidget *parent) {
  auto *g = new QTableView(parent);
  g->setObjectName(name);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  g->verticalHeader()->hide();
  g->verticalHeader()->setDefaultSectionSize(22);
  g->setShowGrid(false);
  g->setAlternatingRowColors(true);
  g->setWordWrap(false);
  return g;
}

} // namespace

TfMain::TfMain() {
  fMain = this;
  InitArtwork();
  setObjectName("fMain");
  CreateActions();
  CreateWindowFrame();
  CreatePlayPage();
  CreateFindPage();
  CreateSharePage();
  ConnectEvents();
  ConnectSearch();
  ConnectPlayListPane();
  ConnectPlayback();
  ConnectShareWizard();

  resize(769, 556);
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  FormCreate();
}

TfMain::~TfMain() {
  FormDestroy();
  if (fMain == this) fMain = nullptr;
}

// ------------------------------------------------------------------ building

void TfMain::CreateActions() {
  alFind = ActionList("alFind", this);
  aSearch = Action("aSearch", "Search", alFind);
  aSaveVideos = Action("aSaveVideos", "Save Videos", alFind);
  aAddMore = Action("aAddMore", "More", alFind);

  alShare = ActionList("alShare", this);
  aSelectAll = Action("aSelectAll", "Select All", alShare, 1);
  aSelectNone = Action("aSelectNone", "Select None", alShare, 0);
  aSharePrevious = Action("aSharePrevious", "Previous", alShare);
  aShareStep1 = Action("aShareStep1", "Next", alShare, 1);
  aShareStep2 = Action("aShareStep2", "Next", alShare, 2);
  aShareStep3 = Action("aShareStep3", "Next", alShare, 3);
  aShareStep4 = Action("aShareStep4", "Next", alShare, 4);
  aShareStep5 = Action("aShareStep5", "Restart", alShare, 5);

  alPlay = ActionList("alPlay", this);
  aDeletePlayList = Action("aDeletePlayList", "Delete PlayList", alPlay);
  aDeleteVideo = Action("aDeleteVideo", "Delete Video", alPlay);

  alVideoControls = ActionList("alVideoControls", this);
  aControlsPrev = Action("aControlsPrev", "Previous", alVideoControls);
  aControlsPlay = Action("aControlsPlay", "Play", alVideoControls);
  aControlsStop = Action("aControlsStop", "Stop", alVideoControls);
  aControlsNext = Action("aControlsNext", "Next", alVideoControls);
  aShowLog = Action("aShowLog", "Show Log", alVideoControls);
  aShowLog->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));
  aShowLog->setShortcutContext(Qt::WindowShortcut);
  addAction(aShowLog); // linked to no control: the window carries the shortcut

  tShuffle = new QTimer(this);
  tShuffle->setObjectName("tShuffle");
  tShuffle->setInterval(1000);

  cdsPlayList = std::make_unique<TDataTable>("cdsPlayList");
  cdsPlayList->SetFilterCaseInsensitive(true);
  cdsShare = std::make_unique<TDataTable>("cdsShare");
  cdsShare->SetFilterCaseInsensitive(true);
}

void TfMain::CreateWindowFrame() {
  auto *client = Panel("pClient", this);
  Paint(client, kNight);
  setCentralWidget(client);
  auto *column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Image1 = Label("Image1", "", client);
  Image1->setPixmap(QPixmap(":/images/BANNER.png"));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setFixedHeight(150);
  Image1->setMinimumWidth(1);
  Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  Image1->setAccessibleName("Sonabox");
  imgTopText = Label("imgTopText", "", Image1);
  imgTopText->setPixmap(QPixmap(":/images/TOPTEXT.png"));
  imgTopText->setFixedSize(228, 32);
  imgTopText->setAccessibleName("Sonabox");
  auto *bannerLayout = new QHBoxLayout(Image1);
  bannerLayout->setContentsMargins(0, 10, 12, 0);
  bannerLayout->addWidget(imgTopText, 0, Qt::AlignRight | Qt::AlignTop);
  column->addWidget(Image1);

  pMain = new TPageControl({100, 100}, client);
  pMain->setObjectName("pMain");
  pMain->setTabPosition(QTabWidget::West);
  pMain->setDocumentMode(true);
  pMain->setAccessibleName("Pages");
  pPlay = Panel("pPlay", pMain);
  pFind = Panel("pFind", pMain);
  pShare = Panel("pShare", pMain);
  pMain->addTab(pPlay, QIcon(":/images/TAB_PLAY.png"), "Play");
  pMain->addTab(pFind, QIcon(":/images/TAB_FIND.png"), "Find");
  pMain->addTab(pShare, QIcon(":/images/TAB_SHARE.png"), "Share");
  for (QWidget *page : {pPlay, pFind, pShare}) Paint(page, kPage);
  column->addWidget(pMain, 1);

  pBottom = Panel("pBottom", client);
  pBottom->setFixedHeight(17);
  column->addWidget(pBottom);

  mLog = new QPlainTextEdit(client);
  mLog->setObjectName("mLog");
  mLog->setAccessibleName("Log");
  mLog->setReadOnly(true);
  mLog->setFixedHeight(47);
  mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mLog->hide();
  column->addWidget(mLog);
}

void TfMain::CreatePlayPage() {
  auto *page = new QHBoxLayout(pPlay);
  page->setContentsMargins(0, 0, 0, 0);
  asMain = new QSplitter(Qt::Horizontal, pPlay);
  asMain->setObjectName("asMain");
  asMain->setChildrenCollapsible(false);
  page->addWidget(asMain);

  // The video area: title above, player, controls below.
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

  // The playlist pane.
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

  asMain->addWidget(pMainVideoArea);
  asMain->addWidget(pRight);
  asMain->setStretchFactor(0, 1);
  asMain->setStretchFactor(1, 0);
  asMain->setSizes({769 - 100 - 258, 258});
}

void TfMain::CreateFindPage() {
  auto *page = new QVBoxLayout(pFind);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);

  // The search bar.
  pFindTop = Panel("pFindTop", pFind);
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
  cbCategory->addItems({"Any", "Animals", "Autos", "Comedy", "Education", "Film", "Games", "Howto",
                        "Music", "News", "Nonprofit", "People", "Shortmov", "Sports", "Tech",
                        "Travel", "Videoblog"});
  lbCategory->setBuddy(cbCategory);
  iFindSearch = new TImageButton(11, {32, 32}, "Search", pFindTop);
  iFindSearch->setObjectName("iFindSearch");
  btnStartSearch = CarrierButton("btnStartSearch", aSearch, pFindTop);
  iFindAdd = Label("iFindAdd", "", pFindTop);
  iFindAdd->setPixmap(QPixmap(":/images/ADD.png"));
  iFindAdd->hide();
  iFindRemove = Label("iFindRemove", "", pFindTop);
  iFindRemove->setPixmap(QPixmap(":/images/REMOVE.png"));
  iFindRemove->hide();
  bar->addWidget(lbSearchYouTube, 0, 0);
  bar->addWidget(lbCategory, 0, 1);
  bar->addWidget(edTubeSearch, 1, 0);
  bar->addWidget(cbCategory, 1, 1);
  bar->addWidget(iFindSearch, 0, 2, 2, 1, Qt::AlignVCenter);
  bar->setColumnStretch(0, 1);
  page->addWidget(pFindTop);

  // The result area with the busy picture behind it.
  auto *results = Panel("pResults", pFind);
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
  sbResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sbResults->setWidgetResizable(true);
  sbResults->verticalScrollBar()->setSingleStep(20);
  auto *content = Panel("sbResultsContent", sbResults);
  Paint(content, kResults);
  sbResults->setWidget(content);
  Paint(sbResults->viewport(), kResults);
  stack->addWidget(imgProgress, 0, 0, Qt::AlignCenter);
  stack->addWidget(sbResults, 0, 0);
  sbResults->raise();
  sbResults->installEventFilter(this); // the busy picture runs only while uncovered
  page->addWidget(results, 1);

  // The save bar.
  pFindBottom = Panel("pFindBottom", pFind);
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
  page->addWidget(pFindBottom);
}

void TfMain::CreateSharePage() {
  auto *page = new QVBoxLayout(pShare);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);

  pShareTop = Panel("pShareTop", pShare);
  pShareTop->setFixedHeight(47);
  lbShareTitle =
      Label("lbShareTitle", "Share videos with your family and friends", pShareTop, true);
  auto *top = new QHBoxLayout(pShareTop);
  top->setContentsMargins(12, 0, 12, 0);
  top->addWidget(lbShareTitle);
  page->addWidget(pShareTop);

  pcShareWizard = new QTabWidget(pShare);
  pcShareWizard->setObjectName("pcShareWizard");
  pcShareWizard->setDocumentMode(true);
  tsShare1 = Panel("tsShare1", pcShareWizard);
  tsShare2 = Panel("tsShare2", pcShareWizard);
  tsShare3 = Panel("tsShare3", pcShareWizard);
  tsShare4 = Panel("tsShare4", pcShareWizard);
  tsShare5 = Panel("tsShare5", pcShareWizard);
  int step = 1;
  for (QWidget *w : {tsShare1, tsShare2, tsShare3, tsShare4, tsShare5}) {
    pcShareWizard->addTab(w, QStringLiteral("Step %1").arg(step++));
    Paint(w, kPage);
  }
  page->addWidget(pcShareWizard, 1);

  // Step 1: a playlist to send, or a share code to receive.
  {
    auto *form = new QVBoxLayout(tsShare1);
    form->setContentsMargins(16, 8, 16, 8);
    Label2 = Label("Label2", "Select a play list to send song from", tsShare1);
    cbSharePlayList = Combo("cbSharePlayList", tsShare1);
    cbSharePlayList->setFixedWidth(263);
    Label2->setBuddy(cbSharePlayList);
    Label7 = Label("Label7", "or", tsShare1, true);
    Label9 = Label("Label9", "Insert a share code", tsShare1);
    edShareCode = Edit("edShareCode", tsShare1);
    edShareCode->setFixedWidth(263);
    Label9->setBuddy(edShareCode);
    form->addWidget(Label2);
    form->addWidget(cbSharePlayList);
    form->addSpacing(10);
    form->addWidget(Label7);
    form->addSpacing(10);
    form->addWidget(Label9);
    form->addWidget(edShareCode);
    form->addStretch();
  }
  // Step 2: the title and the videos to send.
  {
    auto *grid = new QGridLayout(tsShare2);
    grid->setContentsMargins(12, 6, 12, 6);
    grid->setVerticalSpacing(3);
    lbSendShareTitle = Label("lbSendShareTitle", "Title to give these shared videos", tsShare2);
    cbShareTitle = Combo("cbShareTitle", tsShare2);
    cbShareTitle->setEditable(true);
    lbSendShareTitle->setBuddy(cbShareTitle);
    Label3 = Label("Label3", "Tick the videos to send", tsShare2);
    sgShareVideos = Grid("sgShareVideos", tsShare2);
    Label3->setBuddy(sgShareVideos);
    dsShare = new TDataTableModel(*cdsShare, {{"Title", "Title"}, {"Duration", "Duration"}}, this);
    dsShare->setObjectName("dsShare");
    sgShareVideosModel = new TShareGridModel(*dsShare, this);
    sgShareVideos->setModel(sgShareVideosModel);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Fixed);
    sgShareVideos->setColumnWidth(0, 40);
    sgShareVideos->setColumnWidth(2, 64);
    wbShareImage = new TWebImage(tsShare2);
    wbShareImage->setObjectName("wbShareImage");
    wbShareImage->setFixedSize(148, 105);
    wbShareImage->setAccessibleName("Video picture");
    btnSelectAll = LinkedButton("btnSelectAll", aSelectAll, tsShare2);
    btnSelectNone = LinkedButton("btnSelectNone", aSelectNone, tsShare2);
    lbShareCount = Label("lbShareCount", "0 videos marked to share", tsShare2);
    lbShareCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnSelectAll);
    buttons->addWidget(btnSelectNone);
    buttons->addStretch();
    buttons->addWidget(lbShareCount);
    grid->addWidget(lbSendShareTitle, 0, 0);
    grid->addWidget(cbShareTitle, 1, 0);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(sgShareVideos, 3, 0);
    grid->addWidget(wbShareImage, 3, 1, Qt::AlignTop);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
  }
  // Step 3: who sends to whom.
  {
    auto *form = new QGridLayout(tsShare3);
    form->setContentsMargins(16, 10, 16, 10);
    form->setVerticalSpacing(6);
    struct Row {
      QLabel *&label;
      QLineEdit *&edit;
      const char *labelName, *caption, *editName;
    };
    const Row rows[] = {
        {lbYourName, edYourName, "lbYourName", "Your name:", "edYourName"},
        {lbYourEmail, edYourEmail, "lbYourEmail", "Your e-mail:", "edYourEmail"},
        {lbRecipientName, edRecipientName, "lbRecipientName", "Recipient name:", "edRecipientName"},
        {Label5, edRecipientEmail, "Label5", "Recipient e-mail:", "edRecipientEmail"},
        {Label8, edEmailNote, "Label8", "Small note:", "edEmailNote"},
    };
    int r = 0;
    for (const Row &row : rows) {
      row.label = Label(row.labelName, row.caption, tsShare3);
      row.edit = Edit(row.editName, tsShare3);
      row.edit->setMaximumWidth(320);
      row.label->setBuddy(row.edit);
      form->addWidget(row.label, r, 0);
      form->addWidget(row.edit, r, 1);
      ++r;
    }
    edEmailNote->setMaxLength(150);
    form->setRowStretch(r, 1);
    form->setColumnStretch(2, 1);
  }
  // Step 4: sending.
  {
    auto *form = new QVBoxLayout(tsShare4);
    form->setContentsMargins(16, 16, 16, 16);
    Label6 = Label("Label6", "Please wait and we send off these items.", tsShare4);
    acpSharing = new TBusyIndicator(100, tsShare4);
    acpSharing->setObjectName("acpSharing");
    acpSharing->setAccessibleName("Sending");
    form->addWidget(Label6);
    form->addWidget(acpSharing, 0, Qt::AlignLeft);
    form->addStretch();
  }
  // Step 5: the share code.
  {
    auto *form = new QVBoxLayout(tsShare5);
    form->setContentsMargins(16, 10, 16, 10);
    lbShareConfirm =
        Label("lbShareConfirm", "Congrats, the songs have been sent off to ", tsShare5, true);
    lbMoreShare =
        Label("lbMoreShare",
              "Want to share these with someone else? It's easy! Just give them the share "
              "code below to use:",
              tsShare5);
    lbMoreShare->setWordWrap(true);
    Label10 = Label("Label10", "Share code:", tsShare5);
    edNewShareCode = Edit("edNewShareCode", tsShare5);
    edNewShareCode->setReadOnly(true);
    edNewShareCode->setFixedWidth(263);
    Label10->setBuddy(edNewShareCode);
    form->addWidget(lbShareConfirm);
    form->addSpacing(6);
    form->addWidget(lbMoreShare);
    form->addSpacing(6);
    form->addWidget(Label10);
    form->addWidget(edNewShareCode);
    form->addStretch();
  }

  pShareBottom = Panel("pShareBottom", pShare);
  pShareBottom->setFixedHeight(38);
  auto *buttons = new QHBoxLayout(pShareBottom);
  buttons->setContentsMargins(12, 4, 12, 6);
  buttons->addStretch();
  btnSharePrevious = LinkedButton("btnSharePrevious", aSharePrevious, pShareBottom);
  btnShareNext = LinkedButton("btnShareNext", aShareStep1, pShareBottom);
  btnSharePrevious->setMinimumWidth(80);
  btnShareNext->setMinimumWidth(80);
  buttons->addWidget(btnSharePrevious);
  buttons->addWidget(btnShareNext);
  page->addWidget(pShareBottom);
}

void TfMain::ConnectEvents() {
  connect(aShowLog, &QAction::triggered, this, &TfMain::aShowLogExecute);
  for (TImageButton *b :
       {iControlPrev, iControlPlay, iControlStop, iControlNext, iFindSearch, iFindSave}) {
    connect(b, &TImageButton::MouseDown, this, &TfMain::iControlMouseDown);
    connect(b, &TImageButton::MouseUp, this, &TfMain::iControlMouseUp);
    connect(b, &TImageButton::MouseEnter, this, &TfMain::iControlMouseEnter);
    connect(b, &TImageButton::MouseLeave, this, &TfMain::iControlMouseLeave);
  }
  // The enable rules run whenever the event loop is about to wait for more
  // events. They only change state when their inputs have changed, so this
  // reaches a rest: the repaints they cause run, then the loop waits.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &TfMain::RunEnableRules);
}

// ---------------------------------------------------------------- lifecycle

void TfMain::FormCreate() {
  SeedRandom();
  mLog->clear();
  AddLogLine(kLogHeader);
  CreatePlayListStore();
  CurrentVideo = std::make_unique<TVideoDetails>();
  PreviousVideo = std::make_unique<TVideoDetails>();
  RefreshPlayListCombos(false);
  pMain->setCurrentWidget(pPlay);
  pcShareWizard->tabBar()->hide();
  pcShareWizard->setCurrentIndex(0);
  cbCategory->setCurrentIndex(cbCategory->findText("Music"));
  QGuiApplication::setApplicationDisplayName(kTitle);
  setWindowTitle(QGuiApplication::applicationDisplayName());
  wbPlayer->Navigate("about:blank");
}

void TfMain::closeEvent(QCloseEvent *event) {
  FormCloseQuery();
  event->accept();
}

void TfMain::FormCloseQuery() {
  tShuffle->stop();
  wbPlayer->Navigate("about:blank"); // unloads the video and silences it
  // Give the player about a tenth of a second to unload before the window goes.
  for (int i = 0; i < 11; ++i) {
    QThread::msleep(10);
    QCoreApplication::processEvents();
  }
}

void TfMain::FormDestroy() {
  ClearResults();
  delete Settings;
  Settings = nullptr;
  PlayListManager.reset();
  CurrentVideo.reset();
  PreviousVideo.reset();
}

void TfMain::aShowLogExecute() { mLog->setVisible(mLog->isHidden()); }

void TfMain::ShowError(const std::string &message) {
  QMessageBox::critical(this, QGuiApplication::applicationDisplayName(),
                        QString::fromStdString(message));
}

void TfMain::AddLogLine(const std::string &line) {
  const QString text = QString::fromStdString(line);
  if (mLog->document()->isEmpty()) {
    mLog->setPlainText(text);
    return;
  }
  QTextCursor cursor(mLog->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.insertText(text + QLatin1Char('\n'));
  mLog->verticalScrollBar()->setValue(0);
}

bool TfMain::eventFilter(QObject *watched, QEvent *event) {
  if (watched == sbResults) {
    if (event->type() == QEvent::Hide)
      imgProgressMovie->start();
    else if (event->type() == QEvent::Show)
      imgProgressMovie->stop();
  }
  return QMainWindow::eventFilter(watched, event);
}

// ------------------------------------------------------------ image buttons

void TfMain::SetControlImage(int tag, const std::string &suffix) {
  TImageButton *button = nullptr;
  switch (tag) {
  case 1: button = iControlPrev; break;
  case 2: button = iControlPlay; break;
  case 3: button = iControlStop; break;
  case 4: button = iControlNext; break;
  case 11: button = iFindSearch; break;
  case 12: button = iFindSave; break;
  case 31: button = dShareVideos ? dShareVideos->iFindSave : nullptr; break;
  default: break;
  }
  if (!button) return;
  button->ShowPicture(QString::fromStdString(ControlImageBaseName(tag) + suffix));
}

void TfMain::EnableControlImage(TImageButton *button, bool enabled) {
  if (button->isEnabled() == enabled) return;
  button->setEnabled(enabled);
  SetControlImage(button->Tag(), enabled ? "" : "_disabled");
}

void TfMain::iControlMouseDown() {
  if (auto *b = qobject_cast<TImageButton *>(sender())) SetControlImage(b->Tag(), "_click");
}

void TfMain::iControlMouseUp() {
  if (auto *b = qobject_cast<TImageButton *>(sender())) SetControlImage(b->Tag(), "");
}

void TfMain::iControlMouseEnter() {
  if (auto *b = qobject_cast<TImageButton *>(sender()); b && b->isEnabled())
    SetControlImage(b->Tag(), "_hover");
}

void TfMain::iControlMouseLeave() {
  if (auto *b = qobject_cast<TImageButton *>(sender()))
    SetControlImage(b->Tag(), b->isEnabled() ? "" : "_disabled");
}

// ------------------------------------------------------------- enable rules

void TfMain::RunEnableRules() {
  if (!isVisible() || !isEnabled() || QApplication::activeModalWidget()) return;
  aSearchUpdate();
  aSaveVideosUpdate();
  aDeletePlayListUpdate();
  aControlsPrevUpdate();
  aControlsPlayUpdate();
  aControlsStopUpdate();
  aControlsNextUpdate();
  aShareStep1Update();
  aSharePreviousUpdate();
  aShareStep4Update();
}

void TfMain::aSearchUpdate() {
  const bool enabled = !edTubeSearch->text().isEmpty() && !TubeSearch;
  aSearch->setEnabled(enabled);
  EnableControlImage(iFindSearch, enabled);
}

void TfMain::aSaveVideosUpdate() {
  const bool enabled = !VisualResults.empty() && (!cbAddPlayList->currentText().isEmpty() ||
                                                  !edPlayListName->text().isEmpty());
  aSaveVideos->setEnabled(enabled);
  EnableControlImage(iFindSave, enabled);
}

void TfMain::aDeletePlayListUpdate() {
  const bool enabled = cdsPlayList->Active();
  aDeletePlayList->setEnabled(enabled);
  aDeleteVideo->setEnabled(enabled);
}

void TfMain::aControlsPrevUpdate() {
  const bool enabled = !PreviousVideo->Url.empty();
  aControlsPrev->setEnabled(enabled);
  EnableControlImage(iControlPrev, enabled);
}

void TfMain::aControlsPlayUpdate() {
  const bool enabled =
      !CurrentVideo->Url.empty() || (cdsPlayList->Active() && cdsPlayList->RecordCount() > 0);
  aControlsPlay->setEnabled(enabled);
  EnableControlImage(iControlPlay, enabled);
}

void TfMain::aControlsStopUpdate() {
  const bool enabled = tShuffle->isActive();
  aControlsStop->setEnabled(enabled);
  EnableControlImage(iControlStop, enabled);
}

void TfMain::aControlsNextUpdate() {
  const bool enabled = cdsPlayList->Active() && cdsPlayList->RecordCount() > 0;
  aControlsNext->setEnabled(enabled);
  EnableControlImage(iControlNext, enabled);
}

void TfMain::aShareStep1Update() {
  aShareStep1->setEnabled(cbSharePlayList->currentIndex() >= 0 || !edShareCode->text().isEmpty());
}

void TfMain::aSharePreviousUpdate() {
  const QAction *next = btnShareNext->defaultAction();
  aSharePrevious->setEnabled(pcShareWizard->currentIndex() > 0 && next != aShareStep4 &&
                             next != aShareStep5);
}

void TfMain::aShareStep4Update() { aShareStep4->setEnabled(false); }

} // namespace sonabox
