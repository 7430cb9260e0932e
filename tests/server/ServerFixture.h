#pragma once
// A sonabox-server on ephemeral loopback ports over private folders, with an
// HTTP client for each of its three hosts.
#include "PostgresCluster.h"
#include "SonaboxServer.h"
#include "core/search/PerlRegEx.h"
#include "core/search/Video.h"
#include "support/TestFolders.h"

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <string>

namespace sonabox::test {

namespace fs = std::filesystem;

class TRunningServer {
public:
  // The options start with the library, data and assets folders inside the
  // test's own folder, every port 0 and, on PostgreSQL, a new database of the
  // program's cluster; `adjust` may change them before start.
  template <typename Adjust> explicit TRunningServer(Adjust adjust) {
    server::TServerOptions options;
    options.Library = Root() / "library";
    options.Data = Root() / "data";
    options.Assets = Root() / "assets";
    options.FeedPort = options.WebPort = options.ServicePort = 0;
    if (TestOnPostgres()) options.Database = TPostgresCluster::Shared().NewDatabase();
    fs::create_directories(options.Library);
    fs::create_directories(options.Assets);
    adjust(options);
    server_ = std::make_unique<server::TSonaboxServer>(std::move(options));
    server_->Start();
    feed_ = MakeClient(server_->FeedPort());
    web_ = MakeClient(server_->WebPort());
    service_ = MakeClient(server_->ServicePort());
  }
  TRunningServer() : TRunningServer([](server::TServerOptions &) {}) {}

  ~TRunningServer() { server_->Stop(); }

  fs::path Root() const { return folders_.Root(); }
  server::TSonaboxServer &Server() { return *server_; }
  httplib::Client &Feed() { return *feed_; }
  httplib::Client &Web() { return *web_; }
  httplib::Client &Service() { return *service_; }

private:
  static std::unique_ptr<httplib::Client> MakeClient(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(10, 0);
    return client;
  }

  TestFolders folders_;
  std::unique_ptr<server::TSonaboxServer> server_;
  std::unique_ptr<httplib::Client> feed_, web_, service_;
};

// Options that put a second server on the database of `first`: the same
// PostgreSQL database, or the same SQLite file.
inline void ShareDatabaseOf(TRunningServer &first, server::TServerOptions &options) {
  if (TestOnPostgres())
    options.Database = first.Server().Options().Database;
  else
    options.Data = first.Root() / "data";
}

struct TFeedAnswer {
  std::string Total; // the digits after "totalResults>", empty when missing
  TVideos Videos;
};

// Reads a feed answer with the program's own page reader.
inline TFeedAnswer ReadFeed(const std::string &text, const std::string &webHost) {
  TFeedEntries page = ParseFeedEntries(text, webHost, TEntryTexts::Xml);
  TFeedAnswer answer;
  if (page.TotalResults) answer.Total = std::to_string(*page.TotalResults);
  answer.Videos = std::move(page.Videos);
  return answer;
}

} // namespace sonabox::test
