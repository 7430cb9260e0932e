#include "Updates.h"

#include "core/common/TextHelpers.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace sonabox::server {

namespace fs = std::filesystem;

std::string Sha256FileHex(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available");
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0)
      EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error("cannot read " + file.string());
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned size = 0;
  EVP_DigestFinal_ex(context.get(), digest.data(), &size);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

TUpdateSigner::TUpdateSigner(const fs::path &keyFile) {
  std::FILE *file = std::fopen(keyFile.c_str(), "rb");
  if (!file) throw std::runtime_error("cannot read the update key " + keyFile.string());
  key_ = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (!key_)
    throw std::runtime_error("the update key " + keyFile.string() + " holds no private key");
  if (EVP_PKEY_get_id(key_) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(key_);
    throw std::runtime_error("the update key " + keyFile.string() + " is not an Ed25519 key");
  }
}

TUpdateSigner::~TUpdateSigner() { EVP_PKEY_free(key_); }

std::string TUpdateSigner::Sign(std::string_view message) const {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  // Ed25519 signs the message itself: no digest is named.
  std::size_t size = 0;
  const auto *bytes = reinterpret_cast<const unsigned char *>(message.data());
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size, bytes, message.size()) != 1)
    throw std::runtime_error("signing failed");
  std::string signature(size, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                     bytes, message.size()) != 1)
    throw std::runtime_error("signing failed");
  signature.resize(size);
  return Base64Encode(signature);
}

TUpdateInfo::TUpdateInfo(int64_t latestBuild, fs::path installer,
                         std::unique_ptr<TUpdateSigner> signer)
    : latestBuild_(latestBuild), installer_(std::move(installer)), signer_(std::move(signer)) {}

std::string TUpdateInfo::Missing() const {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(installer_, error)))
    return "no installer at " + installer_.string();
  if (!signer_) return "no update key (--update-key)";
  return {};
}

std::string TUpdateInfo::Answer() {
  std::error_code error;
  const auto status = fs::symlink_status(installer_, error);
  if (error || !fs::is_regular_file(status)) return "0\r\nno installer\r\n";
  if (!signer_) return "0\r\nno update key\r\n";
  const std::string build = std::to_string(latestBuild_);
  const int64_t size = static_cast<int64_t>(fs::file_size(installer_, error));
  const int64_t time = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           fs::last_write_time(installer_, error).time_since_epoch())
                           .count();
  if (error) return "0\r\nno installer\r\n";
  std::lock_guard lock(mutex_);
  if (size != digestSize_ || time != digestTime_) {
    const std::string hex = Sha256FileHex(installer_);
    digestLine_ = hex + " " + signer_->Sign(build + " " + hex);
    digestSize_ = size;
    digestTime_ = time;
  }
  return build + "\r\n" + digestLine_ + "\r\n";
}

} // namespace sonabox::server
