// The host's party client against a real sonabox-server: the party's entries
// play through the player object's up-next queue in the fair order with
// "queued by NAME" and the artist, a voted skip moves on, the playlist goes on after them in
// its mode, the host's actions reach the server, and an unreachable server
// leaves the playlist playing.
#include "core/party/PartyClient.h"
#include "ServerFixture.h"
#include "core/playlists/VideoRow.h"
#include "support/EventLoop.h"
#include "support/UnusedPort.h"

#include <gtest/gtest.h>

#include <fstream>

namespace sonabox::test {
namespace {

// Plays nothing: remembers the videos it was given.
class ListeningPlayer : public TVideoPlayer {
public:
  void Show(const TVideoDetails &video) override { shown.push_back(video.Url); }
  void SetNext(const TVideoDetails &) override {} // the test follows what is shown
  void Blank() override {}
  void SetPaused(bool) override {}
  void SeekTo(double) override {}
  double Position() const override { return 0; }
  double Duration() const override { return 0; }
  void SetVolume(int) override {}
  void SetMuted(bool) override {}
  void SetEvenLoudness(bool) override {}
  std::vector<std::string> shown;
};

class PartyClientTest : public ::testing::Test {
protected:
  PartyClientTest() : running([](server::TServerOptions &options) { options.Party = true; }) {
    std::vector<server::TCatalogueVideo> videos(6);
    for (std::size_t i = 0; i < videos.size(); ++i) {
      videos[i].RelPath = "v" + std::to_string(i) + ".webm";
      videos[i].Title = "v" + std::to_string(i);
      videos[i].Seconds = 60;
      videos[i].Size = 1;
    }
    videos[3].Artist = "Cy & Co"; // the others have no artist
    running.Server().Catalogue().Apply(videos, {});
    for (const auto &video : videos) ids[video.Title] = video.Id;
    playback.SetPlayer(&player);
    playback.SetPlayMode(TPlayMode::InOrder);
    TDataTable &table = playback.PlayList();
    table.DefineColumns(PlayListColumns());
    table.CreateEmpty();
    for (const char *url : {"p", "q"}) {
      TVideoDetails video;
      video.Url = url;
      video.Title = url;
      video.DurationSeconds = 60;
      table.Insert();
      StoreVideoInRow(video, table);
      table.Post();
    }
    table.First();
  }

  std::string WebHost() { return "127.0.0.1:" + std::to_string(running.Server().WebPort()); }

  std::string Queue(const std::string &guest, const std::string &title) {
    if (!tokens.count(guest)) tokens[guest] = running.Server().Party().Join(guest).Token;
    EXPECT_TRUE(running.Server().Party().Queue(tokens[guest], ids[title]));
    return ids[title];
  }

  TRunningServer running;
  std::map<std::string, std::string> ids, tokens;
  ListeningPlayer player;
  TPlayback playback;
};

TEST_F(PartyClientTest, GuestsVideosPlayInTurnWithTheirNamesThenThePlaylistGoesOn) {
  TPartyClient client(playback, WebHost(), running.Server().PartyHostKeyFile());
  Queue("Ann", "v1");
  Queue("Ann", "v2");
  Queue("<b>Bob</b>", "v3");
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Next.size() == 3; }));
  EXPECT_TRUE(client.View().On);

  playback.Play(); // the playlist's first row
  auto serverNow = [&] {
    const auto state = running.Server().Party().State();
    return state.Now ? state.Now->Title : std::string();
  };
  struct TStep {
    const char *Shown;
    const char *Line;
    const char *ServerNow; // what the server has as playing
  };
  const std::vector<TStep> steps{
      {"v1", "Now playing: v1 (queued by Ann)", "v1"},
      {"v3", "Now playing: Cy & Co \u2013 v3 (queued by <b>Bob</b>)", "v3"},
      {"v2", "Now playing: v2 (queued by Ann)", "v2"},
      {"q", "Now playing: q", ""}, // the playlist goes on after the row it left
  };
  for (const TStep &step : steps) {
    SCOPED_TRACE(step.Shown);
    playback.PlayerEnded();
    EXPECT_EQ(player.shown.back(), ids.count(step.Shown) ? ids[step.Shown] : step.Shown);
    EXPECT_EQ(playback.NowPlayingLine(), step.Line);
    EXPECT_TRUE(ProcessEventsUntil([&] { return serverNow() == step.ServerNow; }))
        << "the server has " << serverNow();
    // The next entry must be known before the video ends.
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return client.View().Next.size() == running.Server().Party().State().Next.size(); }));
  }

  // A skip that the guests voted moves on at once.
  Queue("Ann", "v4");
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Next.size() == 1; }));
  playback.PlayerEnded();
  ASSERT_EQ(player.shown.back(), ids["v4"]);
  ASSERT_TRUE(ProcessEventsUntil([&] { return serverNow() == "v4"; }));
  running.Server().Party().State(tokens["Ann"]);
  EXPECT_TRUE(running.Server().Party().VoteSkip(tokens["Ann"]));
  EXPECT_TRUE(running.Server().Party().VoteSkip(tokens["<b>Bob</b>"]));
  EXPECT_TRUE(ProcessEventsUntil([&] { return player.shown.back() != ids["v4"]; }));
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: p"); // after q, in order: the top again
}

TEST_F(PartyClientTest, TheHostsActionsReachTheServerWithItsKey) {
  TPartyClient client(playback, WebHost(), running.Server().PartyHostKeyFile());
  Queue("Ann", "v1");
  Queue("Bob", "v2");
  Queue("Cy", "v3");
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Next.size() == 3; }));
  EXPECT_EQ(client.View().Address,
            "http://127.0.0.1:" + std::to_string(running.Server().WebPort()) + "/party");

  client.Remove(client.View().Next[1].Entry);
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Next.size() == 2; }));
  EXPECT_EQ(client.View().Next[1].Name, "Cy");
  client.SetLocked(true);
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Locked; }));
  client.Clear();
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().Next.empty(); }));
  client.SetOn(false);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !client.View().On; }));
  client.SetOn(true);
  ASSERT_TRUE(ProcessEventsUntil([&] { return client.View().On; }));

  // Without the right key nothing changes, and the host is told.
  const fs::path wrongKey = running.Root() / "wrong.key";
  std::ofstream(wrongKey) << std::string(64, 'a') << "\n";
  TPartyClient stranger(playback, WebHost(), wrongKey);
  std::string failure;
  QObject::connect(&stranger, &TPartyClient::Failed, [&](const std::string &m) { failure = m; });
  stranger.SetOn(false);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !failure.empty(); }));
  EXPECT_NE(failure.find("refused the host key"), std::string::npos) << failure;
  EXPECT_TRUE(running.Server().Party().State().On);
}

TEST_F(PartyClientTest, AnUnreachableServerIsToldAndThePlaylistGoesOn) {
  const std::string closed = "127.0.0.1:" + std::to_string(UnusedPort());
  TPartyClient client(playback, closed, running.Server().PartyHostKeyFile());
  int changes = 0;
  QObject::connect(&client, &TPartyClient::Changed, [&] { ++changes; });
  ASSERT_TRUE(ProcessEventsUntil([&] { return changes > 0; }));
  EXPECT_FALSE(client.View().Reachable);
  playback.Play();
  playback.PlayerEnded();
  EXPECT_EQ(player.shown, (std::vector<std::string>{"p", "q"}));
  std::string failure;
  QObject::connect(&client, &TPartyClient::Failed, [&](const std::string &m) { failure = m; });
  client.SetLocked(true);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !failure.empty(); }));
  EXPECT_NE(failure.find("cannot be reached"), std::string::npos) << failure;
}

} // namespace
} // namespace sonabox::test
