// Start-up benchmark: the time from starting the program to the first paint of
// its main window, and its resident memory then, beside a bare Qt window
// program started the same way in the same run.
//
//   bench_app [RUNS]        (default 15 runs of each, alternating)
//
// Uses the display of the environment; with none it runs Qt's offscreen
// platform. Both programs get private, empty data folders.
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Sample {
  double Ms;
  double Mb;
};

// Starts the program and waits for its report line; the time is measured
// from just before the start to the arrival of the line.
Sample RunOnce(const std::string &program) {
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", program.c_str());
    std::exit(1);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  const auto end = std::chrono::steady_clock::now();
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  if (line.empty()) {
    std::fprintf(stderr, "%s reported no paint\n", program.c_str());
    std::exit(1);
  }
  return {std::chrono::duration<double, std::milli>(end - start).count(),
          std::atof(line.c_str()) / 1024.0};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
  const std::string sonabox = (here / "bench_app_probe_sonabox").string();
  const std::string bare = (here / "bench_app_probe_bare").string();

  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::printf("no display: using Qt's offscreen platform\n");
  }
  QTemporaryDir home;
  setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1);
  setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);

  RunOnce(sonabox); // warm the file cache for both
  RunOnce(bare);
  std::vector<double> appMs, appMb, bareMs, bareMb;
  for (int i = 0; i < runs; ++i) {
    const Sample a = RunOnce(sonabox);
    const Sample b = RunOnce(bare);
    appMs.push_back(a.Ms);
    appMb.push_back(a.Mb);
    bareMs.push_back(b.Ms);
    bareMb.push_back(b.Mb);
  }
  const double tA = Median(appMs), tB = Median(bareMs), mA = Median(appMb), mB = Median(bareMb);
  std::printf("start to first paint (median of %d): sonabox %.1f ms, bare Qt window %.1f ms, "
              "ratio %.2f (target <= 1.5)\n",
              runs, tA, tB, tA / tB);
  std::printf("resident memory at first paint:      sonabox %.1f MB, bare Qt window %.1f MB, "
              "ratio %.2f (target <= 1.3)\n",
              mA, mB, mA / mB);
  return 0;
}
