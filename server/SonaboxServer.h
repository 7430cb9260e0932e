#pragma once
// sonabox-server: the video data feed, the video web host and the maker's
// share and update service, each on its own port, over one catalogue and share
// store.
#include "Catalogue.h"
#include "Database.h"
#include "LibraryScanner.h"
#include "Shares.h"
#include "Updates.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace sonabox::server {

// Request bodies above this are refused.
inline constexpr std::size_t kMaxRequestBody = 1 << 20;

struct TServerOptions {
  std::filesystem::path Library;
  std::filesystem::path Data;      // database, thumbnails, outbox
  std::filesystem::path Assets;    // files under /assets/, the installer "Sonabox.run"
  std::filesystem::path UpdateKey; // empty: no signed update is offered
  int64_t LatestBuild = 40;
  int FeedPort = 8471; // 0: any free port
  int WebPort = 8472;
  int ServicePort = 8473;
  std::string Bind = "127.0.0.1";
  std::string WebHost; // empty: Bind and the web port
  TLogLine Log;        // when set: one line per request and per scanned file
};

// The per-user data folder: $XDG_DATA_HOME (or ~/.local/share) + Tarnwell/sonabox-server.
std::filesystem::path DefaultDataFolder();

// Reads the command line. The text to print and exit with when the
// arguments ask for help or are wrong (`Help` then tells which).
struct TCommandLine {
  std::optional<TServerOptions> Options;
  std::string Message;
  bool Help = false;
};
TCommandLine ParseCommandLine(const std::vector<std::string> &arguments);

class TSonaboxServer {
public:
  // Opens the database and the update key; throws std::runtime_error on failure.
  explicit TSonaboxServer(TServerOptions options);
  ~TSonaboxServer();
  TSonaboxServer(const TSonaboxServer &) = delete;
  TSonaboxServer &operator=(const TSonaboxServer &) = delete;

  // Brings the catalogue in line with the library; one scan at a time.
  TScanReport Rescan();

  // Binds the three ports (throwing when one cannot be bound) and serves them
  // on threads of their own until Stop.
  void Start();
  void Stop();

  int FeedPort() const { return feedPort_; }
  int WebPort() const { return webPort_; }
  int ServicePort() const { return servicePort_; }
  // "host:port" as written into entries; known after Start.
  const std::string &WebHost() const { return webHost_; }

  TCatalogue &Catalogue() { return catalogue_; }
  TShareStore &Shares() { return shares_; }
  const TServerOptions &Options() const { return options_; }

private:
  void RouteFeed(httplib::Server &server);
  void RouteWeb(httplib::Server &server);
  void RouteService(httplib::Server &server);
  void Configure(httplib::Server &server, const char *role);
  void Log(const std::string &line);

  TServerOptions options_;
  TDatabase database_;
  TCatalogue catalogue_;
  TShareStore shares_;
  TUpdateInfo updates_;
  std::mutex scanMutex_;
  std::mutex logMutex_;
  std::unique_ptr<httplib::Server> feed_, web_, service_;
  std::vector<std::thread> threads_;
  int feedPort_ = 0, webPort_ = 0, servicePort_ = 0;
  std::string webHost_;
};

} // namespace sonabox::server
