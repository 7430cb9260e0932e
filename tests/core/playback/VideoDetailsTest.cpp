#include "core/playback/VideoDetails.h"

#include "core/playlists/DataTable.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

using namespace sonabox;

namespace {
// The columns of a playlist that the details read.
void MakePlaylist(TDataTable &table) {
  table.DefineColumns({{"Title", TFieldType::String, 100},
                       {"Description", TFieldType::String, 200},
                       {"Url", TFieldType::String, 100},
                       {"Rating", TFieldType::String, 10},
                       {"Duration", TFieldType::String, 10},
                       {"DurationSeconds", TFieldType::Integer, 0},
                       {"Thumbnail", TFieldType::String, 200}});
  table.CreateEmpty();
}

TVideoDetails Sample() {
  TVideoDetails details;
  details.Title = "Rock 'n' Roll &amp; <Blues>";
  details.Description = "Line one\r and more";
  details.Url = "abc-123";
  details.Rating = "4.5";
  details.ViewCount = "999";
  details.Duration = "3:20";
  details.DurationSeconds = 200;
  details.Thumbnail = "http://127.0.0.1:8472/thumbs/abc-123.jpg";
  return details;
}
} // namespace

TEST(TVideoDetails, AssignFromLeavesTheViewCount) {
  TVideoDetails target;
  target.ViewCount = "kept";
  target.AssignFrom(Sample());
  const TVideoDetails sample = Sample();
  EXPECT_EQ(target.Title, sample.Title);
  EXPECT_EQ(target.Description, sample.Description);
  EXPECT_EQ(target.Url, sample.Url);
  EXPECT_EQ(target.Rating, sample.Rating);
  EXPECT_EQ(target.Duration, sample.Duration);
  EXPECT_EQ(target.DurationSeconds, sample.DurationSeconds);
  EXPECT_EQ(target.Thumbnail, sample.Thumbnail);
  EXPECT_EQ(target.ViewCount, "kept");
}

TEST(TVideoDetails, LoadFromRowReadsNullsAsEmpty) {
  TDataTable table;
  MakePlaylist(table);
  table.Insert();
  table.FieldByName("Url").SetAsString("only-url");
  table.Post();
  table.First();
  TVideoDetails details = Sample();
  details.LoadFromRow(table);
  EXPECT_EQ(details.Url, "only-url");
  EXPECT_EQ(details.Title, "");
  EXPECT_EQ(details.Description, "");
  EXPECT_EQ(details.Rating, "");
  EXPECT_EQ(details.Duration, "");
  EXPECT_EQ(details.DurationSeconds, 0);
  EXPECT_EQ(details.Thumbnail, "");
  EXPECT_EQ(details.ViewCount, "999"); // not a playlist column
}

TEST(TVideoDetails, ShareEntryPieceByPiece) {
  test::TestFolders folders;
  StoreWriteString("VideoWebHost", "videos.example:8472");
  TVideoDetails details = Sample();
  EXPECT_EQ(details.ToShareEntry(nullptr),
            "<entry><media:title type='plain'>Rock 'n' Roll &amp; <Blues></media:title>"
            "<media:player url='http://videos.example:8472/watch?v=abc-123'/></media:player url>"
            "<media:description type='plain'>Line one\r and more</media:description>"
            "<yt:statistics viewCount='999'></yt>"
            "<gd:rating average='4.5'></gd>"
            "<media:thumbnail url='http://127.0.0.1:8472/thumbs/abc-123.jpg' end/></media>"
            "<yt:duration seconds='200'></yt>"
            "</entry>");
}

TEST(TVideoDetails, AnEntryFromAPlaylistRowReadsBack) {
  test::TestFolders folders;
  const TVideoDetails sample = Sample();
  TDataTable table;
  MakePlaylist(table);
  table.Insert();
  table.FieldByName("Title").SetAsString(sample.Title);
  table.FieldByName("Description").SetAsString(sample.Description);
  table.FieldByName("Url").SetAsString(sample.Url);
  table.FieldByName("Rating").SetAsString(sample.Rating);
  table.FieldByName("Duration").SetAsString(sample.Duration);
  table.FieldByName("DurationSeconds").SetAsInteger(sample.DurationSeconds);
  table.FieldByName("Thumbnail").SetAsString(sample.Thumbnail);
  table.Post();
  table.First();

  TVideoDetails details; // loads the row first
  const std::string entry = details.ToShareEntry(&table);
  EXPECT_NE(entry.find("<yt:statistics viewCount=''></yt>"), std::string::npos);

  TVideo video;
  ParseVideoEntry(entry, video, VideoWebHost());
  EXPECT_EQ(video.Title, sample.Title);
  EXPECT_EQ(video.Url, sample.Url);
  EXPECT_EQ(video.Description, sample.Description);
  EXPECT_EQ(video.Rating, sample.Rating);
  EXPECT_EQ(video.Thumbnail, sample.Thumbnail);
  EXPECT_EQ(video.DurationSeconds, 200);
  EXPECT_EQ(video.Duration, "3:20");
  EXPECT_EQ(video.ViewCount, "");
}
