// The play sequencer on a playlist table, driven tick by tick: the tests call
// Tick themselves instead of waiting for real seconds, and record what the
// sequencer tells its page, stamped with the tick it happened on.
#include "core/playback/PlaySequencer.h"

#include "core/common/TextHelpers.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace sonabox;

namespace {

struct Row {
  std::string Title, Url;
  int Seconds;
};

using Lines = std::vector<std::string>;

class PlaySequencerTest : public ::testing::Test {
protected:
  void SetUp() override {
    QObject::connect(&sequencer, &TPlaySequencer::LogLine, [this](const std::string &line) {
      log.push_back(std::to_string(ticks) + ": " + line);
    });
    QObject::connect(&sequencer, &TPlaySequencer::ShowVideo,
                     [this] { shown.push_back(sequencer.CurrentVideo().Url); });
    QObject::connect(&sequencer, &TPlaySequencer::CountDown,
                     [this](int secondsLeft) { countDowns[ticks] = secondsLeft; });
    QObject::connect(&sequencer, &TPlaySequencer::RowChosen,
                     [this](int recNo) { rowsChosen.push_back(recNo); });
    QObject::connect(&sequencer, &TPlaySequencer::Stopped, [this] { ++stopped; });
  }

  void OpenPlayList(const std::vector<Row> &rows) {
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

  // One second after another, each on a running timer.
  void Tick(int times) {
    for (int i = 0; i < times; ++i) {
      ASSERT_TRUE(sequencer.Running()) << "tick " << ticks + 1;
      ++ticks;
      sequencer.Tick();
    }
  }

  // The caption the page makes of a count-down.
  static std::string Caption(int secondsLeft) {
    return "Timer: " + SecondsToText(std::to_string(secondsLeft));
  }

  TDataTable table{"cdsPlayList"};
  TPlaySequencer sequencer{table};
  int ticks = 0;
  Lines log; // "<tick>: <line>", oldest first
  Lines shown;
  std::map<int, int> countDowns; // tick -> seconds left
  std::vector<int> rowsChosen;
  int stopped = 0;
};

TEST_F(PlaySequencerTest, StartsStoppedWithASecondTimer) {
  EXPECT_FALSE(sequencer.Running());
  EXPECT_EQ(sequencer.Timer().interval(), 1000);
  EXPECT_EQ(sequencer.Timer().objectName(), "tShuffle");
  EXPECT_EQ(sequencer.CurrentVideo().Url, "");
  EXPECT_EQ(sequencer.PreviousVideo().Url, "");
}

// The rhythm of whole videos: which line is written on which tick.
TEST_F(PlaySequencerTest, PhasesAndTheirLengths) {
  const struct {
    const char *name;
    std::vector<Row> rows;
    std::function<void(TPlaySequencer &)> start;
    int ticks;
    Lines log;
  } cases[] = {
      {"a 200-second video after Next",
       {{"Long", "long", 200}},
       [](TPlaySequencer &s) { s.Next(); },
       211,
       {"0: Next - 5 long", "5: Lead In - 200", "205: Lead Out - 5", "210: Lead Out - 0",
        "211: Next - 5 long"}},
      {"a 0-second video: the lead-out follows the lead-in",
       {{"Zero", "zero", 0}},
       [](TPlaySequencer &s) { s.Next(); },
       12,
       {"0: Next - 5 zero", "5: Lead In - 0", "6: Lead Out - 5", "11: Lead Out - 0",
        "12: Next - 5 zero"}},
      {"a double-clicked row gets a 3-second lead-in",
       {{"P", "p", 60}},
       [](TPlaySequencer &s) { s.PlayRow(1); },
       69,
       {"0: Restart - 3 p", "3: Lead In - 60", "63: Lead Out - 5", "68: Lead Out - 0",
        "69: Next - 5 p"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ticks = 0;
    log.clear();
    OpenPlayList(c.rows);
    c.start(sequencer);
    Tick(c.ticks);
    EXPECT_EQ(log, c.log);
    EXPECT_TRUE(sequencer.Running());
    EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::LeadIn);
    EXPECT_EQ(sequencer.CountDownLength(), 5);
    EXPECT_EQ(sequencer.TickCount(), 0);
    sequencer.Stop();
  }
}

TEST_F(PlaySequencerTest, CountDownAfterEachTickThatDoesNotEndIt) {
  OpenPlayList({{"Long", "long", 200}});
  sequencer.Next();
  EXPECT_EQ(shown, Lines{"long"});
  EXPECT_EQ(rowsChosen, std::vector<int>{1});
  Tick(1);
  EXPECT_EQ(Caption(countDowns.at(1)), "Timer: 0:04");
  Tick(5); // "Lead In - 200" on tick 5
  EXPECT_EQ(Caption(countDowns.at(6)), "Timer: 3:19");
  EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::Video);
  EXPECT_EQ(sequencer.TickCount(), 1);
  Tick(199 + 5 + 1);
  // Ticks that end a count-down tell no seconds: 5, 205, 210 and 211.
  for (int tick : {5, 205, 210, 211}) EXPECT_EQ(countDowns.count(tick), 0u) << tick;
  EXPECT_EQ(countDowns.size(), 4u + 199u + 4u);
  EXPECT_EQ(countDowns.at(209), 1);
  EXPECT_EQ(shown, (Lines{"long", "long"}));
}

TEST_F(PlaySequencerTest, NextNeverPicksTheVideoPlaying) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  sequencer.PlayRow(1);
  ASSERT_EQ(sequencer.CurrentVideo().Url, "p");
  std::map<std::string, int> picked;
  for (int trial = 0; trial < 300; ++trial) {
    const std::string playing = sequencer.CurrentVideo().Url;
    sequencer.Next();
    const std::string now = sequencer.CurrentVideo().Url;
    ASSERT_NE(now, playing) << "trial " << trial;
    EXPECT_EQ(sequencer.PreviousVideo().Url, playing);
    // The table, and the grid told by RowChosen, stand on the row that plays.
    EXPECT_EQ(rowsChosen.back(), table.RecNo());
    EXPECT_EQ(table.FieldByName("Url").AsString(), now);
    EXPECT_EQ(shown.back(), now);
    ++picked[now];
  }
  EXPECT_EQ(picked.size(), 3u);
  for (const auto &[url, count] : picked) EXPECT_GT(count, 50) << url; // about 100 each
}

TEST_F(PlaySequencerTest, NextWithOneDistinctVideoTakesItAgain) {
  const struct {
    const char *name;
    std::vector<Row> rows;
  } cases[] = {
      {"one row", {{"Only", "only", 30}}},
      // No draw finds another video; the draws are bounded, so Next ends.
      {"every row the same video", {{"A", "same", 30}, {"B", "same", 30}, {"C", "same", 30}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    OpenPlayList(c.rows);
    sequencer.Next();
    sequencer.Next(); // the video just played is the only one there is
    const std::string url = c.rows[0].Url;
    EXPECT_EQ(log, (Lines{"0: Next - 5 " + url, "0: Next - 5 " + url}));
    EXPECT_EQ(sequencer.PreviousVideo().Url, url);
    EXPECT_TRUE(sequencer.Running());
  }
}

TEST_F(PlaySequencerTest, OnlyRowsThroughTheFilterAreDrawn) {
  OpenPlayList(
      {{"Keep A", "a", 60}, {"Drop B", "b", 60}, {"Keep C", "c", 60}, {"Drop D", "d", 60}});
  table.SetFilter("Title LIKE 'Keep%'");
  table.SetFiltered(true);
  ASSERT_EQ(table.RecordCount(), 2);
  std::map<std::string, int> picked;
  for (int trial = 0; trial < 100; ++trial) {
    sequencer.Next();
    ++picked[sequencer.CurrentVideo().Url];
    EXPECT_EQ(table.DisplayText(rowsChosen.back(), "Url"), sequencer.CurrentVideo().Url);
  }
  // Each pick differs from the one before: with two rows, they take turns.
  EXPECT_EQ(picked, (std::map<std::string, int>{{"a", 50}, {"c", 50}}));
}

TEST_F(PlaySequencerTest, DoubleClickedRowPlays) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  sequencer.PlayRow(2);
  EXPECT_EQ(sequencer.CurrentVideo().Url, "q");
  EXPECT_EQ(sequencer.CurrentVideo().Title, "Q");
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_EQ(log, Lines{"0: Restart - 3 q"});
  EXPECT_EQ(shown, Lines{"q"});
  EXPECT_TRUE(rowsChosen.empty()); // the grid is already there
  EXPECT_TRUE(sequencer.Running());
}

TEST_F(PlaySequencerTest, DoubleClickThatPlaysNothing) {
  const struct {
    const char *name;
    int recNo;
    bool close;
  } cases[] = {
      {"the header row", 0, false},
      {"below the last row", 3, false},
      {"a closed playlist", 1, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
    if (c.close) table.Close();
    sequencer.PlayRow(c.recNo);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(sequencer.Running());
    EXPECT_EQ(sequencer.CurrentVideo().Url, "");
  }
}

TEST_F(PlaySequencerTest, StopKeepsTheStateAndPlayRestarts) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  sequencer.Next();
  const std::string playing = sequencer.CurrentVideo().Url;
  Tick(5 + 10);
  sequencer.Stop();
  EXPECT_FALSE(sequencer.Running());
  EXPECT_EQ(stopped, 1);
  EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::Video);
  EXPECT_EQ(sequencer.TickCount(), 10);
  EXPECT_EQ(sequencer.CurrentVideo().Url, playing);

  log.clear();
  sequencer.Play(); // the table stands on the video that was playing
  EXPECT_EQ(log, Lines{"15: Restart - 3 " + playing});
  EXPECT_EQ(shown.back(), playing);
  EXPECT_TRUE(sequencer.Running());
}

TEST_F(PlaySequencerTest, PlayChoosesAnotherHighlightedRow) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
  sequencer.PlayRow(1);
  table.SetRecNo(3); // highlighted in the grid
  sequencer.Play();
  EXPECT_EQ(log, (Lines{"0: Restart - 3 p", "0: Restart - 3 r"}));
  EXPECT_EQ(sequencer.CurrentVideo().Title, "R");
}

TEST_F(PlaySequencerTest, PlayWithNoVideoChosenPlaysTheHighlightedRow) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  table.SetRecNo(2);
  sequencer.Play();
  EXPECT_EQ(sequencer.CurrentVideo().Title, "Q");
  EXPECT_EQ(shown, Lines{"q"}); // never an empty identifier
  Tick(3);
  EXPECT_EQ(log, (Lines{"0: Restart - 3 q", "3: Lead In - 60"}));
  EXPECT_EQ(table.RecNo(), 2);
}

TEST_F(PlaySequencerTest, PreviousPlaysTheVideoBeforeTheCurrentOne) {
  const struct {
    const char *name;
    bool deleteItsRow;
  } cases[] = {{"its row still there", false}, {"its row deleted", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}, {"R", "r", 60}});
    sequencer.PlayRow(1);
    log.clear();
    sequencer.Previous(); // P is the first video: there is none before it
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(sequencer.CurrentVideo().Url, "p");

    sequencer.Next();
    const std::string next = sequencer.CurrentVideo().Url;
    if (c.deleteItsRow) {
      table.SetRecNo(1);
      table.Delete();
      table.SetRecNo(next == "q" ? 1 : 2); // the grid still on the video now playing
    }
    const int rowOfNext = table.RecNo();
    rowsChosen.clear();
    log.clear();
    sequencer.Previous();
    EXPECT_EQ(log, Lines{"0: Restart - 3 p"});
    EXPECT_EQ(shown.back(), "p");
    EXPECT_EQ(sequencer.CurrentVideo().Title, "P");
    EXPECT_FALSE(sequencer.HasPrevious());
    if (c.deleteItsRow) {
      EXPECT_EQ(table.RecNo(), rowOfNext);
      EXPECT_TRUE(rowsChosen.empty());
    } else {
      EXPECT_EQ(table.RecNo(), 1);
      EXPECT_EQ(rowsChosen, std::vector<int>{1});
    }

    log.clear();
    sequencer.Previous(); // P was the first video
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(sequencer.CurrentVideo().Url, "p");
    sequencer.Stop();
  }
}

// The player reports the end of the video (or that it could not play it) in
// each phase: the phases still to come run through at once, each with its
// line, to the next video.
TEST_F(PlaySequencerTest, TheEndOfAVideoGoesOnToTheNextAtOnce) {
  const struct {
    const char *name;
    int ticks; // after "Restart - 3 p"
    Lines lines;
  } cases[] = {
      {"in the lead-in", 1, {"Lead In - 60", "Lead Out - 5", "Lead Out - 0", "Next - 5 q"}},
      {"while it plays", 3 + 20, {"Lead Out - 5", "Lead Out - 0", "Next - 5 q"}},
      {"in the lead-out", 3 + 60 + 2, {"Lead Out - 0", "Next - 5 q"}},
      {"when the next is due", 3 + 60 + 5, {"Next - 5 q"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
    sequencer.PlayRow(1);
    Tick(c.ticks);
    log.clear();
    shown.clear();
    sequencer.VideoEnded();
    Lines expected;
    for (const std::string &line : c.lines) expected.push_back(std::to_string(ticks) + ": " + line);
    EXPECT_EQ(log, expected);
    EXPECT_EQ(shown, Lines{"q"});
    EXPECT_EQ(sequencer.PreviousVideo().Url, "p");
    EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::LeadIn);
    EXPECT_EQ(sequencer.TickCount(), 0);
    EXPECT_TRUE(sequencer.Running());
    sequencer.Stop();
    log.clear();
    sequencer.VideoEnded(); // a late report after Stop
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(sequencer.Running());
  }
}

TEST_F(PlaySequencerTest, TheEndOfTheLastVideoOfAnEmptiedPlayListStops) {
  OpenPlayList({{"P", "p", 60}});
  sequencer.PlayRow(1);
  table.Close();
  sequencer.VideoEnded();
  EXPECT_EQ(log,
            (Lines{"0: Restart - 3 p", "0: Lead In - 60", "0: Lead Out - 5", "0: Lead Out - 0"}));
  EXPECT_EQ(stopped, 1);
  EXPECT_FALSE(sequencer.Running());
}

TEST_F(PlaySequencerTest, TheCountDownFollowsThePlayer) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  sequencer.FollowPlayer(0, 42); // nothing plays
  EXPECT_TRUE(log.empty());

  // The first frame ends the lead-in; the player's length replaces the stored one.
  sequencer.PlayRow(1);
  Tick(1);
  sequencer.FollowPlayer(0, 42);
  EXPECT_EQ(log, (Lines{"0: Restart - 3 p", "1: Lead In - 60"}));
  EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::Video);
  EXPECT_EQ(sequencer.CountDownLength(), 42);
  EXPECT_EQ(sequencer.TickCount(), 0);

  // A seek moves the count-down; past the end, one second is left.
  sequencer.FollowPlayer(30, 42);
  EXPECT_EQ(sequencer.TickCount(), 30);
  Tick(1);
  EXPECT_EQ(countDowns[ticks], 11);
  sequencer.FollowPlayer(500, 42);
  Tick(1);
  EXPECT_EQ(log.back(), std::to_string(ticks) + ": Lead Out - 5");

  // With no length from the player the stored one counts; in the lead-out a
  // report changes nothing.
  sequencer.FollowPlayer(3, 0);
  EXPECT_EQ(sequencer.PlayPhase(), TPlayPhase::LeadOut);
  EXPECT_EQ(sequencer.TickCount(), 0);
  sequencer.PlayRow(2);
  sequencer.FollowPlayer(3, 0);
  EXPECT_EQ(sequencer.CountDownLength(), 60);
  EXPECT_EQ(sequencer.TickCount(), 3);
}

// A player that reports nothing at all: the count-down alone moves playback
// on, lead-in, stored length and lead-out, as it always did.
TEST_F(PlaySequencerTest, WithoutReportsTheCountDownMovesOn) {
  OpenPlayList({{"P", "p", 2}, {"Q", "q", 2}});
  sequencer.PlayRow(1);
  Tick(3 + 2 + 5 + 1);
  EXPECT_EQ(log, (Lines{"0: Restart - 3 p", "3: Lead In - 2", "5: Lead Out - 5", "10: Lead Out - 0",
                        "11: Next - 5 q"}));
}

TEST_F(PlaySequencerTest, PauseHoldsTheCountDown) {
  OpenPlayList({{"P", "p", 60}, {"Q", "q", 60}});
  sequencer.SetPaused(true); // nothing plays
  EXPECT_FALSE(sequencer.Paused());

  sequencer.PlayRow(1);
  Tick(3 + 10);
  sequencer.SetPaused(true);
  EXPECT_TRUE(sequencer.Paused());
  EXPECT_TRUE(sequencer.Running()); // playback goes on, held
  EXPECT_FALSE(sequencer.Timer().isActive());
  EXPECT_EQ(sequencer.TickCount(), 10);
  sequencer.SetPaused(false);
  EXPECT_TRUE(sequencer.Timer().isActive());
  Tick(1);
  EXPECT_EQ(countDowns[ticks], 49);

  // Another video, or Stop, ends the pause.
  sequencer.SetPaused(true);
  sequencer.Next();
  EXPECT_FALSE(sequencer.Paused());
  EXPECT_TRUE(sequencer.Timer().isActive());
  sequencer.SetPaused(true);
  sequencer.Stop();
  EXPECT_FALSE(sequencer.Paused());
  EXPECT_FALSE(sequencer.Running());
}

// How the playlist can be gone: closed (deleted), emptied, or filtered down to
// no visible row.
const struct {
  const char *name;
  std::function<void(TDataTable &)> empty;
} kPlayListGone[] = {
    {"closed", [](TDataTable &t) { t.Close(); }},
    {"every row deleted",
     [](TDataTable &t) {
       t.First();
       while (t.RecordCount() > 0) t.Delete();
     }},
    {"no row through the filter",
     [](TDataTable &t) {
       t.SetFilter("Title LIKE 'nothing%'");
       t.SetFiltered(true);
     }},
};

TEST_F(PlaySequencerTest, NothingToPlayFromAnEmptyPlaylist) {
  for (const auto &c : kPlayListGone) {
    SCOPED_TRACE(c.name);
    OpenPlayList({{"P", "p", 60}});
    c.empty(table);
    EXPECT_NO_THROW(sequencer.Play());
    EXPECT_NO_THROW(sequencer.Next());
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_FALSE(sequencer.Running());
    table.SetFiltered(false);
  }
}

TEST_F(PlaySequencerTest, PlaylistGoneWhilePlayingStopsAtTheNextVideo) {
  for (const auto &c : kPlayListGone) {
    SCOPED_TRACE(c.name);
    ticks = 0;
    stopped = 0;
    OpenPlayList({{"P", "p", 1}, {"Q", "q", 1}});
    sequencer.PlayRow(1);
    sequencer.Next(); // Q, with P before it
    log.clear();
    shown.clear();
    c.empty(table);
    Tick(5 + 1 + 5); // Q plays to its end
    EXPECT_EQ(log, (Lines{"5: Lead In - 1", "6: Lead Out - 5", "11: Lead Out - 0"}));
    EXPECT_NO_THROW(Tick(1));
    EXPECT_FALSE(sequencer.Running());
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(log.size(), 3u);
    EXPECT_TRUE(shown.empty()); // no player page for an empty identifier
    EXPECT_EQ(sequencer.CurrentVideo().Url, "q");

    // The controls do nothing until there are rows again.
    EXPECT_NO_THROW(sequencer.Play());
    EXPECT_NO_THROW(sequencer.Next());
    EXPECT_NO_THROW(sequencer.Previous());
    EXPECT_FALSE(sequencer.Running());
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(sequencer.CurrentVideo().Url, "q");
    EXPECT_EQ(sequencer.PreviousVideo().Url, "p");
    table.SetFiltered(false);
  }
}

} // namespace

TEST(PlayModes, NamesRoundTrip) {
  for (TPlayMode mode :
       {TPlayMode::Shuffle, TPlayMode::ShuffleAll, TPlayMode::InOrder, TPlayMode::RepeatOne})
    EXPECT_EQ(PlayModeFromName(PlayModeName(mode)), mode);
  EXPECT_STREQ(PlayModeName(TPlayMode::ShuffleAll), "Shuffle all");
  EXPECT_EQ(PlayModeFromName("shuffle all"), TPlayMode::Shuffle); // unknown: the default
  EXPECT_EQ(PlayModeFromName(""), TPlayMode::Shuffle);
}

// The modes that choose without chance: the videos that follow a start, when
// each video plays to its end ("end") or Next is pressed ("next").
TEST_F(PlaySequencerTest, InOrderAndRepeatOne) {
  const std::vector<Row> pqr = {{"Keep P", "p", 1}, {"Drop Q", "q", 1}, {"Keep R", "r", 1}};
  const struct {
    const char *name;
    TPlayMode mode;
    std::function<void(TPlaySequencer &, TDataTable &)> start;
    std::vector<std::string> steps;
    Lines played; // the video after each step
  } cases[] = {
      {"in order from a double-clicked row, then from the top",
       TPlayMode::InOrder,
       [](TPlaySequencer &s, TDataTable &) { s.PlayRow(2); },
       {"end", "end", "next", "end"},
       {"r", "p", "q", "r"}},
      {"in order from Next with nothing played: the top row",
       TPlayMode::InOrder,
       [](TPlaySequencer &s, TDataTable &) { s.Next(); },
       {"next"},
       {"q"}},
      {"in order after the row the grid moved to",
       TPlayMode::InOrder,
       [](TPlaySequencer &s, TDataTable &t) {
         s.PlayRow(1);
         t.SetRecNo(3); // another row highlighted: the video that plays decides
       },
       {"end"},
       {"q"}},
      {"in order through the filter",
       TPlayMode::InOrder,
       [](TPlaySequencer &s, TDataTable &t) {
         t.SetFilter("Title LIKE 'Keep%'");
         t.SetFiltered(true);
         s.PlayRow(2); // R, the second row shown
       },
       {"end", "end"},
       {"p", "r"}},
      {"repeat one: the same video at its end, the next one on Next",
       TPlayMode::RepeatOne,
       [](TPlaySequencer &s, TDataTable &) { s.PlayRow(2); },
       {"end", "end", "next", "end"},
       {"q", "q", "r", "r"}},
      {"repeat one whose row was deleted: the top row",
       TPlayMode::RepeatOne,
       [](TPlaySequencer &s, TDataTable &t) {
         s.PlayRow(2);
         t.Delete();
       },
       {"end"},
       {"p"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenPlayList(pqr);
    sequencer.SetPlayMode(c.mode);
    c.start(sequencer, table);
    Lines played;
    for (const std::string &step : c.steps) {
      if (step == "next") {
        sequencer.Next();
      } else {
        const size_t before = log.size();
        for (int i = 0;
             i < 30 && (log.size() == before || log.back().find("Next - ") == std::string::npos);
             ++i)
          Tick(1);
      }
      played.push_back(sequencer.CurrentVideo().Url);
      EXPECT_EQ(table.DisplayText(rowsChosen.back(), "Url"), played.back());
    }
    EXPECT_EQ(played, c.played);
    sequencer.Stop();
    table.SetFiltered(false);
  }
}

TEST_F(PlaySequencerTest, ShuffleAllPlaysEachVideoOnceBeforeAnyRepeats) {
  OpenPlayList({{"A", "a", 60}, {"B", "b", 60}, {"C", "c", 60}, {"D", "d", 60}});
  sequencer.SetPlayMode(TPlayMode::ShuffleAll);
  sequencer.PlayRow(2); // b is the first of the round
  std::string last = "b";
  std::set<std::string> round = {"b"};
  std::map<std::string, int> firsts; // the first video of each new round
  for (int pick = 0; pick < 400; ++pick) {
    sequencer.Next();
    const std::string now = sequencer.CurrentVideo().Url;
    ASSERT_NE(now, last) << "pick " << pick;
    if (round.size() == 4) {
      round.clear();
      ++firsts[now];
    }
    ASSERT_TRUE(round.insert(now).second) << now << " twice in one round, pick " << pick;
    last = now;
  }
  // Rounds begin with any video but the one that ended the round before.
  EXPECT_EQ(firsts.size(), 4u);

  // A new mode, or another playlist, begins a new round.
  sequencer.SetPlayMode(TPlayMode::ShuffleAll);
  OpenPlayList({{"X", "x", 60}, {"Y", "y", 60}});
  table.SetFileName("other.xml");
  sequencer.Next();
  sequencer.Next();
  std::set<std::string> seen = {sequencer.PreviousVideo().Url, sequencer.CurrentVideo().Url};
  EXPECT_EQ(seen, (std::set<std::string>{"x", "y"}));
}
