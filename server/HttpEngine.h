#pragma once
// The HTTP layer of sonabox-server: one listening port served by libmicrohttpd
// from its own polling threads (epoll, a small pool). Request heads are held
// in a bounded memory pool per connection (a larger head is answered 431 or
// the connection closed), request bodies above kMaxRequestBody are answered
// 413 (and the connection closed when the body is far larger), connections
// silent for kConnectionTimeoutSeconds are closed, and so is a connection
// whose request head is not whole kHeadDeadlineSeconds after it opened or
// after its previous answer, however it trickles. Connections are limited per
// port and per client address (an IPv6 /64 counts as one address): at either
// limit the connection that has waited longest for a request head is closed
// to make room (a client between two requests gets a second's grace first),
// so a crowd of idle or trickling sockets never shuts out a new client; only
// when every other connection is busy with a request is the new one closed.
// A slow or silent client holds a socket, never a thread. The handler runs on
// a pool thread, one request at a time per thread; an exception it raises is
// answered 500.
//
// A handler may also let a request wait for news (long polling): its
// connection is then suspended, costing no thread and no CPU, until
// WakeWaiting is called or kLongestWaitSeconds pass, and the handler is
// called again to answer it. A waiting request counts against the
// connection limits like any busy one.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace sonabox::server {

// Request bodies above this are refused.
inline constexpr std::size_t kMaxRequestBody = 1 << 20;
// A body declared or sent beyond this is not even read: 413, then the
// connection closes. Between the two it is read and dropped, so that a client
// that writes its whole body before reading still sees the 413.
inline constexpr std::size_t kMaxDrainedBody = 16 << 20;
// Memory for one connection's request head and buffers. No more than 32 KiB,
// which libmicrohttpd takes from the heap: a larger pool is mapped and
// unmapped for each connection, and each unmapping locks the process's
// memory map and interrupts the other processors, stalls that a crowd of
// short-lived connections turns into waits for the clients being served.
inline constexpr std::size_t kConnectionMemory = 32 << 10;
inline constexpr unsigned kConnectionTimeoutSeconds = 15;
inline constexpr unsigned kHeadDeadlineSeconds = 10;
inline constexpr unsigned kConnectionsPerPort = 1000;
inline constexpr unsigned kConnectionsPerAddress = 128;
inline constexpr unsigned kPoolThreads = 4;
inline constexpr int kListenBacklog = 511;
// A request left waiting is answered after this at the latest, before
// proxies and browsers give up on it.
inline constexpr unsigned kLongestWaitSeconds = 25;

class THttpRequest {
public:
  std::string Method;
  std::string Target;        // as sent: path and query, nothing decoded
  std::string Path;          // the path, percent-decoded ("+" stays)
  std::string ClientAddress; // numeric; an IPv4 address mapped into IPv6 as plain IPv4
  std::string Client;        // ClientGroup of the address: whom limits count
  bool Woken = false;        // the request waited: it must be answered now

  // A request header (first of its name, any case), or nothing.
  std::optional<std::string> Header(const char *name) const;
  // A query parameter (decoded), or nothing.
  std::optional<std::string> Query(const char *name) const;
  // A form field of a POST body (multipart or URL-encoded), else a query
  // parameter of that name; the first of several wins.
  std::optional<std::string> Field(std::string_view name) const;

  MHD_Connection *Connection = nullptr;
  std::vector<std::pair<std::string, std::string>> Form;
};

// A file descriptor owned until it is handed to the HTTP layer.
class TFileDescriptor {
public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor();
  TFileDescriptor(TFileDescriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFileDescriptor &operator=(TFileDescriptor &&other) noexcept;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

private:
  int fd_ = -1;
};

struct THttpResponse {
  int Status = 200;
  std::string ContentType = "text/plain";
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Headers;
  // When open, the answer is FileLength bytes of this file from FileOffset,
  // sent from the descriptor (Body is ignored).
  TFileDescriptor File;
  uint64_t FileOffset = 0;
  uint64_t FileLength = 0;
  // Set by a handler: nothing is answered yet, the request waits for news
  // (never set when the request was Woken).
  bool Wait = false;

  void SetContent(std::string body, std::string contentType) {
    Body = std::move(body);
    ContentType = std::move(contentType);
  }
  // The length of the body sent, for the log.
  uint64_t Length() const { return File.Get() >= 0 ? FileLength : Body.size(); }
};

// The client that a numeric address belongs to, for the limits per client: an
// IPv4 address itself, an IPv6 address's /64 (one host's or one household's
// network) as "PREFIX::/64", an IPv4 address mapped into IPv6 as IPv4. Text
// that is no address stays as it is.
std::string ClientGroup(const std::string &address);

using THttpHandler = std::function<void(const THttpRequest &, THttpResponse &)>;
using THttpErrorLog = std::function<void(const THttpRequest &, const std::string &what)>;

class THttpEngine {
public:
  // Listens on `address` (a numeric IPv4 or IPv6 address, or a host name),
  // `port` 0 for any free port, and serves until destroyed. Throws
  // std::runtime_error when the address cannot be read or bound.
  THttpEngine(const std::string &address, int port, THttpHandler handler, THttpErrorLog errorLog);
  ~THttpEngine();
  THttpEngine(const THttpEngine &) = delete;
  THttpEngine &operator=(const THttpEngine &) = delete;

  int Port() const { return port_; }

  // Every waiting request is handled again, at once. Safe from any thread.
  void WakeWaiting();

private:
  friend struct THttpCallbacks;
  struct TRequestState;
  struct TConnections;
  struct TWaiting;

  // Runs the handler on a complete request and queues its answer or leaves
  // it waiting; false when the answer could not be queued (the connection is
  // then closed).
  bool Answer(MHD_Connection *connection, const char *method, TRequestState &state);
  // Wakes the requests that have waited kLongestWaitSeconds.
  void WakeExpired();

  THttpHandler handler_;
  THttpErrorLog errorLog_;
  std::unique_ptr<TConnections> connections_;
  std::unique_ptr<TWaiting> waiting_;
  std::thread sweeper_; // closes connections past the head deadline
  MHD_Daemon *daemon_ = nullptr;
  int port_ = 0;
};

} // namespace sonabox::server
