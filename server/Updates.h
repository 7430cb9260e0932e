#pragma once
// The update service's answer: the newest build, and the installer's SHA-256
// with an Ed25519 signature over "BUILD SHA256HEX".
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace sonabox::server {

// The SHA-256 of a file's bytes in lower-case hexadecimal; throws
// std::runtime_error when the file cannot be read.
std::string Sha256FileHex(const std::filesystem::path &file);

// An Ed25519 private key read from a PEM file.
class TUpdateSigner {
public:
  // Throws std::runtime_error when the file cannot be read or holds no Ed25519 key.
  explicit TUpdateSigner(const std::filesystem::path &keyFile);
  ~TUpdateSigner();
  TUpdateSigner(const TUpdateSigner &) = delete;
  TUpdateSigner &operator=(const TUpdateSigner &) = delete;

  // The signature of the bytes, in base64.
  std::string Sign(std::string_view message) const;

private:
  EVP_PKEY *key_ = nullptr;
};

class TUpdateInfo {
public:
  // `signer` may be empty: then no installer is offered.
  TUpdateInfo(int64_t latestBuild, std::filesystem::path installer,
              std::unique_ptr<TUpdateSigner> signer);

  // Two lines. When the installer and the key are there: the newest build,
  // then "SHA256HEX SIGNATURE". Otherwise build "0", which no program takes
  // for an update it could not fetch, then what is missing ("no installer",
  // "no update key"). The digest is computed again only when the installer's
  // size or time changed.
  std::string Answer();

  // Why no update can be delivered now, for the log; empty when one can.
  std::string Missing() const;

private:
  int64_t latestBuild_;
  std::filesystem::path installer_;
  std::unique_ptr<TUpdateSigner> signer_;
  std::mutex mutex_;
  int64_t digestSize_ = -1;
  int64_t digestTime_ = 0;
  std::string digestLine_;
};

} // namespace sonabox::server
