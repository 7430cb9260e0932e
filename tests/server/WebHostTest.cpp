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
      {"bytes=0-1,5-6", 200, "", 0, 1000}, // several ranges: the whole file
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
  EXPECT_NE(page->body.find("1:15"), std::string::npos);

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
