#include "core/update/UpdateVerifier.h"

#include "core/common/TextHelpers.h"
#include "core/update/UpdatePublicKey.h" // generated at build time from the configured key file

#include <QCryptographicHash>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>

namespace sonabox {

namespace {

constexpr std::size_t kDigestHexLength = 64;
constexpr std::size_t kSignatureLength = 64;

bool IsLowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

struct TFreeKey {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct TFreeBio {
  void operator()(BIO *bio) const { BIO_free(bio); }
};
struct TFreeDigestContext {
  void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

bool ParseUpdateSignature(std::string_view line, TUpdateSignature &out) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view hex = line.substr(0, space);
  const std::string_view base64 = line.substr(space + 1);
  if (hex.size() != kDigestHexLength || !IsLowerHex(hex)) return false;
  // Base64Decode skips what it cannot read; only a text that encodes back to
  // itself is taken as the signature.
  std::string signature = Base64Decode(base64);
  if (signature.size() != kSignatureLength || Base64Encode(signature) != base64) return false;
  out.Sha256Hex = std::string(hex);
  out.Signature = std::move(signature);
  return true;
}

std::string Sha256FileHex(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::array<char, 64 * 1024> buffer;
  while (in) {
    in.read(buffer.data(), buffer.size());
    hash.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(in.gcount())));
  }
  if (in.bad()) return {};
  return hash.result().toHex().toStdString();
}

bool VerifyEd25519(const std::string &publicKeyPem, std::string_view message,
                   std::string_view signature) {
  std::unique_ptr<BIO, TFreeBio> bio(
      BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())));
  if (!bio) return false;
  std::unique_ptr<EVP_PKEY, TFreeKey> key(
      PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) return false;
  std::unique_ptr<EVP_MD_CTX, TFreeDigestContext> context(EVP_MD_CTX_new());
  // Ed25519 verifies the message itself in one pass: no digest is named.
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
    return false;
  return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char *>(message.data()),
                          message.size()) == 1;
}

bool VerifyInstaller(const std::string &publicKeyPem, const std::string &build,
                     const std::string &signatureLine, const std::string &installerPath) {
  TUpdateSignature parts;
  if (!ParseUpdateSignature(signatureLine, parts)) return false;
  if (!VerifyEd25519(publicKeyPem, build + " " + parts.Sha256Hex, parts.Signature)) return false;
  return Sha256FileHex(installerPath) == parts.Sha256Hex;
}

const std::string &BuiltInUpdatePublicKey() {
  static const std::string key(kUpdatePublicKeyPem);
  return key;
}

} // namespace sonabox
