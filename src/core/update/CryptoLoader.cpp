// libcrypto is loaded when an update installer's signature is first checked,
// not when the program starts: the library is large, and its loading would
// otherwise come before the main window could be shown in every run, for a
// check that most runs never make.
//
// The functions below stand in for the libcrypto functions that the signature
// check calls. Without the library, no key can be read, so no installer is
// ever taken for signed.
// A libcrypto function newly used by the program needs its line here.
#include "core/common/LazyLibrary.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {
void *CryptoLibrary() {
  static void *const handle = sonabox::OpenLibrary("libcrypto.so.3");
  return handle;
}
} // namespace

SONABOX_FORWARD(CryptoLibrary, BIO *, BIO_new_mem_buf, (const void *data, int length),
                (data, length), nullptr)
SONABOX_FORWARD(CryptoLibrary, int, BIO_free, (BIO * bio), (bio), 0)
SONABOX_FORWARD(CryptoLibrary, EVP_PKEY *, PEM_read_bio_PUBKEY,
                (BIO * bio, EVP_PKEY **key, pem_password_cb *callback, void *user),
                (bio, key, callback, user), nullptr)
SONABOX_FORWARD(CryptoLibrary, int, EVP_PKEY_get_id, (const EVP_PKEY *key), (key), EVP_PKEY_NONE)
SONABOX_FORWARD_VOID(CryptoLibrary, EVP_PKEY_free, (EVP_PKEY * key), (key))
SONABOX_FORWARD(CryptoLibrary, EVP_MD_CTX *, EVP_MD_CTX_new, (void), (), nullptr)
SONABOX_FORWARD_VOID(CryptoLibrary, EVP_MD_CTX_free, (EVP_MD_CTX * context), (context))
SONABOX_FORWARD(CryptoLibrary, int, EVP_DigestVerifyInit,
                (EVP_MD_CTX * context, EVP_PKEY_CTX **keyContext, const EVP_MD *digest,
                 ENGINE *engine, EVP_PKEY *key),
                (context, keyContext, digest, engine, key), 0)
SONABOX_FORWARD(CryptoLibrary, int, EVP_DigestVerify,
                (EVP_MD_CTX * context, const unsigned char *signature, size_t signatureLength,
                 const unsigned char *message, size_t messageLength),
                (context, signature, signatureLength, message, messageLength), -1)
