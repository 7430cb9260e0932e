// The video web host over real HTTP: the player address with byte ranges, the
// watch page, play counts, and requests that try to reach other files.
#include "ServerFixture.h"

#include <gtest/gtest.h>

namespace sonabox::test {
namespace {

class WebHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 0; i < 1000; ++i) bytes += static_cast<char>('a' + (i * 7) % 26);
    fs::create_directories(running.Root() / "library" / "Music");
    WriteFileBytes((running.Root() / "library" / "Music" / "clip.webm").string(), bytes);
    std::vector<server::TCatalogueVideo> videos(1);
    videos[0].RelPath = "Music/clip.webm";
    videos[0].Category = "Music";
    videos[0].Title = "Clip <one> & \"two\"";
    videos[0].Description = "About the clip";
    videos[0].Seconds = 75;
    videos[0].Size = static_cast<int64_t>(bytes.size());
    running.Server().Catalogue().Apply(videos, {});
    id = videos[0].Id;
  }

  int64_t Views() { return running.Server().Catalogue().Find(id)->Views; }

  TRunningServer running;
  std::string bytes;
  std::string id;
};

TEST_F(WebHostTest, PlayerAddressAnswersByteRanges) {
  struct TCase {
    std::string Range; // empty: no Range header
    int Status;
    std::string ContentRange;
    std::size_t From, Length; // the bytes expected, for 200 and 206
  };
  const std::vector<TCase> cases{
      {"", 200, "", 0, 1000},
      {"bytes=0-99", 206, "bytes 0-99/1000", 0, 100},
      {"bytes=900-", 206, "bytes 900-999/1000", 900, 100},
      {"bytes=-100", 206, "bytes 900-999/1000", 900, 100},
      {"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},
      {"bytes=990-2000", 206, "bytes 990-999/1000", 990, 10},
      {"bytes=999-999", 206, "bytes 999-999/1000", 999, 1},
      {"bytes=1000-", 416, "bytes */1000", 0, 0},
      {"bytes=5000-6000", 416, "bytes */1000", 0, 0},
      {"bytes=-0", 416, "bytes */1000", 0, 0},
      {"bytes=0-1,5-6", 206, "bytes 0-6/1000", 0, 7}, // several ranges: one part
      {"bytes=0-1,,5000-6000", 206, "bytes 0-1/1000", 0, 2},
      {"bytes=990-99999999999999999999999", 206, "bytes 990-999/1000", 990, 10},
      {"pages=1-2", 200, "", 0, 1000}, // an unknown unit is ignored
  };
  for (const std::string &address : {"/v/" + id + "&autoplay=1", "/v/" + id}) {
    for (const TCase &c : cases) {
      SCOPED_TRACE(address + " " + c.Range);
      httplib::Headers headers;
      if (!c.Range.empty()) headers.emplace("Range", c.Range);
      const auto result = running.Web().Get(address.c_str(), headers);
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, c.Status);
      EXPECT_EQ(result->get_header_value("Content-Range"), c.ContentRange);
      if (c.Status == 416) continue;
      EXPECT_EQ(result->get_header_value("Content-Type"), "video/webm");
      EXPECT_EQ(result->get_header_value("Accept-Ranges"), "bytes");
      EXPECT_EQ(result->body, bytes.substr(c.From, c.Length));
    }
  }
  const auto reversed = running.Web().Get(("/v/" + id).c_str(), {{"Range", "bytes=5-3"}});
  ASSERT_TRUE(reversed);
  EXPECT_EQ(reversed->status, 416);
}

// What browsers and caches send to check what they hold (RFC 9110, 13).
TEST_F(WebHostTest, ConditionalRequestsOnFilesAndThumbnails) {
  WriteFileBytes((running.Root() / "data" / "thumbnails" / (id + ".jpg")).string(), "picture");
  for (const std::string address : {"/v/" + id, "/t/" + id + ".jpg"}) {
    SCOPED_TRACE(address);
    const auto first = running.Web().Get(address.c_str());
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    const std::string tag = first->get_header_value("ETag");
    const std::string date = first->get_header_value("Last-Modified");
    EXPECT_EQ(tag.front(), '"') << "a strong tag";
    EXPECT_NE(date.find(" GMT"), std::string::npos) << date;
    const struct {
      httplib::Headers Headers;
      int Status;
      std::string ContentRange;
    } cases[] = {
        {{{"If-None-Match", tag}}, 304, ""},
        {{{"If-None-Match", "\"other\", W/" + tag}}, 304, ""},
        {{{"If-None-Match", "*"}}, 304, ""},
        {{{"If-None-Match", "\"other\""}}, 200, ""},
        {{{"If-Modified-Since", date}}, 304, ""},
        {{{"If-Modified-Since", "Sat, 01 Jan 2000 00:00:00 GMT"}}, 200, ""},
        {{{"If-Modified-Since", "yesterday"}}, 200, ""},
        // If-None-Match decides alone when both are sent.
        {{{"If-None-Match", "\"other\""}, {"If-Modified-Since", date}}, 200, ""},
        {{{"Range", "bytes=0-1"}, {"If-Range", tag}}, 206, "bytes 0-1/"},
        {{{"Range", "bytes=0-1"}, {"If-Range", date}}, 206, "bytes 0-1/"},
        {{{"Range", "bytes=0-1"}, {"If-Range", "\"other\""}}, 200, ""},
        {{{"Range", "bytes=0-1"}, {"If-Range", "W/" + tag}}, 200, ""},
        {{{"Range", "bytes=0-1"}, {"If-Range", "Sat, 01 Jan 2000 00:00:00 GMT"}}, 200, ""},
    };
    for (const auto &c : cases) {
      const auto result = running.Web().Get(address.c_str(), c.Headers);
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, c.Status) << c.Headers.begin()->second;
      EXPECT_EQ(result->get_header_value("Content-Range").substr(0, c.ContentRange.size()),
                c.ContentRange);
      if (c.Status == 304) {
        EXPECT_EQ(result->body, "");
        EXPECT_EQ(result->get_header_value("ETag"), tag);
      }
    }
  }
  const auto picture = running.Web().Get(("/t/" + id + ".jpg").c_str());
  ASSERT_TRUE(picture);
  EXPECT_NE(picture->get_header_value("Cache-Control"), "");
}

TEST_F(WebHostTest, PlayIsCountedWhenTheStreamStarts) {
  ASSERT_EQ(Views(), 0);
  ASSERT_TRUE(running.Web().Get(("/v/" + id + "&autoplay=1").c_str()));
  EXPECT_EQ(Views(), 1);
  ASSERT_TRUE(running.Web().Get(("/v/" + id).c_str(), {{"Range", "bytes=500-"}}));
  EXPECT_EQ(Views(), 1) << "a seek is not a play";
  ASSERT_TRUE(running.Web().Get(("/v/" + id).c_str(), {{"Range", "bytes=0-"}}));
  EXPECT_EQ(Views(), 2);
  ASSERT_TRUE(running.Web().Head(("/v/" + id).c_str()));
  EXPECT_EQ(Views(), 2);
}

TEST_F(WebHostTest, WatchPageShowsTheVideo) {
  const auto page = running.Web().Get(("/watch?v=" + id).c_str());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
  EXPECT_NE(page->body.find("Clip &lt;one&gt; &amp; &quot;two&quot;"), std::string::npos);
  EXPECT_NE(page->body.find("src=\"/v/" + id + "\""), std::string::npos);
  EXPECT_NE(page->body.find(" autoplay muted "), std::string::npos);
  EXPECT_NE(page->body.find(">Unmute</button>"), std::string::npos);
  EXPECT_NE(page->body.find("1:15"), std::string::npos);

  // A container that browsers cannot play is said, not shown as a broken player.
  fs::copy_file(running.Root() / "library" / "Music" / "clip.webm",
                running.Root() / "library" / "Music" / "clip.avi");
  std::vector<server::TCatalogueVideo> avi(1);
  avi[0].RelPath = "Music/clip.avi";
  avi[0].Title = "Old clip";
  avi[0].Content = "another file";
  running.Server().Catalogue().Apply(avi, {});
  const auto aviPage = running.Web().Get(("/watch?v=" + avi[0].Id).c_str());
  ASSERT_TRUE(aviPage);
  EXPECT_NE(aviPage->body.find("Browsers cannot play AVI files"), std::string::npos);
  EXPECT_EQ(aviPage->body.find("<video"), std::string::npos);

  const auto unknown = running.Web().Get("/watch?v=nosuchvideo");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

TEST_F(WebHostTest, NoRequestReachesAFileOutsideItsFolders) {
  const std::string secret = "SECRET-MARKER-7f3a";
  WriteFileBytes((running.Root() / "secret.txt").string(), secret);
  WriteFileBytes((running.Root() / "data" / "secret.jpg").string(), secret);
  WriteFileBytes((running.Root() / "assets" / ".hidden").string(), secret);
  fs::create_symlink(running.Root() / "secret.txt", running.Root() / "assets" / "link.run");
  fs::create_directories(running.Root() / "assets" / "sub");
  WriteFileBytes((running.Root() / "assets" / "sub" / "inner.txt").string(), secret);

  struct TCase {
    httplib::Client *Client;
    std::string Target;
  };
  const std::vector<TCase> cases{
      {&running.Web(), "/v/../../secret.txt"},
      {&running.Web(), "/v/%2e%2e%2f%2e%2e%2fsecret.txt"},
      {&running.Web(), "/v/" + id + "/../../../secret.txt"},
      {&running.Web(), "/v/" + id + "%2f..%2f..%2f..%2fsecret.txt"},
      {&running.Web(), "/t/..%2fsecret.jpg"},
      {&running.Web(), "/t/%2e%2e/secret.jpg"},
      {&running.Web(), "/t/secret.jpg"},
      {&running.Web(), "/watch?v=../../secret.txt"},
      {&running.Service(), "/assets/..%2fsecret.txt"},
      {&running.Service(), "/assets/%2e%2e%2fsecret.txt"},
      {&running.Service(), "/assets/%2E%2E"},
      {&running.Service(), "/assets/.hidden"},
      {&running.Service(), "/assets/link.run"},
      {&running.Service(), "/assets/sub%2finner.txt"},
      {&running.Service(), "/assets/sub/inner.txt"},
      {&running.Service(), "/assets/"},
      {&running.Service(), "/assets/..%5csecret.txt"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Target);
    const auto result = c.Client->Get(c.Target.c_str());
    ASSERT_TRUE(result);
    EXPECT_GE(result->status, 400);
    EXPECT_LT(result->status, 500);
    EXPECT_EQ(result->body.find(secret), std::string::npos);
  }

  // A catalogued video whose file was since replaced by a link to elsewhere.
  const fs::path clip = running.Root() / "library" / "Music" / "clip.webm";
  fs::remove(clip);
  fs::create_symlink(running.Root() / "secret.txt", clip);
  const auto linked = running.Web().Get(("/v/" + id + "&autoplay=1").c_str());
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->status, 404);
  EXPECT_EQ(linked->body.find(secret), std::string::npos);
}

} // namespace
} // namespace sonabox::test
