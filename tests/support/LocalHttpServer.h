#pragma once
// A real HTTP server on 127.0.0.1 for the tests of the web client and its
// users: cpp-httplib on a thread, on a port the system picks, TCP_NODELAY on.
// Register the handlers on Http(), then Start(); the destructor stops it.
#include "support/UnusedPort.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sonabox::test {

class LocalHttpServer {
public:
  LocalHttpServer() {
    server_.set_tcp_nodelay(true);
    server_.set_payload_max_length(std::size_t{1} << 20);
  }
  ~LocalHttpServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  LocalHttpServer(const LocalHttpServer &) = delete;
  LocalHttpServer &operator=(const LocalHttpServer &) = delete;

  httplib::Server &Http() { return server_; }

  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("no port for the test server");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server_.is_running()) {
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("the test server did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  int Port() const { return port_; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string &path) const { return "http://" + Host() + path; }

private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// The fields of a multipart form post, in the order they were sent. For a
// handler registered with a content reader:
//   server.Http().Post(path, [](const Request &, Response &, const ContentReader &read) {...})
using FormFields = std::vector<std::pair<std::string, std::string>>;
inline FormFields ReadFormFields(const httplib::ContentReader &read) {
  FormFields fields;
  read(
      [&fields](const httplib::MultipartFormData &part) {
        fields.emplace_back(part.name, std::string());
        return true;
      },
      [&fields](const char *data, std::size_t size) {
        if (fields.empty()) return false;
        fields.back().second.append(data, size);
        return true;
      });
  return fields;
}

} // namespace sonabox::test
