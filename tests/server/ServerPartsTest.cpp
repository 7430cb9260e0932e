// The server's pure pieces: the route table, the feed query reader, video
// identifiers, share codes, the share store's limits, byte ranges, the watch page, the database
// log and the command line.
#include "Catalogue.h"
#include "Feed.h"
#include "FileServing.h"
#include "Outbox.h"
#include "Router.h"
#include "Shares.h"
#include "SonaboxServer.h"
#include "WatchPage.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

namespace sonabox::test {
namespace {

namespace fs = std::filesystem;
using server::TFeedQuery;

TEST(RouteTableTest, MethodAndWholePathChooseTheRouteAndItsGroups) {
  auto answer = [](const char *name) {
    return [name](const server::THttpRequest &, server::THttpResponse &response,
                  const server::TPathGroups &path) {
      std::string text = name;
      for (std::size_t i = 1; i < path.size(); ++i) text += "|" + path[i];
      response.SetContent(text, "text/plain");
    };
  };
  const server::TRouteTable table({
      {server::kRead, "/v/([a-z]+)(?:&([^/]*))?", answer("video")},
      {server::kPost, "/v/([a-z]+)", answer("post")},
      {server::kGet, "/.*", answer("any")},
  });
  struct TCase {
    const char *Method, *Path;
    int Status;
    std::string Body;
  };
  const std::vector<TCase> cases{
      {"GET", "/v/abc", 200, "video|abc|"},
      {"HEAD", "/v/abc&autoplay=1", 200, "video|abc|autoplay=1"},
      {"POST", "/v/abc", 200, "post|abc"},
      {"GET", "/v/ABC", 200, "any"}, // the first route takes no upper case: the next one does
      {"POST", "/v/abc/more", 404, "ERROR"}, // the whole path must match
      {"POST", "/x/v/abc", 404, "ERROR"},
      {"PUT", "/v/abc", 404, "ERROR"},
      {"HEAD", "/anything", 404, "ERROR"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(std::string(c.Method) + " " + c.Path);
    server::THttpRequest request;
    request.Method = c.Method;
    request.Path = c.Path;
    server::THttpResponse response;
    table.Answer(request, response);
    EXPECT_EQ(response.Status, c.Status);
    EXPECT_EQ(response.Body, c.Body);
  }
  EXPECT_THROW(server::TRouteTable({{server::kGet, "/(", answer("broken")}}),
               std::invalid_argument);
}

TEST(ClientGroupTest, AnIpv6Slash64IsOneClient) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"127.0.0.1", "127.0.0.1"},
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:db8:1:2:ffff::1", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"::1", "::/64"},
      {"fe80::1", "fe80::/64"},
      {"not an address", "not an address"},
  };
  for (const auto &[address, client] : cases)
    EXPECT_EQ(server::ClientGroup(address), client) << address;
}

TEST(FeedQueryTest, KeywordsRunFromVqToOrderby) {
  struct TCase {
    std::string Target;
    std::string Keywords;
    int64_t Start, Max;
  };
  const std::vector<TCase> cases{
      {"/feeds/api/videos?vq=blue%20sky&orderby=relevance&start-index=26&max-results=25",
       "blue sky", 26, 25},
      // An ampersand typed among the keywords arrives raw, even before a name
      // that looks like a parameter; the real parameters follow "&orderby=".
      {"/feeds/api/videos?vq=a%20&start-index=5&orderby=relevance&start-index=1&max-results=25",
       "a &start-index=5", 1, 25},
      {"/feeds/api/videos?vq=rock%2Broll+x&orderby=relevance", "rock+roll+x", 1, 25},
      {"/feeds/api/videos?vq=%41%4a%zz%4&orderby=relevance", "AJ%zz%4", 1, 25},
      {"/feeds/api/videos?start-index=3&vq=b&max-results=5", "b", 3, 5},
      {"/feeds/api/videos?vq=caf%C3%A9", "caf\xC3\xA9", 1, 25},
      {"/feeds/api/videos", "", 1, 25},
      {"/feeds/api/videos?max-results=26", "", 1, 25},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Target);
    const std::optional<TFeedQuery> query = server::ParseFeedQuery(c.Target);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->Keywords, c.Keywords);
    EXPECT_EQ(query->StartIndex, c.Start);
    EXPECT_EQ(query->MaxResults, c.Max);
  }
  for (const std::string bad : {"?start-index=1.5", "?start-index=+5", "?start-index= 5",
                                "?max-results=-3", "?vq=x&orderby=r&start-index=0x10"})
    EXPECT_FALSE(server::ParseFeedQuery("/feeds/api/videos" + bad)) << bad;
}

TEST(VideoIdTest, ShortUrlSafeStableAndDistinct) {
  const std::regex urlSafe("[A-Za-z0-9_-]{11}");
  std::set<std::string> ids;
  for (const std::string path :
       {"a.webm", "Music/a.webm", "Music/A.webm", "Music/\xC3\x84 b.webm", "x/y/z.mp4"}) {
    const std::string id = server::VideoIdFor(path);
    EXPECT_TRUE(std::regex_match(id, urlSafe)) << id;
    EXPECT_EQ(server::VideoIdFor(path), id);
    EXPECT_NE(server::VideoIdFor(path, 1), id);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 5u);
}

TEST(ShareCodeTest, CodesAreUnambiguousAndDoNotRepeat) {
  const std::regex unambiguous("[2-9A-HJ-NP-Z]{10}");
  std::set<std::string> codes;
  std::set<char> used;
  for (int i = 0; i < 2000; ++i) {
    const std::string code = server::NewShareCode();
    ASSERT_TRUE(std::regex_match(code, unambiguous)) << code;
    codes.insert(code);
    used.insert(code.begin(), code.end());
  }
  EXPECT_EQ(codes.size(), 2000u);
  EXPECT_EQ(used.size(), 32u) << "every character of the alphabet is drawn";
}

TEST(ShareStoreTest, QuotasPerClientAndInAllAndExpiry) {
  TestFolders folders;
  server::TSqliteDatabase database((fs::path(folders.Root()) / "shares.db").string());
  int64_t now = 1'700'000'000;
  server::TShareStore store(database, {/*Days*/ 90, /*PerClientHour*/ 2, /*Total*/ 4},
                            [&now] { return now; });
  server::TShare share;
  share.Title = "T";
  using server::TStoreVerdict;
  auto verdict = [&](const char *client) { return store.Store(share, client).Verdict; };

  const std::string first = store.Store(share, "10.0.0.1").Code;
  EXPECT_EQ(verdict("10.0.0.1"), TStoreVerdict::Stored);
  now += 600;
  const server::TStoreResult refused = store.Store(share, "10.0.0.1");
  EXPECT_EQ(refused.Verdict, TStoreVerdict::ClientQuota);
  EXPECT_EQ(refused.RetryAfter, 3000) << "until the first of the hour's shares is an hour old";
  EXPECT_EQ(verdict("10.0.0.2"), TStoreVerdict::Stored);
  now += 3001; // an hour after its first share the client may share again
  EXPECT_EQ(verdict("10.0.0.1"), TStoreVerdict::Stored);

  // The store is full: 10.0.0.1 holds 3, 10.0.0.2 holds 1. A client that
  // holds fewer than the heaviest takes the place of the heaviest's oldest.
  const server::TStoreResult newcomer = store.Store(share, "10.0.0.3");
  EXPECT_EQ(newcomer.Verdict, TStoreVerdict::Stored);
  EXPECT_EQ(newcomer.Displaced, "10.0.0.1");
  EXPECT_FALSE(store.Find(first));
  const server::TStoreResult heaviest = store.Store(share, "10.0.0.1"); // holds 2 of 4
  EXPECT_EQ(heaviest.Verdict, TStoreVerdict::StoreFull);
  EXPECT_GT(heaviest.RetryAfter, 0);
  EXPECT_EQ(verdict("10.0.0.2"), TStoreVerdict::Stored) << "1 of 4 is fewer than 2";
  EXPECT_EQ(verdict("10.0.0.3"), TStoreVerdict::Stored) << "1 of 4 is fewer than 2";

  now += 88 * 86400;
  EXPECT_TRUE(store.Find(newcomer.Code)) << "kept for 90 days";
  now += 2 * 86400 + 1;
  EXPECT_FALSE(store.Find(newcomer.Code)) << "gone after 90 days, even before it is removed";
  EXPECT_EQ(store.Expire(), 4);
  EXPECT_EQ(store.Expire(), 0);
  EXPECT_EQ(verdict("10.0.0.3"), TStoreVerdict::Stored) << "expired shares make room";
}

TEST(ShareStoreTest, AFloodFromManyAddressesLeavesEveryoneAFairPart) {
  TestFolders folders;
  server::TSqliteDatabase database((fs::path(folders.Root()) / "shares.db").string());
  int64_t now = 1'700'000'000;
  server::TShareStore store(database, {/*Days*/ 90, /*PerClientHour*/ 20, /*Total*/ 230},
                            [&now] { return now; });
  server::TShare share;
  share.Title = "T";
  using server::TStoreVerdict;
  const std::string quiet = store.Store(share, "192.0.2.1").Code;
  // 40 addresses try 30 shares each within the hour, five times the store.
  // Shares that made room for others still count against their sender's
  // hour, so none stores more than its 20.
  int refused = 0;
  std::vector<int> stored(40);
  for (int round = 0; round < 30; ++round, ++now)
    for (int flooder = 0; flooder < 40; ++flooder) {
      const TStoreVerdict verdict = store.Store(share, "10.0.0." + std::to_string(flooder)).Verdict;
      refused += verdict == TStoreVerdict::StoreFull;
      stored[flooder] += verdict == TStoreVerdict::Stored;
    }
  EXPECT_GT(refused, 0);
  EXPECT_LE(*std::max_element(stored.begin(), stored.end()), 20);
  EXPECT_TRUE(store.Find(quiet)) << "the light sender's share outlived the flood";
  for (const char *newcomer : {"192.0.2.2", "2001:db8::/64"}) {
    EXPECT_EQ(store.Store(share, newcomer).Verdict, TStoreVerdict::Stored) << newcomer;
  }
  // The flooders hold equal parts, within one share.
  auto connection = database.Acquire();
  auto parts = connection->Prepare("SELECT min(held), max(held) FROM (SELECT count(*) AS held "
                                   "FROM shares WHERE client LIKE '10.%' GROUP BY client)");
  ASSERT_TRUE(parts.Step());
  EXPECT_LE(parts.Int(1) - parts.Int(0), 1);
  EXPECT_EQ(parts.Int(1), 6);
}

TEST(ShareStoreTest, OutboxKeepsItsNewestNotifications) {
  TestFolders folders;
  const fs::path outbox = fs::path(folders.Root()) / "outbox";
  server::TShare share;
  std::vector<fs::path> mails;
  for (int i = 0; i < 5; ++i)
    mails.push_back(server::WriteShareMail(outbox, share, "CODE" + std::to_string(4 - i)));
  WriteFileBytes((outbox / "keep.txt").string(), "not a notification");
  EXPECT_EQ(server::TrimOutbox(outbox, 3), 2);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(fs::exists(mails[static_cast<std::size_t>(i)]), i >= 2) << i;
  EXPECT_TRUE(fs::exists(outbox / "keep.txt"));
  EXPECT_EQ(server::TrimOutbox(outbox, 3), 0);
}

TEST(DatabaseTest, CheckpointEmptiesTheLog) {
  TestFolders folders;
  const fs::path file = fs::path(folders.Root()) / "log.db";
  server::TSqliteDatabase database(file.string());
  {
    auto connection = database.Acquire();
    connection->Execute("CREATE TABLE t(x TEXT)");
    for (int i = 0; i < 200; ++i)
      connection->Prepare("INSERT INTO t VALUES (?1)").Bind(1, std::string(1000, 'x')).Run();
  }
  const fs::path log = file.string() + "-wal";
  ASSERT_GT(fs::file_size(log), 0u);
  EXPECT_TRUE(database.Checkpoint());
  EXPECT_EQ(fs::file_size(log), 0u);
  // A database opened again starts with an empty log too.
  {
    auto connection = database.Acquire();
    connection->Execute("INSERT INTO t VALUES ('more')");
  }
  ASSERT_GT(fs::file_size(log), 0u);
  server::TSqliteDatabase again(file.string());
  EXPECT_EQ(fs::file_size(log), 0u);
}

TEST(ByteRangeTest, SatisfiableRangesAsOnePartUnknownUnitsIgnored) {
  using server::TByteRange;
  struct TCase {
    std::string Header;
    TByteRange::TKind Kind;
    int64_t First, Last;
  };
  const std::vector<TCase> cases{
      {"bytes=0-99", TByteRange::Part, 0, 99},
      {"bytes=900-", TByteRange::Part, 900, 999},
      {"bytes=-100", TByteRange::Part, 900, 999},
      {"bytes=-5000", TByteRange::Part, 0, 999},
      {"bytes=990-2000", TByteRange::Part, 990, 999},
      {"Bytes=5-5", TByteRange::Part, 5, 5},
      {"bytes=0-1,5-6", TByteRange::Part, 0, 6},
      {"bytes=0-1,,5-6", TByteRange::Part, 0, 6},
      {"bytes=, 10-20", TByteRange::Part, 10, 20},
      {"bytes=2000-3000, 10-20", TByteRange::Part, 10, 20},
      {"bytes=-0, 10-20", TByteRange::Part, 10, 20},
      {"bytes=0-99999999999999999999", TByteRange::Part, 0, 999},
      {"bytes=0-18446744073709551616", TByteRange::Part, 0, 999},
      {"bytes=1000-", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=1000-,2000-", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=,", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=-0", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=5-3", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=a-b", TByteRange::Unsatisfiable, 0, -1},
      {"bytes=", TByteRange::Unsatisfiable, 0, -1},
      {"items=0-1", TByteRange::Whole, 0, 999},
      {"bytes=99999999999999999999-", TByteRange::Unsatisfiable, 0, -1},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Header);
    const TByteRange range = server::ReadByteRange(c.Header, 1000);
    EXPECT_EQ(range.Kind, c.Kind);
    if (c.Kind == TByteRange::Unsatisfiable) continue;
    EXPECT_EQ(range.First, c.First);
    EXPECT_EQ(range.Last, c.Last);
  }
  EXPECT_EQ(server::ReadByteRange("bytes=0-", 0).Kind, TByteRange::Unsatisfiable);
}

TEST(WatchPageTest, EveryTextIsEscaped) {
  server::TCatalogueVideo video;
  video.Id = "abcdefghijk";
  video.Title = "Clip <one> & \"two\"";
  video.Description = "<script>alert(1)</script>";
  video.Category = "Music & Co";
  video.Seconds = 75;
  video.Views = 3;
  EXPECT_EQ(server::WatchPage(video),
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Clip &lt;one&gt; &amp; "
            "&quot;two&quot;</title></head>\n<body style=\"font-family: sans-serif\"><h1>Clip "
            "&lt;one&gt; &amp; &quot;two&quot;</h1>\n<video id=\"player\" src=\"/v/abcdefghijk\" "
            "poster=\"/t/abcdefghijk.jpg\" controls autoplay muted width=\"640\" "
            "height=\"480\"></video>\n<p><button id=\"unmute\" type=\"button\" onclick=\"var v = "
            "document.getElementById('player'); v.muted = false; v.play(); this.hidden = "
            "true;\">Unmute</button></p>\n<p>&lt;script&gt;alert(1)&lt;/"
            "script&gt;</p>\n<p>1:15, 3 views, Music &amp; Co</p>\n</body></html>\n");
  video.Category.clear();
  EXPECT_NE(server::WatchPage(video).find("<p>1:15, 3 views</p>"), std::string::npos);
}

TEST(CommandLineTest, OptionsDefaultsAndMistakes) {
  TestFolders folders; // XDG_DATA_HOME points into it
  const auto defaults = server::ParseCommandLine({"--library", "/videos"});
  ASSERT_TRUE(defaults.Options);
  EXPECT_EQ(defaults.Options->Library, "/videos");
  EXPECT_EQ(defaults.Options->Data, fs::path(folders.Root()) / "data/Tarnwell/sonabox-server");
  EXPECT_EQ(defaults.Options->Assets, defaults.Options->Data / "assets");
  EXPECT_EQ(defaults.Options->FeedPort, 8471);
  EXPECT_EQ(defaults.Options->WebPort, 8472);
  EXPECT_EQ(defaults.Options->ServicePort, 8473);
  EXPECT_EQ(defaults.Options->Bind, "127.0.0.1");
  EXPECT_EQ(defaults.Options->WebHost, "");
  EXPECT_EQ(defaults.Options->LatestBuild, 40);
  EXPECT_TRUE(defaults.Options->UpdateKey.empty());
  EXPECT_EQ(defaults.Options->ShareDays, 90);
  EXPECT_EQ(defaults.Options->SharesPerHour, 20);
  EXPECT_EQ(defaults.Options->MaxShares, 2000);
  EXPECT_EQ(defaults.Options->OutboxMax, 1000);
  EXPECT_FALSE(defaults.Options->Party);
  EXPECT_EQ(defaults.Options->PartyLimits.WaitingPerGuest, 3);
  EXPECT_EQ(defaults.Options->PartyLimits.ReplayMinutes, 60);

  const auto all = server::ParseCommandLine({"--library=/v",
                                             "--data",
                                             "/d",
                                             "--assets=/a",
                                             "--update-key",
                                             "/k.pem",
                                             "--latest-build",
                                             "41",
                                             "--feed-port",
                                             "0",
                                             "--web-port=9000",
                                             "--service-port",
                                             "65535",
                                             "--bind",
                                             "0.0.0.0",
                                             "--web-host",
                                             "media.local:9000",
                                             "--share-days",
                                             "7",
                                             "--shares-per-hour=5",
                                             "--max-shares",
                                             "100",
                                             "--outbox-max",
                                             "10",
                                             "--party",
                                             "--party-waiting=5",
                                             "--party-replay-minutes",
                                             "30",
                                             "--party-skip-votes=3",
                                             "--party-seen-minutes=10",
                                             "--party-requests-per-minute=12"});
  ASSERT_TRUE(all.Options) << all.Message;
  EXPECT_EQ(all.Options->Library, "/v");
  EXPECT_EQ(all.Options->Data, "/d");
  EXPECT_EQ(all.Options->Assets, "/a");
  EXPECT_EQ(all.Options->UpdateKey, "/k.pem");
  EXPECT_EQ(all.Options->LatestBuild, 41);
  EXPECT_EQ(all.Options->FeedPort, 0);
  EXPECT_EQ(all.Options->WebPort, 9000);
  EXPECT_EQ(all.Options->ServicePort, 65535);
  EXPECT_EQ(all.Options->Bind, "0.0.0.0");
  EXPECT_EQ(all.Options->WebHost, "media.local:9000");
  EXPECT_EQ(all.Options->ShareDays, 7);
  EXPECT_EQ(all.Options->SharesPerHour, 5);
  EXPECT_EQ(all.Options->MaxShares, 100);
  EXPECT_EQ(all.Options->OutboxMax, 10);
  EXPECT_TRUE(all.Options->Party);
  EXPECT_EQ(all.Options->PartyLimits.WaitingPerGuest, 5);
  EXPECT_EQ(all.Options->PartyLimits.ReplayMinutes, 30);
  EXPECT_EQ(all.Options->PartyLimits.SkipVotes, 3);
  EXPECT_EQ(all.Options->PartyLimits.SeenMinutes, 10);
  EXPECT_EQ(all.Options->PartyLimits.RequestsPerMinute, 12);

  const auto help = server::ParseCommandLine({"--library", "/v", "--help"});
  EXPECT_FALSE(help.Options);
  EXPECT_TRUE(help.Help);
  for (const char *option :
       {"--web-host", "--share-days", "--shares-per-hour", "--max-shares", "--outbox-max"})
    EXPECT_NE(help.Message.find(option), std::string::npos) << option;

  for (const std::vector<std::string> &wrong :
       std::vector<std::vector<std::string>>{{"--library"},
                                             {"--library", "/v", "--feed-port", "65536"},
                                             {"--library", "/v", "--web-port", "http"},
                                             {"--library", "/v", "--latest-build", "-1"},
                                             {"--library", "/v", "--colour", "blue"},
                                             {"--library", "/v", "--share-days", "0"},
                                             {"--library", "/v", "--max-shares", "many"},
                                             {"--library", "/v", "--party-waiting", "0"},
                                             {"--library", "/v", "--party=maybe"},
                                             {"/v"}}) {
    const auto result = server::ParseCommandLine(wrong);
    EXPECT_FALSE(result.Options);
    EXPECT_FALSE(result.Help);
    EXPECT_NE(result.Message.find("usage:"), std::string::npos);
  }
}

// The options file and the desktop's video folder, so that a service started
// with no arguments serves the user's videos.
TEST(CommandLineTest, OptionsFileAndVideoFolder) {
  TestFolders folders; // XDG_CONFIG_HOME points into it
  const fs::path config = fs::path(folders.Root()) / "config";
  const std::string home = std::getenv("HOME");
  fs::create_directories(config);

  struct Case {
    const char *userDirs; // user-dirs.dirs, or null for none
    fs::path library;
  };
  for (const Case &c :
       std::vector<Case>{{nullptr, fs::path(home) / "Videos"},
                         {"XDG_MUSIC_DIR=\"$HOME/Music\"\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n",
                          fs::path(home) / "Filme"},
                         {"XDG_VIDEOS_DIR=\"/srv/clips\"\n", "/srv/clips"},
                         {"XDG_VIDEOS_DIR=\"relative\"\n", fs::path(home) / "Videos"}}) {
    fs::remove(config / "user-dirs.dirs");
    if (c.userDirs) WriteFileBytes((config / "user-dirs.dirs").string(), c.userDirs);
    const auto parsed = server::ParseCommandLine({});
    ASSERT_TRUE(parsed.Options) << parsed.Message;
    EXPECT_EQ(parsed.Options->Library, c.library) << (c.userDirs ? c.userDirs : "none");
  }

  const fs::path file = config / "Tarnwell" / "sonabox-server.conf";
  EXPECT_EQ(server::ConfigFilePath(), file);
  fs::create_directories(file.parent_path());
  WriteFileBytes(file.string(), "# for the living room\n\n  library = ~/Music Videos \n"
                                "bind=0.0.0.0\nfeed-port = 9001\r\n");
  const auto fromFile = server::ParseCommandLine({});
  ASSERT_TRUE(fromFile.Options) << fromFile.Message;
  EXPECT_EQ(fromFile.Options->Library, fs::path(home) / "Music Videos");
  EXPECT_EQ(fromFile.Options->Bind, "0.0.0.0");
  EXPECT_EQ(fromFile.Options->FeedPort, 9001);
  // The command line goes over the file.
  const auto over = server::ParseCommandLine({"--library", "/v", "--feed-port=9002"});
  ASSERT_TRUE(over.Options) << over.Message;
  EXPECT_EQ(over.Options->Library, "/v");
  EXPECT_EQ(over.Options->Bind, "0.0.0.0");
  EXPECT_EQ(over.Options->FeedPort, 9002);

  // A wrong line names the file, and no server starts.
  for (const char *wrong : {"library /v\n", "colour = blue\n", "feed-port = http\n",
                            "--library = /v\n", "help = yes\n"}) {
    WriteFileBytes(file.string(), wrong);
    const auto result = server::ParseCommandLine({"--library", "/v"});
    EXPECT_FALSE(result.Options) << wrong;
    EXPECT_FALSE(result.Help);
    EXPECT_NE(result.Message.find(file.string()), std::string::npos) << result.Message;
  }
}

} // namespace
} // namespace sonabox::test
