#pragma once
// Checks a downloaded installer before it is started. The update answer's
// second line carries the installer's SHA-256 (64 lowercase hexadecimal
// digits), one space, and an Ed25519 signature in base64 over the ASCII text
// "BUILD SHA256HEX": the build announced on the first line, one space, the
// digest. Only an installer whose bytes have that digest and whose line is
// signed by the trusted key for that very build may run.
#include <string>
#include <string_view>

namespace sonabox {

// The parts of the answer's second line.
struct TUpdateSignature {
  std::string Sha256Hex; // 64 lowercase hexadecimal digits
  std::string Signature; // the 64 raw bytes of the Ed25519 signature
};

// Reads "SHA256HEX BASE64SIGNATURE". False when the line has another form:
// no signature, a digest that is not 64 lowercase hexadecimal digits, or a
// signature that is not canonical base64 of 64 bytes.
bool ParseUpdateSignature(std::string_view line, TUpdateSignature &out);

// The SHA-256 of a file's bytes in lowercase hexadecimal; empty when the file
// cannot be read.
std::string Sha256FileHex(const std::string &path);

// True when `signature` is a valid Ed25519 signature of `message` by the public
// key in `publicKeyPem` (a "BEGIN PUBLIC KEY" PEM). Any other kind of key, or
// text that holds no key, verifies nothing.
bool VerifyEd25519(const std::string &publicKeyPem, std::string_view message,
                   std::string_view signature);

// The whole check of a downloaded installer against the update answer: the
// build of its first line, its second line, and the trusted public key.
bool VerifyInstaller(const std::string &publicKeyPem, const std::string &build,
                     const std::string &signatureLine, const std::string &installerPath);

// The public key the program trusts, built in when the program is built (PEM).
const std::string &BuiltInUpdatePublicKey();

} // namespace sonabox
