#pragma once
// sonabox-server: the video data feed, the video web host and the maker's
// share and update service, each on its own port, over one catalogue and share
// store. This unit holds the route tables and their handlers; the HTTP layer, the file answers, the
// pages and the command line live in units of their own.
#include "Catalogue.h"
#include "CommandLine.h"
#include "Database.h"
#include "HttpEngine.h"
#include "LibraryScanner.h"
#include "LibraryWatcher.h"
#include "Party.h"
#include "PartyService.h"
#include "Router.h"
#include "Shares.h"
#include "Updates.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sonabox::server {

// The most identifiers one lookup may name: as many videos as one playlist
// file brings into the program.
inline constexpr std::size_t kMaxLookupIds = 10000;

// The key of the database lock (TConnection::TryLock) held by the server that
// scans the library.
inline constexpr int64_t kScanLock = 0x536f6e61626f7802;

class TSonaboxServer {
public:
  // Opens the database (emptying its write-ahead log) and the update key;
  // throws std::runtime_error on failure.
  explicit TSonaboxServer(TServerOptions options);
  ~TSonaboxServer();
  TSonaboxServer(const TSonaboxServer &) = delete;
  TSonaboxServer &operator=(const TSonaboxServer &) = delete;

  // Brings the catalogue in line with the library; one scan at a time.
  TScanReport Rescan();

  // Watches the library (TLibraryWatcher) and rescans a moment after each
  // change, logging what the scan found, until Stop. Without inotify the log
  // says why, and the scans every minute remain.
  void StartWatching();

  // Housekeeping, run at start and then every minute: expired shares go, the
  // outbox is kept to its limit and the write-ahead log is emptied.
  void Maintain();

  // Binds the three ports (throwing when one cannot be bound) and serves them
  // from the HTTP layer's own threads until Stop, which also stops watching.
  // Logs whether an update can be offered, and why not.
  void Start();
  void Stop();

  int FeedPort() const { return feedPort_; }
  int WebPort() const { return webPort_; }
  int ServicePort() const { return servicePort_; }
  // "host:port" as written into entries; known after Start.
  const std::string &WebHost() const { return webHost_; }

  TCatalogue &Catalogue() { return catalogue_; }
  TShareStore &Shares() { return shares_; }
  TParty &Party() { return party_; }
  // The file with the key that the host's requests carry (DATA/party-host.key).
  std::filesystem::path PartyHostKeyFile() const { return options_.Data / "party-host.key"; }
  TDatabase &Database() { return *database_; }
  const TServerOptions &Options() const { return options_; }

private:
  // The handlers of the routes, one port after the other.
  void Categories(THttpResponse &response);
  void Feed(const THttpRequest &request, THttpResponse &response, const std::string &category);
  void Lookup(const THttpRequest &request, THttpResponse &response);
  void Thumbnail(const THttpRequest &request, THttpResponse &response, const std::string &id);
  void Player(const THttpRequest &request, THttpResponse &response, const std::string &id);
  void Watch(const THttpRequest &request, THttpResponse &response);
  void StoreShare(const THttpRequest &request, THttpResponse &response);
  void FetchShare(const THttpRequest &request, THttpResponse &response);
  void Asset(const THttpRequest &request, THttpResponse &response, const std::string &name);
  // "/healthz": 200 while the database answers, 503 when it cannot be reached.
  void Health(THttpResponse &response);
  std::unique_ptr<THttpEngine> Listen(int port, const char *role, std::vector<TRoute> routes);
  void Log(const std::string &line);

  TServerOptions options_;
  std::unique_ptr<TDatabase> database_;
  TCatalogue catalogue_;
  TShareStore shares_;
  TUpdateInfo updates_;
  TParty party_;
  TPartyService partyService_;
  std::atomic<THttpEngine *> wakeOnParty_{nullptr}; // the web port, while it serves
  std::mutex scanMutex_;
  std::mutex logMutex_;
  std::unique_ptr<THttpEngine> feed_, web_, service_;
  std::unique_ptr<TLibraryWatcher> watcher_;
  std::thread watching_;
  int feedPort_ = 0, webPort_ = 0, servicePort_ = 0;
  std::string webHost_;
};

} // namespace sonabox::server
