#include "ui/widgets/HtmlView.h"

#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/TestFolders.h"
#include "ui/widgets/MpvPlayer.h"

#include <QTemporaryDir>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

using namespace sonabox;
using ::testing::Contains;

namespace {

// Waits, running the event loop, until the condition holds or the time is up.
template <typename Condition> bool WaitFor(Condition condition, int milliseconds = 15000) {
  return QTest::qWaitFor(condition, milliseconds);
}

bool Requested(const test::ClipServer &server, const std::string &path) {
  const std::vector<std::string> paths = server.RequestedPaths();
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

} // namespace

TEST(THtmlView, WithoutDocumentNothingIsLoaded) {
  test::TestFolders folders;
  test::ClipServer server;
  StoreWriteString("VideoWebHost", server.Host());
  THtmlView view;
  EXPECT_EQ(view.Document(), nullptr);
  LoadDocumentText(view, "<embed src=\"http://" + server.Host() + "/v/x\">");
  ShowPlayer("abcdefghijk", view);
  EXPECT_EQ(view.Document(), nullptr);
  EXPECT_EQ(view.Player(), nullptr);
  EXPECT_TRUE(server.RequestedPaths().empty());
}

TEST(THtmlView, ShowPlayerReplacesTheDocumentInPlace) {
  test::TestFolders folders;
  test::ClipServer server; // answers 404: nothing plays, but nothing leaves this machine
  StoreWriteString("VideoWebHost", server.Host());
  THtmlView view;
  view.Navigate("about:blank");
  THtmlDocument *document = view.Document();
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->Text(), "");

  ShowPlayer("abcdefghijk", view);
  EXPECT_EQ(view.Document(), document); // no navigation in between
  EXPECT_EQ(document->Text(), PlayerPage("abcdefghijk") + "\r\n");
  ShowPlayer("second", view);
  EXPECT_EQ(view.Document(), document);
  EXPECT_EQ(document->Text(), PlayerPage("second") + "\r\n");

  view.Navigate("about:blank");
  ASSERT_NE(view.Document(), nullptr);
  EXPECT_EQ(view.Document()->Text(), "");
}

TEST(THtmlView, StartsOnlyHttpObjectsOnTheVideoWebHost) {
  test::TestFolders folders;
  StoreWriteString("VideoWebHost", "127.0.0.1:8472");
  for (const std::string &page : std::vector<std::string>{
           "<embed src=\"file:///dev/zero\">", "<param name=\"movie\" value=\"file:///dev/zero\">",
           "<embed src=\"ftp://127.0.0.1:8472/v/x\">", "<embed src=\"about:blank\">",
           PlayerPage("x", "127.0.0.2:8472"), "<html><body></body></html>"}) {
    THtmlView view;
    view.Navigate("about:blank");
    LoadDocumentText(view, page);
    EXPECT_EQ(view.Player(), nullptr) << page;
  }
}

class RealPlayback : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    clipFolder_ = new QTemporaryDir;
    clip_ = test::MakeClip(clipFolder_->path().toStdString() + "/", 3);
  }
  static void TearDownTestSuite() { delete clipFolder_; }

  void SetUp() override {
    ASSERT_FALSE(clip_.empty()) << "ffmpeg could not make the test clip";
    StoreWriteString("VideoWebHost", server_.Host());
    view_.Navigate("about:blank");
  }

  std::string Address(const std::string &id) const {
    return "http://" + server_.Host() + "/v/" + id + "&autoplay=1";
  }

  bool PlaysAndAdvances(const std::string &id) {
    TMpvPlayer *player = view_.Player();
    if (!player) return false;
    if (!WaitFor([&] { return player->Path() == Address(id) && player->TimePosition(); }))
      return false;
    const double first = *player->TimePosition();
    return WaitFor([&] { return player->TimePosition().value_or(-1) >= first + 0.2; });
  }

  static QTemporaryDir *clipFolder_;
  static std::string clip_;
  test::TestFolders folders_;
  test::ClipServer server_;
  THtmlView view_;
};

QTemporaryDir *RealPlayback::clipFolder_ = nullptr;
std::string RealPlayback::clip_;

TEST_F(RealPlayback, PlaysThePageAndStopsOnBlank) {
  server_.Serve("/v/clip01&autoplay=1", clip_);
  ShowPlayer("clip01", view_);
  ASSERT_NE(view_.Player(), nullptr);
  ASSERT_TRUE(PlaysAndAdvances("clip01"));
  EXPECT_THAT(server_.RequestedPaths(), Contains("/v/clip01&autoplay=1"));

  view_.Navigate("about:blank");
  TMpvPlayer *player = view_.Player();
  EXPECT_TRUE(WaitFor([&] { return player->Idle() && player->Path().empty(); }, 5000));
}

TEST_F(RealPlayback, BadStreamsAndUnplayablePagesLeaveThePlayerIdleAndWorking) {
  server_.Serve("/v/good&autoplay=1", clip_);
  server_.Serve("/v/cut&autoplay=1", clip_.substr(0, 2000));
  server_.Serve("/v/noise&autoplay=1", std::string(200000, '\x5a'));
  ShowPlayer("good", view_);
  ASSERT_TRUE(PlaysAndAdvances("good"));
  TMpvPlayer *player = view_.Player();

  // A new page declaring nothing playable stops the video it replaces.
  LoadDocumentText(view_, "<embed src=\"file:///dev/zero\">");
  EXPECT_TRUE(WaitFor([&] { return player->Idle() && player->Path().empty(); }, 5000));

  for (const std::string id : {"cut", "noise", "missing"}) {
    ShowPlayer(id, view_);
    EXPECT_TRUE(WaitFor([&] { return Requested(server_, "/v/" + id + "&autoplay=1"); })) << id;
    EXPECT_TRUE(WaitFor([&] { return player->Idle(); })) << id;
  }

  ShowPlayer("good", view_);
  EXPECT_EQ(view_.Player(), player); // one player per view, made once
  EXPECT_TRUE(PlaysAndAdvances("good"));
}

// The address given ahead is opened while the video before it plays; at the
// end the core goes on to it by itself (its playlist then holds both, the
// second playing), the end is told, and showing that address keeps it playing
// instead of loading it again. A change of mind replaces the address given.
TEST_F(RealPlayback, TheNextAddressIsOpenedAheadAndGoneOnTo) {
  for (const char *id : {"first", "second", "third"})
    server_.Serve(std::string("/v/") + id + "&autoplay=1", clip_);
  const struct {
    const char *name, *plays;
    std::vector<std::string> given; // SetNext, in turn
    const char *shows;              // shown when the first ends; nothing when empty
    bool atOnce;                    // shown at once instead, as Next does
    const char *told;               // the reports, in order
    int entries;                    // in the core's playlist once the second plays
  } cases[] = {
      {"the end goes on to it", "first", {"second"}, "second", false, "started ended started", 2},
      {"a new address replaces it",
       "first",
       {"second", "third"},
       "third",
       false,
       "started ended started",
       2},
      {"none after all: the end is told, nothing follows",
       "first",
       {"second", ""},
       "",
       false,
       "started ended",
       0},
      {"shown before the end, it plays at once",
       "first",
       {"second"},
       "second",
       true,
       "started started",
       2},
      {"a video that fails goes on to it too",
       "cut",
       {"second"},
       "second",
       false,
       "failed started",
       2},
  };
  ShowPlayer("first", view_);
  TMpvPlayer *player = view_.Player();
  ASSERT_NE(player, nullptr);
  std::string told, shows;
  auto then = [&] {
    if (!shows.empty()) ShowPlayer(std::exchange(shows, std::string()), view_);
  };
  QObject::connect(player, &TMpvPlayer::PlaybackStarted, [&] { told += " started"; });
  QObject::connect(player, &TMpvPlayer::PlaybackEnded, [&] {
    told += " ended";
    then();
  });
  QObject::connect(player, &TMpvPlayer::PlaybackFailed, [&] {
    told += " failed";
    then();
  });
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ShowPlayer(c.plays, view_);
    told.clear();
    for (const std::string &id : c.given) player->SetNext(id.empty() ? id : Address(id));
    if (c.atOnce) {
      ASSERT_TRUE(WaitFor([&] { return told == " started"; }));
      ShowPlayer(c.shows, view_);
    } else {
      shows = c.shows;
    }
    const std::string expected = std::string(" ") + c.told;
    ASSERT_TRUE(WaitFor([&] { return told == expected; })) << told;
    if (*c.shows) {
      EXPECT_EQ(player->Path(), Address(c.shows));
      EXPECT_EQ(player->Property("playlist-count"), std::to_string(c.entries))
          << "not loaded again";
      EXPECT_EQ(player->Property("playlist-pos"), "1");
      EXPECT_TRUE(PlaysAndAdvances(c.shows));
    } else {
      EXPECT_TRUE(WaitFor([&] { return player->Idle(); }));
    }
    QTest::qWait(300);
    EXPECT_EQ(told, expected) << "nothing more";
  }
}
