// The first scan of a library of tiny videos (10,000 by default, in ten
// folders, each with its own title tag and so its own content), beside
// ffprobe reading the same files' headers and tags with two processes at a
// time: the floor of what reading their headers costs. The scan does more
// (an id from the content, a thumbnail, the catalogue with its search index);
// the target is at most 1.5 times the floor.
//
// Then, with the server watching the library, the time from a video copied
// into it until a search of the feed finds it, beside one ffprobe of that
// file; the target is within 2 s.
//
// Run: build/bench/server/bench_scan [files, default 10000]
#include "SonaboxServer.h"

#include <httplib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace sonabox::server;
using Clock = std::chrono::steady_clock;

extern char **environ;

namespace {

constexpr int kFolders = 10;
constexpr int kCopies = 5; // videos copied in, one after the other
const std::string kTitle = "Tiny clip 0000000";

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Runs a command with its output thrown away; true when it exits with 0.
bool Run(const std::vector<std::string> &arguments) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

bool Probe(const fs::path &file) {
  return Run({"ffprobe", "-v", "error", "-show_entries", "format=duration:format_tags=title,artist",
              "-of", "default=nw=1", file.string()});
}

std::string ReadFile(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tiny video with its title's number (seven digits) set to `number`: its
// own content.
void WriteCopy(const std::string &bytes, std::size_t digitsAt, int number, const fs::path &to) {
  std::string copy = bytes;
  const std::string digits = std::to_string(number);
  copy.replace(digitsAt, 7, std::string(7 - std::min<std::size_t>(7, digits.size()), '0') + digits);
  std::ofstream(to, std::ios::binary) << copy;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  const int files = argc > 1 ? std::max(kFolders, std::atoi(argv[1])) : 10000;
  char pattern[] = "/tmp/sonabox-scan-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path root = pattern, library = root / "library", staging = root / "staging";
  fs::create_directories(library);
  fs::create_directories(staging);
  struct TCleanUp {
    fs::path Root;
    ~TCleanUp() {
      std::error_code ignored;
      fs::remove_all(Root, ignored);
    }
  } cleanUp{root};

  // Half a second of a small picture and a tone, titled and with an artist.
  const fs::path tiny = staging / "tiny.mp4";
  if (!Run({"ffmpeg",
            "-v",
            "error",
            "-f",
            "lavfi",
            "-i",
            "color=c=0x3060c0:s=64x48:r=10:d=0.5",
            "-f",
            "lavfi",
            "-i",
            "sine=frequency=330:duration=0.5",
            "-c:v",
            "libx264",
            "-preset",
            "ultrafast",
            "-pix_fmt",
            "yuv420p",
            "-c:a",
            "aac",
            "-ac",
            "1",
            "-b:a",
            "16k",
            "-metadata",
            "title=" + kTitle,
            "-metadata",
            "artist=Bench Band",
            tiny.string()})) {
    std::fprintf(stderr, "ffmpeg could not make the tiny video\n");
    return 1;
  }
  const std::string bytes = ReadFile(tiny);
  const std::size_t titleAt = bytes.find(kTitle);
  if (titleAt == std::string::npos) {
    std::fprintf(stderr, "the tiny video's title is not in its bytes\n");
    return 1;
  }
  const std::size_t digitsAt = titleAt + kTitle.size() - 7;
  std::vector<fs::path> paths;
  for (int k = 0; k < kFolders; ++k)
    fs::create_directories(library / ("Folder " + std::to_string(k)));
  for (int i = 0; i < files; ++i) {
    paths.push_back(library / ("Folder " + std::to_string(i % kFolders)) /
                    ("clip " + std::to_string(i) + ".mp4"));
    WriteCopy(bytes, digitsAt, i, paths.back());
  }

  // The floor: ffprobe over every file, two processes at a time.
  const Clock::time_point floorStart = Clock::now();
  bool probed = true;
  std::thread other([&] {
    for (std::size_t i = 1; i < paths.size(); i += 2) probed = Probe(paths[i]) && probed;
  });
  bool probedHere = true;
  for (std::size_t i = 0; i < paths.size(); i += 2) probedHere = Probe(paths[i]) && probedHere;
  other.join();
  const double floorSeconds = Seconds(floorStart);
  if (!probed || !probedHere) {
    std::fprintf(stderr, "ffprobe could not read every file\n");
    return 1;
  }

  // The first scan, as the server runs it at start.
  TServerOptions options;
  options.Library = library;
  options.Data = root / "data";
  options.FeedPort = options.WebPort = options.ServicePort = 0;
  TSonaboxServer server(options);
  server.Start();
  const Clock::time_point scanStart = Clock::now();
  const TScanReport report = server.Rescan();
  const double scanSeconds = Seconds(scanStart);
  if (report.Added != files) {
    std::fprintf(stderr, "the scan added %d of %d files\n", report.Added, files);
    return 1;
  }

  // A video copied in, and the feed asked every 5 ms until it finds it.
  server.StartWatching();
  httplib::Client feed("127.0.0.1", server.FeedPort());
  std::vector<double> found, probe;
  for (int c = 0; c < kCopies; ++c) {
    const int number = 9000000 + c;
    const fs::path fresh = staging / ("fresh " + std::to_string(c) + ".mp4");
    WriteCopy(bytes, digitsAt, number, fresh);
    const std::string title = kTitle.substr(0, kTitle.size() - 7) + std::to_string(number);
    const std::string query = "/feeds/api/videos?vq=" + std::to_string(number) +
                              "&orderby=relevance&start-index=1&max-results=25";
    const Clock::time_point copied = Clock::now();
    fs::copy_file(fresh, library / "Folder 0" / fresh.filename());
    bool seen = false;
    while (!seen && Seconds(copied) < 30) {
      const auto answer = feed.Get(query);
      seen = answer && answer->status == 200 && answer->body.find(title) != std::string::npos;
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!seen) {
      std::fprintf(stderr, "a search did not find the copied video within 30 s\n");
      return 1;
    }
    found.push_back(Seconds(copied) * 1000);
    const Clock::time_point probeStart = Clock::now();
    Probe(fresh);
    probe.push_back(Seconds(probeStart) * 1000);
  }
  server.Stop();

  std::printf("library of %d tiny videos in %d folders\n", files, kFolders);
  std::printf(
      "first scan                         %8.2f s   ffprobe over the same files, 2 processes "
      "(floor) %8.2f s   ratio %.2f (target at most 1.50)\n",
      scanSeconds, floorSeconds, scanSeconds / floorSeconds);
  std::printf(
      "copied in until a search finds it  %8.0f ms  one ffprobe of that file (floor) %8.0f ms"
      "   median of %d (target within 2 s)\n",
      Median(found), Median(probe), kCopies);
  return 0;
}
