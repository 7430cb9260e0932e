#pragma once
// The share service: checking a posted share, storing it under a new share
// code, answering a fetch, and the notification written for the recipient.
#include "Database.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sonabox::server {

// A share as posted, with the base64 fields decoded.
struct TShare {
  std::string Hash;
  std::string Token;
  std::string Receipt;
  std::string Payload;
  std::string Note;
  std::string ToName;
  std::string ToEmail;
  std::string FromName;
  std::string FromEmail;
  std::string Title;
};

enum class TShareVerdict {
  Accepted,
  Malformed,   // a field missing, or not in its form (hex digests, base64)
  TooLong,     // a field over its limit
  HashMismatch // the request hash does not belong to the fields
};

struct TShareReading {
  TShareVerdict Verdict = TShareVerdict::Malformed;
  std::string Reason; // for the log
  TShare Share;
};

// Reads and checks the ten fields of a share post; `field` gives a field's
// value by name, or nothing when it was not posted. The token is twenty
// hexadecimal digits (it digests the sender's clock, which the service cannot
// know); the request hash must be the three digests recomputed from the token
// and the fields.
TShareReading ReadShare(const std::function<std::optional<std::string>(std::string_view)> &field);

// The 120-digit request hash of a share: SHA-1 hex of token, payload, both
// addresses and "QWWQ"; of token, both names and "GHHG"; of token, title, note
// and "UYYU".
std::string ShareRequestHash(const TShare &share);

// Whether the text is standard base64 with "=" only as the final padding.
bool IsStrictBase64(std::string_view text);

// Ten characters drawn by OpenSSL's generator from the 32 letters and digits
// that cannot be mistaken for each other: 2-9 and A-Z without I and O.
// Codes are read without regard to case, so no lower-case l arises.
std::string NewShareCode();

// The answer to a fetch, before base64: the title line, the note line (line
// breaks inside either become blanks, so that the lines stay apart), then the
// entries exactly as posted.
std::string ShareAnswerText(const TShare &share);

// Writes the recipient's notification as an e-mail file into `outbox`
// (created when missing) and returns its path.
std::filesystem::path WriteShareMail(const std::filesystem::path &outbox, const TShare &share,
                                     std::string_view code);

class TShareStore {
public:
  explicit TShareStore(TDatabase &database); // creates the table when missing

  // Stores the share and returns its new, unique code.
  std::string Store(const TShare &share);

  // The share behind a code; blanks around it and letter case do not matter.
  std::optional<TShare> Find(std::string_view code);

private:
  TDatabase &database_;
};

} // namespace sonabox::server
