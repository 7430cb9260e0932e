#include "HttpEngine.h"

#include "Feed.h"

#include <microhttpd.h>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace sonabox::server {

namespace {

// What one request collects between the calls of the access handler.
struct TRequestState {
  std::string Target;
  bool HeadSeen = false;
  std::size_t Received = 0;
  std::string Body;
};

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

} // namespace

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
    auto *state = new (std::nothrow) TRequestState;
    if (state) state->Target = uri;
    return state;
  }

  static void OnCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
    delete static_cast<TRequestState *>(*state);
    *state = nullptr;
  }

  static MHD_Result OnRequest(void *self, MHD_Connection *connection, const char *,
                              const char *method, const char *, const char *upload,
                              std::size_t *uploadSize, void **context) {
    auto *state = static_cast<TRequestState *>(*context);
    if (!state) return MHD_NO; // out of memory: close
    if (!state->HeadSeen) {
      state->HeadSeen = true;
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
    return static_cast<THttpEngine *>(self)->Answer(connection, method, std::move(state->Target),
                                                    std::move(state->Body))
               ? MHD_YES
               : MHD_NO;
  }
};

THttpEngine::THttpEngine(const std::string &address, int port, THttpHandler handler,
                         THttpErrorLog errorLog)
    : handler_(std::move(handler)), errorLog_(std::move(errorLog)) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
    throw std::runtime_error("cannot read the address " + address);
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);

  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO;
  if (found->ai_family == AF_INET6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, static_cast<uint16_t>(port), nullptr, nullptr, &THttpCallbacks::OnRequest, this,
      MHD_OPTION_SOCK_ADDR, found->ai_addr, MHD_OPTION_LISTEN_BACKLOG_SIZE,
      static_cast<unsigned>(kListenBacklog), MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT,
      kConnectionsPerPort, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
      MHD_OPTION_THREAD_POOL_SIZE, kPoolThreads, MHD_OPTION_URI_LOG_CALLBACK,
      &THttpCallbacks::OnUri, this, MHD_OPTION_NOTIFY_COMPLETED, &THttpCallbacks::OnCompleted, this,
      MHD_OPTION_END);
  if (!daemon_)
    throw std::runtime_error("cannot listen on " + address + " port " + std::to_string(port));
  const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : 0;
  if (port_ == 0) {
    MHD_stop_daemon(daemon_);
    throw std::runtime_error("cannot learn the port listened on at " + address);
  }
}

THttpEngine::~THttpEngine() { MHD_stop_daemon(daemon_); }

bool THttpEngine::Answer(MHD_Connection *connection, const char *method, std::string target,
                         std::string body) {
  THttpRequest request;
  request.Connection = connection;
  request.Method = method;
  request.Target = std::move(target);
  request.Path =
      PercentDecode(std::string_view(request.Target)
                        .substr(0, std::min(request.Target.find('?'), request.Target.size())));
  const MHD_ConnectionInfo *client =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  request.ClientAddress = NumericAddress(client ? client->client_addr : nullptr);
  if (!body.empty()) {
    MHD_PostProcessor *reader =
        MHD_create_post_processor(connection, 16 << 10, &CollectField, &request.Form);
    if (reader) {
      MHD_post_process(reader, body.data(), body.size());
      MHD_destroy_post_processor(reader);
    }
  }

  THttpResponse response;
  try {
    handler_(request, response);
  } catch (const std::exception &e) {
    if (errorLog_) errorLog_(request, e.what());
    response = THttpResponse();
    response.Status = 500;
    response.Body = "ERROR";
  }
  return Queue(connection, response) == MHD_YES;
}

} // namespace sonabox::server
