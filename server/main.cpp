// sonabox-server: serves a video library folder to Sonabox.
#include "SonaboxServer.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <iostream>
#include <mutex>

using namespace sonabox::server;

namespace {
constexpr int kRescanSeconds = 60;
}

int main(int argc, char **argv) {
  TCommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!commandLine.Options) {
    (commandLine.Help ? std::cout : std::cerr) << commandLine.Message;
    return commandLine.Help ? 0 : 2;
  }

  // Signals are taken by the main thread alone (sigtimedwait below); every
  // server thread inherits the blocked mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Each port holds up to 1000 connections: allow the descriptors they need.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 8192) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &files);
  }

  TServerOptions options = std::move(*commandLine.Options);
  options.Log = [](const std::string &line) { std::cout << line << std::endl; };
  try {
    TSonaboxServer server(std::move(options));
    const TServerOptions &used = server.Options();
    std::cout << "sonabox-server: library " << used.Library.string() << ", data "
              << used.Data.string() << std::endl;
    // The ports answer from what the catalogue holds while the first scan runs,
    // and changes made meanwhile are seen.
    server.Start();
    server.StartWatching();
    const std::string bind =
        used.Bind.find(':') != std::string::npos ? "[" + used.Bind + "]" : used.Bind;
    std::cout << "video data feed:  http://" << bind << ":" << server.FeedPort()
              << "/feeds/api/videos\n"
              << "video web host:   http://" << bind << ":" << server.WebPort()
              << "/  (written into entries as " << server.WebHost() << ")\n"
              << "share and update: http://" << bind << ":" << server.ServicePort() << "/interface/"
              << std::endl;
    if (used.WebHost.empty() && (used.Bind == "0.0.0.0" || used.Bind == "::"))
      std::cout << "note: entries name the web host " << server.WebHost()
                << ", which no other machine reaches; give --web-host as the program reaches "
                   "this machine"
                << std::endl;
    try {
      const TScanReport report = server.Rescan();
      std::cout << "scan: " << report.Added << " added, " << report.Changed << " changed, "
                << report.Moved << " moved, " << report.Removed << " removed, " << report.Unchanged
                << " unchanged, " << report.Skipped << " skipped" << std::endl;
    } catch (const std::exception &e) {
      std::cout << "scan failed, catalogue kept: " << e.what() << std::endl;
    }

    for (;;) {
      const timespec wait{kRescanSeconds, 0};
      const int signal = sigtimedwait(&signals, nullptr, &wait);
      if (signal == SIGINT || signal == SIGTERM) break;
      if (signal < 0 && errno != EAGAIN) continue; // interrupted
      try {
        server.Maintain();
        const TScanReport again = server.Rescan();
        if (again.Added || again.Changed || again.Moved || again.Removed)
          std::cout << "scan: " << again.Added << " added, " << again.Changed << " changed, "
                    << again.Moved << " moved, " << again.Removed << " removed" << std::endl;
      } catch (const std::exception &e) {
        std::cout << "scan or housekeeping failed, catalogue kept: " << e.what() << std::endl;
      }
    }
    std::cout << "sonabox-server: stopping" << std::endl;
    server.Stop();
  } catch (const std::exception &e) {
    std::cerr << "sonabox-server: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
