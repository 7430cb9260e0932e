#pragma once
// The party over HTTP, on the web port: the guest page and its files, the
// guests' requests and the host's.
//
//   GET  /party                      the guest page (party.js, party.css beside it)
//   GET  /party/api/state?since=V    the state as JSON; when V is the current
//                                    version the request waits for the next change
//   GET  /party/api/search?q=&category=&start=   videos of the library
//   GET  /party/api/categories
//   POST /party/api/{join,name,queue,remove,skip} a guest's changes
//   POST /party/host/{start,end,lock,unlock,clear,remove,next,finished}
//
// Every POST carries the header X-Party-Guest (the guest's token; "new" to
// join), which a form of another site cannot send, and is limited per client
// address. The host's requests come from this machine with the key of the
// host key file, X-Party-Host, instead.
#include "Catalogue.h"
#include "Party.h"
#include "Router.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace sonabox::server {

// The host key in `file`, made (readable by its owner only) when the file is
// missing or holds no key. Throws std::runtime_error when it can be neither
// read nor made.
std::string PartyHostKey(const std::filesystem::path &file);

// Whether a numeric address is this machine's loopback.
bool IsLoopback(const std::string &address);

// The state as JSON for the guest with this token (its own entries marked),
// with the address that guests open.
std::string PartyStateJson(const TPartyState &state, std::string_view token,
                           const std::string &address);

// The address of the guest page for a server bound to `bind` on `port`: a
// wildcard bind is named by this machine's first network address that is not
// its loopback (IPv4 first); a loopback one is kept, which only this machine
// reaches.
std::string GuestAddress(const std::string &bind, int port);

class TPartyService {
public:
  TPartyService(TParty &party, TCatalogue &catalogue, std::string hostKey);
  // The routes of the web port given, then the party's.
  std::vector<TRoute> Routes(std::vector<TRoute> others);
  // Known once the web port listens; before, no page is asked for.
  void SetGuestAddress(std::string address);

private:
  void State(const THttpRequest &request, THttpResponse &response);
  void Search(const THttpRequest &request, THttpResponse &response);
  void Categories(THttpResponse &response);
  void Guest(const THttpRequest &request, THttpResponse &response, const std::string &action);
  void Host(const THttpRequest &request, THttpResponse &response, const std::string &action);
  void Answer(THttpResponse &response, const TPartyResult &result, std::string_view token);

  TParty &party_;
  TCatalogue &catalogue_;
  std::string hostKey_;
  std::string Address();
  std::mutex addressMutex_;
  std::string address_;
};

} // namespace sonabox::server
