#include "core/search/Video.h"

#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "support/TestFolders.h"
#include "core/web/ServiceHosts.h"

#include <gtest/gtest.h>

using namespace sonabox;

namespace {

const std::string kHost = "127.0.0.1:8472";

std::string Entry(const std::string &description) {
  return "<entry><media:title type='plain'>Song &amp; Dance</media:title>"
         "<media:player url='http://" +
         kHost +
         "/watch?v=abc123&feature=feed'/>"
         "<media:description type='plain'>" +
         description +
         "</media:description>"
         "<media:thumbnail url='http://" +
         kHost +
         "/t/abc123/1.jpg' height='90' width='120'/>"
         "<media:thumbnail url='http://" +
         kHost +
         "/t/abc123/2.jpg'/>"
         "<yt:duration seconds='205'/>"
         "<gd:rating min='1' max='5' numRaters='10' average='4.2857'/>"
         "<yt:statistics viewCount='1234' favoriteCount='5'/></entry>";
}

TVideo Parse(const std::string &entry) {
  TVideo video;
  video.Title = "stale"; // every field is filled, found or not
  ParseVideoEntry(entry, video, kHost);
  return video;
}

} // namespace

TEST(ParseVideoEntry, AFullEntry) {
  const TVideo video = Parse(Entry("A\tlong\r\ndescription\n"));
  EXPECT_EQ(video.Title, "Song &amp; Dance");  // no XML decoding
  EXPECT_EQ(video.Url, "abc123&feature=feed"); // query parameters included
  EXPECT_EQ(video.Description,
            "Along\rdescription"); // tabs and line feeds go, carriage returns stay
  EXPECT_EQ(video.Thumbnail, "http://" + kHost + "/t/abc123/1.jpg"); // the first one
  EXPECT_EQ(video.DurationSeconds, 205);
  EXPECT_EQ(video.Duration, "3:25");
  EXPECT_EQ(video.Rating, "4.2857");
  EXPECT_EQ(video.ViewCount, "1234");

  // The default host is the configured video web host.
  sonabox::test::TestFolders folders;
  TVideo byDefault;
  ParseVideoEntry(Entry(""), byDefault, VideoWebHost());
  EXPECT_EQ(byDefault.Url, "abc123&feature=feed");
}

TEST(ParseVideoEntry, MissingAndOddElements) {
  const struct {
    const char *what;
    std::string entry;
    TVideo expected;
  } cases[] = {
      {"nothing", "<entry></entry>", {"", "", "", "", "", "0:00", 0, ""}},
      {"capitals in tags",
       "<MEDIA:TITLE TYPE='plain'>T</media:title><YT:DURATION SECONDS='61'/>",
       {"T", "", "", "", "", "1:01", 61, ""}},
      {"title with another attribute",
       "<media:title type='plain' lang='en'>T</media:title>",
       {"", "", "", "", "", "0:00", 0, ""}},
      {"another count before the views",
       "<yt:statistics favoriteCount='5' viewCount='1234'/>",
       {"", "", "", "", "", "0:00", 0, ""}},
      {"rating anywhere after the element name",
       "<gd:rating average='3'/><gd:rating average='5'/>",
       {"", "", "", "3", "", "0:00", 0, ""}},
      {"duration beyond 32 bits",
       "<yt:duration seconds='99999999999'/>",
       {"", "", "", "", "", "0:00", 0, ""}},
      {"https watch address",
       "<media:player url='https://" + kHost + "/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, ""}},
      {"dots of the host are literal",
       "<media:player url='http://127a0b0c1:8472/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, ""}},
      {"another host",
       "<media:player url='http://example.org/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, ""}},
  };
  for (const auto &c : cases) {
    const TVideo video = Parse(c.entry);
    EXPECT_EQ(video.Title, c.expected.Title) << c.what;
    EXPECT_EQ(video.Description, c.expected.Description) << c.what;
    EXPECT_EQ(video.Url, c.expected.Url) << c.what;
    EXPECT_EQ(video.Rating, c.expected.Rating) << c.what;
    EXPECT_EQ(video.ViewCount, c.expected.ViewCount) << c.what;
    EXPECT_EQ(video.Duration, c.expected.Duration) << c.what;
    EXPECT_EQ(video.DurationSeconds, c.expected.DurationSeconds) << c.what;
    EXPECT_EQ(video.Thumbnail, c.expected.Thumbnail) << c.what;
  }
}

TEST(ParseVideoEntry, DescriptionLimit) {
  const std::string e = "\xC3\xA9"; // "é", two bytes
  const struct {
    std::string description, kept;
  } cases[] = {
      {std::string(250, 'd'), std::string(200, 'd')},
      {std::string(200, 'd'), std::string(200, 'd')},
      {std::string(199, 'd') + e, std::string(199, 'd')},           // é would be split: left out
      {std::string(198, 'd') + e + "x", std::string(198, 'd') + e}, // é fits whole
      {std::string(20, '\t') + std::string(200, 'd'),
       std::string(200, 'd')}, // removed before the cut
  };
  for (const auto &c : cases)
    EXPECT_EQ(Parse(Entry(c.description)).Description, c.kept) << c.description.size();
}

TEST(StoreVideoInRow, FillsAPlayListRowCutToItsColumns) {
  TVideo video;
  video.Title =
      std::string(99, 't') + "\xE2\x82\xAC"; // a three-byte character across the width of 100
  video.Description = std::string(200, 'd');
  video.Url = "abcdefghijklmnop&feature=feed";
  video.Rating = "4.2857";
  video.ViewCount = "987654321";
  video.Duration = "3:25";
  video.DurationSeconds = 205;
  video.Thumbnail = "http://" + kHost + "/thumbnails/a-rather-long-path/1.jpg";

  sonabox::test::TestFolders folders;
  TDataTable table;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  table.Insert();
  StoreVideoInRow(video, table);
  table.Post();
  EXPECT_EQ(table.FieldByName("Title").AsString(), std::string(99, 't'));
  EXPECT_EQ(table.FieldByName("Description").AsString(), video.Description);
  EXPECT_EQ(table.FieldByName("Url").AsString(), "abcdefghijklmnop");
  EXPECT_EQ(table.FieldByName("Rating").AsString(), "4.285");
  EXPECT_EQ(table.FieldByName("Duration").AsString(), "3:25");
  EXPECT_EQ(table.FieldByName("DurationSeconds").AsInteger(), 205);
  EXPECT_EQ(table.FieldByName("Thumbnail").AsString(), video.Thumbnail.substr(0, 50));
  EXPECT_TRUE(table.FieldByName("Added").IsNull());
  table.SaveToFile(folders.Root() + "p.xml");
  EXPECT_EQ(sonabox::test::ReadFileBytes(folders.Root() + "p.xml").find("987654321"),
            std::string::npos);

  // A table without the columns is a fault of its definition: the table's error.
  TDataTable other;
  other.DefineColumns({{"Title", TFieldType::String, 10}});
  other.CreateEmpty();
  other.Insert();
  EXPECT_THROW(StoreVideoInRow(video, other), EDataTableError);
}
