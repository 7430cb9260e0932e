// The party: its fair order, limits, skip votes and guest tokens on the store
// itself (with a clock of the test's own), and then over real HTTP: waiting
// pages told of a change, the host key, a flood from one address, clients that
// go away in the middle of a request, and the guest page's own headers.
#include "Party.h"
#include "PartyService.h"
#include "ServerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace sonabox::test {
namespace {

using server::TPartyRefusal;

// Videos "v0" ... of the test's catalogue, by their titles.
class PartyStore {
public:
  explicit PartyStore(server::TPartyLimits limits = {}, int videos = 12) : limits_(limits) {
    std::vector<server::TCatalogueVideo> added(static_cast<std::size_t>(videos));
    for (int i = 0; i < videos; ++i) {
      added[i].RelPath = "v" + std::to_string(i) + ".webm";
      added[i].Title = "v" + std::to_string(i);
      added[i].Seconds = 100 + i;
      added[i].Size = 1;
    }
    catalogue_.Apply(added, {});
    for (const auto &video : added) ids_[video.Title] = video.Id;
    Reopen();
    party_->Start();
  }

  // The party as a restarted server finds it in the database.
  void Reopen() {
    party_.reset();
    party_ = std::make_unique<server::TParty>(
        database_, catalogue_, limits_, [this] { ++changes_; }, [this] { return now_; });
  }

  server::TParty &Party() { return *party_; }
  std::string Id(const std::string &title) { return ids_.at(title); }
  void Advance(int64_t seconds) { now_ += seconds; }
  int Changes() const { return changes_; }

  // A guest of this name; its token.
  std::string Join(const std::string &name) {
    const server::TPartyResult joined = party_->Join(name);
    EXPECT_TRUE(joined) << joined.Reason;
    return joined.Token;
  }

  server::TPartyResult Queue(const std::string &token, const std::string &title) {
    return party_->Queue(token, Id(title));
  }

  std::vector<std::string> Waiting() {
    std::vector<std::string> titles;
    for (const auto &entry : party_->State().Next) titles.push_back(entry.Title);
    return titles;
  }

private:
  TestFolders folders_;
  server::TSqliteDatabase database_{folders_.Root() + "party.db"};
  server::TCatalogue catalogue_{database_};
  server::TPartyLimits limits_;
  std::unique_ptr<server::TParty> party_;
  std::map<std::string, std::string> ids_;
  int64_t now_ = 1'700'000'000;
  int changes_ = 0;
};

TEST(PartyOrderTest, GuestsTakeTurnsInTheOrderOfTheirFirstEntry) {
  // Steps: "A:v1" guest A queues v1, "play" the host takes the next entry,
  // "-A:v1" A takes v1 back. What is played, in order, is then compared.
  struct TCase {
    const char *Name;
    const char *Steps;
    const char *Played;
  };
  const std::vector<TCase> cases{
      {"one guest plays in arrival order", "A:v1 A:v2 A:v3 play play play", "v1 v2 v3"},
      {"the first of each before anyone's second",
       "A:v1 A:v2 A:v3 B:v4 B:v5 C:v6 play play play "
       "play play play",
       "v1 v4 v6 v2 v5 v3"},
      {"a late guest plays in the round under way",
       "A:v1 A:v2 A:v3 B:v4 play play C:v5 play play "
       "play",
       "v1 v4 v5 v2 v3"},
      {"a guest whose entries all played does not jump the round",
       "A:v1 B:v2 play A:v3 B:v4 play play play", "v1 v2 v3 v4"},
      {"a newcomer after many rounds joins the round playing, not the first",
       "A:v1 A:v2 A:v3 play play play B:v4 A:v5 play play", "v1 v2 v3 v4 v5"},
      {"taking an entry back keeps the others' turns", "A:v1 A:v2 B:v3 B:v4 -A:v1 play play play",
       "v3 v2 v4"},
      {"turns follow the first entry, not the joining", "B:v1 A:v2 A:v3 B:v4 play play play play",
       "v1 v2 v4 v3"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    PartyStore store;
    std::map<std::string, std::string> tokens;
    std::map<std::string, int64_t> entries; // by video title
    std::vector<std::string> played;
    std::istringstream steps(c.Steps);
    for (std::string step; steps >> step;) {
      if (step == "play") {
        const server::TPartyResult next = store.Party().TakeNext();
        ASSERT_TRUE(next.Entry) << "nothing waits at " << played.size();
        played.push_back(next.Entry->Title);
        continue;
      }
      const bool takeBack = step[0] == '-';
      const std::string guest = step.substr(takeBack ? 1 : 0, step.find(':') - (takeBack ? 1 : 0));
      const std::string video = step.substr(step.find(':') + 1);
      if (!tokens.count(guest)) tokens[guest] = store.Join(guest);
      if (takeBack) {
        for (const auto &entry : store.Party().State().Next) {
          if (entry.Title == video) {
            ASSERT_TRUE(store.Party().Remove(tokens[guest], entry.Id));
          }
        }
        continue;
      }
      const server::TPartyResult queued = store.Queue(tokens[guest], video);
      ASSERT_TRUE(queued) << step << ": " << queued.Reason;
    }
    std::string text;
    for (const std::string &title : played) text += (text.empty() ? "" : " ") + title;
    EXPECT_EQ(text, c.Played);
  }
}

TEST(PartyLimitsTest, EachLimitRefusesWithItsReasonAndChangesNothing) {
  PartyStore store;
  const std::string ann = store.Join("Ann"), bob = store.Join("Bob");
  for (const char *video : {"v1", "v2", "v3"}) ASSERT_TRUE(store.Queue(ann, video));
  const std::vector<std::string> before = store.Waiting();

  struct TCase {
    const char *Name;
    std::function<server::TPartyResult()> Try;
    TPartyRefusal Refusal;
    const char *Reason; // a piece of the reason shown to the guest
  };
  const std::vector<TCase> cases{
      {"a fourth waiting entry", [&] { return store.Queue(ann, "v4"); }, TPartyRefusal::TooMany,
       "3 videos waiting"},
      {"a video already waiting", [&] { return store.Queue(bob, "v2"); },
       TPartyRefusal::AlreadyWaiting, "\"v2\" is already waiting"},
      {"a video not in the library", [&] { return store.Party().Queue(bob, "nosuchvideo"); },
       TPartyRefusal::UnknownVideo, "not in the library"},
      {"a token of nobody", [&] { return store.Party().Queue("f00d", store.Id("v5")); },
       TPartyRefusal::UnknownGuest, "join"},
      {"no token", [&] { return store.Party().Queue("", store.Id("v5")); },
       TPartyRefusal::UnknownGuest, "join"},
      {"another guest's entry",
       [&] { return store.Party().Remove(bob, store.Party().State().Next[0].Id); },
       TPartyRefusal::NoSuchEntry, "not yours"},
      {"a skip with nothing queued playing", [&] { return store.Party().VoteSkip(bob); },
       TPartyRefusal::NothingPlaying, "skipped"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const server::TPartyResult result = c.Try();
    EXPECT_EQ(result.Refusal, c.Refusal);
    EXPECT_NE(result.Reason.find(c.Reason), std::string::npos) << result.Reason;
    EXPECT_EQ(store.Waiting(), before);
  }

  // A video that played is refused for the replay time, then welcome again.
  ASSERT_TRUE(store.Party().TakeNext().Entry);
  const server::TPartyResult again = store.Queue(bob, "v1");
  EXPECT_EQ(again.Refusal, TPartyRefusal::PlayedRecently);
  EXPECT_NE(again.Reason.find("less than 60 minutes ago"), std::string::npos) << again.Reason;
  store.Advance(59 * 60);
  EXPECT_EQ(store.Queue(bob, "v1").Refusal, TPartyRefusal::PlayedRecently);
  store.Advance(2 * 60);
  EXPECT_TRUE(store.Queue(bob, "v1"));

  // Locked, nobody adds; unlocked, they do. The host still removes and clears.
  store.Party().SetLocked(true);
  EXPECT_EQ(store.Queue(bob, "v6").Refusal, TPartyRefusal::Locked);
  ASSERT_TRUE(store.Party().HostRemove(store.Party().State().Next.back().Id));
  store.Party().SetLocked(false);
  EXPECT_TRUE(store.Queue(bob, "v6"));
  store.Party().Clear();
  EXPECT_TRUE(store.Waiting().empty());

  // Ended, nothing is left and nobody joins or queues until it starts again.
  store.Party().End();
  EXPECT_FALSE(store.Party().State().On);
  EXPECT_EQ(store.Party().Join("Cy").Refusal, TPartyRefusal::Off);
  EXPECT_EQ(store.Queue(bob, "v7").Refusal, TPartyRefusal::Off);
  store.Party().Start();
  EXPECT_EQ(store.Queue(bob, "v7").Refusal, TPartyRefusal::UnknownGuest);
}

TEST(PartyLimitsTest, NamesAreCheckedAndKeptAsTyped) {
  PartyStore store;
  struct TCase {
    std::string Name;
    bool Accepted;
    std::string Kept;
  };
  const std::vector<TCase> cases{
      {"  Ann  ", true, "Ann"},
      {"<img src=x onerror=alert(1)>", true, "<img src=x onerror=alert(1)>"},
      {std::string(40, 'x'), true, std::string(40, 'x')},
      {"\xC3\xA9" + std::string(39, 'e'), true, "\xC3\xA9" + std::string(39, 'e')}, // 40 characters
      {std::string(41, 'x'), false, ""},
      {std::string(10000, 'x'), false, ""},
      {"", false, ""},
      {" \t ", false, ""},
      {"Ann\nBob", false, ""},
      {std::string("An\0n", 4), false, ""},
      {"Ann\x1B[31m", false, ""},
      {"Ann\xC2\x85", false, ""}, // a C1 control
      {"Ann\xFF", false, ""},     // no UTF-8
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name.substr(0, 50));
    const server::TPartyResult joined = store.Party().Join(c.Name);
    EXPECT_EQ(bool(joined), c.Accepted) << joined.Reason;
    if (!joined) {
      EXPECT_EQ(joined.Refusal, TPartyRefusal::BadName);
      EXPECT_FALSE(joined.Reason.empty());
      continue;
    }
    EXPECT_EQ(store.Party().State(joined.Token).You, c.Kept);
  }
  // A rename is checked the same way, and a refused one keeps the old name.
  const std::string ann = store.Join("Ann");
  EXPECT_EQ(store.Party().Rename(ann, std::string(10000, 'y')).Refusal, TPartyRefusal::BadName);
  EXPECT_EQ(store.Party().State(ann).You, "Ann");
  EXPECT_TRUE(store.Party().Rename(ann, "Annie"));
  EXPECT_EQ(store.Party().State(ann).You, "Annie");
}

TEST(PartyVotesTest, ASkipNeedsHalfTheGuestsSeenLatelyAndAtLeastTheMinimum) {
  server::TPartyLimits limits;
  limits.SkipVotes = 2;
  PartyStore store(limits);
  std::vector<std::string> guests;
  for (int i = 0; i < 6; ++i) guests.push_back(store.Join("G" + std::to_string(i)));
  ASSERT_TRUE(store.Queue(guests[0], "v1"));
  ASSERT_TRUE(store.Party().TakeNext().Entry);

  // Six seen: three votes needed; a guest votes once.
  EXPECT_EQ(store.Party().State().VotesNeeded, 3);
  EXPECT_TRUE(store.Party().VoteSkip(guests[1]));
  EXPECT_EQ(store.Party().VoteSkip(guests[1]).Refusal, TPartyRefusal::AlreadyVoted);
  EXPECT_TRUE(store.Party().VoteSkip(guests[2]));
  EXPECT_FALSE(store.Party().State().SkipAgreed);
  EXPECT_EQ(store.Party().State().Votes, 2);

  // Twenty minutes on, only the voters and one more are still seen: the
  // minimum of two holds, and the next vote skips.
  store.Advance(20 * 60);
  for (int i : {1, 2, 3}) store.Party().State(guests[i]);
  EXPECT_EQ(store.Party().State().VotesNeeded, 2);
  EXPECT_TRUE(store.Party().VoteSkip(guests[3]));
  EXPECT_TRUE(store.Party().State().SkipAgreed);

  // The next entry starts with no votes; one guest alone never skips.
  ASSERT_TRUE(store.Queue(guests[1], "v2"));
  ASSERT_TRUE(store.Party().TakeNext().Entry);
  EXPECT_EQ(store.Party().State().Votes, 0);
  store.Advance(20 * 60);
  store.Party().State(guests[1]);
  EXPECT_TRUE(store.Party().VoteSkip(guests[1]));
  EXPECT_EQ(store.Party().State().VotesNeeded, 2);
  EXPECT_FALSE(store.Party().State().SkipAgreed);
}

TEST(PartyStoreTest, ThePartyOutlivesARestartWithItsOrderAndTokens) {
  PartyStore store;
  const std::string ann = store.Join("Ann"), bob = store.Join("Bob");
  ASSERT_TRUE(store.Queue(ann, "v1"));
  ASSERT_TRUE(store.Queue(ann, "v2"));
  ASSERT_TRUE(store.Queue(bob, "v3"));
  ASSERT_TRUE(store.Party().TakeNext().Entry);
  store.Party().SetLocked(true);
  const int64_t versionBefore = store.Party().Version();

  store.Reopen();
  const server::TPartyState state = store.Party().State(bob);
  EXPECT_TRUE(state.On);
  EXPECT_TRUE(state.Locked);
  EXPECT_EQ(state.You, "Bob");
  ASSERT_TRUE(state.Now);
  EXPECT_EQ(state.Now->Title, "v1");
  EXPECT_EQ(store.Waiting(), (std::vector<std::string>{"v3", "v2"}));
  // The host may play a waiting entry out of turn (the one its player took).
  const int64_t v2 = store.Party().State().Next[1].Id;
  EXPECT_EQ(store.Party().TakeNext(v2).Entry->Title, "v2");
  EXPECT_EQ(store.Party().TakeNext(v2).Entry->Title, "v3"); // gone: the first waiting one
  // A page that kept the version from before the restart is answered at once.
  EXPECT_NE(store.Party().Version(), versionBefore);
  // Each change is told.
  const int told = store.Changes();
  store.Party().SetLocked(false);
  EXPECT_EQ(store.Changes(), told + 1);
}

// ---------------------------------------------------------------- over HTTP

class PartyHttpTest : public ::testing::Test {
protected:
  PartyHttpTest()
      : running([](server::TServerOptions &options) {
          options.Party = true;
          options.PartyLimits.RequestsPerMinute = 20;
        }) {
    std::vector<server::TCatalogueVideo> videos(8);
    for (std::size_t i = 0; i < videos.size(); ++i) {
      videos[i].RelPath = "v" + std::to_string(i) + ".webm";
      videos[i].Title = "v" + std::to_string(i);
      videos[i].Seconds = 60;
      videos[i].Size = 1;
    }
    running.Server().Catalogue().Apply(videos, {});
    for (const auto &video : videos) ids[video.Title] = video.Id;
    std::ifstream key(running.Server().PartyHostKeyFile());
    key >> hostKey;
  }

  int Port() { return running.Server().WebPort(); }

  httplib::Result Post(const std::string &path, const httplib::Params &fields,
                       const httplib::Headers &headers) {
    return running.Web().Post(path.c_str(), headers, fields);
  }

  std::string Join(const std::string &name) {
    const auto answer = Post("/party/api/join", {{"name", name}}, {{"X-Party-Guest", "new"}});
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    return answer ? QJsonDocument::fromJson(QByteArray::fromStdString(answer->body))
                        .object()["token"]
                        .toString()
                        .toStdString()
                  : "";
  }

  QJsonObject State(const std::string &token = {}) {
    const auto answer = running.Web().Get("/party/api/state", {{"X-Party-Guest", token}});
    return answer ? QJsonDocument::fromJson(QByteArray::fromStdString(answer->body)).object()
                  : QJsonObject();
  }

  TRunningServer running;
  std::map<std::string, std::string> ids;
  std::string hostKey;
};

TEST_F(PartyHttpTest, AWaitingPageIsToldOfEachChangeAndNothingElse) {
  const std::string ann = Join("Ann");
  const auto version = std::to_string(int64_t(State()["version"].toDouble()));

  // Two pages wait; while nothing changes, neither is answered.
  std::atomic<int> answered{0};
  std::vector<std::string> bodies(2);
  std::vector<std::thread> pages;
  for (int i = 0; i < 2; ++i)
    pages.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", Port());
      client.set_read_timeout(30, 0);
      const auto answer = client.Get(("/party/api/state?since=" + version).c_str());
      if (answer) bodies[i] = answer->body;
      ++answered;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(answered.load(), 0);

  ASSERT_TRUE(Post("/party/api/queue", {{"video", ids["v3"]}}, {{"X-Party-Guest", ann}}));
  for (auto &page : pages) page.join();
  for (const std::string &body : bodies) {
    const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    ASSERT_EQ(state["next"].toArray().size(), 1) << body;
    EXPECT_EQ(state["next"].toArray()[0].toObject()["title"].toString(), "v3");
    EXPECT_EQ(state["next"].toArray()[0].toObject()["name"].toString(), "Ann");
    // The page of nobody in particular sees the entry as someone else's,
    // and no page ever sees a token.
    EXPECT_FALSE(state["next"].toArray()[0].toObject()["mine"].toBool());
    EXPECT_EQ(body.find(ann), std::string::npos);
  }
  // A version the server does not have now (an old one, or none) is answered at once.
  const auto old = running.Web().Get(("/party/api/state?since=" + version).c_str());
  ASSERT_TRUE(old);
  EXPECT_EQ(old->status, 200);
  EXPECT_TRUE(State(ann)["next"].toArray()[0].toObject()["mine"].toBool());
}

TEST_F(PartyHttpTest, OnlyTheHostOnThisMachineWithTheKeyActsAsHost) {
  ASSERT_EQ(hostKey.size(), 64u);
  EXPECT_EQ(fs::status(running.Server().PartyHostKeyFile()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::string ann = Join("Ann");
  ASSERT_TRUE(Post("/party/api/queue", {{"video", ids["v1"]}}, {{"X-Party-Guest", ann}}));

  struct TCase {
    const char *Name;
    httplib::Headers Headers;
    int Status;
  };
  const std::vector<TCase> cases{
      {"no key", {}, 403},
      {"a guest's token", {{"X-Party-Guest", ann}}, 403},
      {"a wrong key", {{"X-Party-Host", std::string(64, '0')}}, 403},
      {"half the key", {{"X-Party-Host", hostKey.substr(0, 32)}}, 403},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    for (const char *action : {"clear", "end", "next", "lock"}) {
      const auto answer = Post(std::string("/party/host/") + action, {}, c.Headers);
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->status, c.Status) << action;
    }
    EXPECT_EQ(State()["next"].toArray().size(), 1);
  }
  const auto next = Post("/party/host/next", {}, {{"X-Party-Host", hostKey}});
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200);
  EXPECT_EQ(State()["now"].toObject()["title"].toString(), "v1");

  // Guests' changes need their token header: a form of another site has none.
  const auto bare = Post("/party/api/queue", {{"video", ids["v2"]}}, {});
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 403);
  // The key outlives a restart of the server: the program keeps reading it.
  EXPECT_EQ(server::PartyHostKey(running.Server().PartyHostKeyFile()), hostKey);

  for (const auto &[address, loopback] :
       std::vector<std::pair<std::string, bool>>{{"127.0.0.1", true},
                                                 {"127.3.2.1", true},
                                                 {"::1", true},
                                                 {"192.168.1.20", false},
                                                 {"::ffff:127.0.0.1", false},
                                                 {"fe80::1", false},
                                                 {"", false}})
    EXPECT_EQ(server::IsLoopback(address), loopback) << address;
}

// A POST of a form to the web port from a loopback address.
std::string RawPost(int port, const char *from, const std::string &path, const std::string &token,
                    const std::string &body) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(static_cast<uint16_t>(port));
  std::string answer;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0) {
    const std::string request = "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                                "X-Party-Guest: " + token +
                                "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
      answer.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return answer;
}

// Servers on one database count an address's requests together: the limit
// is not one per server.
TEST_F(PartyHttpTest, ServersOnOneDatabaseCountRequestsTogether) {
  TRunningServer second([this](server::TServerOptions &options) {
    options.PartyLimits.RequestsPerMinute = 20;
    ShareDatabaseOf(running, options);
  });
  std::vector<int> statuses;
  for (int i = 0; i < 24; ++i) {
    TRunningServer &through = i % 2 ? second : running;
    const auto answer =
        through.Web().Post("/party/api/join", httplib::Headers{{"X-Party-Guest", "new"}},
                           httplib::Params{{"name", "Guest " + std::to_string(i)}});
    statuses.push_back(answer ? answer->status : 0);
  }
  EXPECT_EQ(std::count(statuses.begin(), statuses.begin() + 20, 200), 20);
  EXPECT_EQ(std::count(statuses.begin() + 20, statuses.end(), 429), 4);
}

TEST_F(PartyHttpTest, AFloodFromOneAddressIsHeldOffAndOthersGoOn) {
  const std::string ann = Join("Ann");
  {
    // Whether 127.0.0.2 reaches the loopback here at all.
    const std::string probe = RawPost(Port(), "127.0.0.2", "/party/api/none", "x", "");
    if (probe.empty()) GTEST_SKIP() << "no second loopback address";
  }
  // A thousand queue requests from one address, as fast as they go.
  std::map<int, int> statuses;
  bool retryAfter = true;
  for (int i = 0; i < 1000; ++i) {
    const std::string answer = RawPost(Port(), "127.0.0.1", "/party/api/queue", ann,
                                       "video=" + ids["v" + std::to_string(i % 8)]);
    const int status = answer.size() > 12 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
    ++statuses[status];
    if (status == 429) retryAfter = retryAfter && answer.find("Retry-After: ") != std::string::npos;
  }
  // The join counted too: 19 more were handled (3 queued, the rest refused
  // for the guest's limit), then every one was held off.
  EXPECT_EQ(statuses[200], 3);
  EXPECT_EQ(statuses[409], 16);
  EXPECT_EQ(statuses[429], 981);
  EXPECT_TRUE(retryAfter);
  EXPECT_EQ(State()["next"].toArray().size(), 3);

  // A guest on another address joins and queues as if nothing happened.
  const std::string joined = RawPost(Port(), "127.0.0.2", "/party/api/join", "new", "name=Bob");
  const std::string token =
      QJsonDocument::fromJson(QByteArray::fromStdString(joined.substr(joined.find("\r\n\r\n") + 4)))
          .object()["token"]
          .toString()
          .toStdString();
  ASSERT_FALSE(token.empty()) << joined;
  const std::string queued =
      RawPost(Port(), "127.0.0.2", "/party/api/queue", token, "video=" + ids["v7"]);
  EXPECT_EQ(queued.substr(9, 3), "200") << queued;
}

TEST_F(PartyHttpTest, PhonesThatGoAwayMidRequestChangeNothing) {
  const std::string ann = Join("Ann");
  const auto version = std::to_string(int64_t(State()["version"].toDouble()));
  auto connect = [this] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(Port()));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote), 0);
    return fd;
  };
  // A queue request whose body stops half way, a waiting page, and a
  // request head cut off, all closed by their phones.
  std::vector<std::string> partial{
      "POST /party/api/queue HTTP/1.1\r\nHost: x\r\nX-Party-Guest: " + ann +
          "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
          "40\r\n\r\nvideo=" +
          ids["v1"].substr(0, 4),
      "GET /party/api/state?since=" + version + " HTTP/1.1\r\nHost: x\r\n\r\n",
      "POST /party/api/queue HTTP/1.1\r\nHost: x\r\nX-Party-Gue",
  };
  std::vector<int> sockets;
  for (const std::string &bytes : partial) {
    sockets.push_back(connect());
    ::send(sockets.back(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (const int fd : sockets) ::close(fd);

  // Nothing was queued; the next change wakes the gone page's request, whose
  // answer goes nowhere; the server goes on serving.
  EXPECT_TRUE(State()["next"].toArray().isEmpty());
  const auto queued = Post("/party/api/queue", {{"video", ids["v2"]}}, {{"X-Party-Guest", ann}});
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(State()["next"].toArray().size(), 1);
  const auto page = running.Web().Get("/party");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

TEST_F(PartyHttpTest, TheGuestPageNamesNothingOutsideAndRunsOnlyItsOwnScript) {
  for (const char *path : {"/party", "/party/party.js", "/party/party.css"}) {
    SCOPED_TRACE(path);
    const auto answer = running.Web().Get(path);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const std::string policy = answer->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
    // No address of another host, and no markup made from text.
    EXPECT_FALSE(
        std::regex_search(answer->body, std::regex("(https?:)?//[a-z0-9]", std::regex::icase)))
        << "outside address";
    EXPECT_EQ(answer->body.find("innerHTML"), std::string::npos);
    EXPECT_EQ(answer->body.find("<script>"), std::string::npos) << "inline script";
  }
}

} // namespace
} // namespace sonabox::test
