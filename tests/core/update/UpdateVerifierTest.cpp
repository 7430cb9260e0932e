// The check that stands between a downloaded installer and its start.
#include "core/update/UpdateVerifier.h"

#include "core/common/TextHelpers.h"
#include "support/TestFolders.h"
#include "support/TestKeys.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/pem.h>

using namespace sonabox;

namespace {

const std::string kInstaller = "#!/bin/sh\necho installed\n";

class UpdateVerifierTest : public ::testing::Test {
protected:
  void SetUp() override {
    installer = folders.Root() + "Sonabox.run";
    test::WriteFileBytes(installer, kInstaller);
    hex = Sha256FileHex(installer);
  }
  // The second line as the update service writes it.
  std::string Line(const test::TKeyPair &by, const std::string &build, const std::string &digest) {
    return digest + " " + Base64Encode(test::SignEd25519(by.PrivatePem, build + " " + digest));
  }

  test::TestFolders folders;
  test::TKeyPair trusted = test::MakeKeyPair();
  test::TKeyPair other = test::MakeKeyPair();
  std::string installer, hex;
};

} // namespace

TEST_F(UpdateVerifierTest, DigestOfTheInstallersBytes) {
  // As sha256sum gives it.
  EXPECT_EQ(hex, "b71a5886df504d489c60289ab32076e8b66c35a9272f5309142edc19443c8068");
  EXPECT_EQ(Sha256FileHex(folders.Root() + "missing"), "");
  test::WriteFileBytes(folders.Root() + "empty", "");
  EXPECT_EQ(Sha256FileHex(folders.Root() + "empty"),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  test::WriteFileBytes(folders.Root() + "abc", "abc");
  EXPECT_EQ(Sha256FileHex(folders.Root() + "abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(UpdateVerifierTest, OnlyAnInstallerSignedForTheAnnouncedBuildPasses) {
  std::string changed = kInstaller;
  changed[3] ^= 1;
  const std::string changedHex = [&] {
    test::WriteFileBytes(folders.Root() + "changed", changed);
    return Sha256FileHex(folders.Root() + "changed");
  }();
  const std::string good = Line(trusted, "41", hex);
  std::string upper = good;
  for (std::size_t i = 0; i < 64; ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));

  const struct {
    const char *what;
    std::string build, line;
    bool passes;
  } cases[] = {
      {"signed by the trusted key for this build", "41", good, true},
      {"signed for another build", "42", good, false},
      {"signed by another key", "41", Line(other, "41", hex), false},
      {"the signed digest of other bytes", "41", Line(trusted, "41", changedHex), false},
      {"no signature at all", "41", "no update key", false},
      {"a digest without a signature", "41", hex, false},
      {"an empty line", "41", "", false},
      {"the digest in capitals", "41", upper, false},
      {"a cut signature", "41", good.substr(0, good.size() - 4), false},
      {"a signature with text after it", "41", good + " x", false},
      {"two blanks between digest and signature", "41", hex + "  " + good.substr(65), false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(VerifyInstaller(trusted.PublicPem, c.build, c.line, installer), c.passes) << c.what;

  // A changed byte in the installer itself.
  test::WriteFileBytes(installer, changed);
  EXPECT_FALSE(VerifyInstaller(trusted.PublicPem, "41", good, installer));
  // No installer.
  EXPECT_FALSE(VerifyInstaller(trusted.PublicPem, "41", good, folders.Root() + "missing"));
}

TEST_F(UpdateVerifierTest, KeysThatAreNoEd25519PublicKeyVerifyNothing) {
  const std::string message = "41 " + hex;
  const std::string signature = test::SignEd25519(trusted.PrivatePem, message);
  ASSERT_TRUE(VerifyEd25519(trusted.PublicPem, message, signature));
  const struct {
    const char *what;
    std::string pem;
  } cases[] = {
      {"no text", ""},
      {"the private key", trusted.PrivatePem},
      {"an EC key", test::MakeKeyPair("EC").PublicPem},
      {"a damaged key", trusted.PublicPem.substr(0, 40) + "AAAA" + trusted.PublicPem.substr(44)},
  };
  for (const auto &c : cases) EXPECT_FALSE(VerifyEd25519(c.pem, message, signature)) << c.what;
}

TEST(BuiltInUpdateKey, IsAnEd25519PublicKey) {
  const std::string &pem = BuiltInUpdatePublicKey();
  BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY *key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  ASSERT_NE(key, nullptr) << pem;
  EXPECT_EQ(EVP_PKEY_get_id(key), EVP_PKEY_ED25519);
  EVP_PKEY_free(key);
  BIO_free(bio);
}
