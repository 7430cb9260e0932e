// The network and signature libraries are loaded when they are first used,
// not with the program: until then they are not even mapped.
#include "support/TestFolders.h"
#include "update/UpdateVerifier.h"
#include "web/WebStuff.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace sonabox {
namespace {

bool Mapped(const std::string &library) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find(library) != std::string::npos) return true;
  return false;
}

// A port on 127.0.0.1 where nothing listens.
int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string FromHex(const std::string &hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// One process, in this order: libcurl brings libcrypto with it.
TEST(LazyLibraries, EachIsLoadedByItsFirstUse) {
  test::TestFolders folders;

  // The first Ed25519 check, with the first test vector of RFC 8032 (the
  // empty message), loads libcrypto.
  const std::string key = "-----BEGIN PUBLIC KEY-----\n"
                          "MCowBQYDK2VwAyEA11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=\n"
                          "-----END PUBLIC KEY-----\n";
  std::string signature = FromHex(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e"
      "39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
  ASSERT_FALSE(Mapped("libcrypto.so"));
  EXPECT_TRUE(VerifyEd25519(key, "", signature));
  EXPECT_TRUE(Mapped("libcrypto.so"));
  signature[10] ^= 1;
  EXPECT_FALSE(VerifyEd25519(key, "", signature));
  EXPECT_FALSE(VerifyEd25519(key, "a", FromHex(std::string(128, '0'))));

  // A web client that has not asked for anything has not loaded libcurl; its
  // first request does (here refused: nothing listens).
  ASSERT_FALSE(Mapped("libcurl.so"));
  TWebStuff web;
  EXPECT_FALSE(Mapped("libcurl.so"));
  EXPECT_EQ(web.GetText("http://127.0.0.1:" + std::to_string(UnusedPort()) + "/"), "ERROR");
  EXPECT_TRUE(Mapped("libcurl.so"));
}

} // namespace
} // namespace sonabox
