#include "PartyService.h"

#include "FileServing.h"
#include "PartyPage.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <stdexcept>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHostKeyLength = 64;

bool IsHostKey(const std::string &text) {
  return text.size() == kHostKeyLength &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

QString Text(const std::string &text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QJsonObject EntryJson(const TPartyEntry &entry, std::string_view token) {
  return {{"entry", double(entry.Id)},
          {"video", Text(entry.VideoId)},
          {"title", Text(entry.Title)},
          {"artist", Text(entry.Artist)},
          {"seconds", double(entry.Seconds)},
          {"name", Text(entry.Name)},
          {"mine", !token.empty() && entry.Guest == token}};
}

void Json(THttpResponse &response, const QJsonObject &object, int status = 200) {
  response.Status = status;
  response.SetContent(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                      "application/json; charset=utf-8");
  response.Headers.emplace_back("Cache-Control", "no-store");
}

std::optional<int64_t> Number(const std::optional<std::string> &text) {
  int64_t value = 0;
  if (!text || text->empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

void Static(THttpResponse &response, std::string_view body, const char *type) {
  response.SetContent(std::string(body), type);
  // The page names nothing of another origin, and runs only its own script.
  response.Headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; script-src 'self'; style-src 'self'; "
                                "img-src 'self'; connect-src 'self'; base-uri 'none'; "
                                "form-action 'none'; frame-ancestors 'none'");
  response.Headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.Headers.emplace_back("Referrer-Policy", "no-referrer");
  response.Headers.emplace_back("Cache-Control", "no-cache");
}

} // namespace

std::string PartyHostKey(const fs::path &file) {
  {
    std::ifstream in(file);
    std::string key;
    if (in >> key && IsHostKey(key)) return key;
  }
  unsigned char random[kHostKeyLength / 2];
  if (RAND_bytes(random, sizeof random) != 1)
    throw std::runtime_error("the random generator failed");
  std::string key;
  for (const unsigned char byte : random) {
    key += "0123456789abcdef"[byte >> 4];
    key += "0123456789abcdef"[byte & 15];
  }
  // A new file under another name, then renamed over: a reader never sees
  // half a key, and the key is never readable by others, not even briefly.
  const fs::path temporary = file.string() + ".new";
  fs::remove(temporary);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write the party host key " + temporary.string());
  const std::string line = key + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == ssize_t(line.size());
  ::close(fd);
  if (!written) throw std::runtime_error("cannot write the party host key " + temporary.string());
  fs::rename(temporary, file);
  return key;
}

bool IsLoopback(const std::string &address) {
  in_addr four{};
  if (inet_pton(AF_INET, address.c_str(), &four) == 1) return (ntohl(four.s_addr) >> 24) == 127;
  in6_addr six{};
  return inet_pton(AF_INET6, address.c_str(), &six) == 1 && IN6_IS_ADDR_LOOPBACK(&six);
}

std::string GuestAddress(const std::string &bind, int port) {
  std::string host = bind;
  if (bind == "0.0.0.0" || bind == "::") {
    host.clear();
    ifaddrs *all = nullptr;
    if (getifaddrs(&all) == 0) {
      for (const int family : {AF_INET, AF_INET6}) {
        for (ifaddrs *at = all; at && host.empty(); at = at->ifa_next) {
          if (!at->ifa_addr || at->ifa_addr->sa_family != family ||
              (at->ifa_flags & IFF_LOOPBACK) || !(at->ifa_flags & IFF_UP))
            continue;
          char text[INET6_ADDRSTRLEN] = "";
          const void *address =
              family == AF_INET ? static_cast<const void *>(
                                      &reinterpret_cast<sockaddr_in *>(at->ifa_addr)->sin_addr)
                                : static_cast<const void *>(
                                      &reinterpret_cast<sockaddr_in6 *>(at->ifa_addr)->sin6_addr);
          if (family == AF_INET6 &&
              IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<sockaddr_in6 *>(at->ifa_addr)->sin6_addr))
            continue;
          if (inet_ntop(family, address, text, sizeof text)) host = text;
        }
      }
      freeifaddrs(all);
    }
    if (host.empty()) host = "127.0.0.1";
  }
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(port) + "/party";
}

std::string PartyStateJson(const TPartyState &state, std::string_view token,
                           const std::string &address) {
  QJsonObject object{{"version", double(state.Version)},
                     {"address", Text(address)},
                     {"on", state.On},
                     {"locked", state.Locked},
                     {"needed", double(state.VotesNeeded)}};
  if (state.You) object["you"] = Text(*state.You);
  if (state.Now) {
    QJsonObject now = EntryJson(*state.Now, token);
    now["left"] = double(std::max<int64_t>(0, state.NowStarted + state.Now->Seconds - state.Clock));
    now["votes"] = double(state.Votes);
    now["skip"] = state.SkipAgreed;
    object["now"] = now;
  }
  QJsonArray next;
  for (const TPartyEntry &entry : state.Next) next.append(EntryJson(entry, token));
  object["next"] = next;
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

TPartyService::TPartyService(TParty &party, TCatalogue &catalogue, std::string hostKey)
    : party_(party), catalogue_(catalogue), hostKey_(std::move(hostKey)) {}

std::vector<TRoute> TPartyService::Routes(std::vector<TRoute> others) {
  std::vector<TRoute> routes{
      {kRead, "/party/?",
       [](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
         Static(response, PartyPageHtml(), "text/html; charset=utf-8");
       }},
      {kRead, "/party/party\\.js",
       [](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
         Static(response, PartyPageScript(), "text/javascript; charset=utf-8");
       }},
      {kRead, "/party/party\\.css",
       [](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
         Static(response, PartyPageStyle(), "text/css; charset=utf-8");
       }},
      {kRead, "/party/api/state",
       [this](const THttpRequest &request, THttpResponse &response, const TPathGroups &) {
         State(request, response);
       }},
      {kRead, "/party/api/search",
       [this](const THttpRequest &request, THttpResponse &response, const TPathGroups &) {
         Search(request, response);
       }},
      {kRead, "/party/api/categories",
       [this](const THttpRequest &, THttpResponse &response, const TPathGroups &) {
         Categories(response);
       }},
      {kPost, "/party/api/(join|name|queue|remove|skip)",
       [this](const THttpRequest &request, THttpResponse &response, const TPathGroups &path) {
         Guest(request, response, path[1]);
       }},
      {kPost, "/party/host/(start|end|lock|unlock|clear|remove|next|finished)",
       [this](const THttpRequest &request, THttpResponse &response, const TPathGroups &path) {
         Host(request, response, path[1]);
       }},
  };
  others.insert(others.end(), std::make_move_iterator(routes.begin()),
                std::make_move_iterator(routes.end()));
  return others;
}

void TPartyService::SetGuestAddress(std::string address) {
  std::lock_guard lock(addressMutex_);
  address_ = std::move(address);
}

std::string TPartyService::Address() {
  std::lock_guard lock(addressMutex_);
  return address_;
}

void TPartyService::State(const THttpRequest &request, THttpResponse &response) {
  // Nothing new for this page yet: it waits, without a thread, for the next change.
  if (!request.Woken && Number(request.Query("since")) == party_.Version()) {
    response.Wait = true;
    return;
  }
  std::string token = request.Header("X-Party-Guest").value_or("");
  if (!IsStorableText(token)) token.clear(); // no guest's token
  response.SetContent(PartyStateJson(party_.State(token), token, Address()),
                      "application/json; charset=utf-8");
  response.Headers.emplace_back("Cache-Control", "no-store");
}

void TPartyService::Search(const THttpRequest &request, THttpResponse &response) {
  const int64_t start = std::max<int64_t>(1, Number(request.Query("start")).value_or(1));
  const TFeedPage page = catalogue_.Search(request.Query("category").value_or(""),
                                           request.Query("q").value_or(""), start, 25);
  QJsonArray videos;
  for (const TCatalogueVideo &video : page.Videos)
    videos.append(QJsonObject{{"video", Text(video.Id)},
                              {"title", Text(video.Title)},
                              {"artist", Text(video.Artist)},
                              {"seconds", double(video.Seconds)}});
  Json(response, {{"total", double(page.Total)}, {"start", double(start)}, {"videos", videos}});
}

void TPartyService::Categories(THttpResponse &response) {
  QJsonArray names;
  for (const TCategoryCount &category : catalogue_.Categories()) names.append(Text(category.Name));
  Json(response, {{"categories", names}});
}

void TPartyService::Answer(THttpResponse &response, const TPartyResult &result,
                           std::string_view token) {
  if (!result) {
    if (result.RetryAfter > 0)
      response.Headers.emplace_back("Retry-After", std::to_string(result.RetryAfter));
    return Json(response, {{"error", Text(result.Reason)}}, StatusFor(result.Refusal));
  }
  response.SetContent(PartyStateJson(party_.State(token), token, Address()),
                      "application/json; charset=utf-8");
  response.Headers.emplace_back("Cache-Control", "no-store");
}

void TPartyService::Guest(const THttpRequest &request, THttpResponse &response,
                          const std::string &action) {
  const std::optional<std::string> token = request.Header("X-Party-Guest");
  if (!token || token->empty() || !IsStorableText(*token))
    return Json(response, {{"error", "Open the party page to take part."}}, 403);
  const TPartyResult admitted = party_.Admit(request.Client);
  if (!admitted) return Answer(response, admitted, {});
  if (action == "join") {
    const TPartyResult joined = party_.Join(request.Field("name").value_or(""));
    if (!joined) return Answer(response, joined, {});
    return Json(response, {{"token", Text(joined.Token)}});
  }
  if (action == "name")
    return Answer(response, party_.Rename(*token, request.Field("name").value_or("")), *token);
  if (action == "queue")
    return Answer(response, party_.Queue(*token, request.Field("video").value_or("")), *token);
  if (action == "skip") return Answer(response, party_.VoteSkip(*token), *token);
  const std::optional<int64_t> entry = Number(request.Field("entry"));
  Answer(response,
         entry ? party_.Remove(*token, *entry)
               : PartyRefused(TPartyRefusal::NoSuchEntry, "No entry was named."),
         *token);
}

void TPartyService::Host(const THttpRequest &request, THttpResponse &response,
                         const std::string &action) {
  const std::string key = request.Header("X-Party-Host").value_or("");
  if (!IsLoopback(request.ClientAddress) || key.size() != hostKey_.size() ||
      CRYPTO_memcmp(key.data(), hostKey_.data(), key.size()) != 0)
    return Json(response, {{"error", "Only the host's program on this machine may do that."}}, 403);
  TPartyResult result;
  if (action == "start")
    party_.Start();
  else if (action == "end")
    party_.End();
  else if (action == "lock")
    party_.SetLocked(true);
  else if (action == "unlock")
    party_.SetLocked(false);
  else if (action == "clear")
    party_.Clear();
  else if (action == "finished")
    party_.Finished();
  else if (action == "next")
    result = party_.TakeNext();
  else {
    const std::optional<int64_t> entry = Number(request.Field("entry"));
    result = entry ? party_.HostRemove(*entry)
                   : PartyRefused(TPartyRefusal::NoSuchEntry, "No entry was named.");
  }
  Answer(response, result, {});
}

} // namespace sonabox::server
