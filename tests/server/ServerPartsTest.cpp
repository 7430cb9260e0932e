// The server's pure pieces: the feed query reader, video identifiers, share
// codes and the command line.
#include "Catalogue.h"
#include "Feed.h"
#include "Shares.h"
#include "SonaboxServer.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace sonabox::test {
namespace {

namespace fs = std::filesystem;
using server::TFeedQuery;

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

  const auto all = server::ParseCommandLine(
      {"--library=/v", "--data", "/d", "--assets=/a", "--update-key", "/k.pem", "--latest-build",
       "41", "--feed-port", "0", "--web-port=9000", "--service-port", "65535", "--bind", "0.0.0.0",
       "--web-host", "media.local:9000"});
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

  const auto help = server::ParseCommandLine({"--library", "/v", "--help"});
  EXPECT_FALSE(help.Options);
  EXPECT_TRUE(help.Help);
  EXPECT_NE(help.Message.find("--web-host"), std::string::npos);

  for (const std::vector<std::string> &wrong :
       std::vector<std::vector<std::string>>{{},
                                             {"--library"},
                                             {"--library", "/v", "--feed-port", "65536"},
                                             {"--library", "/v", "--web-port", "http"},
                                             {"--library", "/v", "--latest-build", "-1"},
                                             {"--library", "/v", "--colour", "blue"},
                                             {"/v"}}) {
    const auto result = server::ParseCommandLine(wrong);
    EXPECT_FALSE(result.Options);
    EXPECT_FALSE(result.Help);
    EXPECT_NE(result.Message.find("usage:"), std::string::npos);
  }
}

} // namespace
} // namespace sonabox::test
