// The main window as the user meets it: start-up state, the log, the enable
// rules at idle time, the image buttons' pictures and closing.
#include "ui/app/MainWindow.h"
#include "core/playback/PlaySequencer.h"
#include "core/common/VideoRecord.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/find/FindPage.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/ShareGridModel.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace sonabox;
using sonabox::test::ProcessEventsUntil;
using sonabox::test::RunUntilIdle;

namespace {

void FillPlayList(TDataTable &table, int rows) {
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (int i = 0; i < rows; ++i) {
    table.Insert();
    table.FieldByName("Title").SetAsString("Song " + std::to_string(i + 1));
    table.FieldByName("Url").SetAsString("id" + std::to_string(i + 1));
    table.FieldByName("Duration").SetAsString("3:0" + std::to_string(i));
    table.Post();
  }
}

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Player pages name a port where nothing listens: nothing plays.
    StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(test::UnusedPort()));
    // Nor does the feed answer: the Find page offers its fixed categories.
    StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(test::UnusedPort()));
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
  }
  void TearDown() override {
    for (const auto &box : boxes.Boxes())
      ADD_FAILURE() << "unexpected message: " << box.Text.toStdString();
    window.reset();
    EXPECT_EQ(Settings, nullptr) << "the main window frees the settings";
  }
  void ShowAndActivate() {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  std::unique_ptr<TfMain> window;
};

TEST_F(MainWindowTest, FreshStart) {
  ShowAndActivate();
  RunUntilIdle();
  EXPECT_EQ(fMain, window.get());
  EXPECT_EQ(window->objectName(), "fMain");
  EXPECT_EQ(window->windowTitle(), "Sonabox 1.0.0");
  EXPECT_EQ(ProgramTitle(), "Sonabox 1.0.0");
  // No display name: the desktop would append it to every caption the program sets.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
  EXPECT_EQ(window->pMain->currentWidget(), window->pPlay);
  EXPECT_EQ(window->pMain->count(), 3);
  EXPECT_EQ(window->pMain->tabText(1), "Find");
  EXPECT_EQ(window->pFind->cbCategory->currentText(), "Music");
  EXPECT_EQ(window->pFind->cbCategory->count(), 17);
  for (QComboBox *box :
       {window->pPlay->cbPlayLists, window->pFind->cbAddPlayList, window->pShare->cbSharePlayList})
    EXPECT_EQ(box->currentIndex(), -1) << box->objectName().toStdString();
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  EXPECT_EQ(window->pPlay->sgPlayList->model()->rowCount(), 0);
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
  EXPECT_EQ(window->pPlay->tShuffle->interval(), 1000);
  EXPECT_TRUE(window->pPlay->lbNowPlayingTitle->text().isEmpty());
  ASSERT_NE(window->pPlay->wbPlayer->Document(), nullptr) << "the player view holds a blank page";
  EXPECT_EQ(window->pPlay->wbPlayer->Document()->Text(), "");
  EXPECT_EQ(window->pPlay->wbPlayer->Player(), nullptr) << "nothing plays";
  EXPECT_TRUE(window->pPlay->Sequencer->CurrentVideo().Url.empty());
  EXPECT_TRUE(window->pPlay->Sequencer->PreviousVideo().Url.empty());
  EXPECT_FALSE(window->mLog->isVisible());
  EXPECT_FALSE(window->pFind->btnMore->isVisible());
  EXPECT_FALSE(window->pShare->pcShareWizard->tabBar()->isVisible());
  EXPECT_EQ(window->pShare->pcShareWizard->currentIndex(), 0);
  EXPECT_EQ(window->pShare->btnShareNext->defaultAction(), window->pShare->aShareStep1);
  // Nothing can be played, stopped or deleted yet.
  for (QAction *a :
       {window->pPlay->aControlsPrev, window->pPlay->aControlsPlay, window->pPlay->aControlsStop,
        window->pPlay->aControlsNext, window->pPlay->aDeletePlayList, window->pPlay->aDeleteVideo,
        window->pFind->aSearch, window->pFind->aSaveVideos, window->pShare->aShareStep1})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  for (TImageButton *b :
       {window->pPlay->iControlPrev, window->pPlay->iControlPlay, window->pPlay->iControlStop,
        window->pPlay->iControlNext, window->pFind->iFindSearch, window->pFind->iFindSave})
    EXPECT_TRUE(b->PictureName().endsWith("_DISABLED")) << b->objectName().toStdString();
}

// The line that tells the first steps says how to start a service when none
// answers, and is left as it is when one does (whatever its answer).
TEST_F(MainWindowTest, WithoutAServiceTheFirstStartLineSaysHowToStartOne) {
  ShowAndActivate();
  const QLabel *line = window->pPlay->lbFirstSteps;
  ASSERT_TRUE(ProcessEventsUntil([&] { return line->text().contains("sonabox-server"); }));
  EXPECT_EQ(line->text().toStdString(),
            "No video service answers at " + *StoreReadString("VideoDataHost") +
                ". Start one with \"systemctl --user enable --now sonabox-server\" (it serves "
                "your Videos folder), then find videos on the Find page, tick them and save them "
                "into a playlist");
  EXPECT_TRUE(line->isVisible());

  httplib::Server service;
  std::atomic<bool> asked = false;
  service.Get(".*", [&](const httplib::Request &, httplib::Response &res) {
    res.status = 404;
    asked = true;
  });
  const int port = service.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { service.listen_after_bind(); });
  window.reset();
  StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(port));
  Settings = new TSettings();
  window = std::make_unique<TfMain>();
  ShowAndActivate();
  EXPECT_TRUE(ProcessEventsUntil([&] { return asked.load(); }));
  RunUntilIdle();
  QTest::qWait(100); // the answer reaches the window
  EXPECT_EQ(window->pPlay->lbFirstSteps->text(),
            "Find videos on the Find page, tick them and save them into a playlist");
  service.stop();
  serving.join();
}

// The window can be made narrow: the player controls then take two lines,
// and every control stays whole inside them.
TEST_F(MainWindowTest, ANarrowWindowWrapsThePlayerControls) {
  ShowAndActivate();
  TPlayPage &page = *window->pPlay;
  struct Case {
    int width;
    bool wrapped;
  };
  for (const Case c : {Case{800, true}, Case{1280, false}, Case{760, true}, Case{1100, false}}) {
    SCOPED_TRACE(c.width);
    window->resize(c.width, 700);
    RunUntilIdle();
    EXPECT_EQ(window->width(), c.width);
    const QRect row = page.pPlayerControls->rect();
    std::set<int> lines;
    for (QWidget *control : std::initializer_list<QWidget *>{
             page.iControlPrev, page.iControlPlay, page.iControlStop, page.iControlNext,
             page.btnPause, page.btnMute, page.tbVolume, page.cbEvenLoudness, page.lbExpand}) {
      const QRect box(control->mapTo(page.pPlayerControls, QPoint(0, 0)), control->size());
      EXPECT_TRUE(row.contains(box)) << control->objectName().toStdString();
      EXPECT_GE(control->width(), control->minimumSizeHint().width())
          << control->objectName().toStdString();
      lines.insert(box.center().y() / 20);
    }
    EXPECT_EQ(lines.size(), c.wrapped ? 2u : 1u);
  }
  EXPECT_LE(window->minimumSizeHint().width(), 760);
}

TEST_F(MainWindowTest, CtrlAltLTogglesTheLog) {
  ShowAndActivate();
  QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_TRUE(window->mLog->isVisible());
  EXPECT_EQ(window->mLog->toPlainText(), "*** Sonabox log ***");
  QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_FALSE(window->mLog->isVisible());
}

TEST_F(MainWindowTest, TheBusyPictureRunsWhileTheResultAreaIsHidden) {
  ShowAndActivate();
  window->pMain->setCurrentWidget(window->pFind);
  ASSERT_TRUE(window->pFind->imgProgressMovie->isValid());
  EXPECT_GT(window->pFind->imgProgressMovie->frameCount(), 1) << "an animation";
  EXPECT_NE(window->pFind->imgProgressMovie->state(), QMovie::Running);
  window->pFind->sbResults->hide(); // as while a search runs
  EXPECT_EQ(window->pFind->imgProgressMovie->state(), QMovie::Running);
  EXPECT_TRUE(window->pFind->imgProgress->isVisible());
  EXPECT_EQ(window->pFind->imgProgress->size(), QSize(32, 32));
  window->pFind->sbResults->show();
  EXPECT_NE(window->pFind->imgProgressMovie->state(), QMovie::Running);
}

TEST_F(MainWindowTest, LogLinesGoOnTop) {
  window->AddLogLine("Lead In - 200");
  window->AddLogLine("Next - 5 abc");
  EXPECT_EQ(window->mLog->toPlainText(), "Next - 5 abc\nLead In - 200\n*** Sonabox log ***");
}

TEST_F(MainWindowTest, TypingIntoTheSearchEditEnablesTheFindButtonAtIdle) {
  ShowAndActivate();
  window->pMain->setCurrentWidget(window->pFind);
  RunUntilIdle();
  EXPECT_FALSE(window->pFind->aSearch->isEnabled());
  EXPECT_EQ(window->pFind->iFindSearch->PictureName(), "FIND_DISABLED");
  EXPECT_FALSE(window->pFind->iFindSearch->isEnabled());

  QTest::keyClick(window->pFind->edTubeSearch, Qt::Key_A);
  RunUntilIdle();
  EXPECT_TRUE(window->pFind->aSearch->isEnabled());
  EXPECT_TRUE(window->pFind->iFindSearch->isEnabled());
  EXPECT_EQ(window->pFind->iFindSearch->PictureName(), "FIND");

  // Keywords of spaces only count as text.
  window->pFind->edTubeSearch->setText(" ");
  RunUntilIdle();
  EXPECT_TRUE(window->pFind->aSearch->isEnabled());
}

TEST_F(MainWindowTest, EnableRulesFollowTheirInputsAtIdle) {
  ShowAndActivate();
  RunUntilIdle();
  TfMain &w = *window;

  {
    // A playlist chosen and open, as choosing it opens it.
    AddVideosToPlayList(*w.PlayListManager, "Songs", true, {});
    const QSignalBlocker quiet(w.pPlay->cbPlayLists);
    w.pPlay->cbPlayLists->addItem("Songs");
    w.pPlay->cbPlayLists->setCurrentIndex(0);
  }
  FillPlayList(*w.pPlay->cdsPlayList, 2);
  RunUntilIdle();
  for (QAction *a : {w.pPlay->aControlsPlay, w.pPlay->aControlsNext, w.pPlay->aDeletePlayList,
                     w.pPlay->aDeleteVideo})
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_EQ(w.pPlay->iControlNext->PictureName(), "NEXT");
  EXPECT_FALSE(w.pPlay->aControlsStop->isEnabled());

  // When playback starts the stop button comes alive without the pointer near it.
  w.pPlay->tShuffle->start();
  RunUntilIdle();
  EXPECT_TRUE(w.pPlay->aControlsStop->isEnabled());
  EXPECT_EQ(w.pPlay->iControlStop->PictureName(), "STOP");
  w.pPlay->tShuffle->stop();

  // A playlist whose visible rows are all filtered away cannot go to a next video.
  w.pPlay->cdsPlayList->SetFilter("Title LIKE '%nothing like this%'");
  w.pPlay->cdsPlayList->SetFiltered(true);
  RunUntilIdle();
  EXPECT_FALSE(w.pPlay->aControlsNext->isEnabled());
  EXPECT_FALSE(w.pPlay->aControlsPlay->isEnabled());
  EXPECT_TRUE(w.pPlay->aDeletePlayList->isEnabled());
  // Once a second video has followed the first, the first is the previous one.
  w.pPlay->cdsPlayList->SetFiltered(false);
  w.pPlay->Sequencer->Next();
  RunUntilIdle();
  EXPECT_FALSE(w.pPlay->aControlsPrev->isEnabled());
  w.pPlay->Sequencer->Next();
  w.pPlay->Sequencer->Stop();
  RunUntilIdle();
  EXPECT_TRUE(w.pPlay->aControlsPrev->isEnabled());
  EXPECT_EQ(w.pPlay->iControlPrev->PictureName(), "PREV");

  // A chosen playlist that is not open can still be deleted, but has no videos to delete.
  w.pPlay->cdsPlayList->Close();
  RunUntilIdle();
  EXPECT_TRUE(w.pPlay->aDeletePlayList->isEnabled());
  EXPECT_TRUE(w.pPlay->aRenamePlayList->isEnabled()) << "renamed as it can be deleted";
  EXPECT_FALSE(w.pPlay->aDeleteVideo->isEnabled());
  {
    const QSignalBlocker quiet(w.pPlay->cbPlayLists);
    w.pPlay->cbPlayLists->setCurrentIndex(-1);
  }
  RunUntilIdle();
  EXPECT_FALSE(w.pPlay->aDeletePlayList->isEnabled());
  EXPECT_FALSE(w.pPlay->aRenamePlayList->isEnabled());
}

TEST_F(MainWindowTest, ShareWizardRules) {
  ShowAndActivate();
  TfMain &w = *window;
  RunUntilIdle();
  EXPECT_FALSE(w.pShare->aShareStep1->isEnabled());
  EXPECT_FALSE(w.pShare->btnShareNext->isEnabled());

  w.pShare->edShareCode->setText("x");
  RunUntilIdle();
  EXPECT_TRUE(w.pShare->btnShareNext->isEnabled()) << "a share code alone allows Next";
  w.pShare->edShareCode->clear();
  w.pShare->cbSharePlayList->addItem("Rock");
  w.pShare->cbSharePlayList->setCurrentIndex(0);
  RunUntilIdle();
  EXPECT_TRUE(w.pShare->aShareStep1->isEnabled()) << "a chosen playlist alone allows Next";

  struct Case {
    int page;
    QAction *next;
    bool previous;
  };
  const Case cases[] = {{0, w.pShare->aShareStep1, false}, {1, w.pShare->aShareStep2, true},
                        {2, w.pShare->aShareStep3, true},  {3, w.pShare->aShareStep3, true},
                        {3, w.pShare->aShareStep4, false}, {4, w.pShare->aShareStep5, false}};
  for (const Case &c : cases) {
    w.pShare->pcShareWizard->setCurrentIndex(c.page);
    w.pShare->btnShareNext->setDefaultAction(c.next);
    RunUntilIdle();
    EXPECT_EQ(w.pShare->aSharePrevious->isEnabled(), c.previous)
        << "page " << c.page << " " << c.next->objectName().toStdString();
    EXPECT_EQ(w.pShare->btnShareNext->text(), c.next->text());
  }
  EXPECT_FALSE(w.pShare->aShareStep4->isEnabled());
}

TEST_F(MainWindowTest, RulesWaitWhileTheWindowIsHidden) {
  RunUntilIdle();
  window->pFind->edTubeSearch->setText("rock");
  RunUntilIdle();
  EXPECT_TRUE(window->pFind->iFindSearch->isEnabled()) << "never disabled while hidden";
  EXPECT_EQ(window->pFind->iFindSearch->PictureName(), "FIND");
  window->pFind->edTubeSearch->clear();
  RunUntilIdle();
  EXPECT_TRUE(window->pFind->aSearch->isEnabled()) << "not re-evaluated while hidden";
}

// The picture of an image button after each event, from each picture it can show.
TEST_F(MainWindowTest, ImageButtonPictureTable) {
  enum Event { Enter, Leave, Press, Release, Disable, Enable };
  enum Start { Normal, Hover, Click, Disabled };
  struct Case {
    Start start;
    Event event;
    const char *picture;
  };
  const Case cases[] = {
      {Normal, Enter, "STOP_HOVER"},        {Normal, Leave, "STOP"},
      {Normal, Press, "STOP_CLICK"},        {Normal, Release, "STOP"},
      {Normal, Disable, "STOP_DISABLED"},   {Normal, Enable, "STOP"},
      {Hover, Enter, "STOP_HOVER"},         {Hover, Leave, "STOP"},
      {Hover, Press, "STOP_CLICK"},         {Hover, Release, "STOP"},
      {Hover, Disable, "STOP_DISABLED"},    {Hover, Enable, "STOP_HOVER"},
      {Click, Enter, "STOP_HOVER"},         {Click, Leave, "STOP"},
      {Click, Press, "STOP_CLICK"},         {Click, Release, "STOP"},
      {Click, Disable, "STOP_DISABLED"},    {Click, Enable, "STOP_CLICK"},
      {Disabled, Enter, "STOP_DISABLED"},   {Disabled, Leave, "STOP_DISABLED"},
      {Disabled, Press, "STOP_DISABLED"},   {Disabled, Release, "STOP_DISABLED"},
      {Disabled, Disable, "STOP_DISABLED"}, {Disabled, Enable, "STOP"},
  };
  // The window stays hidden: no enable rule runs behind the test's back.
  TImageButton *b = window->pPlay->iControlStop;
  int clicks = 0;
  QObject::connect(b, &QAbstractButton::clicked, [&] { ++clicks; });
  const QPoint centre = b->rect().center();
  auto send = [&](Event e) {
    switch (e) {
    case Enter: {
      QEnterEvent enter(centre, b->mapTo(window.get(), centre), b->mapToGlobal(centre));
      QApplication::sendEvent(b, &enter);
      break;
    }
    case Leave: {
      QEvent leave(QEvent::Leave);
      QApplication::sendEvent(b, &leave);
      break;
    }
    case Press: QTest::mousePress(b, Qt::LeftButton, {}, centre); break;
    case Release: QTest::mouseRelease(b, Qt::LeftButton, {}, centre); break;
    case Disable: EnableControlImage(*b, false); break;
    case Enable: EnableControlImage(*b, true); break;
    }
  };
  for (const Case &c : cases) {
    EnableControlImage(*b, true);
    SetControlImage(*b, "");
    b->setDown(false);
    switch (c.start) {
    case Normal: break;
    case Hover: send(Enter); break;
    case Click: send(Press); break;
    case Disabled: send(Disable); break;
    }
    send(c.event);
    EXPECT_EQ(b->PictureName().toStdString(), c.picture)
        << "from state " << c.start << " after event " << c.event;
  }
  // Only the release of the pressed, enabled button was a click.
  EXPECT_EQ(clicks, 1);
}

TEST_F(MainWindowTest, ImageButtonPictureLookUp) {
  TfMain &w = *window;
  struct Case {
    int tag;
    const char *suffix;
    TImageButton *button;
    const char *picture;
  };
  const Case cases[] = {
      {1, "_hover", w.pPlay->iControlPrev, "PREV_HOVER"},
      {3, "_CLICK", w.pPlay->iControlStop, "STOP_CLICK"},
      {4, "_disabled", w.pPlay->iControlNext, "NEXT_DISABLED"},
      {11, "_click", w.pFind->iFindSearch, "FIND_CLICK"},
      {12, "_hover", w.pFind->iFindSave, "SAVE_HOVER"},
      // a picture that does not exist leaves the one shown
      {2, "_blinking", w.pPlay->iControlPlay, "PLAY"},
  };
  for (const Case &c : cases) {
    w.SetControlImage(c.tag, c.suffix);
    EXPECT_EQ(c.button->PictureName().toStdString(), c.picture) << c.tag << c.suffix;
  }
  // Sizes of the pictures.
  EXPECT_EQ(QPixmap(":/images/PLAY.png").size(), QSize(24, 24));
  EXPECT_EQ(QPixmap(":/images/FIND_HOVER.png").size(), QSize(32, 32));
  EXPECT_EQ(QPixmap(":/images/SAVE_DISABLED.png").size(), QSize(48, 48));

  // Tag 31 is the dialog's button, served only while the dialog exists.
  w.SetControlImage(31, "_hover"); // no dialog: nothing happens
  w.SetControlImage(99, "_hover"); // unknown tag: nothing happens
  EXPECT_EQ(w.pFind->iFindSave->PictureName(), "SAVE_HOVER");
  auto *dialog = new TdShareVideos(&w);
  EXPECT_EQ(dShareVideos, dialog);
  EXPECT_EQ(dialog->iFindSave->PictureName(), "SAVE");
  QTest::mousePress(dialog->iFindSave, Qt::RightButton);
  EXPECT_EQ(dialog->iFindSave->PictureName(), "SAVE_CLICK") << "any mouse button";
  QTest::mouseRelease(dialog->iFindSave, Qt::RightButton);
  EXPECT_EQ(dialog->iFindSave->PictureName(), "SAVE");
  EXPECT_EQ(w.pFind->iFindSave->PictureName(), "SAVE_HOVER")
      << "the main window's save button is another";
  delete dialog;
  EXPECT_EQ(dShareVideos, nullptr);
}

TEST_F(MainWindowTest, ClosingIsNeverRefusedAndStopsPlayback) {
  ShowAndActivate();
  window->pPlay->tShuffle->start();
  LoadDocumentText(*window->pPlay->wbPlayer, "<embed src=\"http://127.0.0.1:1/v/x\">");
  ASSERT_FALSE(window->pPlay->wbPlayer->Document()->Text().empty());
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
  EXPECT_EQ(window->pPlay->wbPlayer->Document()->Text(), "") << "the player view was blanked";
}

TEST(ShareGridModel, CheckBoxesAreCellsOfTheGrid) {
  TDataTable table("cdsShare");
  TDataTableModel source(table, {{"Title", "Title"}, {"Duration", "Duration"}});
  TShareGridModel grid(source);
  FillPlayList(table, 3);
  ASSERT_EQ(grid.rowCount(), 3);
  ASSERT_EQ(grid.columnCount(), 3);
  EXPECT_EQ(grid.headerData(0, Qt::Horizontal).toString(), "Share");
  EXPECT_EQ(grid.headerData(1, Qt::Horizontal).toString(), "Title");
  EXPECT_EQ(grid.data(grid.index(1, 1)).toString(), "Song 2");
  EXPECT_EQ(grid.data(grid.index(2, 2)).toString(), "3:02");

  // No boxes until they are given; then all unticked.
  EXPECT_FALSE(grid.HasCheckBox(0));
  EXPECT_FALSE(grid.data(grid.index(0, 0), Qt::CheckStateRole).isValid());
  grid.AddCheckBoxes();
  EXPECT_EQ(grid.data(grid.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  grid.SetTicked(1, true);
  EXPECT_TRUE(grid.IsTicked(1));
  EXPECT_EQ(grid.data(grid.index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(grid.TickedCount(), 1);
  grid.SetAllTicked(true);
  EXPECT_EQ(grid.TickedCount(), 3);
  EXPECT_FALSE(grid.IsTicked(3)) << "past the last row";
  EXPECT_FALSE(grid.IsTicked(-1));

  // Opening the table anew drops every box.
  table.Close();
  FillPlayList(table, 2);
  EXPECT_EQ(grid.rowCount(), 2);
  EXPECT_EQ(grid.TickedCount(), 0);
  EXPECT_FALSE(grid.HasCheckBox(0));
}

} // namespace
