// The play sequencer and the expanded video window, driven tick by tick: the
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
#include "ui/app/MainWindow.h"
#include "ui/find/FindPage.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
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
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
  }
  void TearDown() override { window.reset(); }

  void OpenPlayList(const std::vector<Row> &rows) {
    TDataTable &table = *window->pPlay->cdsPlayList;
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
      ASSERT_TRUE(window->pPlay->tShuffle->isActive()) << "tick " << i;
      window->pPlay->tShuffleTimer();
    }
  }

  std::string TopLogLine() const { return Text(window->mLog->toPlainText().section('\n', 0, 0)); }
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const QString &line : window->mLog->toPlainText().split('\n')) lines.push_back(Text(line));
    return lines;
  }
  std::string Page(THtmlView &view) const {
    return view.Document() ? view.Document()->Text() : "(no document)";
  }
  std::string PageFor(const std::string &id) const { return PlayerPage(id) + "\r\n"; }

  test::TestFolders folders;
  test::ClipServer server;
  std::unique_ptr<TfMain> window;
};

TEST_F(SequencerTest, PhasesOfA200SecondVideo) {
  OpenPlayList({{"Long <b>song</b>", "long", 200}});
  window->pPlay->aControlsNextExecute();
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), PageFor("long"));
  EXPECT_EQ(Text(window->pPlay->lbNowPlayingTitle->text()), "Now playing: Long <b>song</b>");
  EXPECT_EQ(window->pPlay->lbNowPlayingTitle->textFormat(), Qt::PlainText); // a title is no markup

  Tick(1);
  EXPECT_EQ(Text(window->pPlay->lbCountDown->text()), "Timer: 0:04");
  Tick(3);
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead In - 200");
  Tick(1);
  EXPECT_EQ(Text(window->pPlay->lbCountDown->text()), "Timer: 3:19");
  Tick(198);
  EXPECT_EQ(TopLogLine(), "Lead In - 200");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(4);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  Tick(1);
  EXPECT_EQ(Log(),
            (std::vector<std::string>{"Next - 5 long", "Lead Out - 0", "Lead Out - 5",
                                      "Lead In - 200", "Next - 5 long", "*** Sonabox log ***"}));
  EXPECT_TRUE(window->pPlay->tShuffle->isActive());
  EXPECT_FALSE(window->pPlay->lbCountDown->isVisibleTo(window.get())); // updated, never shown
}

TEST_F(SequencerTest, NextNeverPicksTheVideoJustPlayed) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  window->pPlay->sgPlayListDblClickCell(1, 0); // P plays
  ASSERT_EQ(window->pPlay->Sequencer->CurrentVideo().Url, "p");
  std::map<std::string, int> picked;
  for (int trial = 0; trial < 300; ++trial) {
    const std::string playing = window->pPlay->Sequencer->CurrentVideo().Url;
    window->pPlay->aControlsNextExecute();
    ASSERT_NE(window->pPlay->Sequencer->CurrentVideo().Url, playing) << "trial " << trial;
    EXPECT_EQ(window->pPlay->sgPlayList->currentIndex().row() + 1,
              window->pPlay->cdsPlayList->RecNo());
    EXPECT_EQ(window->pPlay->Sequencer->PreviousVideo().Url, playing);
    ++picked[window->pPlay->Sequencer->CurrentVideo().Url];
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
    window->mLog->clear();
    OpenPlayList(c.rows);
    window->pPlay->aControlsNextExecute();
    window->pPlay->aControlsNextExecute(); // the video just played is the only one there is
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Next - 5 " + c.rows[0].Url, "Next - 5 " + c.rows[0].Url}))
        << c.name;
    EXPECT_EQ(window->pPlay->Sequencer->PreviousVideo().Url, c.rows[0].Url) << c.name;
  }
}

TEST_F(SequencerTest, PreviousIsOfferedOnlyAfterAChangeOfVideo) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->aControlsPrev->isEnabled());

  window->pPlay->sgPlayListDblClickCell(1, 0); // P, restarted: no change of video
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->aControlsPrev->isEnabled());
  EXPECT_TRUE(window->pPlay->aControlsStop->isEnabled());

  window->pPlay->aControlsNextExecute(); // Q, and the current row is Q's
  RunUntilIdle();
  EXPECT_EQ(window->pPlay->Sequencer->CurrentVideo().Url, "q");
  EXPECT_TRUE(window->pPlay->aControlsPrev->isEnabled());

  // Previous loads the current row again, the video now playing: Q restarts.
  window->pPlay->aControlsPrev->trigger();
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(window->pPlay->Sequencer->PreviousVideo().Url, "");
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->aControlsPrev->isEnabled());
}

TEST_F(SequencerTest, PlayWithNoVideoChosenRunsItsPhasesThenPicksARow) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->pPlay->aControlsPlayExecute();
  EXPECT_EQ(window->pPlay->Sequencer->CurrentVideo().Url, ""); // not loaded from the row
  EXPECT_EQ(TopLogLine(), "Restart - 3 ");
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), PageFor(""));
  Tick(3);
  EXPECT_EQ(TopLogLine(), "Lead In - 0");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(5);
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  Tick(1);
  const std::string next = window->pPlay->Sequencer->CurrentVideo().Url;
  EXPECT_TRUE(next == "p" || next == "q") << next;
  EXPECT_EQ(TopLogLine(), "Next - 5 " + next);
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), PageFor(next));
}

TEST_F(SequencerTest, DoubleClickPlaysARowButNotTheHeader) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

  const QHeaderView *header = window->pPlay->sgPlayList->horizontalHeader();
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                     QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  window->pPlay->sgPlayListDblClickCell(0, 1);
  EXPECT_EQ(Log(), std::vector<std::string>{"*** Sonabox log ***"});
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());

  const QRect cell = window->pPlay->sgPlayList->visualRect(window->pPlay->ds->index(1, 0));
  // A double click begins with the click of its first press.
  QTest::mouseClick(window->pPlay->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(window->pPlay->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(window->pPlay->Sequencer->CurrentVideo().Url, "q");
  EXPECT_EQ(window->pPlay->Sequencer->CurrentVideo().Title, "Q");
  EXPECT_EQ(window->pPlay->cdsPlayList->RecNo(), 2);
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), PageFor("q"));
  EXPECT_TRUE(window->pPlay->tShuffle->isActive());
}

TEST_F(SequencerTest, StopBlanksThePlayerAndKeepsTheState) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->pPlay->aControlsNextExecute();
  Tick(5);
  window->pPlay->aControlsStopExecute();
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), "");
  EXPECT_EQ(window->pPlay->Sequencer->PlayPhase(), 4);
  EXPECT_FALSE(window->pPlay->Sequencer->CurrentVideo().Url.empty());
}

TEST_F(SequencerTest, TableErrorsAreShownAndEndPlayback) {
  test::ModalWatcher boxes;
  OpenPlayList({{"P", "p", 1}, {"Q", "q", 1}});
  window->show();
  window->pPlay->sgPlayListDblClickCell(1, 0);
  window->pPlay->cdsPlayList->Close(); // as when the playlist is deleted while it plays

  // The real timer, made quick, reaches the next-video step on the closed table.
  window->pPlay->tShuffle->setInterval(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes().empty(); }, 10000));
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(Text(boxes.Boxes()[0].Text),
            "cdsPlayList: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());

  // Play with the playlist closed and a video still known: the error, nothing else.
  RunUntilIdle();
  ASSERT_TRUE(window->pPlay->aControlsPlay->isEnabled());
  window->pPlay->aControlsPlay->trigger();
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(Text(boxes.Boxes()[1].Text), "cdsPlayList: Field 'Url' not found");
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
}

// ------------------------------------------------------------ expanded window

TEST_F(SequencerTest, ExpandWhileNothingPlaysThenPlay) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  emit window->pPlay->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = window->pPlay->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_TRUE(expanded->isVisible());
  EXPECT_EQ(Text(expanded->windowTitle()), "Currently Playing:: ");
  EXPECT_EQ(expanded->size(), QSize(624, 409));
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), "");
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());

  window->pPlay->sgPlayListDblClickCell(2, 0);
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing:: Q");
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("q"));
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), "");

  // Stop blanks only the small view; the expanded one plays on.
  window->pPlay->aControlsStopExecute();
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("q"));
}

TEST_F(SequencerTest, ExpandDuringPlaybackRestartsThereOnce) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  window->pPlay->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10); // ten seconds into P
  window->mLog->clear();

  emit window->pPlay->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = window->pPlay->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("p"));
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing:: P");
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), "");

  Tick(2);
  emit window->pPlay->lbExpand->linkActivated("expand"); // only brings it to the front
  EXPECT_EQ(window->pPlay->dExpandedVideo, expanded);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(window->pPlay->Sequencer->TickCount(), 2);
}

TEST_F(SequencerTest, ClosingTheExpandedWindowResumesInTheSmallView) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  emit window->pPlay->lbExpand->linkActivated("expand");
  window->pPlay->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10);
  QPointer<TdExpandedVideo> expanded = window->pPlay->dExpandedVideo.data();
  window->pPlay->lbNowPlayingTitle->clear();

  expanded->close();
  EXPECT_EQ(window->pPlay->dExpandedVideo, nullptr);
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), PageFor("p"));
  EXPECT_EQ(Text(window->pPlay->lbNowPlayingTitle->text()), "Now playing: P");
  EXPECT_EQ(window->pPlay->Sequencer->PlayPhase(), 4); // the count-down goes on where it was
  EXPECT_EQ(window->pPlay->Sequencer->TickCount(), 10);
  EXPECT_EQ(TopLogLine(), "Lead In - 60");
  EXPECT_TRUE(QTest::qWaitFor([&] { return expanded.isNull(); }, 5000)); // released

  // A new click makes a new window; with nothing playing, closing it shows nothing.
  window->pPlay->aControlsStopExecute();
  emit window->pPlay->lbExpand->linkActivated("expand");
  ASSERT_NE(window->pPlay->dExpandedVideo, nullptr);
  window->pPlay->dExpandedVideo->close();
  EXPECT_EQ(Page(*window->pPlay->wbPlayer), "");
}

} // namespace
