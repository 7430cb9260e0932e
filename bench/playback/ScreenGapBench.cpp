// The gap between videos as a person sees it: the Play page (its sequencer
// and player, as in the program), playing in its own video area and then in
// the expanded window, each beside the mpv command playing the same addresses
// as a playlist, all with real video output on a private X server (Xvfb with
// GLX, Mesa's software renderer), the mpv window given the size and place of
// the video area it stands beside.
//
// Each clip lasts 2 s; each of its frames is one solid colour that names the
// clip (red) and the frame (green, a count of 8). A thread polls the centre
// pixel of the video area on the screen about every millisecond. For each
// change of clip it finds:
//   start to start, less the clip: from the first frame of one clip on the
//     screen to the first frame of the next, less 2 s;
//   frozen or black: from the moment the last frame of a clip appeared to the
//     first frame of the next, less that last frame's own 40 ms;
//   of which black: how long the screen was black in between.
// The figures are medians over every change of clip of every round, and the
// longest black of all; each round plays on every side in turn, so that all
// see the same machine.
//
// Run: build/bench/playback/bench_playback_screen_gap [rounds, default 3]
#include "core/playback/Playback.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/TestFolders.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/play/PlayPage.h"
#include "ui/play/PlayerViews.h"
#include "ui/widgets/HtmlView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace sonabox;

namespace {

constexpr int kClips = 8;
constexpr int kClipSeconds = 2;
constexpr double kFrameMs = 40; // 25 frames a second

// Starts Xvfb and returns its display name (":N"), or empty.
std::string StartXvfb(pid_t &pid) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x900x24", "-nolisten",
           "tcp", "+extension", "GLX", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  return number.empty() ? std::string() : ":" + number;
}

// Clip k: each frame red 40 + 24k, green 40 + 20 (frame mod 8), blue 200; a tone.
std::string MakeColourClip(const QString &folder, int k) {
  const QString path = folder + "/c" + QString::number(k) + ".mkv";
  const QString length = QString::number(kClipSeconds);
  const QString video = QString("color=c=black:s=320x240:r=25:d=%1,format=gbrp,"
                                "geq=r='%2':g='40+20*mod(N\\,8)':b='200',format=yuv420p")
                            .arg(length)
                            .arg(40 + 24 * k);
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", video, "-f", "lavfi", "-i",
                          "sine=frequency=440:duration=" + length, "-c:v", "mpeg4", "-q:v", "2",
                          "-c:a", "mp2", path});
  if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) return {};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

struct TSample {
  double ms;
  int clip;  // -1: black, -2: anything else
  int frame; // of 8
};

TSample Classify(double ms, unsigned long pixel) {
  const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
  if (std::max({r, g, b}) < 30) return {ms, -1, 0};
  const int clip = static_cast<int>(std::lround((r - 40) / 24.0));
  const int frame = static_cast<int>(std::lround((g - 40) / 20.0));
  if (b < 150 || clip < 0 || clip >= kClips || frame < 0 || frame > 7) return {ms, -2, 0};
  return {ms, clip, frame};
}

// Polls the pixel at (x, y) of the screen until `done`, on its own connection.
class TPoller {
public:
  TPoller(const std::string &display, int x, int y) {
    thread_ = std::thread([this, display, x, y] {
      Display *d = XOpenDisplay(display.c_str());
      if (!d) return;
      const Window root = DefaultRootWindow(d);
      QElapsedTimer clock;
      clock.start();
      while (!done_) {
        XImage *image = XGetImage(d, root, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image) {
          const TSample sample = Classify(clock.nsecsElapsed() / 1e6, XGetPixel(image, 0, 0));
          XDestroyImage(image);
          samples_.push_back(sample);
          // What the screen showed before the first clip (the last one of
          // the round before, say) does not count.
          if (sample.clip == 0) sawFirst_ = true;
          if (sawFirst_ && sample.clip == kClips - 1 && lastFrom_ < 0) lastFrom_ = sample.ms;
          latest_ = sample.ms;
        }
        usleep(1000);
      }
      XCloseDisplay(d);
    });
  }
  ~TPoller() { Stop(); }
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // The last clip has shown for a second: every change of clip is in.
  bool Finished() const { return lastFrom_ >= 0 && latest_ > lastFrom_ + 1000; }
  const std::vector<TSample> &Samples() const { return samples_; } // once stopped

private:
  std::thread thread_;
  std::atomic<bool> done_{false};
  bool sawFirst_ = false; // the poller's own
  std::atomic<double> lastFrom_{-1}, latest_{0};
  std::vector<TSample> samples_;
};

struct TFigures {
  std::vector<double> startToStart, frozen, black;
};

bool Measure(const std::vector<TSample> &samples, TFigures &figures) {
  std::vector<double> first(kClips, -1), lastFrameAt(kClips, -1), lastSeen(kClips, -1);
  int lastFrame = -1, lastClip = -1;
  bool begun = false; // from the first clip's first frame on
  for (const TSample &s : samples) {
    begun = begun || s.clip == 0;
    if (s.clip < 0 || !begun) continue;
    if (first[s.clip] < 0) first[s.clip] = s.ms;
    if (s.clip != lastClip || s.frame != lastFrame) lastFrameAt[s.clip] = s.ms;
    lastSeen[s.clip] = s.ms;
    lastClip = s.clip;
    lastFrame = s.frame;
  }
  for (int k = 0; k < kClips; ++k)
    if (first[k] < 0) return false;
  for (int k = 0; k + 1 < kClips; ++k) {
    figures.startToStart.push_back(first[k + 1] - first[k] - kClipSeconds * 1000.0);
    figures.frozen.push_back(std::max(0.0, first[k + 1] - lastFrameAt[k] - kFrameMs));
    double black = 0, blackSince = -1;
    for (const TSample &s : samples) {
      if (s.ms <= lastSeen[k] || s.ms > first[k + 1] || s.ms < first[0]) continue;
      if (s.clip == -1 && blackSince < 0) blackSince = s.ms;
      if (s.clip != -1 && blackSince >= 0) {
        black += s.ms - blackSince;
        blackSince = -1;
      }
    }
    figures.black.push_back(black);
  }
  return true;
}

bool WaitUntil(const TPoller &poller, int ms) {
  return QTest::qWaitFor([&] { return poller.Finished(); }, ms);
}

// The page plays its playlist from the first row in `area`, its own video
// area or the expanded window's.
bool PageRound(TPlayPage &page, QWidget *area, const std::string &display, TFigures &figures) {
  const QPoint centre = area->mapToGlobal(area->rect().center());
  TPoller poller(display, centre.x(), centre.y());
  page.sgPlayListDblClickCell(1, 0);
  const bool finished = WaitUntil(poller, (kClips * kClipSeconds + 20) * 1000);
  poller.Stop();
  page.Playback().Stop();
  QTest::qWait(500);
  return finished && Measure(poller.Samples(), figures);
}

bool CommandRound(const QStringList &addresses, const QRect &area, const std::string &display,
                  TFigures &figures) {
  QProcess mpv;
  QStringList arguments = {"--no-config",
                           "--load-scripts=no",
                           "--ytdl=no",
                           "--osc=no",
                           "--no-border",
                           "--audio-fallback-to-null=yes",
                           "--hwdec=auto-safe",
                           QString("--geometry=%1x%2+%3+%4")
                               .arg(area.width())
                               .arg(area.height())
                               .arg(area.x())
                               .arg(area.y())};
  const QPoint centre = area.center();
  TPoller poller(display, centre.x(), centre.y());
  mpv.start("mpv", arguments + addresses);
  const bool finished = WaitUntil(poller, (kClips * kClipSeconds + 20) * 1000);
  poller.Stop();
  mpv.kill();
  mpv.waitForFinished(10000);
  return finished && Measure(poller.Samples(), figures);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

double Longest(const std::vector<double> &values) {
  return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

QRect ScreenBox(const QWidget *area) { return {area->mapToGlobal(QPoint(0, 0)), area->size()}; }

// One side's figures beside its floor's.
void Print(const char *name, const TFigures &ours, const TFigures &floor) {
  std::printf("%-32s %9s  %s\n", name, "Sonabox", "mpv command, same size (floor)");
  std::printf("  start to start, less the clip  %9.1f ms  %9.1f ms\n", Median(ours.startToStart),
              Median(floor.startToStart));
  std::printf("  frozen or black between videos %9.1f ms  %9.1f ms\n", Median(ours.frozen),
              Median(floor.frozen));
  std::printf("    of which black               %9.1f ms  %9.1f ms\n", Median(ours.black),
              Median(floor.black));
  std::printf("    longest black                %9.1f ms  %9.1f ms\n", Longest(ours.black),
              Longest(floor.black));
  std::printf("  ratio of start-to-start loss: %.2f (target at most 1.20); frozen or black %.1f ms "
              "(target under 50)\n",
              Median(ours.startToStart) / std::max(Median(floor.startToStart), 1.0),
              Median(ours.frozen));
}

} // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  // Ends Xvfb after the application, whose connection must go first.
  struct TXvfb {
    pid_t pid = -1;
    ~TXvfb() {
      if (pid <= 0) return;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } xvfb;
  const std::string display = StartXvfb(xvfb.pid);
  if (display.empty()) {
    std::fprintf(stderr, "Xvfb could not be started\n");
    return 1;
  }
  setenv("DISPLAY", display.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");

  test::TestFolders folders;
  const TSettings settings;
  TPlayListManager store(settings.DataPath(), settings.PlayListPath());
  QTemporaryDir clipFolder;
  test::ClipServer server;
  QStringList addresses;
  for (int k = 0; k < kClips; ++k) {
    const std::string clip = MakeColourClip(clipFolder.path(), k);
    if (clip.empty()) {
      std::fprintf(stderr, "ffmpeg could not make the clips\n");
      return 1;
    }
    server.Serve("/v/c" + std::to_string(k) + "&autoplay=1", clip);
    addresses << QString::fromStdString("http://" + server.Host() + "/v/c" + std::to_string(k) +
                                        "&autoplay=1");
  }
  StoreWriteString("VideoWebHost", server.Host());

  TPlayPage page(store, nullptr);
  page.resize(1000, 700);
  page.move(0, 0);
  page.show();
  if (!QTest::qWaitForWindowExposed(&page)) return 1;
  page.Playback().SetPlayMode(TPlayMode::InOrder);
  TDataTable &table = *page.cdsPlayList;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (int k = 0; k < kClips; ++k) {
    TVideo video;
    video.Title = video.Url = "c" + std::to_string(k);
    video.DurationSeconds = kClipSeconds;
    video.Duration = "0:02";
    table.Insert();
    StoreVideoInRow(video, table);
    table.Post();
  }
  const QRect area = ScreenBox(page.wbPlayer);

  // The expanded window, opened for each of its rounds and closed after, as
  // a person does; its video area is the window's view.
  const auto expandedRound = [&](TFigures &ours, TFigures &floor) {
    page.PlayerViews().Expand();
    TdExpandedVideo *window = page.dExpandedVideo;
    if (!window || !QTest::qWaitForWindowExposed(window)) return false;
    QWidget *view = window->wbExpandedVideo;
    const bool seen = PageRound(page, view, display, ours) &&
                      CommandRound(addresses, ScreenBox(view), display, floor);
    window->close();
    QTest::qWait(500);
    return seen;
  };

  TFigures ours, floor, oursExpanded, floorExpanded;
  bool seen = true;
  for (int round = 0; round < rounds && seen; ++round) {
    seen = PageRound(page, page.wbPlayer, display, ours) &&
           CommandRound(addresses, area, display, floor) &&
           expandedRound(oursExpanded, floorExpanded);
    if (!seen) std::fprintf(stderr, "round %d did not see every clip on the screen\n", round + 1);
  }
  if (!seen) return 1;
  std::printf("on-screen gap between videos, median of %d changes of clip (%d rounds):\n",
              static_cast<int>(ours.startToStart.size()), rounds);
  Print("Play page", ours, floor);
  Print("expanded window", oursExpanded, floorExpanded);
  return 0;
}
