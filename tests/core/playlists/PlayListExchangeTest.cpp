// Playlists written to and read from M3U and XSPF files, through the store.
#include "core/playlists/PlayListExchange.h"

#include "TableFixtures.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/PlayListManager.h"
#include "support/TestFolders.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;
using namespace sonabox;
using namespace sonabox::test;

namespace {

const std::string kHost = "127.0.0.1:8472";

TVideo Video(const std::string &id, const std::string &title, int seconds,
             const std::string &description = "", const std::string &rating = "4.25") {
  TVideo video;
  video.Url = id;
  video.Title = title;
  video.Description = description;
  video.Rating = rating;
  video.DurationSeconds = seconds;
  video.Duration = SecondsToText(std::to_string(seconds));
  video.Thumbnail = "http://" + kHost + "/t/" + id + ".jpg";
  return video;
}

// What a row holds, as one comparable text.
std::string RowText(const TVideo &video, bool withDescriptionAndRating = true) {
  std::string text = video.Url + "|" + video.Artist + "|" + video.Title + "|" + video.Duration +
                     "|" + std::to_string(video.DurationSeconds) + "|" + video.Thumbnail;
  if (withDescriptionAndRating) text += "|" + video.Description + "|" + video.Rating;
  return text;
}

class Exchange : public ::testing::Test {
protected:
  Exchange() : store_(Data(), Data() + "playlists/") {}
  std::string Data() const { return folders_.Root() + "data/"; }
  TVideos Rows(const std::string &name) {
    TDataTable table;
    EXPECT_TRUE(store_.OpenPlayList(table, name)) << name;
    return PlayListVideos(table);
  }
  std::vector<std::string> RowTexts(const std::string &name, bool full = true) {
    std::vector<std::string> texts;
    for (const TVideo &video : Rows(name)) texts.push_back(RowText(video, full));
    return texts;
  }
  std::string Export(const std::string &name, TPlayListFormat format) {
    return WritePlayListFile(Rows(name), format, name, kHost).Text;
  }
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(Data()))
      if (entry.is_regular_file()) files[entry.path().string()] = ReadFileBytes(entry.path());
    return files;
  }

  TestFolders folders_;
  TPlayListManager store_;
};

TVideo ByArtist(TVideo video, const std::string &artist) {
  video.Artist = artist;
  return video;
}

// A playlist with the texts that files get wrong: markup characters, quotes,
// a carriage return, non-ASCII text, a video twice, a row deleted, artists.
void FillMix(TPlayListManager &store) {
  AddVideosToPlayList(
      store, "Mix & <More>", true,
      {ByArtist(Video("aaa", "Rock & Roll \"Live\" <b>x</b>", 65, "<i>it's</i> & \"so\""),
                "Zo\xC3\xAB & <The> Testcards"),
       Video("gone", "Deleted later", 5), Video("b-_9Z", "Café ☕, comma", 0, "", ""),
       Video("aaa", "The same video again", 3600, "Carriage\r return"),
       Video("c", "#EXTINF:1,not a directive", 1)});
  TDataTable table;
  ASSERT_TRUE(store.OpenPlayList(table, "Mix & <More>"));
  table.SetRecNo(2);
  table.Delete();
  table.SaveToFile();
}

} // namespace

TEST_F(Exchange, ExportedPlayListsComeBackRowForRow) {
  FillMix(store_);
  for (const TPlayListFormat format : {TPlayListFormat::M3u, TPlayListFormat::Xspf}) {
    const bool xspf = format == TPlayListFormat::Xspf;
    const std::string copy = xspf ? "From XSPF" : "From M3U";
    const std::string file = Export("Mix & <More>", format);
    const TImportReport report =
        ImportPlayList(store_, copy, true, ReadPlayListFile(file, kHost), kHost);
    EXPECT_EQ(report.Added, 4) << file;
    EXPECT_EQ(report.Duplicates + report.NotOurs + report.OverLimit, 0) << file;
    // M3U carries the title and the length; XSPF the description and rating too.
    EXPECT_EQ(RowTexts(copy, xspf), RowTexts("Mix & <More>", xspf)) << file;
    EXPECT_EQ(Rows(copy).size(), 4u);
  }
}

TEST_F(Exchange, M3uIsExtendedWithStreamAddresses) {
  FillMix(store_);
  EXPECT_EQ(Export("Mix & <More>", TPlayListFormat::M3u),
            "#EXTM3U\n"
            "#EXTINF:65,Zo\xC3\xAB & <The> Testcards - Rock & Roll \"Live\" <b>x</b>\n"
            "http://127.0.0.1:8472/v/aaa\n"
            "#EXTINF:-1,Café ☕, comma\nhttp://127.0.0.1:8472/v/b-_9Z\n"
            "#EXTINF:3600,The same video again\nhttp://127.0.0.1:8472/v/aaa\n"
            "#EXTINF:1,#EXTINF:1,not a directive\nhttp://127.0.0.1:8472/v/c\n");
}

TEST_F(Exchange, XspfIsWellFormedWithEscapedText) {
  const TExportedPlayList file = WritePlayListFile(
      {ByArtist(Video("aaa", "A & B <c> \"d\" 'e'", 2, "line\x01one\xFF\r2"), "<Zo\xC3\xAB>"),
       Video("bad/id", "Left out", 1)},
      TPlayListFormat::Xspf, "Mine & \"yours\"", kHost);
  EXPECT_EQ(file.Written, 1);
  EXPECT_EQ(file.LeftOut, 1);
  EXPECT_EQ(file.Text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<playlist xmlns=\"http://xspf.org/ns/0/\" version=\"1\">\n"
                       "  <title>Mine &amp; &quot;yours&quot;</title>\n"
                       "  <trackList>\n"
                       "    <track>\n"
                       "      <location>http://127.0.0.1:8472/v/aaa</location>\n"
                       "      <identifier>http://127.0.0.1:8472/watch?v=aaa</identifier>\n"
                       "      <title>A &amp; B &lt;c&gt; &quot;d&quot; 'e'</title>\n"
                       "      <creator>&lt;Zo\xC3\xAB&gt;</creator>\n"
                       "      <annotation>lineone\xEF\xBF\xBD&#13;2</annotation>\n"
                       "      <image>http://127.0.0.1:8472/t/aaa.jpg</image>\n"
                       "      <duration>2000</duration>\n"
                       "      <meta rel=\"urn:sonabox:rating\">4.25</meta>\n"
                       "    </track>\n"
                       "  </trackList>\n"
                       "</playlist>\n");
  QXmlStreamReader reader(QByteArray::fromStdString(file.Text));
  while (!reader.atEnd()) reader.readNext();
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
}

TEST(VideoAddress, OnlyTheWebHostsVideoAddressesCount) {
  const struct {
    const char *Address, *Host, *Id;
  } cases[] = {
      {"http://127.0.0.1:8472/v/aaa", "127.0.0.1:8472", "aaa"},
      {"http://127.0.0.1:8472/v/aaa&autoplay=1", "127.0.0.1:8472", "aaa"},
      {"http://127.0.0.1:8472/watch?v=Ab_-9", "127.0.0.1:8472", "Ab_-9"},
      {"http://127.0.0.1:8472/watch?feature=x&v=abc#t=5", "127.0.0.1:8472", "abc"},
      {"HTTP://Jukebox.Example:8472/v/abc", "jukebox.example:8472", "abc"},
      {"http://jukebox.example/v/abc", "jukebox.example:80", "abc"},
      {"http://[::1]:8472/v/abc", "[::1]:8472", "abc"},
      {"http://[::1]/v/abc", "[::1]:80", "abc"},
      {"http://127.0.0.1:8472/v/0123456789abcdef", "127.0.0.1:8472", "0123456789abcdef"},
      // the same server by another name, an identifier percent-encoded
      {"http://localhost:8472/v/aaa", "127.0.0.1:8472", "aaa"},
      {"http://LOCALHOST:8472/watch?v=aaa", "[::1]:8472", "aaa"},
      {"http://127.0.0.1:8472/v/aaa", "localhost:8472", "aaa"},
      {"http://127.0.0.1:8472/v/%61b%2dc%5F", "127.0.0.1:8472", "ab-c_"},
      {"http://127.0.0.1:8472/watch?v=%41bc", "127.0.0.1:8472", "Abc"},
      {"http://localhost:9999/v/aaa", "127.0.0.1:8472", ""},
      {"http://localhost/v/aaa", "127.0.0.1:8472", ""},
      {"http://127.0.0.2:8472/v/aaa", "localhost:8472", ""},
      {"http://127.0.0.1:8472/v/a%", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/a%4", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/a%zz", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/a%00", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/%2e%2e", "127.0.0.1:8472", ""},
      // another host, port or scheme; not a video address; an unusable identifier
      {"http://127.0.0.1:9999/v/aaa", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472.evil.example/v/aaa", "127.0.0.1:8472", ""},
      {"http://evil.example/?http://127.0.0.1:8472/v/aaa", "127.0.0.1:8472", ""},
      {"https://127.0.0.1:8472/v/aaa", "127.0.0.1:8472", ""},
      {"file:///home/me/video.mp4", "127.0.0.1:8472", ""},
      {"/v/aaa", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/t/aaa.jpg", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/watch?vv=aaa", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/a%2Fb", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/../secret", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/v/0123456789abcdefg", "127.0.0.1:8472", ""},
      {"http://127.0.0.1:8472/watch?v=a'b", "127.0.0.1:8472", ""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(VideoIdFromAddress(c.Address, c.Host), c.Id) << c.Address << " on " << c.Host;
}

TEST_F(Exchange, MergingSkipsWhatThePlayListHolds) {
  AddVideosToPlayList(store_, "Mine", true, {Video("aaa", "A", 1), Video("bbb", "B", 2)});
  const std::string file = "#EXTM3U\n"
                           "#EXTINF:2,B again\nhttp://127.0.0.1:8472/watch?v=bbb\n"
                           "#EXTINF:3,C\r\nhttp://127.0.0.1:8472/v/ccc\r\n"
                           "http://elsewhere.example/v/ddd\n"
                           "#EXTINF:3,C twice\nhttp://127.0.0.1:8472/v/ccc&autoplay=1\n"
                           "# a comment, and a blank line\n\n"
                           "#EXTINF:7 tvg-name=\"x, y\",D\nhttp://127.0.0.1:8472/v/ddd\n";
  const TImportReport report =
      ImportPlayList(store_, "Mine", false, ReadPlayListFile(file, kHost), kHost);
  EXPECT_EQ(report.Added, 2);
  EXPECT_EQ(report.Duplicates, 2);
  EXPECT_EQ(report.NotOurs, 1);
  std::vector<std::string> titles;
  for (const TVideo &video : Rows("Mine")) titles.push_back(video.Title);
  EXPECT_EQ(titles, (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(report.Summary("Mine", kHost),
            "2 videos imported into \"Mine\"; skipped: 2 already in it, 1 not a video of this "
            "program (web host 127.0.0.1:8472)");

  // Nothing new: the playlist file is not written again.
  const auto before = Snapshot();
  const TImportReport again =
      ImportPlayList(store_, "Mine", false, ReadPlayListFile(file, kHost), kHost);
  EXPECT_EQ(again.Added, 0);
  EXPECT_EQ(again.Duplicates, 4);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_THROW(ImportPlayList(store_, "Nobody", false, ReadPlayListFile(file, kHost), kHost),
               ENoPlayList);
}

TEST_F(Exchange, LengthsNoRowCanHoldAreUnknown) {
  const TImportReport report = ImportPlayList(store_, "Long", true,
                                              ReadPlayListFile("#EXTINF:599999999,Longest\n"
                                                               "http://127.0.0.1:8472/v/aaa\n"
                                                               "#EXTINF:600000000,Too long\n"
                                                               "http://127.0.0.1:8472/v/bbb\n"
                                                               "#EXTINF:4294967296,Past 32 bits\n"
                                                               "http://127.0.0.1:8472/v/ccc\n",
                                                               kHost),
                                              kHost);
  ASSERT_EQ(report.Added, 3);
  // Read back from the stored file: no length text is cut to a wrong one.
  std::vector<std::pair<std::string, int32_t>> lengths;
  for (const TVideo &video : Rows("Long"))
    lengths.emplace_back(video.Duration, video.DurationSeconds);
  EXPECT_EQ(lengths, (std::vector<std::pair<std::string, int32_t>>{
                         {"9999999:59", 599999999}, {"0:00", 0}, {"0:00", 0}}));
}

// What other players write: lengths with a fraction or none, titles without
// artists or artists without titles.
TEST(PlayListFile, OtherPlayersEntries) {
  const std::string at = "http://127.0.0.1:8472/v/aaa\n";
  const struct {
    const char *What;
    std::string Bytes, Artist, Title;
    int Seconds;
  } cases[] = {
      {"a decimal length", "#EXTINF:10.4,T\n" + at, "", "T", 10},
      {"a decimal length just under the next second", "#EXTINF:10.999,T\n" + at, "", "T", 10},
      {"an unknown length", "#EXTINF:-1,T\n" + at, "", "T", 0},
      {"a length that is no number", "#EXTINF:abc,T\n" + at, "", "T", 0},
      {"a length past 32 bits", "#EXTINF:1e12,T\n" + at, "", "T", 0},
      {"artist and title", "#EXTINF:3,Zo\xC3\xAB - A - B\n" + at, "Zo\xC3\xAB", "A - B", 3},
      {"a dash with nothing after it", "#EXTINF:3,Band - \n" + at, "", "Band -", 3},
      {"a dash without spaces", "#EXTINF:3,Jay-Z\n" + at, "", "Jay-Z", 3},
      {"a plain list of addresses", at, "", "", 0},
      {"XSPF with a creator and a decimal length",
       "<playlist xmlns='http://xspf.org/ns/0/'><trackList><track><location>" + at +
           "</location><creator> Zo\xC3\xAB </creator><duration>10400.7</duration>"
           "</track></trackList></playlist>",
       "Zo\xC3\xAB", "", 10},
  };
  for (const auto &c : cases) {
    const TPlayListFile file = ReadPlayListFile(c.Bytes, kHost);
    ASSERT_EQ(file.Videos.size(), 1u) << c.What;
    EXPECT_EQ(file.Videos[0].Artist, c.Artist) << c.What;
    EXPECT_EQ(file.Videos[0].Title, c.Title) << c.What;
    EXPECT_EQ(file.Videos[0].DurationSeconds, c.Seconds) << c.What;
  }
}

TEST_F(Exchange, FilesInOtherEncodingsAreRead) {
  const std::string entry = "#EXTINF:5,Caf\xC3\xA9\nhttp://127.0.0.1:8472/v/aaa\n";
  QString utf16Text = QString::fromUtf8(entry.c_str());
  std::string utf16 = "\xFF\xFE";
  for (const QChar c : utf16Text) {
    utf16 += static_cast<char>(c.unicode() & 0xFF);
    utf16 += static_cast<char>(c.unicode() >> 8);
  }
  const struct {
    const char *What;
    std::string Bytes;
  } cases[] = {
      {"UTF-8", entry},
      {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + entry},
      {"UTF-16 little-endian with a byte order mark", utf16},
      {"Latin-1", "#EXTINF:5,Caf\xE9\nhttp://127.0.0.1:8472/v/aaa\n"},
      {"XSPF in Latin-1, as declared",
       "<?xml version='1.0' encoding='ISO-8859-1'?><playlist xmlns='http://xspf.org/ns/0/'>"
       "<trackList><track><location>http://127.0.0.1:8472/v/aaa</location><title>Caf\xE9</title>"
       "<duration>5000</duration></track></trackList></playlist>"},
  };
  for (const auto &c : cases) {
    const TPlayListFile file = ReadPlayListFile(c.Bytes, kHost);
    ASSERT_EQ(file.Videos.size(), 1u) << c.What;
    EXPECT_EQ(file.Videos[0].Title, "Caf\xC3\xA9") << c.What;
    EXPECT_EQ(file.Videos[0].DurationSeconds, 5) << c.What;
    EXPECT_EQ(file.Videos[0].Thumbnail, "http://127.0.0.1:8472/t/aaa.jpg") << c.What;
  }
}

TEST_F(Exchange, DamagedOrForeignFilesChangeNothing) {
  AddVideosToPlayList(store_, "Mine", true, {Video("aaa", "A", 1)});
  const std::string track = "<track><location>http://127.0.0.1:8472/v/bbb</location></track>";
  const struct {
    const char *What;
    std::string Bytes, Message;
  } cases[] = {
      {"XML cut short", "<playlist xmlns='http://xspf.org/ns/0/'><trackList>" + track,
       "The file is not a well-formed XSPF playlist: line 1"},
      {"a fault after the tracks",
       "<playlist xmlns='http://xspf.org/ns/0/'><trackList>" + track + "</trackList><x></playlist>",
       "The file is not a well-formed XSPF playlist: line 1"},
      {"entities that expand without end",
       "<!DOCTYPE p [<!ENTITY a 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa'>"
       "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
       "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>]>"
       "<playlist><trackList><track><title>&c;&c;&c;&c;&c;&c;</title>"
       "<location>http://127.0.0.1:8472/v/bbb</location></track></trackList></playlist>",
       "The file is not a well-formed XSPF playlist: line 1"},
      {"another XML document", "<feed><entry/></feed>",
       "The file is XML but not an XSPF playlist: its first element is <feed>."},
      {"too large", std::string(kMaxPlayListFileBytes + 1, '#'), "The file is larger than 16 MiB"},
  };
  for (const auto &c : cases) {
    const auto before = Snapshot();
    for (const bool create : {true, false}) {
      const std::string error = ErrorOf([&] {
        ImportPlayList(store_, create ? "New" : "Mine", create, ReadPlayListFile(c.Bytes, kHost),
                       kHost);
      });
      EXPECT_EQ(error.rfind(c.Message, 0), 0u) << c.What << ": " << error;
    }
    EXPECT_EQ(Snapshot(), before) << c.What;
    EXPECT_FALSE(store_.HasPlayList("New")) << c.What;
  }
}

TEST_F(Exchange, ANewPlayListNeedsOneVideoOfTheProgram) {
  const struct {
    const char *What;
    std::string Bytes;
    int NotOurs;
  } cases[] = {
      {"empty", "", 0},
      {"other hosts and local files",
       "#EXTM3U\nhttp://other.example/v/aaa\n/home/me/a.mp4\nC:\\Music\\b.mp3\n", 3},
      {"binary bytes", std::string("\x00\x01\xFF\xFE\x80\n\x7F", 7), 2},
      {"XSPF tracks without a location of ours",
       "<playlist xmlns='http://xspf.org/ns/0/'><trackList><track><title>T</title></track>"
       "<track><location>http://x/v/a</location></track></trackList></playlist>",
       2},
  };
  for (const auto &c : cases) {
    const TPlayListFile file = ReadPlayListFile(c.Bytes, kHost);
    EXPECT_TRUE(file.Videos.empty()) << c.What;
    EXPECT_EQ(file.NotOurs, c.NotOurs) << c.What;
    const std::string error = ErrorOf(
        [&] { ImportPlayList(store_, "New", true, ReadPlayListFile(c.Bytes, kHost), kHost); });
    EXPECT_EQ(error.rfind("The file holds no video of this program (web host 127.0.0.1:8472); " +
                              std::to_string(c.NotOurs),
                          0),
              0u)
        << c.What << ": " << error;
    EXPECT_FALSE(store_.HasPlayList("New")) << c.What;
  }
}

TEST_F(Exchange, OneFileBringsAtMostTheLimit) {
  std::string file;
  for (int i = 0; i < kMaxImportedVideos + 2; ++i)
    file += "http://127.0.0.1:8472/v/v" + std::to_string(i) + "\n";
  const TImportReport report =
      ImportPlayList(store_, "Big", true, ReadPlayListFile(file, kHost), kHost);
  EXPECT_EQ(report.Added, kMaxImportedVideos);
  EXPECT_EQ(report.OverLimit, 2);
  EXPECT_EQ(Rows("Big").back().Url, "v" + std::to_string(kMaxImportedVideos - 1));
  EXPECT_NE(
      report.Summary("Big", kHost).find("skipped: 2 past the 10000 videos one file may bring"),
      std::string::npos);
}
