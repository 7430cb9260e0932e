#pragma once
// The share service: checking a posted share, storing it under a new share
// code and answering a fetch.
#include "Database.h"

#include <cstdint>
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

// The text with its line breaks turned into blanks.
std::string OneLine(std::string_view text);

// The answer to a fetch, before base64: the title line, the note line (line
// breaks inside either become blanks, so that the lines stay apart), then the
// entries exactly as posted.
std::string ShareAnswerText(const TShare &share);

// How many shares are kept, and for how long.
struct TShareLimits {
  int64_t Days = 90;          // a share older than this is gone
  int64_t PerClientHour = 20; // stored from one client within an hour
  int64_t Total = 2000;       // stored in all
};

enum class TStoreVerdict {
  Stored,
  ClientQuota, // the client stored its hour's shares already
  StoreFull    // the store is full and the client holds as many shares as anyone
};

struct TStoreResult {
  TStoreVerdict Verdict = TStoreVerdict::Stored;
  std::string Code;          // the new code, when stored
  std::string Displaced;     // the client whose oldest share made room, if one did
  std::string DisplacedCode; // and that share's code
  int64_t RetryAfter = 0;    // when refused: seconds until trying again makes sense
};

// Seconds since the epoch.
using TClock = std::function<int64_t()>;
int64_t SystemSeconds();

class TShareStore {
public:
  // Creates the table when missing (and adds the client column to a table of
  // an older server). Ages are told by `clock`.
  TShareStore(TDatabase &database, TShareLimits limits, TClock clock = SystemSeconds);

  // Stores the share under a new, unique code, unless a limit is reached; the
  // counts and the insert are one transaction, so concurrent posts from one
  // client never pass the limit together. Expired shares go first.
  //
  // A full store is shared fairly between its clients: a client that holds
  // fewer shares than the heaviest one stores its share in place of the
  // heaviest client's oldest share (between equals, the one whose oldest
  // share is older). So a flood from many addresses only ever displaces the
  // flood's own shares once it holds more than anyone else, each client keeps
  // at least an equal part of the store (the total over the clients in it),
  // and a client that has sent nothing can always share. Only a client that
  // holds as many shares as anyone is refused.
  TStoreResult Store(const TShare &share, std::string_view client);

  // The share behind a code, unless it expired; blanks around the code and
  // letter case do not matter.
  std::optional<TShare> Find(std::string_view code);

  // Removes the expired shares; returns how many.
  int64_t Expire();

  const TShareLimits &Limits() const { return limits_; }

private:
  TDatabase &database_;
  TShareLimits limits_;
  TClock clock_;
};

} // namespace sonabox::server
