#pragma once
// A real HTTP server on 127.0.0.1 for one test (an ephemeral port, answers
// without Nagle delays), and a wait that keeps the Qt event loop turning.
#include <httplib.h>

#include <QCoreApplication>

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

// Turns the event loop until `done` holds or `limit` has passed; returns `done`.
inline bool WaitUntil(const std::function<bool()> &done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

} // namespace sonabox::test
