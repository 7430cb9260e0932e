// The Play page with its sequencer and the expanded video window, driven tick by tick: the
// tests call tShuffleTimer themselves instead of waiting for real seconds.
#include "core/playback/PlaySequencer.h"
#include "core/playback/PlayerDocument.h"
#include "core/playback/VideoDetails.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PlayPage.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/HtmlView.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

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
    // The player pages name the local server, which answers 404: nothing plays
    // and nothing leaves this machine.
    StoreWriteString("VideoWebHost", server.Host());
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
  test::ClipServer server;
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
  EXPECT_EQ(page->Sequencer->PreviousVideo().Url, "");
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
  EXPECT_EQ(page->Sequencer->PlayPhase(), 4);
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

// ------------------------------------------------------------ expanded window

TEST_F(SequencerTest, ExpandWhileNothingPlaysThenPlay) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_TRUE(expanded->isVisible());
  EXPECT_EQ(Text(expanded->windowTitle()), "Currently Playing: ");
  EXPECT_EQ(expanded->size(), QSize(624, 409));
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

TEST_F(SequencerTest, ExpandDuringPlaybackRestartsThereOnce) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  page->show();
  page->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10); // ten seconds into P
  log.clear();

  emit page->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = page->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("p"));
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing: P");
  EXPECT_EQ(Page(*page->wbPlayer), "");

  Tick(2);
  emit page->lbExpand->linkActivated("expand"); // only brings it to the front
  EXPECT_EQ(page->dExpandedVideo, expanded);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(page->Sequencer->TickCount(), 2);
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
  EXPECT_EQ(page->Sequencer->PlayPhase(), 4); // the count-down goes on where it was
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

} // namespace
