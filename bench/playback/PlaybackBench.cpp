// Time from ShowPlayer to the first decoded frame of a local stream, with the
// player made on that first page as in the program, beside the floor: the mpv
// command showing the first frame of the same address. Both use null video and
// audio outputs; runs alternate so both see the same machine.
#include "core/settings/Settings.h"
#include "support/ClipServer.h"
#include "support/TestFolders.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/MpvPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Milliseconds from ShowPlayer in a new view to the player's first frame; negative on failure.
double ShowPlayerToFirstFrame() {
  THtmlView view;
  view.resize(320, 240);
  view.show();
  view.Navigate("about:blank");
  QElapsedTimer clock;
  clock.start();
  ShowPlayer("bench", view);
  if (!view.Player()) return -1;
  QEventLoop loop;
  bool started = false;
  QObject::connect(view.Player(), &TMpvPlayer::PlaybackStarted, &loop, [&] {
    started = true;
    loop.quit();
  });
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  return started ? clock.nsecsElapsed() / 1e6 : -1;
}

// Milliseconds from starting the `mpv` command (with the player's own options) to
// its log line for the first frame shown, read from its output as it comes.
// Process exit is not the mark: the null audio output plays out its buffer first.
double MpvCommandFirstFrame(const QString &address) {
  QElapsedTimer clock;
  clock.start();
  QProcess mpv;
  mpv.setProcessChannelMode(QProcess::MergedChannels);
  mpv.start("mpv",
            {"--no-config", "--load-scripts=no", "--ytdl=no", "--osc=no", "--vo=null", "--ao=null",
             "--hwdec=auto-safe", "--frames=1", "--msg-level=all=no,cplayer=v", address});
  QByteArray output;
  double elapsed = -1;
  while (elapsed < 0 && mpv.waitForReadyRead(20000)) {
    output += mpv.readAll();
    if (output.contains("first video frame after restart shown"))
      elapsed = clock.nsecsElapsed() / 1e6;
  }
  mpv.waitForFinished(20000);
  return elapsed;
}

} // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen"); // null outputs, as the floor
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");

  test::TestFolders folders; // the store's video web host points at the local server
  QTemporaryDir clipFolder;
  const std::string clip = test::MakeClip(clipFolder.path().toStdString() + "/", 3);
  if (clip.empty()) {
    std::fprintf(stderr, "ffmpeg could not make the clip\n");
    return 1;
  }
  test::ClipServer server;
  server.Serve("/v/bench&autoplay=1", clip);
  StoreWriteString("VideoWebHost", server.Host());
  const QString address = QString::fromStdString("http://" + server.Host() + "/v/bench&autoplay=1");

  const int runs = 9;
  std::vector<double> ours, floor;
  MpvCommandFirstFrame(address); // warm the disk cache for both
  for (int i = 0; i < runs; ++i) {
    const double player = ShowPlayerToFirstFrame();
    const double command = MpvCommandFirstFrame(address);
    if (player < 0 || command < 0) {
      std::fprintf(stderr, "a run failed (player %.1f ms, mpv %.1f ms)\n", player, command);
      return 1;
    }
    ours.push_back(player);
    floor.push_back(command);
  }
  const double oursMs = Median(ours), floorMs = Median(floor);
  std::printf("ShowPlayer to first frame (new player): %.1f ms (median of %d)\n", oursMs, runs);
  std::printf("floor, mpv command to first frame:      %.1f ms (median of %d)\n", floorMs, runs);
  std::printf("ratio: %.2f (target at most 1.20)\n", oursMs / floorMs);
  return 0;
}
