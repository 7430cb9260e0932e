#include "core/search/Video.h"

#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

using namespace sonabox;

namespace {

const std::string kHost = "127.0.0.1:8472";

TVideo ShareSample() {
  TVideo video;
  video.Title = "Rock 'n' Roll &amp; <Blues>";
  video.Description = "Line one\r and more";
  video.Url = "abc-123";
  video.Rating = "4.5";
  video.ViewCount = "999";
  video.Duration = "3:20";
  video.DurationSeconds = 200;
  video.Thumbnail = "http://127.0.0.1:8472/thumbs/abc-123.jpg";
  return video;
}

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
  EXPECT_EQ(video.Title, "Song &amp; Dance");  // kept as written
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
      {"nothing", "<entry></entry>", {"", "", "", "", "", "0:00", 0, "", ""}},
      {"capitals in tags",
       "<MEDIA:TITLE TYPE='plain'>T</media:title><YT:DURATION SECONDS='61'/>",
       {"T", "", "", "", "", "1:01", 61, "", ""}},
      {"title with another attribute",
       "<media:title type='plain' lang='en'>T</media:title>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"another count before the views",
       "<yt:statistics favoriteCount='5' viewCount='1234'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"rating anywhere after the element name",
       "<gd:rating average='3'/><gd:rating average='5'/>",
       {"", "", "", "3", "", "0:00", 0, "", ""}},
      {"duration beyond 32 bits",
       "<yt:duration seconds='99999999999'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"duration longer than a row's text holds",
       "<yt:duration seconds='2147483647'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"https watch address",
       "<media:player url='https://" + kHost + "/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"dots of the host are literal",
       "<media:player url='http://127a0b0c1:8472/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
      {"another host",
       "<media:player url='http://example.org/watch?v=x'/>",
       {"", "", "", "", "", "0:00", 0, "", ""}},
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

// Every pattern character of the web host is literal: an IPv6 literal host
// ("[::1]:8472") is no character class.
TEST(ParseVideoEntry, WebHostIsMatchedLiterally) {
  const struct {
    std::string host, url, id;
  } cases[] = {
      {"[::1]:8472", "http://[::1]:8472/watch?v=abc", "abc"},
      {"[::1]:8472", "http://1:8472/watch?v=abc", ""},
      {"[fe80::1%25lo]:80", "http://[fe80::1%25lo]:80/watch?v=x_y", "x_y"},
      {"a+b.example(1)|c:8", "http://a+b.example(1)|c:8/watch?v=q", "q"},
      {"a+b.example(1)|c:8", "http://aab.example1:8/watch?v=q", ""},
      {"h\\E.*:1", "http://h\\E.*:1/watch?v=z", "z"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.host + " " + c.url);
    TVideo video;
    ParseVideoEntry("<entry><media:player url='" + c.url + "'/></entry>", video, c.host);
    EXPECT_EQ(video.Url, c.id);
  }
}

TEST(DecodeXmlEntities, NamedAndNumericReferences) {
  const std::pair<std::string, std::string> cases[] = {
      {"Rock &amp; Roll", "Rock & Roll"},
      {"Knock Knock &lt;Who&apos;s There?&gt;", "Knock Knock <Who's There?>"},
      {"&quot;q&quot;", "\"q\""},
      {"&#65;&#x42;&#X43;", "AB&#X43;"}, // the hexadecimal mark is a small x
      {"caf&#233; &#x1F600;", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"&#x41", "&#x41"},             // no semicolon
      {"&amp;amp;", "&amp;"},         // decoded once
      {"Tom & Jerry", "Tom & Jerry"}, // a bare ampersand stays
      {"&nbsp;&copy;", "&nbsp;&copy;"},
      {"&#0;&#1;&#xD800;&#x110000;&#99999999999;", "&#0;&#1;&#xD800;&#x110000;&#99999999999;"},
      {"&#9;&#10;", "\t\n"},
      {"&;&#;&#x;", "&;&#;&#x;"},
      {"end &", "end &"},
  };
  for (const auto &[text, expected] : cases) EXPECT_EQ(DecodeXmlEntities(text), expected) << text;
}

TEST(ParseFeedEntries, ACannedPage) {
  const std::string page =
      "<?xml version='1.0'?><feed><openSearch:totalResults>57</openSearch:totalResults>\n" +
      Entry("one") + "\n" + Entry("two &lt;b&gt;") + "</feed>";
  const TFeedEntries read = ParseFeedEntries(page, kHost, TEntryTexts::Xml);
  EXPECT_EQ(read.TotalResults, 57);
  ASSERT_EQ(read.Videos.size(), 2u);
  EXPECT_EQ(read.Videos[0].Title, "Song & Dance");
  EXPECT_EQ(read.Videos[0].Description, "one");
  EXPECT_EQ(read.Videos[1].Description, "two <b>");
  EXPECT_EQ(read.Videos[1].Url, "abc123&feature=feed");
  // A share's entries keep their texts as typed.
  const TFeedEntries shared = ParseFeedEntries(page, kHost, TEntryTexts::AsTyped);
  ASSERT_EQ(shared.Videos.size(), 2u);
  EXPECT_EQ(shared.Videos[0].Title, "Song &amp; Dance");
  EXPECT_EQ(shared.Videos[1].Description, "two &lt;b&gt;");
  // Decoded before the cut: 250 entities make 250 characters, cut to 200.
  std::string many;
  for (int i = 0; i < 250; ++i) many += "&amp;";
  EXPECT_EQ(ParseFeedEntries(Entry(many), kHost, TEntryTexts::Xml).Videos.at(0).Description,
            std::string(200, '&'));

  const struct {
    const char *what;
    std::string page;
    std::optional<int32_t> total;
    std::size_t videos;
  } cases[] = {
      {"nothing", "", std::nullopt, 0},
      {"entries without a count", Entry("x"), std::nullopt, 1},
      {"a count beyond 32 bits", "totalResults>4294967296<" + Entry("x"), std::nullopt, 1},
      {"a count with no entry", "<openSearch:totalResults>0</openSearch:totalResults>", 0, 0},
      {"an entry never closed", "totalResults>3<<entry><media:title type='plain'>T", 3, 0},
  };
  for (const auto &c : cases) {
    const TFeedEntries got = ParseFeedEntries(c.page, kHost, TEntryTexts::Xml);
    EXPECT_EQ(got.TotalResults, c.total) << c.what;
    EXPECT_EQ(got.Videos.size(), c.videos) << c.what;
  }
}

TEST(ParseFeedEntries, TheAuthorIsTheArtist) {
  const std::string title = "<media:title type='plain'>T</media:title>";
  const struct {
    std::string entry, xml, asTyped;
  } cases[] = {
      {"<author><name>Zo\xC3\xAB &amp; The Testcards</name></author>" + title,
       "Zo\xC3\xAB & The Testcards", "Zo\xC3\xAB &amp; The Testcards"},
      {title, "", ""},                                                // no author
      {"<AUTHOR><NAME>Loud</NAME></AUTHOR>" + title, "Loud", "Loud"}, // letter case aside
      {"<author><uri>x</uri><name>Odd</name></author>" + title, "", ""},
  };
  for (const auto &c : cases) {
    const std::string page = "<entry>" + c.entry + "</entry>";
    EXPECT_EQ(ParseFeedEntries(page, kHost, TEntryTexts::Xml).Videos.at(0).Artist, c.xml)
        << c.entry;
    EXPECT_EQ(ParseFeedEntries(page, kHost, TEntryTexts::AsTyped).Videos.at(0).Artist, c.asTyped)
        << c.entry;
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

TEST(ToShareEntry, PieceByPiece) {
  sonabox::test::TestFolders folders;
  StoreWriteString("VideoWebHost", "videos.example:8472");
  EXPECT_EQ(ToShareEntry(ShareSample()),
            "<entry><media:title type='plain'>Rock 'n' Roll &amp; <Blues></media:title>"
            "<media:player url='http://videos.example:8472/watch?v=abc-123'/></media:player url>"
            "<media:description type='plain'>Line one\r and more</media:description>"
            "<yt:statistics viewCount='999'></yt>"
            "<gd:rating average='4.5'></gd>"
            "<media:thumbnail url='http://127.0.0.1:8472/thumbs/abc-123.jpg' end/></media>"
            "<yt:duration seconds='200'></yt>"
            "</entry>");
}

TEST(ToShareEntry, AnEntryFromAPlaylistRowReadsBack) {
  sonabox::test::TestFolders folders;
  const TVideo sample = ShareSample();
  TDataTable table;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  table.Insert();
  StoreVideoInRow(sample, table);
  table.Post();
  table.First();

  const std::string entry = ToShareEntry(VideoFromRow(table));
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

  // The artist travels within the title, as the row holds it, and comes out
  // of the receiver's row apart again.
  TVideo byArtist = sample;
  byArtist.Artist = "Zo\xC3\xAB & The Testcards";
  table.Insert();
  StoreVideoInRow(byArtist, table);
  table.Post();
  const std::string withArtist = ToShareEntry(VideoFromRow(table));
  EXPECT_NE(withArtist.find("<media:title type='plain'>Zo\xC3\xAB & The Testcards \xE2\x80\x93 "
                            "Rock 'n' Roll &amp; <Blues></media:title>"),
            std::string::npos);
  TVideo received;
  ParseVideoEntry(withArtist, received, VideoWebHost());
  table.Insert();
  StoreVideoInRow(received, table);
  table.Post();
  const TVideo kept = VideoFromRow(table);
  EXPECT_EQ(kept.Artist, byArtist.Artist);
  EXPECT_EQ(kept.Title, byArtist.Title);
}
