#include "Party.h"

#include "core/common/TextHelpers.h"

#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>

namespace sonabox::server {

namespace {

// Entries are waiting, playing (one at most) or played; a removed entry is
// deleted. Played entries stay until the party ends: they keep each guest's
// rounds and the videos played within the hour.
constexpr int64_t kWaiting = 0, kPlaying = 1, kPlayed = 2;

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS party(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  active INTEGER NOT NULL,
  locked INTEGER NOT NULL,
  round INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS party_guests(
  token TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  seen INTEGER NOT NULL,
  turn INTEGER);
CREATE TABLE IF NOT EXISTS party_entries(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  guest TEXT NOT NULL,
  video TEXT NOT NULL,
  title TEXT NOT NULL,
  artist TEXT NOT NULL,
  seconds INTEGER NOT NULL,
  round INTEGER NOT NULL,
  state INTEGER NOT NULL,
  started INTEGER NOT NULL DEFAULT 0,
  skip INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS party_entries_by_state ON party_entries(state, round);
CREATE TABLE IF NOT EXISTS party_votes(
  entry INTEGER NOT NULL,
  guest TEXT NOT NULL,
  PRIMARY KEY (entry, guest));
INSERT OR IGNORE INTO party(id, active, locked, round) VALUES (1, 0, 0, 0);
)sql";

// A guest's last visit is written down at most this often when it only looks.
constexpr int64_t kSeenGranularity = 60;

constexpr const char *kEntryColumns =
    "e.id, e.video, e.title, e.artist, e.seconds, e.guest, g.name";

TPartyEntry ReadEntry(const TStatement &row) {
  return {row.Int(0), row.Text(1), row.Text(2), row.Text(3), row.Int(4), row.Text(5), row.Text(6)};
}

int64_t CountOf(TStatement statement) { return statement.Step() ? statement.Int(0) : 0; }

std::string NewToken() {
  unsigned char random[16];
  if (RAND_bytes(random, sizeof random) != 1)
    throw std::runtime_error("the random generator failed");
  static const char digits[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char byte : random) {
    token += digits[byte >> 4];
    token += digits[byte & 15];
  }
  return token;
}

// A random start, below 2^48 so that pages read it exactly as a JSON number.
int64_t FirstVersion() {
  unsigned char random[6];
  if (RAND_bytes(random, sizeof random) != 1)
    throw std::runtime_error("the random generator failed");
  int64_t version = 0;
  for (const unsigned char byte : random) version = version << 8 | byte;
  return version;
}

} // namespace

TPartyResult PartyRefused(TPartyRefusal refusal, std::string reason) {
  TPartyResult result;
  result.Refusal = refusal;
  result.Reason = std::move(reason);
  return result;
}

int StatusFor(TPartyRefusal refusal) {
  switch (refusal) {
  case TPartyRefusal::None: return 200;
  case TPartyRefusal::UnknownGuest: return 403;
  case TPartyRefusal::BadName: return 400;
  case TPartyRefusal::UnknownVideo:
  case TPartyRefusal::NoSuchEntry: return 404;
  case TPartyRefusal::RateLimited: return 429;
  case TPartyRefusal::Off:
  case TPartyRefusal::Locked:
  case TPartyRefusal::Full:
  case TPartyRefusal::TooMany:
  case TPartyRefusal::PlayedRecently:
  case TPartyRefusal::AlreadyWaiting:
  case TPartyRefusal::NothingPlaying:
  case TPartyRefusal::AlreadyVoted: return 409;
  }
  return 400;
}

TParty::TParty(TDatabase &database, TCatalogue &catalogue, TPartyLimits limits,
               std::function<void()> changed, TClock clock)
    : database_(database), catalogue_(catalogue), limits_(limits), changed_(std::move(changed)),
      clock_(std::move(clock)), version_(FirstVersion()) {
  // A page that held a version from before a restart is answered at once:
  // versions start anywhere.
  database_.Acquire()->Execute(kSchema);
}

void TParty::Changed() {
  ++version_;
  if (changed_) changed_();
}

std::optional<std::string> TParty::CheckName(std::string_view name, std::string &reason) {
  const std::string trimmed = TrimControl(name);
  if (trimmed.empty()) {
    reason = "Write your name.";
    return std::nullopt;
  }
  // Counted in characters, and refused before anything else looks at a long one.
  std::size_t characters = 0;
  for (const char c : trimmed) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (characters > kMaxPartyName) {
    reason = "A name is at most " + std::to_string(kMaxPartyName) + " characters.";
    return std::nullopt;
  }
  bool control = ValidUtf8(trimmed) != trimmed;
  for (std::size_t i = 0; i < trimmed.size() && !control; ++i) {
    const auto c = static_cast<unsigned char>(trimmed[i]);
    // C0 controls, DEL, and the C1 controls U+0080 to U+009F (C2 80 to C2 9F).
    control =
        c < 32 || c == 127 ||
        (c == 0xC2 && i + 1 < trimmed.size() && static_cast<unsigned char>(trimmed[i + 1]) < 0xA0);
  }
  if (control) {
    reason = "A name cannot hold control characters.";
    return std::nullopt;
  }
  return trimmed;
}

bool TParty::IsOn(TConnection &connection) {
  return CountOf(connection.Prepare("SELECT active FROM party WHERE id = 1")) != 0;
}

bool TParty::IsGuest(TConnection &connection, std::string_view token) {
  return !token.empty() &&
         CountOf(std::move(connection.Prepare("SELECT count(*) FROM party_guests WHERE token = ?1")
                               .Bind(1, token))) != 0;
}

std::optional<TPartyResult> TParty::RefuseUnlessGuest(TConnection &connection,
                                                      std::string_view token, int64_t now) {
  if (!IsOn(connection)) return PartyRefused(TPartyRefusal::Off, "No party is on right now.");
  if (!IsGuest(connection, token))
    return PartyRefused(TPartyRefusal::UnknownGuest, "Open the party page again to join.");
  Touch(connection, token, now, true);
  return std::nullopt;
}

void TParty::Touch(TConnection &connection, std::string_view token, int64_t now, bool always) {
  connection.Prepare("UPDATE party_guests SET seen = ?1 WHERE token = ?2 AND seen <= ?3")
      .Bind(1, now)
      .Bind(2, token)
      .Bind(3, always ? now : now - kSeenGranularity)
      .Run();
}

TPartyResult TParty::Admit(const std::string &client) {
  const int64_t now = clock_();
  std::lock_guard lock(rateMutex_);
  if (requests_.size() > 10000)
    std::erase_if(requests_, [now](const auto &item) { return item.second.Start + 60 <= now; });
  TWindow &window = requests_[client];
  if (window.Start + 60 <= now) window = {now, 0};
  if (++window.Count <= limits_.RequestsPerMinute) return {};
  TPartyResult result = PartyRefused(TPartyRefusal::RateLimited,
                                     "Too many requests from your network; try again in a minute.");
  result.RetryAfter = std::max<int64_t>(1, window.Start + 60 - now);
  return result;
}

TPartyState TParty::State(std::string_view token) {
  const int64_t now = clock_();
  std::lock_guard lock(mutex_);
  auto connection = database_.Acquire();
  TPartyState state;
  state.Version = version_.load();
  state.Clock = now;
  if (!token.empty()) {
    Touch(*connection, token, now, false);
    auto guest = connection->Prepare("SELECT name FROM party_guests WHERE token = ?1");
    guest.Bind(1, token);
    if (guest.Step()) state.You = guest.Text(0);
  }
  {
    auto party = connection->Prepare("SELECT active, locked FROM party WHERE id = 1");
    if (party.Step()) {
      state.On = party.Int(0) != 0;
      state.Locked = party.Int(1) != 0;
    }
  }
  {
    auto playing = connection->Prepare(
        std::string("SELECT ") + kEntryColumns +
        ", e.started, e.skip FROM party_entries e JOIN party_guests g ON g.token = e.guest "
        "WHERE e.state = ?1");
    playing.Bind(1, kPlaying);
    if (playing.Step()) {
      state.Now = ReadEntry(playing);
      state.NowStarted = playing.Int(7);
      state.SkipAgreed = playing.Int(8) != 0;
    }
  }
  if (state.Now)
    state.Votes =
        CountOf(std::move(connection->Prepare("SELECT count(*) FROM party_votes WHERE entry = ?1")
                              .Bind(1, state.Now->Id)));
  const int64_t seen =
      CountOf(std::move(connection->Prepare("SELECT count(*) FROM party_guests WHERE seen >= ?1")
                            .Bind(1, now - limits_.SeenMinutes * 60)));
  state.VotesNeeded = std::max(limits_.SkipVotes, (seen + 1) / 2);
  auto next = connection->Prepare(std::string("SELECT ") + kEntryColumns +
                                  " FROM party_entries e JOIN party_guests g ON g.token = e.guest "
                                  "WHERE e.state = ?1 ORDER BY e.round, g.turn, e.id");
  next.Bind(1, kWaiting);
  while (next.Step()) state.Next.push_back(ReadEntry(next));
  return state;
}

TPartyResult TParty::Join(std::string_view name) {
  std::string reason;
  const std::optional<std::string> checked = CheckName(name, reason);
  if (!checked) return PartyRefused(TPartyRefusal::BadName, reason);
  const int64_t now = clock_();
  TPartyResult result;
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    if (!IsOn(*connection)) return PartyRefused(TPartyRefusal::Off, "No party is on right now.");
    if (CountOf(connection->Prepare("SELECT count(*) FROM party_guests")) >= limits_.MaxGuests)
      return PartyRefused(TPartyRefusal::Full, "The party is full.");
    result.Token = NewToken();
    connection->Prepare("INSERT INTO party_guests(token, name, seen) VALUES (?1, ?2, ?3)")
        .Bind(1, result.Token)
        .Bind(2, *checked)
        .Bind(3, now)
        .Run();
    transaction.Commit();
  }
  Changed(); // one more guest seen: the votes needed may change
  return result;
}

TPartyResult TParty::Rename(std::string_view token, std::string_view name) {
  std::string reason;
  const std::optional<std::string> checked = CheckName(name, reason);
  if (!checked) return PartyRefused(TPartyRefusal::BadName, reason);
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    connection->Prepare("UPDATE party_guests SET name = ?1, seen = ?2 WHERE token = ?3")
        .Bind(1, *checked)
        .Bind(2, clock_())
        .Bind(3, token)
        .Run();
    if (connection->Changes() == 0)
      return PartyRefused(TPartyRefusal::UnknownGuest, "Open the party page again to join.");
  }
  Changed();
  return {};
}

TPartyResult TParty::Queue(std::string_view token, std::string_view videoId) {
  const int64_t now = clock_();
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    if (auto refused = RefuseUnlessGuest(*connection, token, now)) return *refused;
    if (CountOf(connection->Prepare("SELECT locked FROM party WHERE id = 1")) != 0)
      return PartyRefused(TPartyRefusal::Locked, "The host has locked adding for now.");
    const std::optional<TCatalogueVideo> video = catalogue_.Find(videoId);
    if (!video)
      return PartyRefused(TPartyRefusal::UnknownVideo, "That video is not in the library.");
    if (CountOf(std::move(connection
                              ->Prepare("SELECT count(*) FROM party_entries WHERE guest = ?1 "
                                        "AND state = ?2")
                              .Bind(1, token)
                              .Bind(2, kWaiting))) >= limits_.WaitingPerGuest)
      return PartyRefused(TPartyRefusal::TooMany,
                          "You have " + std::to_string(limits_.WaitingPerGuest) +
                              " videos waiting; queue more once one has played.");
    if (CountOf(std::move(connection
                              ->Prepare("SELECT count(*) FROM party_entries WHERE video = ?1 "
                                        "AND state = ?2")
                              .Bind(1, video->Id)
                              .Bind(2, kWaiting))) != 0)
      return PartyRefused(TPartyRefusal::AlreadyWaiting,
                          "\"" + video->Title + "\" is already waiting in the queue.");
    if (CountOf(std::move(connection
                              ->Prepare("SELECT count(*) FROM party_entries WHERE video = ?1 "
                                        "AND state IN (?2, ?3) AND started > ?4")
                              .Bind(1, video->Id)
                              .Bind(2, kPlaying)
                              .Bind(3, kPlayed)
                              .Bind(4, now - limits_.ReplayMinutes * 60))) != 0)
      return PartyRefused(TPartyRefusal::PlayedRecently,
                          "\"" + video->Title + "\" played less than " +
                              std::to_string(limits_.ReplayMinutes) + " minutes ago.");
    const int64_t latest = CountOf(std::move(
        connection->Prepare("SELECT coalesce(max(round), 0) FROM party_entries WHERE guest = ?1")
            .Bind(1, token)));
    const int64_t current = CountOf(connection->Prepare("SELECT round FROM party WHERE id = 1"));
    connection
        ->Prepare("UPDATE party_guests SET turn = (SELECT coalesce(max(turn), 0) + 1 FROM "
                  "party_guests) WHERE token = ?1 AND turn IS NULL")
        .Bind(1, token)
        .Run();
    connection
        ->Prepare("INSERT INTO party_entries(guest, video, title, artist, seconds, round, state) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .Bind(1, token)
        .Bind(2, video->Id)
        .Bind(3, video->Title)
        .Bind(4, video->Artist)
        .Bind(5, video->Seconds)
        .Bind(6, std::max(latest + 1, current))
        .Bind(7, kWaiting)
        .Run();
    transaction.Commit();
  }
  Changed();
  return {};
}

TPartyResult TParty::Remove(std::string_view token, int64_t entry) {
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    connection->Prepare("DELETE FROM party_entries WHERE id = ?1 AND guest = ?2 AND state = ?3")
        .Bind(1, entry)
        .Bind(2, token)
        .Bind(3, kWaiting)
        .Run();
    if (connection->Changes() == 0)
      return PartyRefused(TPartyRefusal::NoSuchEntry,
                          "That entry is not yours or is gone already.");
  }
  Changed();
  return {};
}

TPartyResult TParty::VoteSkip(std::string_view token) {
  const int64_t now = clock_();
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    if (auto refused = RefuseUnlessGuest(*connection, token, now)) return *refused;
    int64_t playing = 0;
    {
      auto row = connection->Prepare("SELECT id FROM party_entries WHERE state = ?1");
      row.Bind(1, kPlaying);
      if (!row.Step())
        return PartyRefused(TPartyRefusal::NothingPlaying,
                            "Only a video queued here can be skipped.");
      playing = row.Int(0);
    }
    connection->Prepare("INSERT OR IGNORE INTO party_votes(entry, guest) VALUES (?1, ?2)")
        .Bind(1, playing)
        .Bind(2, token)
        .Run();
    if (connection->Changes() == 0)
      return PartyRefused(TPartyRefusal::AlreadyVoted, "You voted to skip this one already.");
    const int64_t votes = CountOf(std::move(
        connection->Prepare("SELECT count(*) FROM party_votes WHERE entry = ?1").Bind(1, playing)));
    const int64_t seen =
        CountOf(std::move(connection->Prepare("SELECT count(*) FROM party_guests WHERE seen >= ?1")
                              .Bind(1, now - limits_.SeenMinutes * 60)));
    if (votes >= std::max(limits_.SkipVotes, (seen + 1) / 2))
      connection->Prepare("UPDATE party_entries SET skip = 1 WHERE id = ?1").Bind(1, playing).Run();
    transaction.Commit();
  }
  Changed();
  return {};
}

void TParty::Start() {
  {
    std::lock_guard lock(mutex_);
    database_.Acquire()->Execute("UPDATE party SET active = 1 WHERE id = 1");
  }
  Changed();
}

void TParty::End() {
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    connection->Execute("DELETE FROM party_votes; DELETE FROM party_entries; "
                        "DELETE FROM party_guests; "
                        "UPDATE party SET active = 0, locked = 0, round = 0 WHERE id = 1;");
    transaction.Commit();
  }
  Changed();
}

void TParty::SetLocked(bool locked) {
  {
    std::lock_guard lock(mutex_);
    database_.Acquire()
        ->Prepare("UPDATE party SET locked = ?1 WHERE id = 1")
        .Bind(1, int64_t(locked))
        .Run();
  }
  Changed();
}

void TParty::Clear() {
  {
    std::lock_guard lock(mutex_);
    database_.Acquire()
        ->Prepare("DELETE FROM party_entries WHERE state = ?1")
        .Bind(1, kWaiting)
        .Run();
  }
  Changed();
}

TPartyResult TParty::HostRemove(int64_t entry) {
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    connection->Prepare("DELETE FROM party_entries WHERE id = ?1 AND state = ?2")
        .Bind(1, entry)
        .Bind(2, kWaiting)
        .Run();
    if (connection->Changes() == 0)
      return PartyRefused(TPartyRefusal::NoSuchEntry, "That entry is gone already.");
  }
  Changed();
  return {};
}

TPartyResult TParty::TakeNext(std::optional<int64_t> wanted) {
  const int64_t now = clock_();
  TPartyResult result;
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    connection->Prepare("UPDATE party_entries SET state = ?1 WHERE state = ?2")
        .Bind(1, kPlayed)
        .Bind(2, kPlaying)
        .Run();
    connection->Execute("DELETE FROM party_votes");
    auto next = connection->Prepare(std::string("SELECT ") + kEntryColumns +
                                    ", e.round FROM party_entries e JOIN party_guests g ON "
                                    "g.token = e.guest WHERE e.state = ?1 "
                                    "ORDER BY e.id = ?2 DESC, e.round, g.turn, e.id LIMIT 1");
    next.Bind(1, kWaiting).Bind(2, wanted.value_or(-1));
    if (next.Step()) {
      result.Entry = ReadEntry(next);
      const int64_t round = next.Int(7);
      connection->Prepare("UPDATE party_entries SET state = ?1, started = ?2 WHERE id = ?3")
          .Bind(1, kPlaying)
          .Bind(2, now)
          .Bind(3, result.Entry->Id)
          .Run();
      connection->Prepare("UPDATE party SET round = ?1 WHERE id = 1").Bind(1, round).Run();
    }
    transaction.Commit();
  }
  Changed();
  return result;
}

void TParty::Finished() {
  {
    std::lock_guard lock(mutex_);
    auto connection = database_.Acquire();
    TTransaction transaction(*connection);
    connection->Prepare("UPDATE party_entries SET state = ?1 WHERE state = ?2")
        .Bind(1, kPlayed)
        .Bind(2, kPlaying)
        .Run();
    connection->Execute("DELETE FROM party_votes");
    transaction.Commit();
  }
  Changed();
}

} // namespace sonabox::server
