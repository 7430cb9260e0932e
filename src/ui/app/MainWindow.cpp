#include "ui/app/MainWindow.h"

#include "core/common/Background.h"
#include "core/common/Random.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/playlists/PlayListWatcher.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"
#include "ui/app/MediaControls.h"
#include "ui/app/NowPlayingNotifier.h"
#include "ui/app/WindowMemory.h"
#include "ui/find/FindPage.h"
#include "ui/play/PlayListFiles.h"
#include "ui/play/PlayPage.h"
#include "ui/settings/SettingsDialog.h"
#include "ui/share/SharePage.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/update/SoftwareUpdateDialog.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/ShellWidgets.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <memory>
#include <stdexcept>

namespace sonabox {

TfMain *fMain = nullptr;

namespace {

const char *const kLogHeader = "*** Sonabox log ***";
const char *const kTitle = "Sonabox 1.0.0";
constexpr std::chrono::seconds kServiceDeadline{3};

} // namespace

TfMain::TfMain() {
  fMain = this;
  InitArtwork();
  setObjectName("fMain");
  aShowLog = new QAction("Show Log", this);
  aShowLog->setObjectName("aShowLog");
  aShowLog->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));
  aShowLog->setShortcutContext(Qt::WindowShortcut);
  addAction(aShowLog); // linked to no control: the window carries the shortcut
  CreatePlayListStore();
  CreateWindowFrame();
  ConnectPages();
  MediaControls = new TMediaControls(pPlay->Playback(), pPlay->PlayerViews(), *this);
  NowPlayingNotifier = new TNowPlayingNotifier(pPlay->Playback(), *this);
  FormCreate();
  RestoreWindow(*this);
  AskForTheService();
}

TfMain::~TfMain() {
  FormDestroy();
  if (fMain == this) fMain = nullptr;
}

// ------------------------------------------------------------------ building

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
  bannerLayout->addStretch(1);
  bannerLayout->addWidget(imgTopText, 0, Qt::AlignTop);
  btnMenu = new QToolButton(Image1);
  btnMenu->setObjectName("btnMenu");
  btnMenu->setText(QStringLiteral("\u2699")); // a gear
  btnMenu->setToolTip("Settings and updates");
  btnMenu->setAccessibleName("Settings and updates");
  btnMenu->setAutoRaise(true);
  btnMenu->setPopupMode(QToolButton::InstantPopup);
  QFont gear = btnMenu->font();
  gear.setPointSize(gear.pointSize() + 6);
  btnMenu->setFont(gear);
  Paint(btnMenu, kNight, kAmberText);
  auto *menu = new QMenu(btnMenu);
  aSettings = menu->addAction("&Settings...");
  aSettings->setObjectName("aSettings");
  aSettings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  addAction(aSettings); // the shortcut works with the menu closed
  aCheckForUpdates = menu->addAction("Check for &Updates");
  aCheckForUpdates->setObjectName("aCheckForUpdates");
  btnMenu->setMenu(menu);
  bannerLayout->addWidget(btnMenu, 0, Qt::AlignTop);
  column->addWidget(Image1);

  pMain = new TPageControl({100, 100}, client);
  pMain->setObjectName("pMain");
  pMain->setTabPosition(QTabWidget::West);
  pMain->setDocumentMode(true);
  pMain->setAccessibleName("Pages");
  pPlay = new TPlayPage(*PlayListManager, pMain);
  pFind = new TFindPage(*PlayListManager, pMain);
  pShare = new TSharePage(*PlayListManager, *Settings, pMain);
  pMain->addTab(pPlay, QIcon(":/images/TAB_PLAY.png"), "Play");
  pMain->addTab(pFind, QIcon(":/images/TAB_FIND.png"), "Find");
  pMain->addTab(pShare, QIcon(":/images/TAB_SHARE.png"), "Share");
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

void TfMain::CreatePlayListStore() {
  try {
    PlayListManager =
        std::make_unique<TPlayListManager>(Settings->DataPath(), Settings->PlayListPath());
  } catch (const EIndexDamaged &error) {
    // A damaged index is never replaced by an empty one, which would hide
    // every playlist: the user is told which file it is and where the
    // playlists are, and may have the index rebuilt from the playlist files.
    // Any other error (a folder that cannot be created) ends the start-up:
    // StartUp tells the user.
    const std::string index = Settings->DataPath() + "playlists.xml";
    const std::string where = "The playlists are in \"" + Settings->PlayListPath() + "\".";
    QMessageBox ask(
        QMessageBox::Critical, ProgramTitle(),
        QString::fromStdString("The playlist index \"" + index + "\" is damaged: " + error.what() +
                               "\n\n" + where +
                               " The index can be rebuilt from them; the damaged file is kept."),
        QMessageBox::Yes | QMessageBox::No, this);
    ask.setTextFormat(Qt::PlainText);
    ask.button(QMessageBox::Yes)->setText("Rebuild the Index");
    ask.button(QMessageBox::No)->setText("Quit");
    ask.setDefaultButton(QMessageBox::Yes);
    if (ask.exec() != QMessageBox::Yes)
      throw std::runtime_error("The playlist index \"" + index + "\" was left as it is. " + where);
    TRebuiltIndex rebuilt;
    try {
      rebuilt = RebuildIndex(Settings->DataPath(), Settings->PlayListPath());
    } catch (const std::exception &failure) {
      throw std::runtime_error(
          "The playlist index \"" + index + "\" could not be rebuilt: " + failure.what() +
          "\n\nNothing was changed: the damaged index is still there. " + where);
    }
    PlayListManager =
        std::make_unique<TPlayListManager>(Settings->DataPath(), Settings->PlayListPath());
    std::string done = "The playlist index has been rebuilt: " + std::to_string(rebuilt.PlayLists) +
                       (rebuilt.PlayLists == 1 ? " playlist" : " playlists");
    if (rebuilt.Recovered > 0)
      done += ", " + std::to_string(rebuilt.Recovered) +
              " of them named \"Recovered\" as the damaged index no longer gave their names";
    if (rebuilt.LeftOut > 0)
      done += "; " + std::to_string(rebuilt.LeftOut) + " damaged playlist files left out";
    done += ".\n\nThe damaged index is kept as \"" + rebuilt.KeptAs + "\".";
    QMessageBox told(QMessageBox::Information, ProgramTitle(), QString::fromStdString(done),
                     QMessageBox::Ok, this);
    told.setTextFormat(Qt::PlainText);
    told.exec();
  }
}

void TfMain::ConnectPages() {
  connect(aShowLog, &QAction::triggered, this, &TfMain::aShowLogExecute);
  connect(aSettings, &QAction::triggered, this, &TfMain::aSettingsExecute);
  connect(aCheckForUpdates, &QAction::triggered, this, [] {
    if (dSoftwareUpdate) dSoftwareUpdate->CheckNow();
  });
  connect(pPlay, &TPlayPage::LogLine, this, &TfMain::AddLogLine);
  connect(pPlay, &TPlayPage::PlayListsChanged, this, &TfMain::RefreshPlayListCombos);
  connect(pPlay, &TPlayPage::PlayListRenamed, this, &TfMain::PlayListRenamed);
  connect(pFind, &TFindPage::PlayListsChanged, this, &TfMain::RefreshPlayListCombos);
  connect(pShare, &TSharePage::PlayListsChanged, this, &TfMain::RefreshPlayListCombos);
  connect(pFind, &TFindPage::PlayListSaved, pPlay, &TPlayPage::PlayListSaved);
  connect(pShare, &TSharePage::PlayListSaved, pPlay, &TPlayPage::PlayListSaved);
  connect(pShare, &TSharePage::ShowPlayPage, this, [this] { pMain->setCurrentWidget(pPlay); });
  connect(pShare, &TSharePage::Told, pPlay, &TPlayPage::ShowNote);
  // Changes that another program (sonabox-cli) makes to the playlists show.
  auto *watcher = new TPlayListWatcher(*PlayListManager, this);
  connect(watcher, &TPlayListWatcher::IndexChanged, this, [this] { RefreshPlayListCombos(true); });
  connect(watcher, &TPlayListWatcher::PlayListChanged, pPlay, &TPlayPage::PlayListChangedElsewhere);
  // Ctrl+1, 2 and 3 show the pages; Ctrl+F goes to the search field.
  for (int page = 0; page < pMain->count(); ++page) {
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + page)), this);
    connect(shortcut, &QShortcut::activated, this, [this, page] { pMain->setCurrentIndex(page); });
    pMain->setTabToolTip(page, pMain->tabText(page) + QString(" (Ctrl+%1)").arg(page + 1));
  }
  pFind->edTubeSearch->setToolTip("Search the video feed (Ctrl+F)");
  auto *search = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
  connect(search, &QShortcut::activated, this, [this] {
    pMain->setCurrentWidget(pFind);
    pFind->edTubeSearch->setFocus(Qt::ShortcutFocusReason);
    pFind->edTubeSearch->selectAll();
  });
  // Wheel turns that no control used scroll the results while the Find page shows.
  installEventFilter(pFind);
  // The enable rules run whenever the event loop is about to wait for more
  // events. They only change state when their inputs have changed, so this
  // reaches a rest: the repaints they cause run, then the loop waits.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &TfMain::RunEnableRules);
}

void TfMain::AskForTheService() {
  // Without a service the first steps cannot be taken: the line that tells
  // them on the Play page says how to start one instead.
  const std::string host = VideoDataHost();
  auto outcome = std::make_shared<TWebOutcome>(TWebOutcome::Answered);
  RunInBackground(
      this,
      [host, outcome] {
        TWebStuff web;
        web.SetDeadline(kServiceDeadline);
        web.GetText("http://" + host + "/feeds/api/categories");
        *outcome = web.LastOutcome();
      },
      [this, host, outcome] {
        if (*outcome != TWebOutcome::Unreachable && *outcome != TWebOutcome::TimedOut) return;
        pPlay->lbFirstSteps->setText(QString::fromStdString(
            "No video service answers at " + host +
            ". Start one with \"systemctl --user enable --now sonabox-server\" (it serves your "
            "Videos folder), then find videos on the Find page, tick them and save them into a "
            "playlist"));
      });
}

// ---------------------------------------------------------------- lifecycle

void TfMain::FormCreate() {
  SeedRandom();
  mLog->clear();
  AddLogLine(kLogHeader);
  MediaControls->Register();
  RefreshPlayListCombos(false);
  pMain->setCurrentWidget(pPlay);
  SetProgramTitle(kTitle);
  setWindowTitle(ProgramTitle());
}

void TfMain::closeEvent(QCloseEvent *event) {
  RememberWindow(*this);
  FormCloseQuery();
  event->accept();
}

void TfMain::FormCloseQuery() {
  pPlay->StopPlayer();
  // Give the player about a tenth of a second to unload before the window goes.
  for (int i = 0; i < 11; ++i) {
    QThread::msleep(10);
    QCoreApplication::processEvents();
  }
}

void TfMain::FormDestroy() {
  // What watches the Play page goes first, then the pages: they work on the
  // store and the settings.
  delete NowPlayingNotifier;
  NowPlayingNotifier = nullptr;
  delete MediaControls;
  MediaControls = nullptr;
  delete pMain;
  pMain = nullptr;
  pPlay = nullptr;
  pFind = nullptr;
  pShare = nullptr;
  delete Settings;
  Settings = nullptr;
  PlayListManager.reset();
}

void TfMain::aShowLogExecute() { mLog->setVisible(mLog->isHidden()); }

void TfMain::aSettingsExecute() {
  TdSettings dialog(*Settings, this);
  if (dialog.exec() != QDialog::Accepted) return;
  pPlay->cbPlayMode->setCurrentText(dialog.cbPlayMode->currentText());
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

void TfMain::RefreshPlayListCombos(bool keep) {
  const QString remembered = keep ? pFind->cbAddPlayList->currentText() : QString();
  pFind->FillPlayLists(remembered);
  pPlay->FillPlayLists(remembered);
  pShare->FillPlayLists();
}

void TfMain::OpenPlayListFiles(const QStringList &files) {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  pMain->setCurrentWidget(pPlay);
  for (const QString &file : files) pPlay->pPlayListFiles->OpenFile(file);
}

void TfMain::PlayListRenamed(const QString &old, const QString &renamed) {
  const auto kept = [&](const QComboBox *box) {
    return box->currentText() == old ? renamed : box->currentText();
  };
  const QString find = kept(pFind->cbAddPlayList), share = kept(pShare->cbSharePlayList);
  pFind->FillPlayLists(find);
  pPlay->FillPlayLists({});
  pShare->FillPlayLists(share);
}

void TfMain::SetControlImage(int tag, const std::string &suffix) {
  TImageButton *button = nullptr;
  switch (tag) {
  case 1: button = pPlay->iControlPrev; break;
  case 2: button = pPlay->iControlPlay; break;
  case 3: button = pPlay->iControlStop; break;
  case 4: button = pPlay->iControlNext; break;
  case 11: button = pFind->iFindSearch; break;
  case 12: button = pFind->iFindSave; break;
  case 31: button = dShareVideos ? dShareVideos->iFindSave : nullptr; break;
  default: break;
  }
  if (button) sonabox::SetControlImage(*button, suffix);
}

// ------------------------------------------------------------- enable rules

void TfMain::RunEnableRules() {
  if (!isVisible() || !isEnabled() || QApplication::activeModalWidget()) return;
  pFind->RunEnableRules();
  pPlay->RunEnableRules();
  pShare->RunEnableRules();
}

} // namespace sonabox
