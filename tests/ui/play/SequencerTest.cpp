// The play sequencer and the expanded video window, driven tick by tick: the
// tests call tShuffleTimer themselves instead of waiting for real seconds.
#include "ui/app/MainWindow.h"
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/widgets/HtmlView.h"
#include "core/playback/PlayerDocument.h"
#include "core/playback/VideoDetails.h"
#include "core/playlists/DataTable.h"
#include "ui/widgets/DataTableModel.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"

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
    TDataTable &table = *window->cdsPlayList;
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
      ASSERT_TRUE(window->tShuffle->isActive()) << "tick " << i;
      window->tShuffleTimer();
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
  window->aControlsNextExecute();
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  EXPECT_EQ(Page(*window->wbPlayer), PageFor("long"));
  EXPECT_EQ(Text(window->lbNowPlayingTitle->text()), "Now playing: Long <b>song</b>");
  EXPECT_EQ(window->lbNowPlayingTitle->textFormat(), Qt::PlainText); // a title is no markup

  Tick(1);
  EXPECT_EQ(Text(window->lbCountDown->text()), "Timer: 0:04");
  Tick(3);
  EXPECT_EQ(TopLogLine(), "Next - 5 long");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead In - 200");
  Tick(1);
  EXPECT_EQ(Text(window->lbCountDown->text()), "Timer: 3:19");
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
  EXPECT_TRUE(window->tShuffle->isActive());
  EXPECT_FALSE(window->lbCountDown->isVisibleTo(window.get())); // updated, never shown
}

TEST_F(SequencerTest, NextNeverPicksTheVideoJustPlayed) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  window->sgPlayListDblClickCell(1, 0); // P plays
  ASSERT_EQ(window->CurrentVideo->Url, "p");
  std::map<std::string, int> picked;
  for (int trial = 0; trial < 300; ++trial) {
    const std::string playing = window->CurrentVideo->Url;
    window->aControlsNextExecute();
    ASSERT_NE(window->CurrentVideo->Url, playing) << "trial " << trial;
    EXPECT_EQ(window->sgPlayList->currentIndex().row() + 1, window->cdsPlayList->RecNo());
    EXPECT_EQ(window->PreviousVideo->Url, playing);
    ++picked[window->CurrentVideo->Url];
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
    window->aControlsNextExecute();
    window->aControlsNextExecute(); // the video just played is the only one there is
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Next - 5 " + c.rows[0].Url, "Next - 5 " + c.rows[0].Url}))
        << c.name;
    EXPECT_EQ(window->PreviousVideo->Url, c.rows[0].Url) << c.name;
  }
}

TEST_F(SequencerTest, PreviousIsOfferedOnlyAfterAChangeOfVideo) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  RunUntilIdle();
  EXPECT_FALSE(window->aControlsPrev->isEnabled());

  window->sgPlayListDblClickCell(1, 0); // P, restarted: no change of video
  RunUntilIdle();
  EXPECT_FALSE(window->aControlsPrev->isEnabled());
  EXPECT_TRUE(window->aControlsStop->isEnabled());

  window->aControlsNextExecute(); // Q, and the current row is Q's
  RunUntilIdle();
  EXPECT_EQ(window->CurrentVideo->Url, "q");
  EXPECT_TRUE(window->aControlsPrev->isEnabled());

  // Previous loads the current row again, the video now playing: Q restarts.
  window->aControlsPrev->trigger();
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(window->PreviousVideo->Url, "");
  RunUntilIdle();
  EXPECT_FALSE(window->aControlsPrev->isEnabled());
}

TEST_F(SequencerTest, PlayWithNoVideoChosenRunsItsPhasesThenPicksARow) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->aControlsPlayExecute();
  EXPECT_EQ(window->CurrentVideo->Url, ""); // not loaded from the row
  EXPECT_EQ(TopLogLine(), "Restart - 3 ");
  EXPECT_EQ(Page(*window->wbPlayer), PageFor(""));
  Tick(3);
  EXPECT_EQ(TopLogLine(), "Lead In - 0");
  Tick(1);
  EXPECT_EQ(TopLogLine(), "Lead Out - 5");
  Tick(5);
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  Tick(1);
  const std::string next = window->CurrentVideo->Url;
  EXPECT_TRUE(next == "p" || next == "q") << next;
  EXPECT_EQ(TopLogLine(), "Next - 5 " + next);
  EXPECT_EQ(Page(*window->wbPlayer), PageFor(next));
}

TEST_F(SequencerTest, DoubleClickPlaysARowButNotTheHeader) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

  const QHeaderView *header = window->sgPlayList->horizontalHeader();
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                     QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  window->sgPlayListDblClickCell(0, 1);
  EXPECT_EQ(Log(), std::vector<std::string>{"*** Sonabox log ***"});
  EXPECT_FALSE(window->tShuffle->isActive());

  const QRect cell = window->sgPlayList->visualRect(window->ds->index(1, 0));
  // A double click begins with the click of its first press.
  QTest::mouseClick(window->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(window->sgPlayList->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(window->CurrentVideo->Url, "q");
  EXPECT_EQ(window->CurrentVideo->Title, "Q");
  EXPECT_EQ(window->cdsPlayList->RecNo(), 2);
  EXPECT_EQ(TopLogLine(), "Restart - 3 q");
  EXPECT_EQ(Page(*window->wbPlayer), PageFor("q"));
  EXPECT_TRUE(window->tShuffle->isActive());
}

TEST_F(SequencerTest, StopBlanksThePlayerAndKeepsTheState) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->aControlsNextExecute();
  Tick(5);
  window->aControlsStopExecute();
  EXPECT_FALSE(window->tShuffle->isActive());
  EXPECT_EQ(Page(*window->wbPlayer), "");
  EXPECT_EQ(window->PlayPhase, 4);
  EXPECT_FALSE(window->CurrentVideo->Url.empty());
}

TEST_F(SequencerTest, TableErrorsAreShownAndEndPlayback) {
  test::ModalWatcher boxes;
  OpenPlayList({{"P", "p", 1}, {"Q", "q", 1}});
  window->show();
  window->sgPlayListDblClickCell(1, 0);
  window->cdsPlayList->Close(); // as when the playlist is deleted while it plays

  // The real timer, made quick, reaches the next-video step on the closed table.
  window->tShuffle->setInterval(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes().empty(); }, 10000));
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(Text(boxes.Boxes()[0].Text),
            "cdsPlayList: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  EXPECT_FALSE(window->tShuffle->isActive());

  // Play with the playlist closed and a video still known: the error, nothing else.
  RunUntilIdle();
  ASSERT_TRUE(window->aControlsPlay->isEnabled());
  window->aControlsPlay->trigger();
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(Text(boxes.Boxes()[1].Text), "cdsPlayList: Field 'Url' not found");
  EXPECT_EQ(TopLogLine(), "Lead Out - 0");
  EXPECT_FALSE(window->tShuffle->isActive());
}

// ------------------------------------------------------------ expanded window

TEST_F(SequencerTest, ExpandWhileNothingPlaysThenPlay) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  emit window->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = window->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_TRUE(expanded->isVisible());
  EXPECT_EQ(Text(expanded->windowTitle()), "Currently Playing:: ");
  EXPECT_EQ(expanded->size(), QSize(624, 409));
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), "");
  EXPECT_FALSE(window->tShuffle->isActive());

  window->sgPlayListDblClickCell(2, 0);
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing:: Q");
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("q"));
  EXPECT_EQ(Page(*window->wbPlayer), "");

  // Stop blanks only the small view; the expanded one plays on.
  window->aControlsStopExecute();
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("q"));
}

TEST_F(SequencerTest, ExpandDuringPlaybackRestartsThereOnce) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  window->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10); // ten seconds into P
  window->mLog->clear();

  emit window->lbExpand->linkActivated("expand");
  TdExpandedVideo *expanded = window->dExpandedVideo;
  ASSERT_NE(expanded, nullptr);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(Page(*expanded->wbExpandedVideo), PageFor("p"));
  EXPECT_EQ(Text(expanded->windowTitle()), "Now Playing:: P");
  EXPECT_EQ(Page(*window->wbPlayer), "");

  Tick(2);
  emit window->lbExpand->linkActivated("expand"); // only brings it to the front
  EXPECT_EQ(window->dExpandedVideo, expanded);
  EXPECT_EQ(Log(), std::vector<std::string>{"Restart - 3 p"});
  EXPECT_EQ(window->TickCount, 2);
}

TEST_F(SequencerTest, ClosingTheExpandedWindowResumesInTheSmallView) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  window->show();
  emit window->lbExpand->linkActivated("expand");
  window->sgPlayListDblClickCell(1, 0);
  Tick(3 + 10);
  QPointer<TdExpandedVideo> expanded = window->dExpandedVideo.data();
  window->lbNowPlayingTitle->clear();

  expanded->close();
  EXPECT_EQ(window->dExpandedVideo, nullptr);
  EXPECT_EQ(Page(*window->wbPlayer), PageFor("p"));
  EXPECT_EQ(Text(window->lbNowPlayingTitle->text()), "Now playing: P");
  EXPECT_EQ(window->PlayPhase, 4); // the count-down goes on where it was
  EXPECT_EQ(window->TickCount, 10);
  EXPECT_EQ(TopLogLine(), "Lead In - 60");
  EXPECT_TRUE(QTest::qWaitFor([&] { return expanded.isNull(); }, 5000)); // released

  // A new click makes a new window; with nothing playing, closing it shows nothing.
  window->aControlsStopExecute();
  emit window->lbExpand->linkActivated("expand");
  ASSERT_NE(window->dExpandedVideo, nullptr);
  window->dExpandedVideo->close();
  EXPECT_EQ(Page(*window->wbPlayer), "");
}

} // namespace
