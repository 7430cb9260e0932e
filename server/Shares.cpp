#include "Shares.h"

#include "core/common/TextHelpers.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace sonabox::server {

namespace {

constexpr const char *kSqliteSchema = R"sql(
CREATE TABLE IF NOT EXISTS shares(
  code TEXT PRIMARY KEY,
  created INTEGER NOT NULL,
  title TEXT NOT NULL,
  note TEXT NOT NULL,
  payload TEXT NOT NULL,
  receipt TEXT NOT NULL,
  from_name TEXT NOT NULL,
  from_email TEXT NOT NULL,
  to_name TEXT NOT NULL,
  to_email TEXT NOT NULL,
  client TEXT NOT NULL DEFAULT '');
-- Every share stored within the last hour, by client: a share that made room
-- for another's is gone from shares but still counts against its sender.
CREATE TABLE IF NOT EXISTS share_posts(
  client TEXT NOT NULL,
  created INTEGER NOT NULL);
)sql";

// The same in PostgreSQL: what a client sent is kept as bytes, since it need
// not be UTF-8; "stored" orders shares stored within the same second.
constexpr const char *kPostgresSchema = R"sql(
CREATE TABLE IF NOT EXISTS shares(
  code TEXT PRIMARY KEY,
  created BIGINT NOT NULL,
  title BYTEA NOT NULL,
  note BYTEA NOT NULL,
  payload BYTEA NOT NULL,
  receipt BYTEA NOT NULL,
  from_name BYTEA NOT NULL,
  from_email BYTEA NOT NULL,
  to_name BYTEA NOT NULL,
  to_email BYTEA NOT NULL,
  client TEXT COLLATE "C" NOT NULL,
  stored BIGINT GENERATED ALWAYS AS IDENTITY);
CREATE TABLE IF NOT EXISTS share_posts(
  client TEXT COLLATE "C" NOT NULL,
  created BIGINT NOT NULL);
)sql";

constexpr const char *kIndexes = R"sql(
CREATE INDEX IF NOT EXISTS shares_by_time ON shares(created);
CREATE INDEX IF NOT EXISTS shares_by_client ON shares(client, created);
CREATE INDEX IF NOT EXISTS share_posts_by_client ON share_posts(client, created);
)sql";

constexpr int64_t kDaySeconds = 24 * 60 * 60;
constexpr int64_t kHourSeconds = 60 * 60;

constexpr char kCodeAlphabet[] = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";
static_assert(sizeof(kCodeAlphabet) - 1 == 32);
constexpr std::size_t kCodeLength = 10;

// Limits of the decoded fields; the payload is bounded by the request size.
constexpr std::size_t kMaxName = 200;
constexpr std::size_t kMaxEmail = 254;
constexpr std::size_t kMaxTitle = 1000;
constexpr std::size_t kMaxNote = 4000;
constexpr std::size_t kMaxReceipt = 4000;

// The number in the first column of a query's first row.
int64_t CountOf(TStatement statement) { return statement.Step() ? statement.Int(0) : 0; }

bool IsHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

} // namespace

bool IsStrictBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  for (std::size_t i = 0; i + padding < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '/') return false;
  }
  return true;
}

std::string ShareRequestHash(const TShare &share) {
  return Sha1Hex(share.Token + share.Payload + share.FromEmail + share.ToEmail + "QWWQ") +
         Sha1Hex(share.Token + share.FromName + share.ToName + "GHHG") +
         Sha1Hex(share.Token + share.Title + share.Note + "UYYU");
}

TShareReading ReadShare(const std::function<std::optional<std::string>(std::string_view)> &field) {
  TShareReading reading;
  struct TPlain {
    const char *Name;
    std::string TShare::*Member;
    std::size_t Limit;
  };
  const std::array<TPlain, 4> plain{{{"toName", &TShare::ToName, kMaxName},
                                     {"toEmail", &TShare::ToEmail, kMaxEmail},
                                     {"fromName", &TShare::FromName, kMaxName},
                                     {"fromEmail", &TShare::FromEmail, kMaxEmail}}};
  const std::array<TPlain, 4> encoded{{{"receipt", &TShare::Receipt, kMaxReceipt},
                                       {"payload", &TShare::Payload, std::string::npos},
                                       {"note", &TShare::Note, kMaxNote},
                                       {"title", &TShare::Title, kMaxTitle}}};
  auto refuse = [&](TShareVerdict verdict, std::string reason) {
    reading.Verdict = verdict;
    reading.Reason = std::move(reason);
    return reading;
  };

  const std::optional<std::string> hash = field("hash");
  const std::optional<std::string> token = field("token");
  if (!hash || hash->size() != 120 || !IsHex(*hash))
    return refuse(TShareVerdict::Malformed, "hash is not 120 hexadecimal digits");
  if (!token || token->size() != 20 || !IsHex(*token))
    return refuse(TShareVerdict::Malformed, "token is not 20 hexadecimal digits");
  reading.Share.Hash = Upper(*hash);
  reading.Share.Token = *token;

  for (const TPlain &item : plain) {
    const std::optional<std::string> value = field(item.Name);
    if (!value) return refuse(TShareVerdict::Malformed, std::string(item.Name) + " is missing");
    if (value->size() > item.Limit)
      return refuse(TShareVerdict::TooLong, std::string(item.Name) + " is too long");
    reading.Share.*item.Member = *value;
  }
  // A mail goes to the recipient and names the sender.
  for (const char *name : {"toEmail", "fromEmail"})
    if (!IsEmailAddress(*field(name)))
      return refuse(TShareVerdict::Malformed, std::string(name) + " is not an e-mail address");
  for (const TPlain &item : encoded) {
    const std::optional<std::string> value = field(item.Name);
    if (!value) return refuse(TShareVerdict::Malformed, std::string(item.Name) + " is missing");
    if (!IsStrictBase64(*value))
      return refuse(TShareVerdict::Malformed, std::string(item.Name) + " is not base64");
    if (item.Limit != std::string::npos && value->size() / 4 * 3 > item.Limit + 2)
      return refuse(TShareVerdict::TooLong, std::string(item.Name) + " is too long");
    reading.Share.*item.Member = Base64Decode(*value);
    if ((reading.Share.*item.Member).size() > item.Limit)
      return refuse(TShareVerdict::TooLong, std::string(item.Name) + " is too long");
  }

  if (ShareRequestHash(reading.Share) != reading.Share.Hash)
    return refuse(TShareVerdict::HashMismatch, "the request hash does not match the fields");
  reading.Verdict = TShareVerdict::Accepted;
  return reading;
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  std::replace_if(
      out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return out;
}

std::string NewShareCode() {
  std::array<unsigned char, kCodeLength> random{};
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
    throw std::runtime_error("the random generator failed");
  std::string code;
  for (const unsigned char byte : random) code += kCodeAlphabet[byte & 31];
  return code;
}

std::string ShareAnswerText(const TShare &share) {
  return OneLine(share.Title) + "\r\n" + OneLine(share.Note) + "\r\n" + share.Payload;
}

int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TShareStore::TShareStore(TDatabase &database, TShareLimits limits, TClock clock)
    : database_(database), limits_(limits), clock_(std::move(clock)) {
  auto connection = database_.Acquire();
  if (connection->Dialect() == TSqlDialect::PostgreSQL) {
    // Servers that start together make the tables one after the other.
    TTransaction transaction(*connection);
    connection->Execute(kPostgresSchema);
    connection->Execute(kIndexes);
    transaction.Commit();
    return;
  }
  connection->Execute(kSqliteSchema);
  bool hasClient = false;
  {
    auto columns = connection->Prepare("SELECT name FROM pragma_table_info('shares')");
    while (columns.Step()) hasClient = hasClient || columns.Text(0) == "client";
  }
  if (!hasClient)
    connection->Execute("ALTER TABLE shares ADD COLUMN client TEXT NOT NULL DEFAULT ''");
  connection->Execute(kIndexes);
}

int64_t TShareStore::Expire() {
  const int64_t now = clock_();
  auto connection = database_.Acquire();
  connection->Prepare("DELETE FROM shares WHERE created < ?1")
      .Bind(1, now - limits_.Days * kDaySeconds)
      .Run();
  return connection->Changes();
}

TStoreResult TShareStore::Store(const TShare &share, std::string_view client) {
  const int64_t now = clock_();
  auto connection = database_.Acquire();
  TTransaction transaction(*connection);
  connection->Prepare("DELETE FROM shares WHERE created < ?1")
      .Bind(1, now - limits_.Days * kDaySeconds)
      .Run();
  connection->Prepare("DELETE FROM share_posts WHERE created <= ?1")
      .Bind(1, now - kHourSeconds)
      .Run();
  {
    auto recent = connection->Prepare(
        "SELECT count(*), min(created) FROM share_posts WHERE client = ?1 AND created > ?2");
    recent.Bind(1, client).Bind(2, now - kHourSeconds);
    if (recent.Step() && recent.Int(0) >= limits_.PerClientHour)
      return {.Verdict = TStoreVerdict::ClientQuota,
              .RetryAfter = std::max<int64_t>(1, recent.Int(1) + kHourSeconds - now)};
  }
  std::string displaced, displacedCode;
  if (CountOf(connection->Prepare("SELECT count(*) FROM shares")) >= limits_.Total) {
    // Among clients that hold as many, the one whose oldest share came first,
    // then by address (so that every store picks the same one).
    auto heaviest = connection->Prepare("SELECT client, count(*) AS held FROM shares GROUP BY "
                                        "client ORDER BY held DESC, min(created), client LIMIT 1");
    auto own = connection->Prepare("SELECT count(*) FROM shares WHERE client = ?1");
    if (!heaviest.Step() || CountOf(std::move(own.Bind(1, client))) >= heaviest.Int(1))
      return {.Verdict = TStoreVerdict::StoreFull, .RetryAfter = kHourSeconds};
    displaced = heaviest.Text(0);
    auto oldest = connection->Prepare(
        connection->Dialect() == TSqlDialect::SQLite
            ? "SELECT code FROM shares WHERE client = ?1 ORDER BY created, rowid LIMIT 1"
            : "SELECT code FROM shares WHERE client = ?1 ORDER BY created, stored LIMIT 1");
    oldest.Bind(1, displaced).Step();
    displacedCode = oldest.Text(0);
    connection->Prepare("DELETE FROM shares WHERE code = ?1").Bind(1, displacedCode).Run();
  }
  // A drawn code that is taken already (one chance in 2^50 per stored share)
  // is simply drawn again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string code = NewShareCode();
    connection
        ->Prepare("INSERT INTO shares(code, created, title, note, payload, receipt, "
                  "from_name, from_email, to_name, to_email, client) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) "
                  "ON CONFLICT DO NOTHING")
        .Bind(1, code)
        .Bind(2, now)
        .Bind(3, share.Title)
        .Bind(4, share.Note)
        .Bind(5, share.Payload)
        .Bind(6, share.Receipt)
        .Bind(7, share.FromName)
        .Bind(8, share.FromEmail)
        .Bind(9, share.ToName)
        .Bind(10, share.ToEmail)
        .Bind(11, client)
        .Run();
    if (connection->Changes() == 1) {
      connection->Prepare("INSERT INTO share_posts(client, created) VALUES (?1, ?2)")
          .Bind(1, client)
          .Bind(2, now)
          .Run();
      transaction.Commit();
      return {.Verdict = TStoreVerdict::Stored,
              .Code = code,
              .Displaced = displaced,
              .DisplacedCode = displacedCode};
    }
  }
  throw std::runtime_error("no free share code could be drawn");
}

std::optional<TShare> TShareStore::Find(std::string_view code) {
  const int64_t now = clock_();
  const std::string wanted = Upper(TrimControl(code));
  if (!IsStorableText(wanted)) return std::nullopt;
  auto connection = database_.Acquire();
  auto row = connection->Prepare("SELECT title, note, payload, receipt, from_name, from_email, "
                                 "to_name, to_email FROM shares WHERE code = ?1 AND created >= ?2");
  row.Bind(1, wanted).Bind(2, now - limits_.Days * kDaySeconds);
  if (!row.Step()) return std::nullopt;
  TShare share;
  share.Title = row.Text(0);
  share.Note = row.Text(1);
  share.Payload = row.Text(2);
  share.Receipt = row.Text(3);
  share.FromName = row.Text(4);
  share.FromEmail = row.Text(5);
  share.ToName = row.Text(6);
  share.ToEmail = row.Text(7);
  return share;
}

} // namespace sonabox::server
