#include "SonaboxServer.h"

#include "Feed.h"
#include "FileServing.h"
#include "Outbox.h"
#include "WatchPage.h"
#include "core/common/TextHelpers.h"

#include <algorithm>
#include <cctype>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

// A log line shows what arrived, with control bytes made visible as "?".
std::string Printable(std::string_view text) {
  std::string out(text.substr(0, 300));
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  if (text.size() > 300) out += "...";
  return out;
}

// What the web host's addresses take as an identifier.
bool IsVideoIdText(std::string_view id) {
  return !id.empty() && id.size() <= 16 && std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

std::string HostText(const std::string &address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

TServerOptions WithDataFolder(TServerOptions options) {
  if (options.Thumbnails.empty()) options.Thumbnails = options.Data / "thumbnails";
  fs::create_directories(options.Data);
  fs::create_directories(options.Thumbnails);
  return options;
}

} // namespace

TSonaboxServer::TSonaboxServer(TServerOptions options)
    : options_(WithDataFolder(std::move(options))),
      database_(OpenDatabase(options_.Database, options_.Data)), catalogue_(*database_),
      shares_(*database_, {options_.ShareDays, options_.SharesPerHour, options_.MaxShares}),
      updates_(options_.LatestBuild, options_.Assets / "Sonabox.run",
               options_.UpdateKey.empty() ? nullptr
                                          : std::make_unique<TUpdateSigner>(options_.UpdateKey)),
      party_(*database_, catalogue_, options_.PartyLimits,
             [this] {
               // Pages waiting for news are answered with it.
               if (THttpEngine *web = wakeOnParty_.load()) web->WakeWaiting();
             }),
      partyService_(party_, catalogue_, PartyHostKey(PartyHostKeyFile())) {
  if (options_.Party) party_.Start();
}

TSonaboxServer::~TSonaboxServer() { Stop(); }

void TSonaboxServer::Log(const std::string &line) {
  if (!options_.Log) return;
  std::lock_guard lock(logMutex_);
  options_.Log(line);
}

TScanReport TSonaboxServer::Rescan() {
  std::lock_guard lock(scanMutex_);
  // Servers on one PostgreSQL database scan one at a time: the others serve
  // the catalogue that the scanning one keeps.
  auto connection = database_->Acquire();
  if (!connection->TryLock(kScanLock)) {
    Log("scan: another server on this database is scanning the library");
    return {};
  }
  struct TUnlock {
    TConnection &Connection;
    ~TUnlock() {
      try {
        Connection.Unlock(kScanLock);
      } catch (const TDatabaseError &) {
        // A lost connection holds no lock any more.
      }
    }
  } unlock{*connection};
  return ScanLibrary(catalogue_, options_.Library, options_.Thumbnails,
                     options_.Log ? TLogLine([this](const std::string &line) { Log(line); })
                                  : TLogLine());
}

void TSonaboxServer::StartWatching() {
  if (watcher_) return;
  try {
    watcher_ = std::make_unique<TLibraryWatcher>(options_.Library,
                                                 [this](const std::string &line) { Log(line); });
  } catch (const std::exception &e) {
    Log(std::string(e.what()) + "; changes are found by the scan every minute");
    return;
  }
  watching_ = std::thread([this] {
    // A burst of changes (a folder copied in) is one scan, and every change
    // is in the catalogue within about a second and a scan.
    while (watcher_->WaitForChange(std::chrono::milliseconds(200), std::chrono::seconds(1))) {
      try {
        const TScanReport report = Rescan();
        if (report.Added || report.Changed || report.Moved || report.Removed)
          Log("scan after a change: " + std::to_string(report.Added) + " added, " +
              std::to_string(report.Changed) + " changed, " + std::to_string(report.Moved) +
              " moved, " + std::to_string(report.Removed) + " removed");
      } catch (const std::exception &e) {
        Log(std::string("scan after a change failed, catalogue kept: ") + e.what());
      }
    }
  });
}

void TSonaboxServer::Maintain() {
  const int64_t expired = shares_.Expire();
  const int trimmed = TrimOutbox(options_.Data / "outbox", options_.OutboxMax);
  const bool emptied = database_->Checkpoint();
  if (expired || trimmed || !emptied)
    Log("housekeeping: " + std::to_string(expired) + " expired shares removed, " +
        std::to_string(trimmed) + " notifications removed from the outbox" +
        (emptied ? "" : ", the database log is in use and stays for now"));
}

void TSonaboxServer::Categories(THttpResponse &response) {
  response.SetContent(WriteCategories(catalogue_.Categories()), "application/xml; charset=UTF-8");
}

void TSonaboxServer::Feed(const THttpRequest &request, THttpResponse &response,
                          const std::string &category) {
  const std::optional<TFeedQuery> query = ParseFeedQuery(request.Target);
  if (!query) {
    response.Status = 400;
    response.SetContent("start-index and max-results are whole numbers from 1\n", "text/plain");
    return;
  }
  const TFeedPage page =
      catalogue_.Search(category, query->Keywords, query->StartIndex, query->MaxResults);
  response.SetContent(WriteFeed(page, *query, webHost_), "application/atom+xml; charset=UTF-8");
}

// POST with the form field "ids": identifiers separated by commas. What is no
// identifier is not looked up; more than kMaxLookupIds are refused whole.
void TSonaboxServer::Lookup(const THttpRequest &request, THttpResponse &response) {
  const std::optional<std::string> field = request.Field("ids");
  if (!field) {
    response.Status = 400;
    response.SetContent("the form field ids names the videos, separated by commas\n", "text/plain");
    return;
  }
  std::vector<std::string> ids;
  std::string_view rest(*field);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view id = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (IsVideoIdText(id)) ids.emplace_back(id);
  }
  if (ids.size() > kMaxLookupIds) {
    response.Status = 413;
    response.SetContent("at most " + std::to_string(kMaxLookupIds) + " videos at a time\n",
                        "text/plain");
    return;
  }
  response.SetContent(WriteLookup(catalogue_.FindAll(ids)), "application/json");
}

void TSonaboxServer::Thumbnail(const THttpRequest &request, THttpResponse &response,
                               const std::string &id) {
  ServeFile(request, response, options_.Thumbnails / (id + ".jpg"), "image/jpeg");
  // A picture is made again when its file changes: a day, then ask again.
  response.Headers.emplace_back("Cache-Control", "max-age=86400");
}

void TSonaboxServer::Player(const THttpRequest &request, THttpResponse &response,
                            const std::string &id) {
  const auto video = catalogue_.Find(id);
  const fs::path file = video ? options_.Library / video->RelPath : fs::path();
  if (!video || !InsideFolder(options_.Library, file)) return Refuse(response, 404);
  // A play is counted when the stream starts, not at every seek.
  if (ServeFile(request, response, file, MediaTypeFor(file)) == 0 && request.Method == "GET")
    catalogue_.AddView(video->Id);
}

void TSonaboxServer::Watch(const THttpRequest &request, THttpResponse &response) {
  const auto video = catalogue_.Find(request.Query("v").value_or(""));
  if (!video) response.Status = 404;
  response.SetContent(video ? WatchPage(*video) : NoSuchVideoPage(), "text/html; charset=UTF-8");
}

void TSonaboxServer::StoreShare(const THttpRequest &request, THttpResponse &response) {
  const TShareReading reading =
      ReadShare([&request](std::string_view name) { return request.Field(name); });
  switch (reading.Verdict) {
  case TShareVerdict::Accepted: break;
  case TShareVerdict::TooLong: Refuse(response, 413); break;
  case TShareVerdict::HashMismatch: Refuse(response, 403); break;
  case TShareVerdict::Malformed: Refuse(response, 400); break;
  }
  if (reading.Verdict != TShareVerdict::Accepted) {
    Log("service refused a share: " + reading.Reason);
    return;
  }
  const TStoreResult stored = shares_.Store(reading.Share, request.Client);
  if (stored.Verdict != TStoreVerdict::Stored) {
    // Too Many Requests: nothing was stored.
    Refuse(response, 429);
    response.Headers.emplace_back("Retry-After", std::to_string(stored.RetryAfter));
    Log("service refused a share: " + request.Client +
        (stored.Verdict == TStoreVerdict::ClientQuota
             ? " stored " + std::to_string(options_.SharesPerHour) + " within the hour"
             : " holds as many of the store's " + std::to_string(options_.MaxShares) +
                   " shares as anyone"));
    return;
  }
  const fs::path outbox = options_.Data / "outbox";
  if (!stored.Displaced.empty()) {
    RemoveShareMail(outbox, stored.DisplacedCode);
    Log("service made room in the full store: the oldest share of " + stored.Displaced +
        ", who holds the most, is gone, with its notification");
  }
  try {
    const fs::path mail = WriteShareMail(outbox, reading.Share, stored.Code);
    TrimOutbox(outbox, options_.OutboxMax);
    Log("service stored share " + stored.Code + ", notification " + mail.string());
  } catch (const std::exception &e) {
    // The share is kept: the code still reaches the sender.
    Log("service stored share " + stored.Code + " but wrote no notification: " + e.what());
  }
  response.SetContent(stored.Code, "text/plain");
}

void TSonaboxServer::FetchShare(const THttpRequest &request, THttpResponse &response) {
  const std::optional<std::string> code = request.Field("share_key");
  if (!code) return Refuse(response, 400);
  const std::optional<TShare> share = shares_.Find(*code);
  if (!share) return Refuse(response, 404);
  response.SetContent(Base64Encode(ShareAnswerText(*share)), "text/plain");
}

void TSonaboxServer::Asset(const THttpRequest &request, THttpResponse &response,
                           const std::string &name) {
  const fs::path file = options_.Assets / name;
  if (!InsideFolder(options_.Assets, file)) return Refuse(response, 404);
  ServeFile(request, response, file,
            IsVideoFileName(file) ? MediaTypeFor(file) : "application/octet-stream");
}

void TSonaboxServer::Health(THttpResponse &response) {
  const bool reachable = database_->Reachable();
  response.Status = reachable ? 200 : 503;
  response.SetContent(reachable ? "ok\n" : "the database cannot be reached\n", "text/plain");
  response.Headers.emplace_back("Cache-Control", "no-store");
}

std::unique_ptr<THttpEngine> TSonaboxServer::Listen(int port, const char *role,
                                                    std::vector<TRoute> routes) {
  // Every port tells a load balancer whether it can answer.
  routes.push_back({kRead, "/healthz",
                    [this](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
                      Health(response);
                    }});
  auto table = std::make_shared<const TRouteTable>(std::move(routes));
  auto handler = [this, role, table](const THttpRequest &request, THttpResponse &response) {
    table->Answer(request, response);
    if (options_.Log && !response.Wait)
      Log(std::string(role) + " " + request.ClientAddress + " \"" + request.Method + " " +
          Printable(request.Target) + "\" " + std::to_string(response.Status) + " " +
          std::to_string(response.Length()));
  };
  auto error = [this, role](const THttpRequest &request, const std::string &what) {
    Log(std::string(role) + " error on " + Printable(request.Target) + ": " + what);
  };
  try {
    return std::make_unique<THttpEngine>(options_.Bind, port, handler, error);
  } catch (const std::exception &e) {
    throw std::runtime_error(std::string("cannot listen for the ") + role + " on " + options_.Bind +
                             ":" + std::to_string(port) + ": " + e.what());
  }
}

void TSonaboxServer::Start() {
  Maintain();
  feed_ = Listen(options_.FeedPort, "feed",
                 {
                     {kRead, "/feeds/api/categories",
                      [this](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
                        Categories(response);
                      }},
                     {kRead, "/feeds/api/videos(?:/-/([^/]+))?",
                      [this](const THttpRequest &request, THttpResponse &response,
                             const TPathGroups &path) { Feed(request, response, path[1]); }},
                     {kPost, "/feeds/api/lookup",
                      [this](const THttpRequest &request, THttpResponse &response,
                             const TPathGroups &) { Lookup(request, response); }},
                 });
  web_ = Listen(options_.WebPort, "web",
                partyService_.Routes({
                    {kRead, R"(/t/([A-Za-z0-9_-]{1,16})\.jpg)",
                     [this](const THttpRequest &request, THttpResponse &response,
                            const TPathGroups &path) { Thumbnail(request, response, path[1]); }},
                    // The player address is "/v/ID&autoplay=1": a path, not a query.
                    {kRead, R"(/v/([A-Za-z0-9_-]{1,16})(?:&[^/]*)?)",
                     [this](const THttpRequest &request, THttpResponse &response,
                            const TPathGroups &path) { Player(request, response, path[1]); }},
                    {kRead, "/watch",
                     [this](const THttpRequest &request, THttpResponse &response,
                            const TPathGroups &) { Watch(request, response); }},
                }));
  service_ =
      Listen(options_.ServicePort, "service",
             {
                 {kPost, "/interface/share.php",
                  [this](const THttpRequest &request, THttpResponse &response,
                         const TPathGroups &) { StoreShare(request, response); }},
                 {kPost, "/interface/getshare.php",
                  [this](const THttpRequest &request, THttpResponse &response,
                         const TPathGroups &) { FetchShare(request, response); }},
                 {kRead, "/interface/updates.php",
                  [this](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
                    response.SetContent(updates_.Answer(), "text/plain");
                  }},
                 // A plain file name of the assets folder, never "..".
                 {kRead, R"(/assets/((?!.*\.\.)[A-Za-z0-9][A-Za-z0-9._-]{0,127}))",
                  [this](const THttpRequest &request, THttpResponse &response,
                         const TPathGroups &path) { Asset(request, response, path[1]); }},
             });
  partyService_.SetGuestAddress(GuestAddress(options_.Bind, web_->Port()));
  wakeOnParty_ = web_.get();
  feedPort_ = feed_->Port();
  webPort_ = web_->Port();
  servicePort_ = service_->Port();
  webHost_ = options_.WebHost.empty() ? HostText(options_.Bind) + ":" + std::to_string(webPort_)
                                      : options_.WebHost;
  const std::string missing = updates_.Missing();
  Log(missing.empty() ? "updates: build " + std::to_string(options_.LatestBuild) + " is offered"
                      : "updates: none offered (the answer says build 0): " + missing);
}

void TSonaboxServer::Stop() {
  if (watcher_) {
    watcher_->Stop();
    watching_.join();
    watcher_.reset();
  }
  wakeOnParty_ = nullptr;
  service_.reset();
  web_.reset();
  feed_.reset();
}

} // namespace sonabox::server
