#include "core/playlists/VideoRow.h"

#include "support/TestFolders.h"

#include <gtest/gtest.h>

using namespace sonabox;

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
  video.Thumbnail = "http://127.0.0.1:8472/thumbnails/a-rather-long-path/1.jpg";

  test::TestFolders folders;
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
  EXPECT_EQ(test::ReadFileBytes(folders.Root() + "p.xml").find("987654321"), std::string::npos);

  // A table without the columns is a fault of its definition: the table's error.
  TDataTable other;
  other.DefineColumns({{"Title", TFieldType::String, 10}});
  other.CreateEmpty();
  other.Insert();
  EXPECT_THROW(StoreVideoInRow(video, other), EDataTableError);
}

TEST(VideoFromRow, ReadsNullsAsEmpty) {
  TDataTable table;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  table.Insert();
  table.FieldByName(VideoColumn::Url).SetAsString("only-url");
  table.Post();
  table.First();
  const TVideo video = VideoFromRow(table);
  EXPECT_EQ(video.Url, "only-url");
  EXPECT_EQ(video.Title, "");
  EXPECT_EQ(video.Description, "");
  EXPECT_EQ(video.Rating, "");
  EXPECT_EQ(video.Duration, "");
  EXPECT_EQ(video.DurationSeconds, 0);
  EXPECT_EQ(video.Thumbnail, "");
  EXPECT_EQ(video.ViewCount, "");
}

TEST(VideoRow, TheArtistLivesInTheTitleColumn) {
  const std::string dash = " \xE2\x80\x93 "; // " – "
  const struct {
    const char *what;
    std::string artist, title, column, artistBack, titleBack;
  } cases[] = {
      {"artist and title", "Zo\xC3\xAB",
       "\xC3\x9Cn\xC3\xAF"
       "code",
       "Zo\xC3\xAB" + dash +
           "\xC3\x9Cn\xC3\xAF"
           "code",
       "Zo\xC3\xAB",
       "\xC3\x9Cn\xC3\xAF"
       "code"},
      {"no artist", "", "Song - Live", "Song - Live", "", "Song - Live"},
      {"no title", "Band", "", "Band", "", "Band"},
      {"a dash in the title", "A", "B" + dash + "C", "A" + dash + "B" + dash + "C", "A",
       "B" + dash + "C"},
      // Cut to the column's 100 bytes: the title's end goes, the artist stays.
      {"too long", std::string(60, 'a'), std::string(60, 't'),
       std::string(60, 'a') + dash + std::string(35, 't'), std::string(60, 'a'),
       std::string(35, 't')},
  };
  for (const auto &c : cases) {
    TDataTable table;
    table.DefineColumns(PlayListColumns());
    table.CreateEmpty();
    table.Insert();
    TVideo video;
    video.Artist = c.artist;
    video.Title = c.title;
    StoreVideoInRow(video, table);
    table.Post();
    table.First();
    EXPECT_EQ(table.FieldByName(VideoColumn::Title).AsString(), c.column) << c.what;
    const TVideo back = VideoFromRow(table);
    EXPECT_EQ(back.Artist, c.artistBack) << c.what;
    EXPECT_EQ(back.Title, c.titleBack) << c.what;
  }
}

TEST(VideoRecord, ShownTitleIsNeverEmpty) {
  TVideo video;
  video.Url = "abc123";
  EXPECT_EQ(ShownTitle(video), "abc123");
  video.Title = "Song";
  EXPECT_EQ(ShownTitle(video), "Song");
  video.Artist = "Band";
  EXPECT_EQ(ShownTitle(video), "Band \xE2\x80\x93 Song");
}
