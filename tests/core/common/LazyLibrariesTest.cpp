// The network and signature libraries are loaded when they are first used,
// not with the program: until then they are not even mapped.
#include "core/update/UpdateVerifier.h"
#include "core/web/WebStuff.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"

#include <gtest/gtest.h>

#include <QByteArray>

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

std::string FromHex(const char *hex) { return QByteArray::fromHex(hex).toStdString(); }

// One process, in this order: libcurl brings libcrypto with it.
TEST(LazyLibraries, EachIsLoadedByItsFirstUse) {
  test::TestFolders folders;

  // The first Ed25519 check, with the first test vector of RFC 8032 (the
  // empty message), loads libcrypto.
  const std::string key = "-----BEGIN PUBLIC KEY-----\n"
                          "MCowBQYDK2VwAyEA11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=\n"
                          "-----END PUBLIC KEY-----\n";
  std::string signature =
      FromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e"
              "39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
  ASSERT_FALSE(Mapped("libcrypto.so"));
  EXPECT_TRUE(VerifyEd25519(key, "", signature));
  EXPECT_TRUE(Mapped("libcrypto.so"));
  signature[10] ^= 1;
  EXPECT_FALSE(VerifyEd25519(key, "", signature));
  EXPECT_FALSE(VerifyEd25519(key, "a", FromHex(std::string(128, '0').c_str())));

  // A web client that has not asked for anything has not loaded libcurl; its
  // first request does (here refused: nothing listens).
  ASSERT_FALSE(Mapped("libcurl.so"));
  TWebStuff web;
  EXPECT_FALSE(Mapped("libcurl.so"));
  EXPECT_EQ(web.GetText("http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/"), "ERROR");
  EXPECT_TRUE(Mapped("libcurl.so"));
}

} // namespace
} // namespace sonabox
