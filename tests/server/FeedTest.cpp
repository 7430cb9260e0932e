// The video data feed over real HTTP, on a catalogue filled directly (no
// video files are needed to search).
#include "ServerFixture.h"
#include "core/playlists/PlayListExchange.h"
#include "core/search/Categories.h"
#include "core/search/TubeSearch.h"
#include "core/search/VideoLookup.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"
#include "support/UnusedPort.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <set>

namespace sonabox::test {
namespace {

server::TCatalogueVideo Synthetic(std::string category, std::string title,
                                  std::string description = {}, int64_t seconds = 10) {
  server::TCatalogueVideo video;
  video.RelPath = (category.empty() ? "" : category + "/") + title + ".webm";
  video.Category = std::move(category);
  video.Title = std::move(title);
  video.Description = std::move(description);
  video.Seconds = seconds;
  video.Size = 1;
  return video;
}

class FeedTest : public ::testing::Test {
protected:
  void Add(std::vector<server::TCatalogueVideo> videos) {
    running.Server().Catalogue().Apply(videos, {});
  }

  // GET of a target on the feed host; the answer read as the program reads it.
  TFeedAnswer Get(const std::string &target, int expectedStatus = 200) {
    const auto result = running.Feed().Get(target.c_str());
    EXPECT_TRUE(result) << target;
    if (!result) return {};
    EXPECT_EQ(result->status, expectedStatus) << target;
    last = result->body;
    return ReadFeed(result->body, running.Server().WebHost());
  }

  static std::vector<std::string> Titles(const TFeedAnswer &answer) {
    std::vector<std::string> titles;
    for (const TVideo &video : answer.Videos) titles.push_back(video.Title);
    return titles;
  }

  TRunningServer running;
  std::string last;
};

TEST_F(FeedTest, PagesOfTwentyFiveThroughThirtyVideos) {
  std::vector<server::TCatalogueVideo> videos;
  for (int i = 30; i >= 1; --i) {
    char title[16];
    std::snprintf(title, sizeof title, "Clip %02d", i);
    videos.push_back(Synthetic("Music", title, "a test clip"));
  }
  Add(videos);

  for (const std::string keywords : {"clip", ""}) {
    SCOPED_TRACE("keywords: " + keywords);
    const std::string base =
        "/feeds/api/videos/-/Music?vq=" + keywords + "&orderby=relevance&start-index=";
    const TFeedAnswer first = Get(base + "1&max-results=25");
    const TFeedAnswer second = Get(base + "26&max-results=25");
    const TFeedAnswer past = Get(base + "31&max-results=25");
    EXPECT_EQ(first.Total, "30");
    EXPECT_EQ(second.Total, "30");
    EXPECT_EQ(past.Total, "30");
    ASSERT_EQ(first.Videos.size(), 25u);
    ASSERT_EQ(second.Videos.size(), 5u);
    EXPECT_TRUE(past.Videos.empty());

    std::set<std::string> ids;
    for (const auto *page : {&first, &second})
      for (const TVideo &video : page->Videos) ids.insert(video.Url);
    EXPECT_EQ(ids.size(), 30u) << "the two pages overlap or miss videos";
  }
  // Browsing without keywords goes by title.
  const TFeedAnswer browse =
      Get("/feeds/api/videos/-/Music?vq=&orderby=relevance&start-index=1&max-results=25");
  ASSERT_FALSE(browse.Videos.empty());
  EXPECT_EQ(browse.Videos.front().Title, "Clip 01");
  EXPECT_EQ(browse.Videos.back().Title, "Clip 25");
}

TEST_F(FeedTest, EntryCarriesEveryFieldTheProgramReads) {
  Add({Synthetic("Music", "Blue Sky", "Line one\nline two\twith a tab", 185)});
  const std::string id = running.Server().Catalogue().Search("", "", 1, 1).Videos.at(0).Id;
  running.Server().Catalogue().AddView(id);
  running.Server().Catalogue().AddView(id);

  const TFeedAnswer answer =
      Get("/feeds/api/videos/-/Music?vq=blue%20sky&orderby=relevance&start-index=1&max-results=25");
  ASSERT_EQ(answer.Videos.size(), 1u);
  const TVideo &video = answer.Videos[0];
  EXPECT_EQ(video.Title, "Blue Sky");
  EXPECT_EQ(video.Url, id);
  EXPECT_LE(video.Url.size(), 16u) << "the playlist's Url column is 16 wide";
  EXPECT_EQ(video.Description, "Line oneline twowith a tab");
  EXPECT_EQ(video.ViewCount, "2");
  EXPECT_EQ(video.Rating, "0.00");
  EXPECT_EQ(video.Thumbnail, "http://" + running.Server().WebHost() + "/t/" + id + ".jpg");
  EXPECT_LE(video.Thumbnail.size(), 50u) << "the playlist's Thumbnail column is 50 wide";
  EXPECT_EQ(video.DurationSeconds, 185);
  EXPECT_EQ(video.Duration, "3:05");
}

TEST_F(FeedTest, CategoryPieceFiltersLetterCaseAside) {
  Add({Synthetic("Music", "Song One"), Synthetic("Music", "Song Two"),
       Synthetic("Comedy", "Song Three"), Synthetic("", "Song Four")});
  struct TCase {
    std::string Category;
    std::string Total;
  };
  for (const TCase &c : std::vector<TCase>{{"", "4"},
                                           {"/-/Music", "2"},
                                           {"/-/music", "2"},
                                           {"/-/Comedy", "1"},
                                           {"/-/Travel", "0"}}) {
    for (const std::string keywords : {"song", ""}) {
      SCOPED_TRACE(c.Category + " " + keywords);
      const TFeedAnswer answer = Get("/feeds/api/videos" + c.Category + "?vq=" + keywords +
                                     "&orderby=relevance&start-index=1&max-results=25");
      EXPECT_EQ(answer.Total, c.Total);
      EXPECT_EQ(std::to_string(answer.Videos.size()), c.Total);
    }
  }
}

TEST_F(FeedTest, KeywordsArriveAsTheProgramSendsThem) {
  Add({Synthetic("Music", "Rock & Roll Night"), Synthetic("Music", "Rolling Stones Cover"),
       Synthetic("Music", "Cafe Blues"), Synthetic("Music", "Café Society"),
       Synthetic("Animals", "Dog Park", "a dog in a park"),
       Synthetic("Animals", "Quiet Evening", "nothing to see"), Synthetic("Music", "夜に駆ける")});
  struct TCase {
    std::string Keywords; // as the program puts them after "vq="
    std::string Total;
  };
  const std::vector<TCase> cases{
      {"rock%20%26%20roll", "1"},
      {"rock%20&%20roll", "1"}, // a raw ampersand, as older programs send it
      {"ROCK", "1"},
      {"%20%20%20", "7"}, // blanks only: browsing
      {"%26", "1"},       // symbols only: what holds them
      {"&", "1"},
      {"%3C", "0"},
      {"caf%C3%A9", "2"}, // percent-decoded, accents aside
      {"cafe", "2"},
      {"dogs", "1"}, // word stems
      {"dog%20park", "1"},
      {"dog%20cat", "0"}, // every word is needed
      {"NOT", "0"},       // words of the query language are plain words
      {"%22", "0"},
      {"roll*", "2"}, // "rolling" too: the same stem
      {"(rock", "1"},
      {"%zz", "0"},       // a broken escape stays as typed
      {"%E2%80%94", "0"}, // a dash only: nothing to find, and no failure
      {"%FF%FE", "0"},    // bytes that are no UTF-8
      {"%E5%A4%9C", "1"}, // inside text without spaces: "夜" in "夜に駆ける"
      {"%E9%A7%86%E3%81%91%E3%82%8B", "1"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Keywords);
    const TFeedAnswer answer = Get("/feeds/api/videos?vq=" + c.Keywords +
                                   "&orderby=relevance&start-index=1&max-results=25");
    EXPECT_EQ(answer.Total, c.Total);
    EXPECT_EQ(std::to_string(answer.Videos.size()), c.Total);
  }
}

// The program's own request and reader of the library's categories.
TEST_F(FeedTest, CategoriesAreAnnouncedWithTheirCounts) {
  StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(running.Server().FeedPort()));
  EXPECT_EQ(FetchCategories(std::chrono::seconds(5)), std::vector<std::string>{});
  Add({Synthetic("Music", "One"), Synthetic("MUSIC", "Two"), Synthetic("Loops", "Three"),
       Synthetic("World", "Four"), Synthetic("Hip Hop", "Five"), Synthetic("R&B <'x'>", "Six"),
       Synthetic("", "Seven")});
  EXPECT_EQ(FetchCategories(std::chrono::seconds(5)),
            (std::vector<std::string>{"Hip Hop", "Loops", "MUSIC", "R&B <'x'>", "World"}));
  const auto raw = running.Feed().Get("/feeds/api/categories");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->body, "<?xml version='1.0' encoding='UTF-8'?>\n<categories>\n"
                       "<category term='Hip Hop' count='1'/>\n"
                       "<category term='Loops' count='1'/>\n"
                       "<category term='MUSIC' count='2'/>\n"
                       "<category term='R&amp;B &lt;&apos;x&apos;&gt;' count='1'/>\n"
                       "<category term='World' count='1'/>\n</categories>\n");

  // Every announced category finds its videos through the program's address.
  TWebStuff web;
  for (const std::string category : {"Hip Hop", "Loops", "R&B <'x'>", "music"}) {
    const TFeedAnswer answer =
        ReadFeed(web.GetText(TTubeSearch("", category).FeedUrl()), running.Server().WebHost());
    EXPECT_EQ(answer.Total, category == "music" ? "2" : "1") << category;
  }
  EXPECT_EQ(running.Feed().Post("/feeds/api/categories", "", "text/plain")->status, 404);
}

// What a user types, sent by the program's own search address and web client.
TEST_F(FeedTest, TypedKeywordsFindTheirVideos) {
  Add({Synthetic("Music", "Why Not?"), Synthetic("Music", "C# Etudes"),
       Synthetic("Music", "C Minor"), Synthetic("Music", "100% Pure Love"),
       Synthetic("Music", "Rock & Roll Night"), Synthetic("Music", "Café Society")});
  StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(running.Server().FeedPort()));
  const std::vector<std::pair<std::string, std::string>> cases{
      {"why not?", "Why Not?"},
      {"c# etudes", "C# Etudes"}, // not "C Minor": the words after "#" count
      {"100% love", "100% Pure Love"},
      {"rock & roll", "Rock & Roll Night"},
      {"café", "Café Society"},
      {"&", "Rock & Roll Night"},
      {" % ", "100% Pure Love"},
  };
  for (const auto &[keywords, title] : cases) {
    SCOPED_TRACE(keywords);
    TWebStuff web;
    const TFeedAnswer answer =
        ReadFeed(web.GetText(TTubeSearch(keywords, "Music").FeedUrl()), running.Server().WebHost());
    EXPECT_EQ(answer.Total, "1");
    EXPECT_EQ(Titles(answer), std::vector<std::string>{title});
  }
}

TEST_F(FeedTest, TitleMatchesComeBeforeDescriptionMatches) {
  Add({Synthetic("", "Beach Walk", "a sunset over the beach and more words here"),
       Synthetic("", "Harbour Lights", "boats at sunset"), Synthetic("", "Ocean Sunset", "waves"),
       Synthetic("", "Sunset Strip", "sunset, sunset and a sunset"),
       // Other videos, so that the word is not common to most of the catalogue.
       Synthetic("", "Morning Rain"), Synthetic("", "City Traffic"), Synthetic("", "Forest Birds"),
       Synthetic("", "Desert Wind"), Synthetic("", "Snow Day")});
  const TFeedAnswer answer =
      Get("/feeds/api/videos?vq=sunset&orderby=relevance&start-index=1&max-results=25");
  const std::vector<std::string> titles = Titles(answer);
  ASSERT_EQ(titles.size(), 4u);
  EXPECT_EQ(std::set<std::string>(titles.begin(), titles.begin() + 2),
            (std::set<std::string>{"Sunset Strip", "Ocean Sunset"}));
  EXPECT_EQ(std::set<std::string>(titles.begin() + 2, titles.end()),
            (std::set<std::string>{"Beach Walk", "Harbour Lights"}));
}

TEST_F(FeedTest, TitlesAndDescriptionsArriveAsPlainTextWithNoTagInside) {
  Add({Synthetic("", "Tom & Jerry <live> 'it's' \"on\" </media:title>",
                 "ends early </media:description></entry><entry> & more")});
  const TFeedAnswer answer =
      Get("/feeds/api/videos?vq=jerry&orderby=relevance&start-index=1&max-results=25");
  ASSERT_EQ(answer.Videos.size(), 1u) << last;
  // Escaped by the server, decoded by the program: the texts as typed.
  EXPECT_EQ(answer.Videos[0].Title, "Tom & Jerry <live> 'it's' \"on\" </media:title>");
  EXPECT_EQ(answer.Videos[0].Description, "ends early </media:description></entry><entry> & more");
  EXPECT_FALSE(answer.Videos[0].Url.empty());
  EXPECT_NE(last.find("Tom &amp; Jerry &lt;live&gt;"), std::string::npos) << last;
}

// A server bound to the IPv6 loopback writes its web host as "[::1]:PORT";
// the program, configured with that host, searches it and reads every entry
// whole, then fetches the movie at the address the entry names.
TEST(FeedOverIpv6Test, SearchAgainstAServerBoundToIpv6Loopback) {
  {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (!bound) GTEST_SKIP() << "this machine has no IPv6 loopback";
  }
  TRunningServer running([](server::TServerOptions &options) { options.Bind = "::1"; });
  const std::string host = running.Server().WebHost();
  ASSERT_EQ(host, "[::1]:" + std::to_string(running.Server().WebPort()));
  fs::create_directories(running.Root() / "library" / "Music");
  WriteFileBytes((running.Root() / "library" / "Music" / "blue.webm").string(),
                 "not really a movie");
  std::vector<server::TCatalogueVideo> videos{Synthetic("Music", "Blue Sky"),
                                              Synthetic("Music", "Blue Moon")};
  videos[0].RelPath = "Music/blue.webm";
  running.Server().Catalogue().Apply(videos, {});

  StoreWriteString("VideoDataHost", "[::1]:" + std::to_string(running.Server().FeedPort()));
  StoreWriteString("VideoWebHost", host);
  TWebStuff web;
  const TFeedEntries page = ParseFeedEntries(web.GetText(TTubeSearch("blue", "Music").FeedUrl()),
                                             VideoWebHost(), TEntryTexts::Xml);
  EXPECT_EQ(page.TotalResults, 2);
  ASSERT_EQ(page.Videos.size(), 2u);
  for (const TVideo &video : page.Videos) {
    SCOPED_TRACE(video.Title);
    EXPECT_EQ(video.Url.size(), 11u) << "the identifier is read whole";
    EXPECT_EQ(video.Thumbnail, "http://" + host + "/t/" + video.Url + ".jpg");
  }
  const auto sky = std::find_if(page.Videos.begin(), page.Videos.end(),
                                [](const TVideo &video) { return video.Title == "Blue Sky"; });
  ASSERT_NE(sky, page.Videos.end());
  TWebStuff movie;
  EXPECT_EQ(movie.GetText("http://" + host + "/v/" + sky->Url + "&autoplay=1"),
            "not really a movie");
}

TEST_F(FeedTest, MalformedQueriesAreRefusedOrAnsweredEmpty) {
  Add({Synthetic("", "Alpha"), Synthetic("", "Beta"), Synthetic("", "Gamma")});
  struct TCase {
    std::string Query;
    int Status;
    std::size_t Entries;
  };
  const std::vector<TCase> cases{
      {"?vq=&orderby=relevance&start-index=abc&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=-1&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=0&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=99999999999999999999999&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=2147483648&max-results=25", 400, 0},
      {"?vq=&orderby=relevance&start-index=1&max-results=0", 400, 0},
      {"?vq=&orderby=relevance&start-index=2147483647&max-results=25", 200, 0},
      {"?vq=&orderby=relevance&start-index=1&max-results=2", 200, 2},
      {"?vq=&orderby=relevance&start-index=3&max-results=1000", 200, 1},
      {"", 200, 3},
      {"?vq=%&orderby=relevance", 200, 0}, // a symbol that no video holds
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Query);
    const TFeedAnswer answer = Get("/feeds/api/videos" + c.Query, c.Status);
    EXPECT_EQ(answer.Videos.size(), c.Entries);
    if (c.Status == 200) {
      EXPECT_FALSE(answer.Total.empty()) << "no count: " << last;
    }
  }
  for (const std::string target :
       {"/feeds/api/videos/-/", "/feeds/api/videos/-/Music/more", "/feeds/api/other"})
    Get(target, 404);
  EXPECT_EQ(
      Get("/feeds/api/videos?vq=beta&orderby=relevance&start-index=1&max-results=25").Videos.size(),
      1u)
      << "the server still answers";
}

} // namespace
} // namespace sonabox::test

namespace sonabox::test {
namespace {

// A list of plain addresses, as other players write, gets its titles,
// artists and lengths in one request; what the file says itself stays.
TEST_F(FeedTest, PlayListFilesGetWhatTheyLackFromTheLookup) {
  server::TCatalogueVideo byArtist = Synthetic("Music",
                                               "\xC3\x9Cn\xC3\xAF"
                                               "code",
                                               "Tabbed\tdescription", 185);
  byArtist.Artist = "Zo\xC3\xAB & The Testcards";
  Add({byArtist, Synthetic("Music", "Second", "", 61)});
  std::map<std::string, std::string> ids;
  for (const auto &video : running.Server().Catalogue().Search("", "", 1, 25).Videos)
    ids[video.Title] = video.Id;
  const std::string first = ids.at(byArtist.Title), second = ids.at("Second");
  const std::string web = running.Server().WebHost();
  const std::string port = std::to_string(running.Server().WebPort());
  StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(running.Server().FeedPort()));

  TPlayListFile file = ReadPlayListFile("http://" + web + "/v/" + first +
                                            "\n"
                                            "#EXTINF:-1,Kept title\n"
                                            "http://localhost:" +
                                            port + "/v/" + second +
                                            "\n"
                                            "http://" +
                                            web + "/v/unknown\n",
                                        web);
  ASSERT_EQ(file.Videos.size(), 3u);
  const TVideos before = file.Videos;
  EXPECT_EQ(LookUpVideos(file.Videos, std::chrono::seconds(10)), "");
  const TVideo &a = file.Videos[0], &b = file.Videos[1], &unknown = file.Videos[2];
  EXPECT_EQ(a.Title, byArtist.Title);
  EXPECT_EQ(a.Artist, byArtist.Artist);
  EXPECT_EQ(a.DurationSeconds, 185);
  EXPECT_EQ(a.Duration, "3:05");
  EXPECT_EQ(a.Description, "Tabbeddescription");
  EXPECT_EQ(a.Rating, "0.00");
  EXPECT_EQ(b.Title, "Kept title");
  EXPECT_EQ(b.DurationSeconds, 61);
  EXPECT_EQ(unknown.Title, "");
  EXPECT_EQ(ShownTitle(unknown), "unknown");

  // A service that cannot be asked leaves the videos as they were, and says why.
  const struct {
    const char *what;
    std::string host, reason;
  } failures[] = {
      {"nothing listens", "127.0.0.1:" + std::to_string(UnusedPort()), "could not be reached"},
      {"a host without the lookup", web, "cannot look videos up (it answered 404)"},
  };
  for (const auto &f : failures) {
    StoreWriteString("VideoDataHost", f.host);
    TVideos videos = before;
    const std::string reason = LookUpVideos(videos, std::chrono::seconds(10));
    EXPECT_EQ(reason, "the video service at " + f.host + " " + f.reason) << f.what;
    EXPECT_EQ(videos[0].Title, "") << f.what;
  }
}

TEST_F(FeedTest, LookupAnswersTheKnownVideosAsJson) {
  server::TCatalogueVideo odd = Synthetic("", "Bad \xFF name", "", 5);
  Add({odd});
  const std::string id = running.Server().Catalogue().Search("", "", 1, 1).Videos.at(0).Id;
  std::string tooMany;
  for (std::size_t i = 0; i <= server::kMaxLookupIds; ++i) tooMany += "x" + std::to_string(i) + ",";
  const struct {
    const char *what;
    httplib::Params form;
    int status;
    std::vector<std::string> found;
  } cases[] = {
      {"known, unknown and no identifiers", {{"ids", ",nope,," + id + ",../x,<b>"}}, 200, {id}},
      {"the same twice", {{"ids", id + "," + id}}, 200, {id}},
      {"none", {{"ids", ""}}, 200, {}},
      {"no field", {{"other", id}}, 400, {}},
      {"too many", {{"ids", tooMany}}, 413, {}},
  };
  for (const auto &c : cases) {
    const auto result = running.Feed().Post("/feeds/api/lookup", c.form);
    ASSERT_TRUE(result) << c.what;
    EXPECT_EQ(result->status, c.status) << c.what;
    if (c.status != 200) continue;
    QJsonParseError error{};
    const QJsonDocument answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(result->body), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << c.what << ": " << result->body;
    std::vector<std::string> found;
    for (const QJsonValue &video : answer.object().value("videos").toArray()) {
      found.push_back(video.toObject().value("id").toString().toStdString());
      EXPECT_EQ(video.toObject().value("title").toString(), QString::fromUtf8("Bad \uFFFD name"));
      EXPECT_EQ(video.toObject().value("seconds").toInt(), 5);
    }
    EXPECT_EQ(found, c.found) << c.what;
  }
  EXPECT_EQ(running.Feed().Get("/feeds/api/lookup?ids=" + id)->status, 404) << "POST only";
}

} // namespace
} // namespace sonabox::test
