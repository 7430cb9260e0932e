// The Play page with its sequencer and the expanded video window. SequencerTest drives it
// tick by tick (the tests call tShuffleTimer themselves instead of waiting for real
// seconds) with a player that never reports anything: the count-down alone moves
// playback on. PlayerTest plays real clips through the real player.
#include "core/common/VideoRecord.h"
#include "core/playback/PlaySequencer.h"
#include "core/playback/Playback.h"
#include "core/playback/PlayerDocument.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PlayPage.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/MpvPlayer.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace sonabox;
using sonabox::test::RunUntilIdle;

namespace {

struct Row {
  std::string Title, Url;
  int Seconds;
};

std::string Text(const QString &text) { return text.toStdString(); }

class SequencerTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The player pages name a local server that takes the connection and never
    // answers: the player says nothing, and nothing leaves this machine.
    ASSERT_GT(silent.port, 0);
    StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(silent.port));
    const TSettings settings; // makes the data folders
    store = std::make_unique<TPlayListManager>(settings.DataPath(), settings.PlayListPath());
    page = std::make_unique<TPlayPage>(*store, nullptr);
    page->resize(669, 406); // the page's size in a new main window
    QObject::connect(page.get(), &TPlayPage::LogLine,
                     [this](const std::string &line) { log.insert(log.begin(), line); });
    // The enable rules run when the event queue is empty, as the window runs them.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     page.get(), [this] { page->RunEnableRules(); });
  }
  void TearDown() override { page.reset(); }

  void OpenPlayList(const std::vector<Row> &rows) {
    TDataTable &table = *page->cdsPlayList;
    table.DefineColumns(PlayListColumns());
    table.CreateEmpty();
    for (const Row &row : rows) {
      TVideo video;
      video.Title = row.Title;
      video.Url = row.Url;
      video.DurationSeconds = row.Seconds;
      video.Duration = "0:00";
      table.Insert();
      StoreVideoInRow(video, table);
      table.Post();
    }
    table.First();
  }

  void Tick(int times) {
    for (int i = 0; i < times; ++i) {
      ASSERT_TRUE(page->tShuffle->isActive()) << "tick " << i;
      page->tShuffleTimer();
    }
  }

  // The lines the page gave the window's log, newest first.
  std::string TopLogLine() const { return log.empty() ? std::string() : log.front(); }
  std::vector<std::string> Log() const { return log; }
  std::string Page(THtmlView &view) const {
    return view.Document() ? view.Document()->Text() : "(no document)";
  }
  std::string PageFor(const std::string &id) const { return PlayerPage(id) + "\r\n"; }

  test::TestFolders folders;
  test::SilentHost silent;
  std::unique_ptr<TPlayListManager> store;
  std::unique_ptr<TPlayPage> page;
  std::vector<std::string> log;
};

TEST_F(SequencerTest, PhasesOfA200SecondVideo) {
  OpenPlayList({{"Long <b>song</b>", "long", 200}});
  page->aControlsNextExecute();
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("long"));
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()), "Now playing: Long <b>song</b>");
  EXPECT_EQ(page->lbNowPlayingTitle->textFormat(), Qt::PlainText); // a title is no markup
  EXPECT_EQ(Text(page->lbNowPlayingTitle->accessibleName()), "Now playing: Long <b>song</b>");

  Tick(1);
  EXPECT_EQ(Text(page->lbCountDown->text()), "Timer: 0:04");
  Tick(3);
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead In - 200");
  Tick(1);
  EXPECT_EQ(Text(page->lbCountDown->text()), "Timer: 3:19");
  Tick(198);
  EXPECT_EQ(TopLogLine(), "Lead In - 200");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(4);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  Tick(1);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Next - 5 long", "Lead Out - 0", "Lead Out - 5",
                                             "Lead In - 200", "Next - 5 long"}));
  EXPECT_TRUE(page->tShuffle->isActive());
  EXPECT_FALSE(page->lbCountDown->isVisibleTo(page.get())); // updated, never shown
}

TEST_F(SequencerTest, NextNeverPicksTheVideoJustPlayed) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  page->sgPlayListDblClickCell(1, 0); // P plays
  ASSERT_EQ(page->Sequencer->CurrentVideo().Url, "p");
  std::map<std::string, int> picked;
  for (int trial = 0; trial < 300; ++trial) {
    const std::string playing = page->Sequencer->CurrentVideo().Url;
    page->aControlsNextExecute();
    ASSERT_NE(page->Sequencer->CurrentVideo().Url, playing) << "trial " << trial;
    EXPECT_EQ(page->sgPlayList->currentIndex().row() + 1, page->cdsPlayList->RecNo());
    EXPECT_EQ(page->Sequencer->PreviousVideo().Url, playing);
    ++picked[page->Sequencer->CurrentVideo().Url];
  }
  EXPECT_EQ(picked.size(), 3u);
  for (const auto &[url, count] : picked) EXPECT_GT(count, 50) << url; // about 100 each
}

TEST_F(SequencerTest, NextWithOneDistinctVideoTakesItAgain) {
  const struct {
    const char *name;
    std::vector<Row> rows;
  } cases[] = {
      {"one row", {{"Only", "only", 30}}},
      {"every row the same video", {{"A", "same", 30}, {"B", "same", 30}, {"C", "same", 30}}},
  };
  for (const auto &c : cases) {
    log.clear();
    OpenPlayList(c.rows);
    page->aControlsNextExecute();
    page->aControlsNextExecute(); // the video just played is the only one there is
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Next - 5 " + c.rows[0].Url, "Next - 5 " + c.rows[0].Url}))
        << c.name;
    EXPECT_EQ(page->Sequencer->PreviousVideo().Url, c.rows[0].Url) << c.name;
  }
}

TEST_F(SequencerTest, PreviousIsOfferedOnlyAfterAChangeOfVideo) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  RunUntilIdle();
  EXPECT_FALSE(page->aControlsPrev->isEnabled());

  page->sgPlayListDblClickCell(1, 0); // P, restarted: no change of video
  RunUntilIdle();
  EXPECT_FALSE(page->aControlsPrev->isEnabled());
  EXPECT_TRUE(page->aControlsStop->isEnabled());

  page->aControlsNextExecute(); // Q, and the current row is Q's
  RunUntilIdle();
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "q");
  EXPECT_TRUE(page->aControlsPrev->isEnabled());

  // Previous goes back to P, and the grid shows P's row.
  page->aControlsPrev->trigger();
  EXPECT_EQ(TopLogLine(), "Restart - 3 p");
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "p");
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("p"));
  EXPECT_EQ(page->sgPlayList->currentIndex().row(), 0);
  EXPECT_FALSE(page->Sequencer->HasPrevious()) << "P was the first video";
  RunUntilIdle();
  EXPECT_FALSE(page->aControlsPrev->isEnabled());
}

TEST_F(SequencerTest, PlayWithNoVideoChosenPlaysTheHighlightedRowAtOnce) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->cdsPlayList->SetRecNo(2); // Q is highlighted
  page->aControlsPlayExecute();
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "q");
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("q"));
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()), "Now playing: Q");
}

TEST_F(SequencerTest, DoubleClickPlaysARowButNotTheHeader) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));

  const QHeaderView *header = page->sgPlayList->horizontalHeader();
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                     QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  page->sgPlayListDblClickCell(0, 1);
  EXPECT_EQ(Log(), std::vector<std::string>{});
  EXPECT_FALSE(page->tShuffle->isActive());

  const QRect cell = page->sgPlayList->visualRect(page->ds->index(1, 0));
  // A double click begins with the click of its first press.
  QTest::mouseClick(page->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(page->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "q");
  EXPECT_EQ(page->Sequencer->CurrentVideo().Title, "Q");
  EXPECT_EQ(page->cdsPlayList->RecNo(), 2);
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("q"));
  EXPECT_TRUE(page->tShuffle->isActive());
}

TEST_F(SequencerTest, StopBlanksThePlayerAndKeepsTheState) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->aControlsNextExecute();
  Tick(5);
  page->aControlsStopExecute();
  EXPECT_FALSE(page->tShuffle->isActive());
  EXPECT_EQ(Page(*page->wbPlayer), "");
  EXPECT_EQ(page->Sequencer->PlayPhase(), TPlayPhase::Video);
  EXPECT_FALSE(page->Sequencer->CurrentVideo().Url.empty());
}

TEST_F(SequencerTest, APlayListClosedWhilePlayingStopsPlaybackQuietly) {
  test::ModalWatcher boxes;
  OpenPlayList({{"P", "p", 1}, {"Q", "q", 1}});
  page->show();
  page->sgPlayListDblClickCell(1, 0);
  page->cdsPlayList->Close(); // as when the playlist is deleted while it plays

  // The real timer, made quick, reaches the next-video step on the closed table.
  page->tShuffle->setInterval(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !page->tShuffle->isActive(); }, 10000));
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  EXPECT_EQ(Page(*page->wbPlayer), "") << "the player went quiet";

  // With no playlist open there is nothing to play, go back to or skip to.
  RunUntilIdle();
  for (QAction *a : {page->aControlsPlay, page->aControlsPrev, page->aControlsNext})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  page->aControlsPlayExecute();
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_FALSE(page->tShuffle->isActive());
}

TEST_F(SequencerTest, PlayNextAndPreviousNeedAPlayListWithRows) {
  page->show();
  RunUntilIdle();
  for (QAction *a : {page->aControlsPlay, page->aControlsPrev, page->aControlsNext})
    EXPECT_FALSE(a->isEnabled()) << "no playlist: " << a->objectName().toStdString();
  OpenPlayList({});
  RunUntilIdle();
  for (QAction *a : {page->aControlsPlay, page->aControlsPrev, page->aControlsNext})
    EXPECT_FALSE(a->isEnabled()) << "empty playlist: " << a->objectName().toStdString();
  page->aControlsPlayExecute();
  EXPECT_FALSE(page->tShuffle->isActive()) << "no count-down over an empty identifier";
  OpenPlayList({{"P", "p", 60}});
  RunUntilIdle();
  EXPECT_TRUE(page->aControlsPlay->isEnabled());
  EXPECT_TRUE(page->aControlsNext->isEnabled());
}

// The row that plays has a marker of its own, whichever row is selected; Mute
// says when the sound is off.
TEST_F(SequencerTest, WhatPlaysIsMarkedAndMuteSaysItsState) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  page->show();
  const auto marked = [&] {
    std::vector<int> rows;
    for (int row = 0; row < page->ds->rowCount(); ++row)
      if (!page->ds->data(page->ds->index(row, 0), Qt::DecorationRole).isNull())
        rows.push_back(row);
    return rows;
  };
  EXPECT_EQ(marked(), std::vector<int>{});
  page->sgPlayListDblClickCell(2, 0);
  EXPECT_EQ(marked(), std::vector<int>{1});
  page->sgPlayList->setCurrentIndex(page->ds->index(2, 0)); // another row selected
  EXPECT_EQ(marked(), std::vector<int>{1});
  EXPECT_EQ(Text(page->ds->data(page->ds->index(1, 0), Qt::AccessibleDescriptionRole).toString()),
            "Playing");
  page->aControlsStopExecute();
  EXPECT_EQ(marked(), std::vector<int>{});

  EXPECT_EQ(Text(page->btnMute->text()), "Mute");
  page->btnMute->click();
  EXPECT_EQ(Text(page->btnMute->text()), "Muted");
  page->SetMuted(false); // from elsewhere (a key, the desktop)
  EXPECT_EQ(Text(page->btnMute->text()), "Mute");
  EXPECT_FALSE(page->btnMute->isChecked());
}

// The playback keys hold on the page wherever the focus is (the window's
// banner, a button), except in a text field; a row played by Enter, or a
// click on the video, hands the arrows back to the volume.
TEST_F(SequencerTest, KeysHoldWhereverTheFocusIs) {
  QWidget window;
  auto *banner = new QToolButton(&window); // as the gear beside the banner
  banner->setFocusPolicy(Qt::StrongFocus);
  auto *layout = new QVBoxLayout(&window);
  layout->addWidget(banner);
  page->setParent(&window);
  const auto unparent = qScopeGuard([&] { page->setParent(nullptr); }); // the test owns the page
  layout->addWidget(page.get());
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  banner->setFocus();
  QTest::keyClick(banner, Qt::Key_Space);
  EXPECT_TRUE(page->Playing()) << "Space at a fresh start";
  QTest::keyClick(banner, Qt::Key_Down);
  EXPECT_EQ(page->Volume(), 95);

  page->sgPlayList->setFocus();
  page->sgPlayList->setCurrentIndex(page->ds->index(0, 0));
  QTest::keyClick(page->sgPlayList, Qt::Key_Down); // the grid's own arrow
  EXPECT_EQ(page->sgPlayList->currentIndex().row(), 1);
  EXPECT_EQ(page->Volume(), 95);
  QTest::keyClick(page->sgPlayList, Qt::Key_Return);
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "q");
  QWidget *focused = QApplication::focusWidget();
  ASSERT_NE(focused, nullptr);
  QTest::keyClick(focused, Qt::Key_Up);
  EXPECT_EQ(page->Volume(), 100) << "after Enter the arrows are the volume's";
  EXPECT_EQ(page->sgPlayList->currentIndex().row(), 1);

  // A click on the video takes the keys from the grid.
  page->sgPlayList->setFocus();
  QTest::mouseClick(page->wbPlayer, Qt::LeftButton);
  focused = QApplication::focusWidget();
  ASSERT_NE(focused, nullptr);
  QTest::keyClick(focused, Qt::Key_Down);
  EXPECT_EQ(page->Volume(), 95);

  // A text field keeps its keys.
  page->edSearch->setFocus();
  QTest::keyClick(page->edSearch, Qt::Key_Space);
  EXPECT_TRUE(page->Playing());
  EXPECT_EQ(Text(page->edSearch->text()), " ");
}

// ------------------------------------------------------------ expanded window

TEST_F(SequencerTest, ExpandWhileNothingPlaysThenPlay) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_TRUE(expanded->isVisible());
  EXPECT_EQ(Text(expanded->windowTitle()), "Currently Playing: ");
  // Larger than the page's video: three quarters of the screen.
  const QRect screen = expanded->screen()->availableGeometry();
  EXPECT_GE(expanded->width(), screen.width() * 3 / 4);
  EXPECT_GE(expanded->height(), screen.height() * 3 / 4);
  EXPECT_GT(expanded->wbExpandedVideo->width(), page->wbPlayer->width());
  EXPECT_GT(expanded->wbExpandedVideo->height(), page->wbPlayer->height());
  EXPECT_TRUE(screen.contains(expanded->geometry()));
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), "");
  EXPECT_FALSE(page->tShuffle->isActive());

  page->sgPlayListDblClickCell(2, 0);
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing: Q");
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("q"));
  EXPECT_EQ(Page(*page->wbPlayer), "");

  // Stop silences the expanded view too.
  page->aControlsStopExecute();
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), "");
}

TEST_F(SequencerTest, ExpandDuringPlaybackGoesOnThere) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  page->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10); // ten seconds into P
  log.clear();

  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(Log(), std::vector<std::string>{}); // no restart: the count-down goes on
  EXPECT_EQ(page->Sequencer->PlayPhase(), TPlayPhase::Video);
  EXPECT_EQ(page->Sequencer->TickCount(), 10);
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("p"));
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing: P");
  EXPECT_EQ(Page(*page->wbPlayer), "");

  Tick(2);
  emit page->lbExpand->linkActivated("expand"); // only brings it to the front
  EXPECT_EQ(page->dExpandedVideo, expanded);
  EXPECT_EQ(Log(), std::vector<std::string>{});
  EXPECT_EQ(page->Sequencer->TickCount(), 12);
}

// The expanded window's controls show when the mouse moves over the video,
// hide 2 s after it last moved, and drive the playback.
TEST_F(SequencerTest, ExpandedControlsShowOnMouseMove) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  page->sgPlayListDblClickCell(1, 0);
  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(expanded));
  EXPECT_FALSE(expanded->pControls->isVisible());
  const int videoHeight = expanded->wbExpandedVideo->height();
  const auto moveMouse = [&](QPoint at) { // as the platform sends it: no button held
    QMouseEvent move(QEvent::MouseMove, at, expanded->wbExpandedVideo->mapToGlobal(at),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(expanded->wbExpandedVideo, &move);
  };
  moveMouse(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitFor([&] { return expanded->pControls->isVisible(); }, 2000));
  EXPECT_LT(expanded->wbExpandedVideo->height(), videoHeight) << "under the video, not over it";
  EXPECT_EQ(Text(expanded->btnPause->text()), "Pause");
  EXPECT_EQ(expanded->tbVolume->value(), page->Volume());

  expanded->btnPause->click();
  EXPECT_TRUE(page->Paused());
  EXPECT_TRUE(page->btnPause->isChecked()) << "the page shows it too";
  expanded->tbVolume->setValue(30);
  EXPECT_EQ(page->Volume(), 30);
  expanded->btnNext->click();
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "q");
  EXPECT_FALSE(expanded->btnPause->isChecked()) << "Next plays";

  moveMouse(QPoint(120, 100)); // the 2 s begin again
  QTest::qWait(1500);
  EXPECT_TRUE(expanded->pControls->isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !expanded->pControls->isVisible(); }, 2000));
}

TEST_F(SequencerTest, ClosingTheExpandedWindowResumesInTheSmallView) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  emit page->lbExpand->linkActivated("expand");
  page->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10);
  QPointer<TdExpandedVideo> expanded = page->dExpandedVideo.data();
  page->lbNowPlayingTitle->clear();

  expanded->close();
  EXPECT_EQ(page->dExpandedVideo, nullptr);
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("p"));
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()), "Now playing: P");
  EXPECT_EQ(page->Sequencer->PlayPhase(), TPlayPhase::Video); // the count-down goes on where it was
  EXPECT_EQ(page->Sequencer->TickCount(), 10);
  EXPECT_EQ(TopLogLine(), "Lead In - 60");
  EXPECT_TRUE(QTest::qWaitFor([&] { return expanded.isNull(); }, 5000)); // released

  // A new click makes a new window; with nothing playing, closing it shows nothing.
  page->aControlsStopExecute();
  emit page->lbExpand->linkActivated("expand");
  ASSERT_NE(page->dExpandedVideo, nullptr);
  page->dExpandedVideo->close();
  EXPECT_EQ(Page(*page->wbPlayer), "");
}

// ------------------------------------------------------------- real player

// The page with real clips from a local server, played by the real player,
// whose reports move playback on.
class PlayerTest : public SequencerTest {
protected:
  static void SetUpTestSuite() {
    clipFolder_ = new QTemporaryDir;
    clip_ = test::MakeClip(clipFolder_->path().toStdString() + "/", 4);
  }
  static void TearDownTestSuite() { delete clipFolder_; }

  void SetUp() override {
    SequencerTest::SetUp();
    ASSERT_FALSE(clip_.empty()) << "ffmpeg could not make the test clip";
    StoreWriteString("VideoWebHost", clips.Host());
    for (const char *id : {"a", "b"}) clips.Serve(std::string("/v/") + id + "&autoplay=1", clip_);
    page->show();
  }

  bool Until(const std::function<bool()> &done, int seconds = 20) {
    return test::ProcessEventsUntil(done, std::chrono::seconds(seconds));
  }
  // Lets events run for a while.
  void Wait(int milliseconds) { QTest::qWait(milliseconds); }
  bool PlayingAt(double seconds) {
    return Until([&] { return page->Position() >= seconds; });
  }

  static inline QTemporaryDir *clipFolder_ = nullptr;
  static inline std::string clip_;
  test::ClipServer clips;
};

TEST_F(PlayerTest, TheEndOfAVideoStartsTheNextAtOnce) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}});
  page->sgPlayListDblClickCell(1, 0);
  // The stored lengths would hold A for more than a minute; the clip lasts 4 s.
  ASSERT_TRUE(Until([&] { return TopLogLine() == "Next - 5 b"; })) << TopLogLine();
  EXPECT_EQ(Log(), (std::vector<std::string>{"Next - 5 b", "Lead Out - 0", "Lead Out - 5",
                                             "Lead In - 60", "Restart - 3 a"}));
  EXPECT_EQ(Page(*page->wbPlayer), PageFor("b"));
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()), "Now playing: B");
  // The first frame of B ends its lead-in; the player's length replaces the stored one.
  ASSERT_TRUE(Until([&] { return TopLogLine() == "Lead In - 60"; }));
  EXPECT_EQ(page->Sequencer->CountDownLength(), 4);
}

TEST_F(PlayerTest, AVideoThatCannotBePlayedIsNamedAndSkipped) {
  OpenPlayList({{"Gone <i>missing</i>", "gone", 60}, {"A", "a", 60}});
  page->sgPlayListDblClickCell(1, 0); // the server has no such video: 404
  ASSERT_TRUE(Until([&] { return TopLogLine() == "Next - 5 a"; })) << TopLogLine();
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()),
            "Could not play Gone <i>missing</i>. Now playing: A");
  EXPECT_TRUE(PlayingAt(0.5));
  EXPECT_TRUE(page->Sequencer->Running());
}

TEST_F(PlayerTest, WhenEveryVideoFailsPlaybackStops) {
  OpenPlayList({{"X", "x", 60}, {"Y", "y", 60}, {"Z", "z", 60}});
  page->aControlsNextExecute(); // the server answers, but has none of them
  ASSERT_TRUE(Until([&] { return !page->Sequencer->Running(); }));
  const std::string line = Text(page->lbNowPlayingTitle->text());
  EXPECT_TRUE(line.starts_with("Could not play ") &&
              line.ends_with(", nor any other video of this playlist"))
      << line;
  EXPECT_EQ(Page(*page->wbPlayer), "");
}

// A server that is down is no fault of the videos: the first that cannot be
// played waits for it, and no other is tried.
TEST_F(PlayerTest, AServerThatIsDownIsWaitedFor) {
  StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(test::UnusedPort()));
  OpenPlayList({{"X", "x", 60}, {"Y", "y", 60}, {"Z", "z", 60}});
  page->sgPlayListDblClickCell(2, 0);
  ASSERT_TRUE(Until([&] { return page->Playback().WaitingForService(); }));
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()),
            "The video service cannot be reached: Y plays as soon as it answers.");
  EXPECT_EQ(Page(*page->wbPlayer), "");
  RunUntilIdle();
  EXPECT_TRUE(page->aControlsStop->isEnabled());
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "y");
  for (const std::string &line : Log()) EXPECT_FALSE(line.starts_with("Next")) << line;
  page->aControlsStop->trigger();
  EXPECT_FALSE(page->Playback().Running());
  EXPECT_EQ(Text(page->lbNowPlayingTitle->text()), "");
}

TEST_F(PlayerTest, PauseHoldsTheVideoAndTheCountDown) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}});
  page->sgPlayListDblClickCell(1, 0);
  ASSERT_TRUE(PlayingAt(0.3));
  page->PlayPause();
  EXPECT_TRUE(page->Paused());
  EXPECT_TRUE(page->btnPause->isChecked());
  EXPECT_EQ(Text(page->btnPause->text()), "Resume");
  Wait(300); // the pause reaches the player
  const double position = page->Position();
  const int ticks = page->Sequencer->TickCount();
  Wait(1500);
  EXPECT_NEAR(page->Position(), position, 0.05);
  EXPECT_EQ(page->Sequencer->TickCount(), ticks);
  EXPECT_TRUE(page->aControlsStop->isEnabled()) << "paused is still playing";

  page->PlayPause();
  EXPECT_FALSE(page->Paused());
  EXPECT_TRUE(PlayingAt(position + 0.3));

  // Next plays the next video, not paused.
  page->PlayPause();
  page->aControlsNextExecute();
  EXPECT_FALSE(page->Paused());
  EXPECT_FALSE(page->btnPause->isChecked());
  EXPECT_TRUE(Until([&] { return page->Position() > 0.3; }));
}

TEST_F(PlayerTest, SeekMovesThePlayerAndTheCountDown) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}});
  page->sgPlayListDblClickCell(1, 0);
  ASSERT_TRUE(PlayingAt(0.2));
  page->PlayPause(); // a still position to measure from
  page->SetPosition(2.5);
  ASSERT_TRUE(Until([&] { return std::abs(page->Position() - 2.5) < 0.2; })) << page->Position();
  EXPECT_EQ(page->Sequencer->TickCount(), 2);
  page->SeekBy(-5); // not before the start
  ASSERT_TRUE(Until([&] { return page->Position() < 0.2; })) << page->Position();
  EXPECT_EQ(page->Sequencer->TickCount(), 0);
  Wait(300);
  EXPECT_EQ(page->tbPosition->maximum(), 4);
  EXPECT_EQ(Text(page->lbRemaining->text()), "-0:04");
}

TEST_F(PlayerTest, ExpandingAndClosingGoOnWhereTheVideoWas) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}});
  page->sgPlayListDblClickCell(1, 0);
  ASSERT_TRUE(PlayingAt(1.0));
  log.clear();
  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  ASSERT_NE(expanded->wbExpandedVideo->Player(), nullptr);
  ASSERT_TRUE(
      Until([&] { return expanded->wbExpandedVideo->Player()->TimePosition().has_value(); }));
  EXPECT_GE(page->Position(), 0.9);
  const double moved = page->Position();

  expanded->close();
  ASSERT_TRUE(Until([&] { return page->wbPlayer->Player()->TimePosition().has_value(); }));
  EXPECT_GE(page->Position(), moved);
  for (const std::string &line : Log()) EXPECT_FALSE(line.starts_with("Restart")) << line;
}

TEST_F(PlayerTest, TheSoundIsRememberedAndReachesEveryPlayer) {
  EXPECT_EQ(page->Volume(), 100);
  EXPECT_FALSE(page->Muted());
  EXPECT_FALSE(page->EvenLoudness());
  page->tbVolume->setValue(40); // as a drag does
  page->btnMute->click();
  page->cbEvenLoudness->click();
  EXPECT_EQ(page->Volume(), 40);
  EXPECT_TRUE(page->Muted());
  EXPECT_TRUE(page->EvenLoudness());
  EXPECT_EQ(StoreReadInt(store_key::kVolume), 40);
  EXPECT_EQ(StoreReadInt(store_key::kMuted), 1);
  EXPECT_EQ(StoreReadInt(store_key::kEvenLoudness), 1);
  page->SetVolume(150);
  EXPECT_EQ(page->Volume(), 100);
  page->SetVolume(40);

  // A new page (the next start) takes them, and so does its player.
  page.reset();
  TPlayPage again(*store, nullptr);
  EXPECT_EQ(again.tbVolume->value(), 40);
  EXPECT_TRUE(again.btnMute->isChecked());
  EXPECT_TRUE(again.cbEvenLoudness->isChecked());
  TDataTable &table = *again.cdsPlayList;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  TVideo video;
  video.Title = "A";
  video.Url = "a";
  video.DurationSeconds = 60;
  video.Duration = "1:00";
  table.Insert();
  StoreVideoInRow(video, table);
  table.Post();
  again.sgPlayListDblClickCell(1, 0);
  ASSERT_TRUE(Until([&] { return again.Position() > 0.2; }));
  TMpvPlayer &player = *again.wbPlayer->Player();
  EXPECT_EQ(player.Property("volume"), "40.000000");
  EXPECT_EQ(player.Property("mute"), "yes");
  EXPECT_NE(player.Property("af").find("loudnorm"), std::string::npos) << player.Property("af");
}

TEST_F(PlayerTest, KeysActButLeaveTypingAlone) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}});
  page->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
  page->sgPlayListDblClickCell(1, 0);
  ASSERT_TRUE(PlayingAt(0.2));

  // The search field types what it is given.
  page->edSearch->setFocus();
  QTest::keyClicks(page->edSearch, "m n");
  QTest::keyClick(page->edSearch, Qt::Key_Left);
  EXPECT_EQ(Text(page->edSearch->text()), "m n");
  EXPECT_FALSE(page->Paused());
  EXPECT_FALSE(page->Muted());
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "a");
  page->edSearch->clear();

  // Elsewhere on the page the keys are the player's; the grid keeps its arrows.
  page->sgPlayList->setFocus();
  QTest::keyClick(page->sgPlayList, Qt::Key_Space);
  EXPECT_TRUE(page->Paused());
  QTest::keyClick(page->sgPlayList, Qt::Key_Space);
  EXPECT_FALSE(page->Paused());
  QTest::keyClick(page->sgPlayList, Qt::Key_M);
  EXPECT_TRUE(page->Muted());
  QTest::keyClick(page->sgPlayList, Qt::Key_Down);
  EXPECT_EQ(page->Volume(), 100) << "the grid's arrow";
  EXPECT_EQ(page->sgPlayList->currentIndex().row(), 1);
  QTest::keyClick(page->sgPlayList, Qt::Key_Return); // plays the row
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "b");
  EXPECT_EQ(TopLogLine(), "Restart - 3 b");
  QTest::keyClick(page->sgPlayList, Qt::Key_N);
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "a");
  QTest::keyClick(page->sgPlayList, Qt::Key_P);
  EXPECT_EQ(page->Sequencer->CurrentVideo().Url, "b");
  page->btnMute->setFocus();
  QTest::keyClick(page->btnMute, Qt::Key_Down);
  EXPECT_EQ(page->Volume(), 95);

  // F opens the expanded window full screen; Escape there leaves full screen.
  QTest::keyClick(page->sgPlayList, Qt::Key_F);
  ASSERT_NE(page->dExpandedVideo, nullptr);
  EXPECT_TRUE(page->dExpandedVideo->isFullScreen());
  QTest::keyClick(page->dExpandedVideo, Qt::Key_Escape);
  EXPECT_FALSE(page->dExpandedVideo->isFullScreen());
  QTest::keyClick(page->dExpandedVideo, Qt::Key_F11);
  EXPECT_TRUE(page->dExpandedVideo->isFullScreen());
  QTest::mouseDClick(page->dExpandedVideo, Qt::LeftButton);
  EXPECT_FALSE(page->dExpandedVideo->isFullScreen());
}

} // namespace
