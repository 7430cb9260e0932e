#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace sonabox::test {

// A port on 127.0.0.1 where nothing listens: the system picks it for a socket
// that is closed again at once.
inline int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// A listening socket on 127.0.0.1 that nobody accepts from: the kernel
// completes a client's connection and its request is never answered, so a
// player or a service client given this address neither succeeds nor fails
// until the host is closed.
struct SilentHost {
  SilentHost() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
      return;
    port = ntohs(address.sin_port);
  }
  ~SilentHost() { Close(); }
  // Resets every connection it holds.
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  SilentHost(const SilentHost &) = delete;
  SilentHost &operator=(const SilentHost &) = delete;
  int fd = -1, port = 0;
};

} // namespace sonabox::test
