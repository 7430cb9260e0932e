// The gap between two videos of a playlist: from the end of one video to the
// first frame of the next, the Play page with its sequencer and player as in the
// program, beside the floor: the mpv command playing the same two addresses as a
// playlist. Both use null video and audio outputs; runs alternate so both see
// the same machine.
//
// Both sides are timed from the same two moments, each as the core reports it:
// the first video's end ("end-file"; the page's player says PlaybackEnded, the
// command logs "finished playback") and the next video's first frame ("playback
// restart"; PlaybackStarted, and the command's "playback restart complete").
// Timing start to start less the clip's length would count how long each side
// took over the first clip's last frame and audio too, and could come out below
// zero.
#include "core/playback/PlaySequencer.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/TestFolders.h"
#include "ui/play/PlayPage.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/MpvPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <vector>

using namespace sonabox;

namespace {

constexpr int kClipSeconds = 2;

// When the player's latest batch of core events reached the UI thread: the
// page's own handlers of an end run before any the benchmark adds, and the
// end must be timed before them.
class TArrival : public QObject {
public:
  explicit TArrival(const QElapsedTimer &clock) : clock_(clock) {}
  double At = -1;

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::MetaCall) At = clock_.nsecsElapsed() / 1e6;
    return false;
  }

private:
  const QElapsedTimer &clock_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Milliseconds from the end of "a" to the start of "b" on a new Play page; negative on failure.
double PageGap(TPlayListManager &store) {
  TPlayPage page(store, nullptr);
  TDataTable &table = *page.cdsPlayList;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (const char *id : {"a", "b"}) {
    TVideo video;
    video.Title = id;
    video.Url = id;
    video.DurationSeconds = 60; // the stored length would hold the first for a minute
    video.Duration = "1:00";
    table.Insert();
    StoreVideoInRow(video, table);
    table.Post();
  }
  QElapsedTimer clock;
  std::vector<double> starts;
  double end = -1;
  TArrival arrival(clock);
  QEventLoop loop;
  QObject::connect(page.wbPlayer, &THtmlView::PlayerMade, &loop, [&](TMpvPlayer *player) {
    player->installEventFilter(&arrival);
    QObject::connect(player, &TMpvPlayer::PlaybackEnded, &loop, [&] {
      if (end < 0) end = arrival.At;
    });
    QObject::connect(player, &TMpvPlayer::PlaybackStarted, &loop, [&] {
      starts.push_back(clock.nsecsElapsed() / 1e6);
      if (starts.size() == 2) loop.quit();
    });
  });
  clock.start();
  page.sgPlayListDblClickCell(1, 0);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  if (starts.size() < 2 || end < 0 || page.Sequencer->CurrentVideo().Url != "b") return -1;
  return starts[1] - end;
}

// The same for the mpv command given both addresses, from its log lines read as they come.
double MpvCommandGap(const QString &a, const QString &b) {
  QElapsedTimer clock;
  clock.start();
  QProcess mpv;
  mpv.setProcessChannelMode(QProcess::MergedChannels);
  mpv.start("mpv", {"--no-config", "--load-scripts=no", "--ytdl=no", "--osc=no", "--vo=null",
                    "--ao=null", "--hwdec=auto-safe", "--msg-level=all=no,cplayer=v", a, b});
  const QByteArray startMark = "playback restart complete", endMark = "finished playback";
  QByteArray output;
  std::vector<double> starts;
  double end = -1;
  while (starts.size() < 2 && mpv.waitForReadyRead(20000)) {
    const QByteArray chunk = mpv.readAll();
    const double now = clock.nsecsElapsed() / 1e6;
    output += chunk;
    if (end < 0 && output.contains(endMark)) end = now;
    while (static_cast<int>(starts.size()) < output.count(startMark)) starts.push_back(now);
  }
  mpv.kill();
  mpv.waitForFinished(20000);
  return starts.size() == 2 && end >= 0 ? starts[1] - end : -1;
}

} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen"); // null outputs, as the floor
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");

  test::TestFolders folders; // the store's video web host points at the local server
  const TSettings settings;
  TPlayListManager store(settings.DataPath(), settings.PlayListPath());
  QTemporaryDir clipFolder;
  const std::string clip = test::MakeClip(clipFolder.path().toStdString() + "/", kClipSeconds);
  if (clip.empty()) {
    std::fprintf(stderr, "ffmpeg could not make the clip\n");
    return 1;
  }
  test::ClipServer server;
  server.Serve("/v/a&autoplay=1", clip);
  server.Serve("/v/b&autoplay=1", clip);
  StoreWriteString("VideoWebHost", server.Host());
  const QString a = QString::fromStdString("http://" + server.Host() + "/v/a&autoplay=1");
  const QString b = QString::fromStdString("http://" + server.Host() + "/v/b&autoplay=1");

  const int runs = 7;
  std::vector<double> ours, floor;
  MpvCommandGap(a, b); // warm the disk cache for both
  for (int i = 0; i < runs; ++i) {
    const double page = PageGap(store);
    const double command = MpvCommandGap(a, b);
    if (page < 0 || command < 0) {
      std::fprintf(stderr, "a run failed (page %.1f ms, mpv %.1f ms)\n", page, command);
      return 1;
    }
    ours.push_back(page);
    floor.push_back(command);
  }
  const double oursMs = Median(ours), floorMs = Median(floor);
  std::printf("gap between two videos, Play page:      %.1f ms (median of %d)\n", oursMs, runs);
  std::printf("floor, mpv command with both addresses: %.1f ms (median of %d)\n", floorMs, runs);
  std::printf("ratio: %.2f (target at most 1.50, and the gap under 1000 ms)\n",
              oursMs / std::max(floorMs, 1.0));
  return 0;
}
