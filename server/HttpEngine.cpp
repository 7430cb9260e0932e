#include "HttpEngine.h"

#include "Feed.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <unordered_map>

namespace sonabox::server {

namespace {

using TSteadyClock = std::chrono::steady_clock;

// A connection between two requests of its client is given this long to send
// the next one before it counts as idle as long as a new connection does.
constexpr std::chrono::seconds kKeepAliveGrace(1);

// libmicrohttpd's own limit lies above ours, leaving room for the moment
// between a new connection's arrival and the closing of the one it displaces.
constexpr unsigned kConnectionHeadroom = 256;

std::string NumericAddress(const sockaddr *address) {
  if (!address) return {};
  char host[NI_MAXHOST] = "";
  const socklen_t length =
      address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return {};
  std::string text = host;
  if (text.rfind("::ffff:", 0) == 0 && text.find('.') != std::string::npos) text.erase(0, 7);
  return text;
}

MHD_Result Queue(MHD_Connection *connection, THttpResponse &answer) {
  MHD_Response *response = nullptr;
  if (answer.File.Get() >= 0) {
    // The response owns the descriptor from here on and closes it.
    response = MHD_create_response_from_fd_at_offset64(answer.FileLength, answer.File.Release(),
                                                       answer.FileOffset);
  } else {
    response = MHD_create_response_from_buffer(answer.Body.size(), answer.Body.data(),
                                               MHD_RESPMEM_MUST_COPY);
  }
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType.c_str());
  for (const auto &[name, value] : answer.Headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.Status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result Refuse(MHD_Connection *connection, int status) {
  THttpResponse answer;
  answer.Status = status;
  answer.Body = "ERROR";
  return Queue(connection, answer);
}

MHD_Result CollectField(void *cls, MHD_ValueKind, const char *key, const char *, const char *,
                        const char *, const char *data, uint64_t offset, std::size_t size) {
  auto &form = *static_cast<std::vector<std::pair<std::string, std::string>> *>(cls);
  if (!key) return MHD_YES;
  if (offset == 0 || form.empty() || form.back().first != key) form.emplace_back(key, "");
  if (data) form.back().second.append(data, size);
  return MHD_YES;
}

std::string ClientAddressOf(MHD_Connection *connection) {
  const MHD_ConnectionInfo *client =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return NumericAddress(client ? client->client_addr : nullptr);
}

} // namespace

// What one request collects between the calls of the access handler.
struct THttpEngine::TRequestState {
  std::string Target;
  bool HeadSeen = false;
  std::size_t Received = 0;
  std::string Body;
  bool Parked = false; // suspended to wait for news, or woken from it
};

// The requests that wait for news, each with the time it is answered anyway.
// Suspending and resuming happen under this lock, so that a wake never falls
// between a handler's decision to wait and the suspension.
struct THttpEngine::TWaiting {
  std::mutex Mutex;
  bool Stopping = false;
  uint64_t Wakes = 0;
  std::unordered_map<MHD_Connection *, TSteadyClock::time_point> Parked;
};

std::string ClientGroup(const std::string &address) {
  in6_addr six{};
  if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &six) != 1)
    return address;
  if (IN6_IS_ADDR_V4MAPPED(&six)) {
    char four[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &six.s6_addr[12], four, sizeof four);
    return four;
  }
  std::memset(&six.s6_addr[8], 0, 8);
  char prefix[INET6_ADDRSTRLEN] = "";
  inet_ntop(AF_INET6, &six, prefix, sizeof prefix);
  return std::string(prefix) + "/64";
}

// The open connections of a port: whose they are, and whether and since when
// each waits for a request head. A connection is closed by shutting its socket
// down, which its polling thread then sees as the client's end; libmicrohttpd
// reports a connection closed before it closes its descriptor, so a
// descriptor found here under the lock is still the connection's.
//
// Every request takes this lock twice, so nothing done under it depends on
// the number of connections: the waiting ones are kept in order, and making
// room or meeting a deadline touches only the connections it closes.
struct THttpEngine::TConnections {
  using TKey = std::pair<TSteadyClock::time_point, MHD_Connection *>;

  struct TEntry {
    int Fd = -1;
    std::string Client;
    bool Waiting = true;  // for a request head
    bool Closing = false; // shut down here; counted no more
    bool Served = false;  // a request came whole before
    TSteadyClock::time_point WaitingSince;
  };

  // Connections waiting for a request head, in the order they began to wait:
  // new ones apart from those between two requests, whose grace puts them
  // behind.
  struct TLine {
    std::set<TKey> Fresh, Between;

    std::set<TKey> &Of(const TEntry &entry) { return entry.Served ? Between : Fresh; }

    // The one that has waited longest for a head, counting the grace.
    MHD_Connection *Longest() const {
      if (Fresh.empty()) return Between.empty() ? nullptr : Between.begin()->second;
      if (Between.empty() || Fresh.begin()->first <= Between.begin()->first + kKeepAliveGrace)
        return Fresh.begin()->second;
      return Between.begin()->second;
    }
    // The one that began to wait first, grace or not.
    const TKey *First() const {
      if (Fresh.empty()) return Between.empty() ? nullptr : &*Between.begin();
      if (Between.empty() || *Fresh.begin() < *Between.begin()) return &*Fresh.begin();
      return &*Between.begin();
    }
  };

  struct TClient {
    unsigned Count = 0;
    TLine Line;
  };

  std::mutex Mutex;
  std::condition_variable Wake;
  bool Stopping = false;
  std::unordered_map<MHD_Connection *, TEntry> All;
  std::unordered_map<std::string, TClient> Clients;
  TLine Line; // of every client
  unsigned Counted = 0;

  void Enqueue(MHD_Connection *connection, TEntry &entry) {
    const TKey key{entry.WaitingSince, connection};
    Line.Of(entry).insert(key);
    Clients[entry.Client].Line.Of(entry).insert(key);
  }

  void Dequeue(MHD_Connection *connection, TEntry &entry) {
    const TKey key{entry.WaitingSince, connection};
    Line.Of(entry).erase(key);
    Clients[entry.Client].Line.Of(entry).erase(key);
  }

  void Close(MHD_Connection *connection) {
    TEntry &entry = All.at(connection);
    if (entry.Waiting) Dequeue(connection, entry);
    entry.Closing = true;
    Uncount(entry);
    ::shutdown(entry.Fd, SHUT_RDWR);
  }

  void Uncount(const TEntry &entry) {
    --Counted;
    const auto found = Clients.find(entry.Client);
    if (--found->second.Count == 0) Clients.erase(found);
  }

  void Opened(MHD_Connection *connection, int fd, std::string client) {
    std::lock_guard lock(Mutex);
    TEntry &entry = All[connection];
    entry = {fd, std::move(client), true, false, false, TSteadyClock::now()};
    ++Counted;
    TClient &owner = Clients[entry.Client];
    ++owner.Count;
    Enqueue(connection, entry);
    // At a limit the new connection itself is the one closed only when it is
    // the only one waiting.
    if (owner.Count > kConnectionsPerAddress) Close(owner.Line.Longest());
    if (Counted > kConnectionsPerPort) Close(Line.Longest());
  }

  void Closed(MHD_Connection *connection) {
    std::lock_guard lock(Mutex);
    const auto found = All.find(connection);
    if (found == All.end()) return;
    if (!found->second.Closing) {
      if (found->second.Waiting) Dequeue(connection, found->second);
      Uncount(found->second);
    }
    All.erase(found);
  }

  void SetWaiting(MHD_Connection *connection, bool waiting) {
    std::lock_guard lock(Mutex);
    const auto found = All.find(connection);
    if (found == All.end() || found->second.Closing) return;
    TEntry &entry = found->second;
    if (entry.Waiting) Dequeue(connection, entry);
    entry.Waiting = waiting;
    entry.Served = entry.Served || !waiting;
    entry.WaitingSince = TSteadyClock::now();
    if (waiting) Enqueue(connection, entry);
  }

  // Closes the connections past the head deadline, then waits until the
  // next one is due, half a second at most; false once stopping.
  bool Sweep() {
    std::unique_lock lock(Mutex);
    if (Stopping) return false;
    const auto now = TSteadyClock::now();
    const auto deadline = std::chrono::seconds(kHeadDeadlineSeconds);
    while (const TKey *first = Line.First()) {
      if (first->first + deadline > now) break;
      Close(first->second);
    }
    const TKey *next = Line.First();
    auto until = now + std::chrono::milliseconds(500);
    if (next) until = std::min(until, next->first + deadline);
    Wake.wait_until(lock, until);
    return !Stopping;
  }
};

TFileDescriptor::~TFileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

TFileDescriptor &TFileDescriptor::operator=(TFileDescriptor &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

std::optional<std::string> THttpRequest::Header(const char *name) const {
  const char *value = MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<std::string> THttpRequest::Query(const char *name) const {
  const char *value = MHD_lookup_connection_value(Connection, MHD_GET_ARGUMENT_KIND, name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<std::string> THttpRequest::Field(std::string_view name) const {
  for (const auto &[key, value] : Form)
    if (key == name) return value;
  return Query(std::string(name).c_str());
}

struct THttpCallbacks {
  static void *OnUri(void *, const char *uri, MHD_Connection *) {
    auto *state = new (std::nothrow) THttpEngine::TRequestState;
    if (state) state->Target = uri;
    return state;
  }

  static void OnCompleted(void *self, MHD_Connection *connection, void **state,
                          MHD_RequestTerminationCode) {
    delete static_cast<THttpEngine::TRequestState *>(*state);
    *state = nullptr;
    static_cast<THttpEngine *>(self)->connections_->SetWaiting(connection, true);
  }

  static void OnConnection(void *self, MHD_Connection *connection, void **,
                           MHD_ConnectionNotificationCode code) {
    THttpEngine::TConnections &connections = *static_cast<THttpEngine *>(self)->connections_;
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) return connections.Closed(connection);
    const MHD_ConnectionInfo *fd =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (fd)
      connections.Opened(connection, fd->connect_fd, ClientGroup(ClientAddressOf(connection)));
  }

  static MHD_Result OnRequest(void *self, MHD_Connection *connection, const char *,
                              const char *method, const char *, const char *upload,
                              std::size_t *uploadSize, void **context) {
    auto *state = static_cast<THttpEngine::TRequestState *>(*context);
    if (!state) return MHD_NO; // out of memory: close
    if (!state->HeadSeen) {
      state->HeadSeen = true;
      static_cast<THttpEngine *>(self)->connections_->SetWaiting(connection, false);
      const char *length =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (length && std::strtoull(length, nullptr, 10) > kMaxDrainedBody)
        return Refuse(connection, 413);
      return MHD_YES;
    }
    if (*uploadSize > 0) {
      state->Received += *uploadSize;
      if (state->Received > kMaxDrainedBody) return MHD_NO;
      if (state->Received <= kMaxRequestBody) state->Body.append(upload, *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    if (state->Received > kMaxRequestBody) return Refuse(connection, 413);
    return static_cast<THttpEngine *>(self)->Answer(connection, method, *state) ? MHD_YES : MHD_NO;
  }
};

THttpEngine::THttpEngine(const std::string &address, int port, THttpHandler handler,
                         THttpErrorLog errorLog)
    : handler_(std::move(handler)), errorLog_(std::move(errorLog)),
      connections_(std::make_unique<TConnections>()), waiting_(std::make_unique<TWaiting>()) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
    throw std::runtime_error("cannot read the address " + address);
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);

  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
  if (found->ai_family == AF_INET6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, static_cast<uint16_t>(port), nullptr, nullptr, &THttpCallbacks::OnRequest, this,
      MHD_OPTION_SOCK_ADDR, found->ai_addr, MHD_OPTION_LISTEN_BACKLOG_SIZE,
      static_cast<unsigned>(kListenBacklog), MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT,
      kConnectionsPerPort + kConnectionHeadroom, MHD_OPTION_THREAD_POOL_SIZE, kPoolThreads,
      MHD_OPTION_URI_LOG_CALLBACK, &THttpCallbacks::OnUri, this, MHD_OPTION_NOTIFY_COMPLETED,
      &THttpCallbacks::OnCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
      &THttpCallbacks::OnConnection, this, MHD_OPTION_END);
  if (!daemon_)
    throw std::runtime_error("cannot listen on " + address + " port " + std::to_string(port));
  const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : 0;
  if (port_ == 0) {
    MHD_stop_daemon(daemon_);
    throw std::runtime_error("cannot learn the port listened on at " + address);
  }
  sweeper_ = std::thread([this] {
    while (connections_->Sweep()) WakeExpired();
  });
}

THttpEngine::~THttpEngine() {
  {
    std::lock_guard lock(connections_->Mutex);
    connections_->Stopping = true;
  }
  connections_->Wake.notify_all();
  sweeper_.join();
  {
    // No connection may stay suspended when the daemon stops; the woken ones
    // are answered (and wait no more) before it closes them.
    std::lock_guard lock(waiting_->Mutex);
    waiting_->Stopping = true;
    for (const auto &[connection, until] : waiting_->Parked) MHD_resume_connection(connection);
    waiting_->Parked.clear();
  }
  MHD_stop_daemon(daemon_);
}

void THttpEngine::WakeWaiting() {
  std::lock_guard lock(waiting_->Mutex);
  ++waiting_->Wakes;
  for (const auto &[connection, until] : waiting_->Parked) MHD_resume_connection(connection);
  waiting_->Parked.clear();
}

void THttpEngine::WakeExpired() {
  const auto now = TSteadyClock::now();
  std::lock_guard lock(waiting_->Mutex);
  std::erase_if(waiting_->Parked, [now](const auto &item) {
    if (item.second > now) return false;
    MHD_resume_connection(item.first);
    return true;
  });
}

bool THttpEngine::Answer(MHD_Connection *connection, const char *method, TRequestState &state) {
  THttpRequest request;
  request.Connection = connection;
  request.Method = method;
  request.Target = state.Target;
  request.Path =
      PercentDecode(std::string_view(request.Target)
                        .substr(0, std::min(request.Target.find('?'), request.Target.size())));
  request.ClientAddress = ClientAddressOf(connection);
  request.Client = ClientGroup(request.ClientAddress);
  request.Woken = std::exchange(state.Parked, false);
  if (!state.Body.empty()) {
    MHD_PostProcessor *reader =
        MHD_create_post_processor(connection, 16 << 10, &CollectField, &request.Form);
    if (reader) {
      MHD_post_process(reader, state.Body.data(), state.Body.size());
      MHD_destroy_post_processor(reader);
    }
  }

  THttpResponse response;
  for (;;) {
    uint64_t wakes = 0;
    {
      std::lock_guard lock(waiting_->Mutex);
      wakes = waiting_->Wakes;
    }
    try {
      handler_(request, response);
    } catch (const std::exception &e) {
      if (errorLog_) errorLog_(request, e.what());
      response = THttpResponse();
      response.Status = 500;
      response.Body = "ERROR";
    }
    if (response.Wait && request.Woken) {
      if (errorLog_) errorLog_(request, "the handler left a woken request waiting");
      response = THttpResponse();
      response.Status = 500;
      response.Body = "ERROR";
    }
    if (!response.Wait) break;
    std::lock_guard lock(waiting_->Mutex);
    if (!waiting_->Stopping && waiting_->Wakes == wakes) {
      MHD_suspend_connection(connection);
      state.Parked = true;
      waiting_->Parked[connection] =
          TSteadyClock::now() + std::chrono::seconds(kLongestWaitSeconds);
      return true;
    }
    // News came while the handler looked: it answers now.
    request.Woken = true;
    response = THttpResponse();
  }
  return Queue(connection, response) == MHD_YES;
}

} // namespace sonabox::server
