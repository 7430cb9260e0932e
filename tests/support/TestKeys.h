#pragma once
// Ed25519 key pairs made by the test with OpenSSL, and signatures by them, so
// that tests never need a private key from the repository.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sonabox::test {

struct TKeyPair {
  std::string PrivatePem; // "BEGIN PRIVATE KEY" (PKCS#8)
  std::string PublicPem;  // "BEGIN PUBLIC KEY"
};

namespace keys_detail {
inline std::string BioText(BIO *bio) {
  char *data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(size));
}
} // namespace keys_detail

// A new key pair of the given type ("ED25519", or "EC" / "RSA" for keys of
// another kind).
inline TKeyPair MakeKeyPair(const char *type = "ED25519") {
  EVP_PKEY *key =
      std::string_view(type) == "EC"    ? EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")
      : std::string_view(type) == "RSA" ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048})
                                        : EVP_PKEY_Q_keygen(nullptr, nullptr, type);
  if (!key) throw std::runtime_error("key generation failed");
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> owner(key, &EVP_PKEY_free);
  std::unique_ptr<BIO, decltype(&BIO_free)> priv(BIO_new(BIO_s_mem()), &BIO_free);
  std::unique_ptr<BIO, decltype(&BIO_free)> pub(BIO_new(BIO_s_mem()), &BIO_free);
  if (PEM_write_bio_PrivateKey(priv.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(pub.get(), key) != 1)
    throw std::runtime_error("key export failed");
  return {keys_detail::BioText(priv.get()), keys_detail::BioText(pub.get())};
}

// The raw 64-byte Ed25519 signature of `message`.
inline std::string SignEd25519(const std::string &privatePem, std::string_view message) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())), &BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  std::size_t size = 64;
  std::string signature(size, '\0');
  if (!key || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                     reinterpret_cast<const unsigned char *>(message.data()), message.size()) != 1)
    throw std::runtime_error("signing failed");
  signature.resize(size);
  return signature;
}

} // namespace sonabox::test
