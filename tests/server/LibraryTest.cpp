// Scanning a real library of tiny clips made with ffmpeg: metadata,
// categories, thumbnails, and rescans that pick up added, changed and removed
// files.
#include "PlainPicture.h"
#include "PostgresDatabase.h"
#include "ServerFixture.h"
#include "core/common/TextHelpers.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <cstdlib>
#include <thread>

#include <unistd.h>

namespace sonabox::test {
namespace {

// The clips, made once for the whole program.
QTemporaryDir *clips = nullptr;

fs::path Clip(const std::string &name) { return fs::path(clips->path().toStdString()) / name; }

void MakeClip(const std::string &name, const std::string &source, int seconds,
              const std::string &metadata) {
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i " +
                              source + " -t " + std::to_string(seconds) + " -pix_fmt yuv420p " +
                              metadata + " '" + Clip(name).string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Any file made by ffmpeg from the arguments given before its name.
void MakeMedia(const std::string &name, const std::string &arguments) {
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments +
                              " '" + Clip(name).string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

const std::string kArtist = "Zo\xc3\xab & The Testcards";
const std::string kTags = "-metadata title='Glass Hearts' -metadata artist='" + kArtist + "'";

// Whether the text is a well-formed XML document.
bool WellFormedXml(const std::string &text) {
  QXmlStreamReader reader(QByteArray::fromStdString(text));
  while (!reader.atEnd()) reader.readNext();
  return !reader.hasError();
}

// Width and height from a JPEG's start-of-frame segment; 0x0 when there is none.
std::pair<int, int> JpegSize(const std::string &bytes) {
  if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xD8)
    return {0, 0};
  std::size_t at = 2;
  while (at + 9 < bytes.size()) {
    if (static_cast<unsigned char>(bytes[at]) != 0xFF) return {0, 0};
    const unsigned marker = static_cast<unsigned char>(bytes[at + 1]);
    const std::size_t length = (static_cast<unsigned char>(bytes[at + 2]) << 8) |
                               static_cast<unsigned char>(bytes[at + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      auto word = [&](std::size_t i) {
        return (static_cast<unsigned char>(bytes[i]) << 8) |
               static_cast<unsigned char>(bytes[i + 1]);
      };
      return {word(at + 7), word(at + 5)};
    }
    at += 2 + length;
  }
  return {0, 0};
}

class LibraryTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    clips = new QTemporaryDir();
    MakeClip("tone.webm", "testsrc=size=160x120:rate=10", 1,
             "-c:v libvpx -deadline realtime -metadata title='Test Tone & Bars' "
             "-metadata description='First line\nsecond line'");
    MakeClip("untitled_clip.mp4", "smptebars=size=160x120:rate=10", 1, "-c:v libx264");
    MakeClip("longer.mp4", "testsrc=size=160x120:rate=10", 2,
             "-c:v libx264 -metadata title='Longer One'");

    // The artist as each container keeps it.
    const std::string picture = "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 ";
    const std::string sound = "-f lavfi -i sine=frequency=440:duration=1 ";
    MakeMedia("tagged.mp4", picture + "-pix_fmt yuv420p -c:v libx264 " + kTags);
    MakeMedia("tagged.mkv", picture + "-pix_fmt yuv420p -c:v libvpx -deadline realtime " + kTags);
    MakeMedia("tagged.avi", picture + "-c:v mpeg4 " + kTags);
    MakeMedia("tagged.ogv",
              picture + sound + "-pix_fmt yuv420p -c:v libtheora -c:a libvorbis " + kTags);
    MakeMedia("cover.png", "-f lavfi -i testsrc=size=200x200 -frames:v 1");
    MakeMedia("tagged.mp3", sound + "-i '" + Clip("cover.png").string() +
                                "' -map 0 -map 1 -c:a libmp3lame -c:v mjpeg -id3v2_version 3 "
                                "-disposition:v attached_pic " +
                                kTags);
    MakeMedia("tagged.flac", sound + kTags);
    MakeMedia("plain.m4a", sound + "-c:a aac");
    MakeMedia("plain.ogg", sound + "-c:a libvorbis");
    MakeMedia("plain.opus", sound + "-c:a libopus");
  }
  static void TearDownTestSuite() {
    delete clips;
    clips = nullptr;
  }

  fs::path Library() const { return running.Root() / "library"; }
  fs::path Thumbnail(const std::string &id) const {
    return running.Root() / "data" / "thumbnails" / (id + ".jpg");
  }

  void Place(const std::string &clip, const fs::path &relative) {
    fs::create_directories((Library() / relative).parent_path());
    fs::copy_file(Clip(clip), Library() / relative, fs::copy_options::overwrite_existing);
  }

  // The catalogue by relative path.
  std::map<std::string, server::TCatalogueVideo> Catalogued() {
    std::map<std::string, server::TCatalogueVideo> videos;
    for (const auto &[path, stamp] : running.Server().Catalogue().Files())
      videos[path] = *running.Server().Catalogue().Find(stamp.Id);
    return videos;
  }

  TRunningServer running;
};

TEST_F(LibraryTest, ScanReadsMetadataCategoriesAndThumbnails) {
  Place("tone.webm", "Music/tone.webm");
  Place("untitled_clip.mp4", "Comedy/untitled_clip.mp4");
  Place("longer.mp4", "longer.mp4");
  Place("longer.mp4", "Music/Live/deep.MP4");
  Place("tone.webm", ".hidden.webm");
  Place("tone.webm", ".cache/tone.webm");
  WriteFileBytes((Library() / "Music" / "broken.mp4").string(), "not a video at all");
  WriteFileBytes((Library() / "notes.txt").string(), "a text file");
  fs::create_symlink(Clip("tone.webm"), Library() / "linked.webm");

  const server::TScanReport report = running.Server().Rescan();
  EXPECT_EQ(report.Added, 4);
  EXPECT_EQ(report.Skipped, 1);
  EXPECT_EQ(report.Removed, 0);

  auto videos = Catalogued();
  ASSERT_EQ(videos.size(), 4u);
  struct TExpected {
    std::string Path, Category, Title, Description;
    int64_t Seconds;
  };
  std::set<std::string> ids;
  for (const TExpected &e : std::vector<TExpected>{
           {"Music/tone.webm", "Music", "Test Tone & Bars", "First line\nsecond line", 1},
           {"Comedy/untitled_clip.mp4", "Comedy", "untitled_clip", "", 1},
           {"longer.mp4", "", "Longer One", "", 2},
           {"Music/Live/deep.MP4", "Music", "Longer One", "", 2}}) {
    SCOPED_TRACE(e.Path);
    ASSERT_TRUE(videos.count(e.Path));
    const server::TCatalogueVideo &video = videos[e.Path];
    EXPECT_EQ(video.Category, e.Category);
    EXPECT_EQ(video.Title, e.Title);
    EXPECT_EQ(video.Description, e.Description);
    EXPECT_EQ(video.Seconds, e.Seconds);
    ids.insert(video.Id);
    EXPECT_EQ(JpegSize(ReadFileBytes(Thumbnail(video.Id).string())), std::make_pair(130, 97));

    const auto picture = running.Web().Get(("/t/" + video.Id + ".jpg").c_str());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->status, 200);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(JpegSize(picture->body), std::make_pair(130, 97));
  }
  EXPECT_EQ(ids.size(), 4u) << "copies of one file get ids of their own";
  EXPECT_EQ(videos["Music/tone.webm"].Id,
            server::VideoIdFor(server::ContentKey(Library() / "Music/tone.webm")));
}

// Two servers on one database and one library, as behind a load balancer:
// one scans at a time, and the other serves what that scan found (searches
// it had answered before, thumbnails) and the shares stored through the first.
TEST_F(LibraryTest, TwoServersOnOneDatabaseServeAlike) {
  TRunningServer second([this](server::TServerOptions &options) {
    options.Library = Library();
    options.Thumbnails = running.Server().Options().Thumbnails;
    ShareDatabaseOf(running, options);
  });
  auto search = [](TRunningServer &server) {
    const auto answer = server.Feed().Get(
        "/feeds/api/videos?vq=tone&orderby=relevance&start-index=1&max-results=25");
    return answer ? ReadFeed(answer->body, server.Server().WebHost()).Total : "no answer";
  };
  EXPECT_EQ(search(second), "0");
  Place("tone.webm", "Music/tone.webm");
  if (TestOnPostgres()) {
    // While a third holds the turn to scan, neither scans.
    server::TPostgresDatabase other(running.Server().Options().Database);
    auto holder = other.Acquire();
    ASSERT_TRUE(holder->TryLock(server::kScanLock));
    EXPECT_EQ(second.Server().Rescan().Added, 0);
    EXPECT_EQ(running.Server().Rescan().Added, 0);
    EXPECT_EQ(search(second), "0");
    holder->Unlock(server::kScanLock);
  }
  EXPECT_EQ(running.Server().Rescan().Added, 1);
  EXPECT_EQ(second.Server().Rescan().Unchanged, 1) << "the second finds it catalogued";
  EXPECT_EQ(search(second), "1");
  const std::string id = second.Server().Catalogue().Search("", "tone", 1, 1).Videos.at(0).Id;
  const auto picture = second.Web().Get(("/t/" + id + ".jpg").c_str());
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->status, 200);

  server::TShare share;
  share.Title = "Passed along";
  const std::string code = running.Server().Shares().Store(share, "192.0.2.9").Code;
  const std::optional<server::TShare> fetched = second.Server().Shares().Find(code);
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->Title, "Passed along");
}

TEST_F(LibraryTest, RescanPicksUpAddedChangedAndRemovedFiles) {
  Place("tone.webm", "Music/tone.webm");
  Place("untitled_clip.mp4", "Comedy/gone.mp4");
  Place("untitled_clip.mp4", "Comedy/stays.mp4");
  ASSERT_EQ(running.Server().Rescan().Added, 3);
  const auto before = Catalogued();
  const std::string toneId = before.at("Music/tone.webm").Id;
  const std::string goneId = before.at("Comedy/gone.mp4").Id;
  const std::string staysId = before.at("Comedy/stays.mp4").Id;
  running.Server().Catalogue().AddView(toneId);
  const std::string host = running.Server().WebHost();
  auto search = [&](const std::string &keywords) {
    const auto result = running.Feed().Get(
        ("/feeds/api/videos?vq=" + keywords + "&orderby=relevance&start-index=1&max-results=25")
            .c_str());
    return result ? ReadFeed(result->body, host) : TFeedAnswer{};
  };
  EXPECT_EQ(search("tone").Total, "1");
  EXPECT_EQ(search("longer%20one").Total, "0");
  const auto staysThumbnailTime = fs::last_write_time(Thumbnail(staysId));

  fs::remove(Library() / "Comedy" / "gone.mp4");
  Place("longer.mp4", "Music/tone.webm"); // new content under the old name
  fs::last_write_time(Library() / "Music" / "tone.webm",
                      fs::last_write_time(Library() / "Music" / "tone.webm") +
                          std::chrono::seconds(5));
  Place("longer.mp4", "Animals/new.mp4");

  const server::TScanReport report = running.Server().Rescan();
  EXPECT_EQ(report.Added, 1);
  EXPECT_EQ(report.Changed, 1);
  EXPECT_EQ(report.Removed, 1);
  EXPECT_EQ(report.Unchanged, 1);

  const auto after = Catalogued();
  EXPECT_EQ(after.size(), 3u);
  EXPECT_FALSE(after.count("Comedy/gone.mp4"));
  EXPECT_FALSE(fs::exists(Thumbnail(goneId)));
  const server::TCatalogueVideo &changed = after.at("Music/tone.webm");
  EXPECT_EQ(changed.Id, toneId) << "a changed file keeps its address";
  EXPECT_EQ(changed.Views, 1) << "and its play count";
  EXPECT_EQ(changed.Title, "Longer One");
  EXPECT_EQ(changed.Seconds, 2);
  EXPECT_EQ(after.at("Animals/new.mp4").Category, "Animals");
  EXPECT_EQ(fs::last_write_time(Thumbnail(staysId)), staysThumbnailTime)
      << "an unchanged file is not read again";

  // The search sees the change: the old title is gone, the new one found.
  EXPECT_EQ(search("tone").Total, "0");
  EXPECT_EQ(search("longer%20one").Total, "2");

  const server::TScanReport again = running.Server().Rescan();
  EXPECT_EQ(again.Unchanged, 3);
  EXPECT_EQ(again.Added + again.Changed + again.Removed + again.Skipped, 0);
}

TEST_F(LibraryTest, UnreadableLibraryLeavesTheCatalogueAlone) {
  Place("tone.webm", "Music/tone.webm");
  Place("longer.mp4", "longer.mp4");
  ASSERT_EQ(running.Server().Rescan().Added, 2);
  fs::rename(Library(), running.Root() / "unmounted");
  EXPECT_THROW(running.Server().Rescan(), std::runtime_error);
  EXPECT_EQ(Catalogued().size(), 2u);
}

// Titles taken from file names travel as typed: escaped in the feed (which
// stays well-formed XML), decoded by the program's entry reader.
TEST_F(LibraryTest, TitlesFromFileNamesArriveAsTyped) {
  Place("untitled_clip.mp4", "Comedy/Knock Knock <Who's There?>.mp4");
  Place("untitled_clip.mp4", "Comedy/Rock & Roll.mp4");
  running.Server().Rescan();
  const auto result = running.Feed().Get(
      "/feeds/api/videos/-/Comedy?vq=&orderby=relevance&start-index=1&max-results=25");
  ASSERT_TRUE(result);
  EXPECT_NE(result->body.find(">Knock Knock &lt;Who's There?&gt;<"), std::string::npos)
      << result->body;
  EXPECT_NE(result->body.find(">Rock &amp; Roll<"), std::string::npos) << result->body;
  const TFeedAnswer answer = ReadFeed(result->body, running.Server().WebHost());
  std::set<std::string> titles;
  for (const TVideo &video : answer.Videos) titles.insert(video.Title);
  EXPECT_EQ(titles, (std::set<std::string>{"Knock Knock <Who's There?>", "Rock & Roll"}));
}

TEST_F(LibraryTest, FoundVideoPlaysItsOwnFile) {
  Place("tone.webm", "Music/tone.webm");
  running.Server().Rescan();
  const auto result = running.Feed().Get(
      "/feeds/api/videos/-/Music?vq=test%20tone%20&%20bars&orderby=relevance&start-index=1"
      "&max-results=25");
  ASSERT_TRUE(result);
  const TFeedAnswer answer = ReadFeed(result->body, running.Server().WebHost());
  ASSERT_EQ(answer.Videos.size(), 1u);
  EXPECT_EQ(answer.Videos[0].Title, "Test Tone & Bars");
  EXPECT_EQ(answer.Videos[0].DurationSeconds, 1);

  const auto movie = running.Web().Get(("/v/" + answer.Videos[0].Url + "&autoplay=1").c_str());
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->status, 200);
  EXPECT_EQ(movie->get_header_value("Content-Type"), "video/webm");
  EXPECT_EQ(movie->body, ReadFileBytes(Clip("tone.webm").string()));
}

// Renamed or moved to another folder, a file keeps its id, play count and
// picture, so that playlists and shares that hold it keep working; a copy is
// a file of its own.
TEST_F(LibraryTest, RenamedMovedAndRetaggedFiles) {
  Place("tone.webm", "Music/tone.webm");
  Place("longer.mp4", "Music/longer.mp4");
  Place("tagged.mp4", "Music/tagged.mp4");
  ASSERT_EQ(running.Server().Rescan().Added, 3);
  const auto before = Catalogued();
  const std::string toneId = before.at("Music/tone.webm").Id;
  const std::string longerId = before.at("Music/longer.mp4").Id;
  running.Server().Catalogue().AddView(toneId);

  fs::rename(Library() / "Music/tone.webm", Library() / "Music/Tone (renamed).webm");
  fs::create_directories(Library() / "Elsewhere");
  fs::rename(Library() / "Music/longer.mp4", Library() / "Elsewhere/longer.mp4");
  Place("tagged.mp4", "Music/copy of tagged.mp4");
  // Retagged in place with the modification time kept: the change time moves.
  const auto kept = fs::last_write_time(Library() / "Music/tagged.mp4");
  Place("untitled_clip.mp4", "Music/tagged.mp4");
  fs::last_write_time(Library() / "Music/tagged.mp4", kept);

  const server::TScanReport report = running.Server().Rescan();
  EXPECT_EQ(report.Moved, 2);
  EXPECT_EQ(report.Added, 1);
  EXPECT_EQ(report.Changed, 1);
  EXPECT_EQ(report.Removed, 0);
  const auto after = Catalogued();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after.at("Music/Tone (renamed).webm").Id, toneId);
  EXPECT_EQ(after.at("Music/Tone (renamed).webm").Views, 1);
  EXPECT_EQ(after.at("Elsewhere/longer.mp4").Id, longerId);
  EXPECT_EQ(after.at("Elsewhere/longer.mp4").Category, "Elsewhere");
  EXPECT_NE(after.at("Music/copy of tagged.mp4").Id, after.at("Music/tagged.mp4").Id);
  EXPECT_EQ(after.at("Music/tagged.mp4").Artist, "") << "the retagged file was read again";
  EXPECT_TRUE(fs::exists(Thumbnail(toneId)));

  const auto movie = running.Web().Get(("/v/" + toneId).c_str());
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->status, 200);
  EXPECT_EQ(movie->body, ReadFileBytes(Clip("tone.webm").string()));
}

// A folder that cannot be read (permissions, a failing disk) keeps what it
// held, marked unavailable with the reason, until it can be read again.
TEST_F(LibraryTest, UnreadableFolderKeepsItsVideosMarkedUnavailable) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  Place("tone.webm", "Music/tone.webm");
  Place("longer.mp4", "Other/longer.mp4");
  ASSERT_EQ(running.Server().Rescan().Added, 2);
  const std::string toneId = Catalogued().at("Music/tone.webm").Id;
  fs::permissions(Library() / "Music", fs::perms::none);
  const server::TScanReport report = running.Server().Rescan();
  fs::permissions(Library() / "Music", fs::perms::owner_all);
  EXPECT_EQ(report.Removed, 0);
  auto video = running.Server().Catalogue().Find(toneId);
  ASSERT_TRUE(video);
  EXPECT_NE(video->Unavailable, "");
  EXPECT_TRUE(fs::exists(Thumbnail(toneId)));
  EXPECT_EQ(Catalogued().at("Other/longer.mp4").Unavailable, "");

  running.Server().Rescan();
  EXPECT_EQ(running.Server().Catalogue().Find(toneId)->Unavailable, "");
}

TEST(TitleFromFileName, SplitsArtistAndDropsUploadNotes) {
  const struct {
    std::string Name, Artist, Title;
  } cases[] = {
      {"Zo\xc3\xab & The Testcards - Glass Hearts (Official Video).mp4", kArtist, "Glass Hearts"},
      {"Band \xe2\x80\x93 Song [HD] (Lyrics).mkv", "Band", "Song"},
      {"A - B - C.webm", "A", "B - C"},
      {"untitled_clip.mp4", "", "untitled_clip"},
      {"Live (2019).mp4", "", "Live (2019)"},
      {"(Official Video).mp4", "", "(Official Video)"},
      {"Artist - .mp4", "", "Artist -"},
      {"M\xfcller - Lied.mp3", "M\xef\xbf\xbdller", "Lied"},
  };
  for (const auto &c : cases) {
    const server::TNamedTitle named = server::TitleFromFileName(c.Name);
    EXPECT_EQ(named.Artist, c.Artist) << c.Name;
    EXPECT_EQ(named.Title, c.Title) << c.Name;
  }
}

// Every container keeps its artist in its own way; Ogg keeps its tags in the
// stream, not the container. The feed carries the artist as the entry's
// author, and search finds it.
TEST_F(LibraryTest, ArtistAndTitleFromTheTagsOfEveryContainer) {
  for (const char *name :
       {"tagged.mp4", "tagged.mkv", "tagged.avi", "tagged.ogv", "tagged.mp3", "tagged.flac"})
    Place(name, fs::path("Music") / name);
  Place("untitled_clip.mp4", "Music/" + kArtist + " - Paper Moon (Official Video).mp4");
  Place("longer.mp4", "Music/Somebody - Else.mp4"); // a title tag but no artist
  const server::TScanReport report = running.Server().Rescan();
  EXPECT_EQ(report.Added, 8);
  EXPECT_EQ(report.Skipped, 0);

  const auto videos = Catalogued();
  for (const char *name :
       {"tagged.mp4", "tagged.mkv", "tagged.avi", "tagged.ogv", "tagged.mp3", "tagged.flac"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(videos.count(std::string("Music/") + name));
    EXPECT_EQ(videos.at(std::string("Music/") + name).Title, "Glass Hearts");
    EXPECT_EQ(videos.at(std::string("Music/") + name).Artist, kArtist);
  }
  const auto &named = videos.at("Music/" + kArtist + " - Paper Moon (Official Video).mp4");
  EXPECT_EQ(named.Title, "Paper Moon");
  EXPECT_EQ(named.Artist, kArtist);
  EXPECT_EQ(videos.at("Music/Somebody - Else.mp4").Title, "Longer One");
  EXPECT_EQ(videos.at("Music/Somebody - Else.mp4").Artist, "");

  const auto result = running.Feed().Get(
      "/feeds/api/videos?vq=testcards&orderby=relevance&start-index=1&max-results=25");
  ASSERT_TRUE(result);
  EXPECT_TRUE(WellFormedXml(result->body)) << result->body;
  const TFeedAnswer answer = ReadFeed(result->body, running.Server().WebHost());
  EXPECT_EQ(answer.Total, "7");
  EXPECT_NE(result->body.find("<entry><author><name>Zo\xc3\xab &amp; The Testcards</name></author>"
                              "<media:group>"),
            std::string::npos)
      << result->body;
}

TEST_F(LibraryTest, AudioFilesAreListedAndPlayedWithTheirCover) {
  const struct {
    std::string Name, MediaType;
    bool Cover;
  } cases[] = {
      {"tagged.mp3", "audio/mpeg", true}, {"tagged.flac", "audio/flac", false},
      {"plain.m4a", "audio/mp4", false},  {"plain.ogg", "audio/ogg", false},
      {"plain.opus", "audio/ogg", false},
  };
  for (const auto &c : cases) Place(c.Name, c.Name);
  EXPECT_EQ(running.Server().Rescan().Added, 5);
  const auto videos = Catalogued();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(videos.count(c.Name));
    const server::TCatalogueVideo &video = videos.at(c.Name);
    EXPECT_EQ(video.Seconds, 1);
    const std::string picture = ReadFileBytes(Thumbnail(video.Id).string());
    EXPECT_EQ(JpegSize(picture), std::make_pair(130, 97));
    EXPECT_EQ(picture == server::PlainPicture(), !c.Cover) << "the cover, or the plain picture";
    const auto sound = running.Web().Get(("/v/" + video.Id + "&autoplay=1").c_str());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->status, 200);
    EXPECT_EQ(sound->get_header_value("Content-Type"), c.MediaType);
    EXPECT_EQ(sound->body, ReadFileBytes(Clip(c.Name).string()));
  }
}

// Names written by other systems in Latin-1: the file is served and found,
// and every document that shows its name stays well-formed UTF-8.
TEST_F(LibraryTest, NamesThatAreNotUtf8AreServedFoundAndShownReadably) {
  const std::string folder = "Caf\xe9", file = "M\xfcller - Lied (Official Video).webm";
  const std::string replaced = "\xef\xbf\xbd";
  Place("tone.webm", fs::path(folder) / file);
  Place("untitled_clip.mp4", "Music/clip.mp4");
  EXPECT_EQ(running.Server().Rescan().Added, 2);

  const auto categories = running.Feed().Get("/feeds/api/categories");
  ASSERT_TRUE(categories);
  EXPECT_TRUE(WellFormedXml(categories->body)) << categories->body;
  EXPECT_NE(categories->body.find("term='Caf" + replaced + "' count='1'"), std::string::npos);

  const auto result = running.Feed().Get(
      "/feeds/api/videos/-/Caf%EF%BF%BD?vq=&orderby=relevance&start-index=1&max-results=25");
  ASSERT_TRUE(result);
  EXPECT_TRUE(WellFormedXml(result->body)) << result->body;
  const TFeedAnswer answer = ReadFeed(result->body, running.Server().WebHost());
  ASSERT_EQ(answer.Videos.size(), 1u);
  EXPECT_EQ(answer.Videos[0].Title, "Test Tone & Bars"); // from its tag
  const std::string id = answer.Videos[0].Url;

  const auto watch = running.Web().Get(("/watch?v=" + id).c_str());
  ASSERT_TRUE(watch);
  EXPECT_EQ(watch->status, 200);
  EXPECT_EQ(ValidUtf8(watch->body), watch->body);
  const auto movie = running.Web().Get(("/v/" + id).c_str());
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->status, 200);
  EXPECT_EQ(movie->body, ReadFileBytes(Clip("tone.webm").string()));

  // Untagged, its title and artist come from the name, readably.
  Place("untitled_clip.mp4", fs::path(folder) / file);
  fs::last_write_time(Library() / folder / file,
                      fs::last_write_time(Library() / folder / file) + std::chrono::seconds(5));
  EXPECT_EQ(running.Server().Rescan().Changed, 1);
  const auto found = running.Feed().Get(
      "/feeds/api/videos?vq=lied&orderby=relevance&start-index=1&max-results=25");
  ASSERT_TRUE(found);
  EXPECT_TRUE(WellFormedXml(found->body)) << found->body;
  EXPECT_NE(found->body.find("<name>M" + replaced + "ller</name>"), std::string::npos)
      << found->body;
  const TFeedAnswer lied = ReadFeed(found->body, running.Server().WebHost());
  ASSERT_EQ(lied.Videos.size(), 1u);
  EXPECT_EQ(lied.Videos[0].Title, "Lied");
  fs::remove_all(Library() / folder); // a name the test folder's own cleaning cannot read
}

// A catalogue written before artists were kept gains the column, keeps its
// ids and play counts, and reads every file again to fill it.
TEST_F(LibraryTest, OldCatalogueGainsArtistsAndKeepsItsIds) {
  const fs::path root = running.Root() / "old";
  const fs::path library = root / "library";
  fs::create_directories(library / "Music");
  server::TSqliteDatabase database((root / "old.db").string());
  database.Acquire()->Execute(R"sql(
    CREATE TABLE videos(id INTEGER PRIMARY KEY, vid TEXT NOT NULL UNIQUE,
      relpath TEXT NOT NULL UNIQUE, category TEXT NOT NULL, title TEXT NOT NULL,
      description TEXT NOT NULL, seconds INTEGER NOT NULL, size INTEGER NOT NULL,
      mtime INTEGER NOT NULL, views INTEGER NOT NULL DEFAULT 0,
      rating TEXT NOT NULL DEFAULT '0.00');
    CREATE VIRTUAL TABLE videos_fts USING fts5(title, description, content='videos',
      content_rowid='id', tokenize='porter unicode61 remove_diacritics 2');
    CREATE TRIGGER videos_fts_insert AFTER INSERT ON videos BEGIN
      INSERT INTO videos_fts(rowid, title, description) VALUES (new.id, new.title, new.description);
    END;
    INSERT INTO videos(vid, relpath, category, title, description, seconds, size, mtime, views)
      VALUES ('oldid000001', 'Music/tagged.mp4', 'Music', 'Glass Hearts', '', 1, 1, 1, 7);
  )sql");
  fs::copy_file(Clip("tagged.mp4"), library / "Music" / "tagged.mp4");
  server::TCatalogue catalogue(database);
  EXPECT_EQ(catalogue.Search("", "glass", 1, 25).Total, 1) << "the index is made again";
  const server::TScanReport report =
      server::ScanLibrary(catalogue, library, root / "thumbnails", {});
  EXPECT_EQ(report.Changed, 1);
  const auto video = catalogue.Find("oldid000001");
  ASSERT_TRUE(video);
  EXPECT_EQ(video->Artist, kArtist);
  EXPECT_EQ(video->Views, 7);
  EXPECT_EQ(catalogue.Search("", "testcards", 1, 25).Total, 1);
}

// With the library watched, what changes in it reaches search without a
// scan being asked for: a file copied in, renamed, removed, a folder moved in
// and a file put into that new folder.
TEST_F(LibraryTest, AWatchedLibraryFollowsItsChanges) {
  Place("tone.webm", "Music/tone.webm");
  running.Server().Rescan();
  running.Server().StartWatching();
  const auto found = [this](const std::string &keywords) {
    const auto answer = running.Feed().Get("/feeds/api/videos?vq=" + keywords);
    std::set<std::string> titles;
    if (answer)
      for (const TVideo &video : ReadFeed(answer->body, running.Server().WebHost()).Videos)
        titles.insert(video.Title);
    return titles;
  };
  // The benchmark measures how soon; this only waits long enough for a busy machine.
  const auto eventually = [](const std::function<bool()> &condition) {
    for (int i = 0; i < 1500 && !condition(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
  };
  const fs::path outside = running.Root() / "outside";
  fs::create_directories(outside / "Jazz");
  fs::copy_file(Clip("untitled_clip.mp4"), outside / "Jazz" / "Blue Note - Night Walk.mp4");

  Place("tagged.mkv", "Music/new.mkv");
  ASSERT_TRUE(
      eventually([&] { return found("Testcards") == std::set<std::string>{"Glass Hearts"}; }));
  const std::string id = running.Server().Catalogue().Files().at("Music/new.mkv").Id;

  fs::rename(Library() / "Music/new.mkv", Library() / "Music/renamed.mkv");
  ASSERT_TRUE(eventually([&] { return Catalogued().count("Music/renamed.mkv") == 1; }));
  EXPECT_EQ(Catalogued().at("Music/renamed.mkv").Id, id) << "a rename keeps the id";
  EXPECT_EQ(Catalogued().count("Music/new.mkv"), 0u);

  fs::rename(outside / "Jazz", Library() / "Jazz");
  ASSERT_TRUE(eventually([&] { return found("walk") == std::set<std::string>{"Night Walk"}; }));
  Place("longer.mp4", "Jazz/longer.mp4"); // the folder that arrived is watched too
  ASSERT_TRUE(eventually([&] { return found("longer") == std::set<std::string>{"Longer One"}; }));

  fs::remove(Library() / "Music/renamed.mkv");
  ASSERT_TRUE(eventually([&] { return found("Testcards").empty(); }));
  EXPECT_EQ(found("tone"), std::set<std::string>{"Test Tone & Bars"});
}

} // namespace
} // namespace sonabox::test
