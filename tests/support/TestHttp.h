#pragma once
// A real HTTP server on 127.0.0.1 for one test (an ephemeral port, answers
// without Nagle delays).
#include <httplib.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

namespace sonabox::test {

class TestHttpServer {
public:
  // Routes are added by `routes` before the server starts listening.
  explicit TestHttpServer(const std::function<void(httplib::Server &)> &routes) {
    std::signal(SIGPIPE, SIG_IGN); // a client that hangs up must not end the test
    server_.set_tcp_nodelay(true);
    routes(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TestHttpServer() {
    server_.stop();
    thread_.join();
  }
  TestHttpServer(const TestHttpServer &) = delete;
  TestHttpServer &operator=(const TestHttpServer &) = delete;

  int Port() const { return port_; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string &path) const { return "http://" + Host() + path; }

private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

} // namespace sonabox::test
