// The playback object with a fake player: the tests play tables of cases
// through it as the views and the desktop's controls do, and read what the
// player was told and what the object says.
#include "core/playback/Playback.h"

#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/LocalHttpServer.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <memory>
#include <thread>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace sonabox;

namespace {

// Plays nothing: remembers what it was told, and knows the position and
// length the test gives it.
class FakePlayer : public TVideoPlayer {
public:
  void Show(const TVideoDetails &video) override {
    shown.push_back(video.Url);
    if (!video.Url.empty() && video.Url == next) ++wentOn; // opened ahead: no gap
    next.clear();
    position = 0;
    duration = 0;
  }
  void SetNext(const TVideoDetails &video) override { next = video.Url; }
  void Blank() override {
    ++blanked;
    next.clear();
  }
  void SetPaused(bool on) override { paused = on; }
  void SeekTo(double seconds) override {
    seeks.push_back(seconds);
    position = seconds;
  }
  double Position() const override { return position; }
  double Duration() const override { return duration; }
  void SetVolume(int percent) override { volume = percent; }
  void SetMuted(bool on) override { muted = on; }
  void SetEvenLoudness(bool on) override { evenLoudness = on; }

  std::vector<std::string> shown;
  std::string next; // the video opened ahead of time
  int wentOn = 0;   // videos shown that had been opened ahead
  std::vector<double> seeks;
  int blanked = 0;
  bool paused = false, muted = false, evenLoudness = false;
  int volume = -1;
  double position = 0, duration = 0;
};

TVideoDetails Video(const std::string &url) {
  TVideoDetails video;
  video.Url = url;
  video.Title = "Title of " + url;
  video.DurationSeconds = 60;
  return video;
}

void OpenPlayListOf(TPlayback &playback, const std::vector<std::string> &urls) {
  TDataTable &table = playback.PlayList();
  table.Close();
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (const std::string &url : urls) {
    table.Insert();
    StoreVideoInRow(Video(url), table);
    table.Post();
  }
  table.First();
}

// The video web host on a port of the test's choosing, which can go away
// and come back on the same port.
class WebHost {
public:
  explicit WebHost(int port) : port_(port) {}
  ~WebHost() { GoAway(); }
  void ComeBack() {
    server_ = std::make_unique<httplib::Server>();
    server_->Get("/", [](const httplib::Request &, httplib::Response &answer) {
      answer.set_content("videos", "text/plain");
    });
    ASSERT_TRUE(server_->bind_to_port("127.0.0.1", port_));
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void GoAway() {
    if (!server_) return;
    server_->stop();
    thread_.join();
    server_.reset();
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
  int port_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

class PlaybackTest : public ::testing::Test {
protected:
  void SetUp() override {
    playback.SetPlayer(&player);
    web.ComeBack();
    StoreWriteString("VideoWebHost", web.Host());
  }

  // The player could not play the video; the playback asks the web host
  // whether it answers before it goes on.
  void Failed() {
    const std::size_t shown = player.shown.size();
    playback.PlayerFailed();
    ASSERT_TRUE(test::ProcessEventsUntil([&] {
      return player.shown.size() > shown || !playback.Running() || playback.WaitingForService();
    }));
  }

  void OpenPlayList(const std::vector<std::string> &urls) { OpenPlayListOf(playback, urls); }

  // The player shows the video's first frame: a 60-second video.
  void Started() {
    player.duration = 60;
    playback.PlayerStarted();
  }

  std::string Current() const { return playback.CurrentVideo().Url; }

  test::TestFolders folders; // the settings store
  WebHost web{test::UnusedPort()};
  FakePlayer player;
  TPlayback playback;
};

TEST_F(PlaybackTest, PauseAndSeek) {
  OpenPlayList({"p", "q"});
  int stateChanges = 0, volumeChanges = 0;
  std::vector<double> seeked;
  QObject::connect(&playback, &TPlayback::StateChanged, [&] { ++stateChanges; });
  QObject::connect(&playback, &TPlayback::Seeked, [&](double at) { seeked.push_back(at); });
  QObject::connect(&playback, &TPlayback::VolumeChanged, [&] { ++volumeChanges; });

  // Stopped: nothing to pause or seek.
  playback.SetPaused(true);
  playback.SetPosition(10);
  EXPECT_FALSE(playback.Paused());
  EXPECT_TRUE(player.seeks.empty());

  playback.PlayPause(); // stopped: plays
  EXPECT_TRUE(playback.Playing());
  EXPECT_EQ(player.shown, (std::vector<std::string>{"p"}));
  EXPECT_EQ(stateChanges, 1);
  playback.SetPosition(10);
  EXPECT_TRUE(player.seeks.empty()) << "no seek before the player knows the length";

  Started();
  const struct {
    const char *name;
    std::function<void()> act;
    double position;
  } seeks[] = {
      {"to a second", [&] { playback.SetPosition(20); }, 20},
      {"on by five", [&] { playback.SeekBy(5); }, 25},
      {"before the start", [&] { playback.SeekBy(-100); }, 0},
      {"past the end", [&] { playback.SetPosition(500); }, 60},
  };
  for (const auto &c : seeks) {
    SCOPED_TRACE(c.name);
    c.act();
    EXPECT_EQ(player.seeks.back(), c.position);
    EXPECT_EQ(seeked.back(), c.position);
  }

  playback.PlayPause();
  EXPECT_TRUE(playback.Paused());
  EXPECT_TRUE(player.paused);
  EXPECT_FALSE(playback.Sequencer().Timer().isActive()) << "the count-down holds";
  playback.PlayPause();
  EXPECT_TRUE(playback.Playing());
  EXPECT_FALSE(player.paused);
  EXPECT_EQ(stateChanges, 3);

  playback.Stop();
  EXPECT_FALSE(playback.Running());
  EXPECT_EQ(player.blanked, 1);
  EXPECT_EQ(stateChanges, 4);

  // Volume, mute and loudness reach the player and are remembered.
  playback.SetVolume(140);
  playback.SetMuted(true);
  playback.SetEvenLoudness(true);
  EXPECT_EQ(player.volume, 100) << "unchanged: 140 is 100";
  EXPECT_TRUE(player.muted);
  EXPECT_TRUE(player.evenLoudness);
  playback.SetVolume(35);
  EXPECT_EQ(volumeChanges, 2);
  TPlayback again;
  FakePlayer another;
  again.SetPlayer(&another);
  EXPECT_EQ(another.volume, 35);
  EXPECT_TRUE(another.muted);
  EXPECT_TRUE(another.evenLoudness);
}

TEST_F(PlaybackTest, Failures) {
  const struct {
    const char *name;
    std::vector<std::string> rows;
    std::vector<std::string> reports; // "fail", "start", "end" for the video that plays
    bool running;
    std::string line;
  } cases[] = {
      {"one failure is named beside the next video",
       {"p", "q"},
       {"fail"},
       true,
       "Could not play Title of p. Now playing: Title of q"},
      {"the name goes with the video after it",
       {"p", "q"},
       {"fail", "start", "end"},
       true,
       "Now playing: Title of p"},
      {"a playlist's worth of failures in a row stops",
       {"p", "q", "r"},
       {"fail", "fail", "fail"},
       false,
       "Could not play Title of r, nor any other video of this playlist"},
      {"a video that plays starts the count again",
       {"p", "q", "r"},
       {"fail", "fail", "start", "fail", "fail"},
       true,
       "Could not play Title of p. Now playing: Title of q"},
      {"a one-row playlist stops at its first failure",
       {"p"},
       {"fail"},
       false,
       "Could not play Title of p, nor any other video of this playlist"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    OpenPlayList(c.rows);
    playback.SetPlayMode(TPlayMode::InOrder);
    playback.PlayRow(1);
    for (const std::string &report : c.reports) {
      if (report == "fail")
        Failed();
      else if (report == "start")
        Started();
      else
        playback.PlayerEnded();
    }
    EXPECT_EQ(playback.Running(), c.running);
    EXPECT_EQ(playback.NowPlayingLine(), c.line);
    playback.Stop();
  }
  // Reports after Stop change nothing.
  const std::string line = playback.NowPlayingLine();
  playback.PlayerFailed();
  test::RunUntilIdle();
  playback.PlayerEnded();
  EXPECT_FALSE(playback.Running());
  EXPECT_EQ(playback.NowPlayingLine(), line);
}

// A row made from a list of plain addresses has no title: the line names the
// video by its identifier rather than saying nothing.
TEST_F(PlaybackTest, TheNowPlayingLineNamesTheArtistAndIsNeverBlank) {
  TVideoDetails byArtist = Video("a");
  byArtist.Artist = "Zo\xC3\xAB & The Testcards";
  TVideoDetails bare;
  bare.Url = "b";
  TDataTable &table = playback.PlayList();
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (const TVideoDetails &video : {byArtist, bare}) {
    table.Insert();
    StoreVideoInRow(video, table);
    table.Post();
  }
  playback.SetPlayMode(TPlayMode::InOrder);
  playback.PlayRow(1);
  EXPECT_EQ(playback.CurrentVideo().Artist, byArtist.Artist);
  EXPECT_EQ(playback.NowPlayingLine(),
            "Now playing: Zo\xC3\xAB & The Testcards \xE2\x80\x93 Title of a");
  Failed();
  EXPECT_EQ(playback.NowPlayingLine(),
            "Could not play Zo\xC3\xAB & The Testcards \xE2\x80\x93 Title of a. Now playing: b");
}

// A video opened by its address alone plays at once under its identifier;
// its title, artist and length follow from the video service's lookup while
// it still plays. A video of the open playlist has its row's details and is
// not looked up; a service that cannot be reached is logged, the identifier stays.
TEST_F(PlaybackTest, AVideoOpenedByAddressIsLookedUp) {
  test::LocalHttpServer service;
  std::mutex mutex;
  std::vector<std::string> asked; // the "ids" of each lookup
  service.Http().Post(
      "/feeds/api/lookup", [&](const httplib::Request &request, httplib::Response &response) {
        const std::lock_guard lock(mutex);
        asked.push_back(request.get_file_value("ids").content);
        response.set_content(R"({"videos":[{"id":"known","title":"Known <b>title</b>",)"
                             R"("artist":"The Band","seconds":200,"description":"","rating":""}]})",
                             "application/json");
      });
  service.Start();
  const std::string web = "127.0.0.1:" + std::to_string(test::UnusedPort());
  StoreWriteString(store_key::kVideoWebHost, web);
  StoreWriteString(store_key::kVideoDataHost, service.Host());
  OpenPlayList({"p", "q"});
  std::vector<std::string> log;
  int changes = 0;
  QObject::connect(&playback, &TPlayback::LogLine,
                   [&](const std::string &line) { log.push_back(line); });
  QObject::connect(&playback, &TPlayback::VideoChanged, [&] { ++changes; });

  // Known to the service: the identifier at once, the details once looked up.
  ASSERT_TRUE(playback.PlayAddress("http://" + web + "/watch?v=known"));
  EXPECT_EQ(player.shown.back(), "known");
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: known");
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return changes == 2; }));
  const auto lookups = [&] {
    const std::lock_guard lock(mutex);
    return asked;
  };
  EXPECT_EQ(lookups(), std::vector<std::string>{"known"});
  const TVideoDetails &video = playback.CurrentVideo();
  EXPECT_EQ(video.Title, "Known <b>title</b>");
  EXPECT_EQ(video.Artist, "The Band");
  EXPECT_EQ(video.DurationSeconds, 200);
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: The Band \xE2\x80\x93 Known <b>title</b>");
  EXPECT_EQ(player.shown.size(), 1u) << "the details do not load the video again";

  // A row of the open playlist: its details, no lookup.
  ASSERT_TRUE(playback.PlayAddress("http://" + web + "/v/q"));
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: Title of q");
  EXPECT_EQ(lookups().size(), 1u);

  // No service: the line keeps the identifier, and the log says why.
  StoreWriteString(store_key::kVideoDataHost, "127.0.0.1:" + std::to_string(test::UnusedPort()));
  ASSERT_TRUE(playback.PlayAddress("http://" + web + "/watch?v=known"));
  const std::string why = "The title of known could not be looked up: the video service at ";
  ASSERT_TRUE(test::ProcessEventsUntil([&] {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string &line) { return line.starts_with(why); });
  }));
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: known");
}

// Queued videos play before the playlist's next pick, and neither they, nor a
// video opened by address, nor Repeat one move the place in the playlist.
TEST_F(PlaybackTest, QueuedVideosAndThePlaceKept) {
  const struct {
    const char *name;
    TPlayMode mode;
    std::vector<std::string> steps;  // "row N", "queue X", "now X", "end", "next", "prev"
    std::vector<std::string> played; // the video after each step
  } cases[] = {
      {"in order goes on after the last row, not after the queued videos",
       TPlayMode::InOrder,
       {"row 1", "queue g1", "queue g2", "end", "end", "end"},
       {"p", "p", "p", "g1", "g2", "q"}},
      {"a video opened by address plays at once; then the row after the place",
       TPlayMode::InOrder,
       {"row 2", "now x", "end", "end"},
       {"q", "x", "r", "p"}},
      {"next skips to the queue first",
       TPlayMode::InOrder,
       {"row 3", "queue g", "next", "next"},
       {"r", "r", "g", "p"}},
      {"repeat one comes back to its row after a queued video",
       TPlayMode::RepeatOne,
       {"row 2", "queue g", "end", "end", "end"},
       {"q", "q", "g", "q", "q"}},
      {"repeat one: next after a queued video goes on after the place",
       TPlayMode::RepeatOne,
       {"row 2", "now x", "next"},
       {"q", "x", "r"}},
      {"previous after a queued video comes back to the row, the place stays",
       TPlayMode::InOrder,
       {"row 1", "now x", "prev", "end", "end"},
       {"p", "x", "p", "x", "q"}},
      {"a queued video first of all: in order begins at the top",
       TPlayMode::InOrder,
       {"queue g", "next", "end"},
       {"", "g", "p"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TPlayback fresh;
    FakePlayer shown;
    fresh.SetPlayer(&shown);
    OpenPlayListOf(fresh, {"p", "q", "r"});
    fresh.SetPlayMode(c.mode);
    std::vector<std::string> played;
    for (const std::string &step : c.steps) {
      const std::string arg = step.substr(step.find(' ') + 1);
      if (step.rfind("row ", 0) == 0)
        fresh.PlayRow(std::stoi(arg));
      else if (step.rfind("queue ", 0) == 0)
        fresh.Enqueue(Video(arg), "Ann");
      else if (step.rfind("now ", 0) == 0)
        fresh.PlayNow(Video(arg));
      else if (step == "end")
        fresh.PlayerEnded();
      else if (step == "next")
        fresh.Next();
      else if (step == "prev")
        fresh.Previous();
      played.push_back(fresh.CurrentVideo().Url);
    }
    EXPECT_EQ(played, c.played);
  }
}

// The player is given the next video while the current one plays, whatever
// comes next (a row, a queued video, the same video again), and a new one when
// the mind changes before the end.
TEST_F(PlaybackTest, TheNextVideoIsGivenAheadAndReplacedOnAChangeOfMind) {
  const struct {
    const char *name;
    TPlayMode mode;
    std::vector<std::string> rows;
    // "row N", "end", "next", "queue X", "now X", "mode M", "once", "delete N",
    // "move N M", "close", "stop"
    std::vector<std::string> steps;
    std::vector<std::string> played; // the video after each step
    std::vector<std::string> next;   // the player's next video after each step
  } cases[] = {
      {"in order: the row after, and on at the end without a load",
       TPlayMode::InOrder,
       {"p", "q", "r"},
       {"row 1", "end", "end", "end"},
       {"p", "q", "r", "p"},
       {"q", "r", "p", "q"}},
      {"a queued video comes first, then the row after the place",
       TPlayMode::InOrder,
       {"p", "q", "r"},
       {"row 1", "queue g", "queue h", "end", "end", "end"},
       {"p", "p", "p", "g", "h", "q"},
       {"q", "g", "g", "h", "q", "r"}},
      {"a video opened by address: the row after the place follows it",
       TPlayMode::InOrder,
       {"p", "q", "r"},
       {"row 2", "now x", "end"},
       {"q", "x", "r"},
       {"r", "r", "p"}},
      {"repeat one: the same video again; Next goes on to the row after",
       TPlayMode::RepeatOne,
       {"p", "q", "r"},
       {"row 2", "end", "next"},
       {"q", "q", "r"},
       {"q", "q", "r"}},
      {"another mode, or playing once to the end, changes the next video",
       TPlayMode::InOrder,
       {"p", "q", "r"},
       {"row 3", "mode Repeat one", "mode In order", "once", "end"},
       {"r", "r", "r", "r", "r"},
       {"p", "r", "p", "", ""}},
      {"an edited playlist: the row deleted, moved, the playlist closed",
       TPlayMode::InOrder,
       {"p", "q", "r", "s"},
       {"row 1", "delete 2", "move 3 2", "close"},
       {"p", "p", "p", "p"},
       {"q", "r", "s", ""}},
      {"stopped: nothing is opened ahead; playing again opens it",
       TPlayMode::InOrder,
       {"p", "q", "r"},
       {"row 1", "stop", "next"},
       {"p", "p", "q"},
       {"q", "", "r"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TPlayback fresh;
    FakePlayer player;
    fresh.SetPlayer(&player);
    OpenPlayListOf(fresh, c.rows);
    fresh.SetPlayMode(c.mode);
    std::vector<std::string> played, next;
    int ends = 0;
    for (const std::string &step : c.steps) {
      const std::string arg = step.substr(step.find(' ') + 1);
      TDataTable &table = fresh.PlayList();
      if (step.rfind("row ", 0) == 0) {
        fresh.PlayRow(std::stoi(arg));
      } else if (step.rfind("queue ", 0) == 0) {
        fresh.Enqueue(Video(arg));
      } else if (step.rfind("now ", 0) == 0) {
        fresh.PlayNow(Video(arg));
      } else if (step.rfind("mode ", 0) == 0) {
        fresh.SetPlayMode(PlayModeFromName(arg));
      } else if (step == "once") {
        fresh.SetPlaysOnce(true);
      } else if (step == "end") {
        ++ends;
        fresh.PlayerEnded();
      } else if (step == "next") {
        fresh.Next();
      } else if (step == "stop") {
        fresh.Stop();
      } else if (step.rfind("delete ", 0) == 0) { // edits made by the page: seen when idle
        table.SetRecNo(std::stoi(arg));
        table.Delete();
        table.SetRecNo(1);
      } else if (step.rfind("move ", 0) == 0) {
        table.MoveRow(std::stoi(arg), std::stoi(arg.substr(arg.find(' ') + 1)));
        table.SetRecNo(1);
      } else if (step == "close") {
        table.Close();
      }
      fresh.CheckActions();
      played.push_back(fresh.CurrentVideo().Url);
      next.push_back(player.next);
    }
    EXPECT_EQ(played, c.played);
    EXPECT_EQ(next, c.next);
  }
}

// Whatever the draw, the video that plays at the end is the one the player
// was given ahead of time.
TEST_F(PlaybackTest, TheVideoGivenAheadIsTheOneThatPlays) {
  for (const TPlayMode mode : {TPlayMode::Shuffle, TPlayMode::ShuffleAll}) {
    SCOPED_TRACE(PlayModeName(mode));
    TPlayback fresh;
    FakePlayer player;
    fresh.SetPlayer(&player);
    OpenPlayListOf(fresh, {"a", "b", "c", "d", "e"});
    fresh.SetPlayMode(mode);
    fresh.PlayRow(1);
    for (int end = 0; end < 30; ++end) {
      const std::string given = player.next;
      ASSERT_FALSE(given.empty());
      EXPECT_NE(given, fresh.CurrentVideo().Url) << "the draw never repeats the video just played";
      fresh.PlayerEnded();
      EXPECT_EQ(fresh.CurrentVideo().Url, given);
    }
    EXPECT_EQ(player.wentOn, 30);
  }
}

TEST_F(PlaybackTest, ShuffleAllKeepsItsRoundAcrossQueuedVideos) {
  OpenPlayList({"a", "b", "c", "d"});
  playback.SetPlayMode(TPlayMode::ShuffleAll);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    playback.Stop();
    playback.SetPlayMode(TPlayMode::InOrder); // a new mode: a new round
    playback.SetPlayMode(TPlayMode::ShuffleAll);
    playback.PlayRow(1);
    std::set<std::string> rows = {"a"};
    for (int pick = 0; pick < 3; ++pick) {
      // "a" queued between the picks is no turn of the round's "a".
      playback.Enqueue(Video("a"));
      playback.PlayerEnded();
      EXPECT_EQ(Current(), "a");
      EXPECT_TRUE(playback.QueuedBy().empty());
      playback.PlayerEnded();
      EXPECT_TRUE(rows.insert(Current()).second) << Current() << " twice in one round";
    }
    EXPECT_EQ(rows.size(), 4u);
  }
}

TEST_F(PlaybackTest, QueuedByNamesWhoAskedForTheVideo) {
  OpenPlayList({"p", "q"});
  playback.PlayRow(1);
  playback.Enqueue(Video("g"), "Ann");
  playback.Enqueue(Video("h"));
  ASSERT_EQ(playback.Sequencer().UpNext().size(), 2u);
  const struct { std::string url, queuedBy; } expected[] = {{"g", "Ann"}, {"h", ""}};
  for (const auto &e : expected) {
    playback.PlayerEnded();
    EXPECT_EQ(Current(), e.url);
    EXPECT_EQ(playback.QueuedBy(), e.queuedBy);
  }
  EXPECT_TRUE(playback.Sequencer().UpNext().empty());
}

// Asked to keep the state (the desktop's controls), Next and Previous leave a
// paused player paused, and a stopped one stopped with the video chosen, which
// Play then plays. The page's Next plays.
TEST_F(PlaybackTest, NextAndPreviousKeepTheState) {
  OpenPlayList({"p", "q", "r"});
  playback.SetPlayMode(TPlayMode::InOrder);
  playback.PlayRow(1);
  Started();
  playback.SetPaused(true);
  playback.Next(TSkip::KeepState);
  EXPECT_EQ(Current(), "q");
  EXPECT_TRUE(playback.Paused());
  EXPECT_TRUE(player.paused);
  playback.Previous(TSkip::KeepState);
  EXPECT_EQ(Current(), "p");
  EXPECT_TRUE(playback.Paused());
  playback.Next(); // the page's Next plays
  EXPECT_EQ(Current(), "q");
  EXPECT_TRUE(playback.Playing());
  EXPECT_FALSE(player.paused);
  playback.SetPaused(true);

  playback.Stop();
  const std::size_t shown = player.shown.size();
  playback.Next(TSkip::KeepState);
  EXPECT_EQ(Current(), "r");
  EXPECT_FALSE(playback.Running());
  playback.Next(TSkip::KeepState);
  EXPECT_EQ(Current(), "p");
  playback.Previous(TSkip::KeepState);
  EXPECT_EQ(Current(), "r");
  EXPECT_FALSE(playback.Running());
  EXPECT_EQ(player.shown.size(), shown) << "nothing was loaded";
  playback.Play();
  EXPECT_TRUE(playback.Playing());
  EXPECT_EQ(player.shown.back(), "r");

  // The page's Next from stopped plays.
  playback.Stop();
  playback.Next();
  EXPECT_TRUE(playback.Playing());
  EXPECT_EQ(Current(), "p");
}

TEST_F(PlaybackTest, WhatCanBeDone) {
  int told = 0;
  QObject::connect(&playback, &TPlayback::ActionsChanged, [&] { ++told; });
  using A = TPlaybackActions;
  const auto actions = [](bool play, bool pause, bool next, bool previous, bool seek, bool stop) {
    A a;
    a.Play = play, a.Pause = pause, a.Next = next, a.Previous = previous, a.Seek = seek,
    a.Stop = stop;
    return a;
  };
  const struct {
    const char *name;
    std::function<void()> act;
    A can;
  } cases[] = {
      {"no playlist", [] {}, actions(false, false, false, false, false, false)},
      {"a queued video can be gone on to", [&] { playback.Enqueue(Video("g")); },
       actions(false, false, true, false, false, false)},
      {"a playlist with rows",
       [&] {
         OpenPlayList({"p", "q"});
       },
       actions(true, false, true, false, false, false)},
      {"playing, length not yet known", [&] { playback.PlayRow(1); },
       actions(true, true, true, false, false, true)},
      {"the player knows the length", [&] { Started(); },
       actions(true, true, true, false, true, true)},
      {"a video before this one", [&] { playback.Next(); },
       actions(true, true, true, true, false, true)},
      {"stopped", [&] { playback.Stop(); }, actions(true, false, true, true, false, false)},
      {"the playlist closed", [&] { playback.PlayList().Close(); },
       actions(false, false, false, false, false, false)},
  };
  int changes = 0;
  A before;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    c.act();
    playback.CheckActions();
    EXPECT_EQ(playback.Actions(), c.can);
    if (!(c.can == before)) ++changes;
    before = c.can;
    EXPECT_EQ(told, changes) << "one signal for each change";
  }
}

} // namespace

namespace {

// Play while a video plays leaves it playing where it is, resumes it when
// paused; once stopped, the now-playing line names no video.
TEST_F(PlaybackTest, PlayWhilePlayingAndTheLineAfterStop) {
  OpenPlayList({"p", "q"});
  playback.PlayRow(2);
  Started();
  player.position = 30;
  const struct {
    const char *name;
    bool pausedBefore;
  } cases[] = {{"playing", false}, {"paused", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    playback.SetPaused(c.pausedBefore);
    playback.Play();
    EXPECT_EQ(player.shown, (std::vector<std::string>{"q"})) << "not restarted";
    EXPECT_TRUE(playback.Playing());
    EXPECT_FALSE(player.paused);
    EXPECT_EQ(playback.Position(), 30);
    EXPECT_EQ(playback.NowPlayingLine(), "Now playing: Title of q");
  }
  playback.Stop();
  EXPECT_EQ(playback.NowPlayingLine(), "");
  playback.Play(); // stopped: from its start
  EXPECT_EQ(player.shown, (std::vector<std::string>{"q", "q"}));
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: Title of q");
}

// Previous walks back through what played, Next forward again before a new
// video is chosen.
TEST_F(PlaybackTest, HistoryOfWhatPlayed) {
  const struct {
    const char *name;
    TPlayMode mode;
    std::vector<std::string> steps;  // "row N", "next", "prev", "end"
    std::vector<std::string> played; // the video after each step
  } cases[] = {
      {"back and forth, then on in order after the last",
       TPlayMode::InOrder,
       {"row 1", "row 3", "next", "prev", "prev", "prev", "next", "next", "next", "prev"},
       {"p", "r", "s", "r", "p", "p", "r", "s", "p", "s"}},
      {"the end of a video walks forward too",
       TPlayMode::InOrder,
       {"row 4", "row 2", "prev", "end", "end"},
       {"s", "q", "s", "q", "r"}},
      {"repeat one: previous leaves the video, next comes back to it",
       TPlayMode::RepeatOne,
       {"row 1", "next", "end", "end", "prev", "end", "next", "end"},
       {"p", "q", "q", "q", "p", "p", "q", "q"}},
      {"a video chosen while walked back drops the ones after",
       TPlayMode::InOrder,
       {"row 1", "next", "next", "prev", "prev", "row 4", "prev", "next", "next"},
       {"p", "q", "r", "q", "p", "s", "p", "s", "p"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TPlayback fresh;
    FakePlayer shown;
    fresh.SetPlayer(&shown);
    OpenPlayListOf(fresh, {"p", "q", "r", "s"});
    fresh.SetPlayMode(c.mode);
    std::vector<std::string> played;
    for (const std::string &step : c.steps) {
      if (step.rfind("row ", 0) == 0)
        fresh.PlayRow(std::stoi(step.substr(4)));
      else if (step == "next")
        fresh.Next();
      else if (step == "prev")
        fresh.Previous();
      else
        fresh.PlayerEnded();
      played.push_back(fresh.CurrentVideo().Url);
    }
    EXPECT_EQ(played, c.played);
  }

  // Shuffle: the walk back and forth meets the drawn videos in their order.
  OpenPlayList({"a", "b", "c", "d", "e"});
  playback.PlayRow(1);
  std::vector<std::string> drawn = {Current()};
  for (int i = 0; i < 3; ++i) {
    playback.Next();
    drawn.push_back(Current());
  }
  for (int i = 3; i-- > 0;) {
    playback.Previous();
    EXPECT_EQ(Current(), drawn[i]);
  }
  EXPECT_FALSE(playback.Actions().Previous) << "the start of the history";
  for (int i = 1; i <= 3; ++i) {
    playback.Next();
    EXPECT_EQ(Current(), drawn[i]);
  }
  playback.Next();
  EXPECT_NE(Current(), drawn[3]) << "a new draw";
}

// The web host goes away while a video plays: the playback says so, keeps
// the video, asks again and again, and plays it once the host answers.
TEST_F(PlaybackTest, TheServiceGoingAwayAndComingBack) {
  OpenPlayList({"p", "q", "r"});
  playback.SetPlayMode(TPlayMode::InOrder);
  int stateChanges = 0;
  QObject::connect(&playback, &TPlayback::StateChanged, [&] { ++stateChanges; });
  for (bool stopWhileWaiting : {false, true}) {
    SCOPED_TRACE(stopWhileWaiting ? "stopped while waiting" : "waits until the host is back");
    playback.PlayRow(2);
    Started();
    web.GoAway();
    playback.PlayerEnded(); // q played to its end, r could not be loaded
    const std::size_t shown = player.shown.size();
    const int blanked = player.blanked;
    Failed();
    EXPECT_TRUE(playback.WaitingForService());
    EXPECT_TRUE(playback.Running());
    EXPECT_EQ(Current(), "r") << "its place kept";
    EXPECT_EQ(player.blanked, blanked + 1);
    EXPECT_EQ(playback.NowPlayingLine(),
              "The video service cannot be reached: Title of r plays as soon as it answers.");
    // Asked again after a second, and again: no other video is tried meanwhile.
    test::ProcessEventsUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_EQ(player.shown.size(), shown);
    EXPECT_TRUE(playback.WaitingForService());
    stateChanges = 0;
    if (stopWhileWaiting) {
      playback.Stop();
      EXPECT_FALSE(playback.Running());
      EXPECT_EQ(playback.NowPlayingLine(), "");
      web.ComeBack();
      test::ProcessEventsUntil([] { return false; }, std::chrono::milliseconds(2500));
      EXPECT_EQ(player.shown.size(), shown) << "nothing plays after Stop";
      EXPECT_EQ(stateChanges, 1);
      continue;
    }
    web.ComeBack();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return player.shown.size() > shown; },
                                         std::chrono::seconds(10)));
    EXPECT_EQ(player.shown.back(), "r");
    EXPECT_FALSE(playback.WaitingForService());
    EXPECT_TRUE(playback.Playing());
    EXPECT_EQ(stateChanges, 0) << "playing all along";
    EXPECT_EQ(playback.NowPlayingLine(), "Now playing: Title of r");
    playback.Stop();
  }
}

} // namespace
