// Scanning a real library of tiny clips made with ffmpeg: metadata,
// categories, thumbnails, and rescans that pick up added, changed and removed
// files.
#include "ServerFixture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

#include <cstdlib>
#include <thread>

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
    EXPECT_EQ(video.Id, server::VideoIdFor(e.Path));
    EXPECT_EQ(JpegSize(ReadFileBytes(Thumbnail(video.Id).string())), std::make_pair(130, 97));

    const auto picture = running.Web().Get(("/t/" + video.Id + ".jpg").c_str());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->status, 200);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(JpegSize(picture->body), std::make_pair(130, 97));
  }
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

} // namespace
} // namespace sonabox::test
