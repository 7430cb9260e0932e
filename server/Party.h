#pragma once
// The party: guests on the network queue videos of the library, and the
// jukebox (the host) plays them next. One party per server, kept in the
// server's database so that it outlives a restart of either side.
//
// A guest is a random token handed out on the first visit, with a name that
// need not be unique. Guests take turns in the order of their first entry:
// every entry gets a round when it is queued (one more than the guest's
// latest entry, but never below the round now playing), and the waiting
// entries play by round, then by the guest's turn, then by arrival. So each
// guest's first video plays before anyone's second, and a guest who comes
// late plays in the round under way instead of jumping ahead of it.
#include "Catalogue.h"
#include "Database.h"
#include "Shares.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonabox::server {

struct TPartyLimits {
  int64_t WaitingPerGuest = 3;    // entries one guest may have waiting
  int64_t ReplayMinutes = 60;     // a video played within this is refused
  int64_t SkipVotes = 2;          // a skip needs at least this many votes...
  int64_t SeenMinutes = 15;       // ...and half of the guests seen within this
  int64_t RequestsPerMinute = 30; // changes asked for by one client address
  int64_t MaxGuests = 1000;       // guests in one party
};

// Names are trimmed and at most this many characters.
inline constexpr std::size_t kMaxPartyName = 40;

struct TPartyEntry {
  int64_t Id = 0;
  std::string VideoId, Title, Artist;
  int64_t Seconds = 0;
  std::string Guest; // the token of whoever queued it: never sent to others
  std::string Name;  // the name of whoever queued it
};

struct TPartyState {
  int64_t Version = 0;
  bool On = false;
  bool Locked = false;
  std::optional<std::string> You; // the asking guest's name, when the token is one of this party
  std::optional<TPartyEntry> Now; // the entry playing, when the host plays one
  int64_t NowStarted = 0;         // seconds since the epoch
  bool SkipAgreed = false;        // the guests voted the entry playing away
  int64_t Votes = 0;              // for skipping the entry playing
  int64_t VotesNeeded = 0;
  std::vector<TPartyEntry> Next; // in the order they will play
  int64_t Clock = 0;             // the server's clock when the state was read
};

// Why a request changed nothing; None when it was done.
enum class TPartyRefusal {
  None,
  Off,          // no party is on
  Locked,       // the host locked adding
  UnknownGuest, // the token belongs to no guest of this party
  BadName,      // empty, too long or with control characters
  Full,         // as many guests as a party takes
  UnknownVideo, // not in the library
  TooMany,      // the guest has as many entries waiting as allowed
  PlayedRecently,
  AlreadyWaiting,
  NoSuchEntry, // gone already, or not the guest's own
  NothingPlaying,
  AlreadyVoted,
  RateLimited, // too many changes from one address
};

struct TPartyResult {
  TPartyRefusal Refusal = TPartyRefusal::None;
  std::string Reason;               // for the guest, when refused
  std::string Token;                // a join: the new guest's token
  std::optional<TPartyEntry> Entry; // the host's next entry
  int64_t RetryAfter = 0;           // when rate limited: seconds
  explicit operator bool() const { return Refusal == TPartyRefusal::None; }
};

TPartyResult PartyRefused(TPartyRefusal refusal, std::string reason);

// The HTTP status for a refusal.
int StatusFor(TPartyRefusal refusal);

class TParty {
public:
  // Creates the tables when missing. `changed` is called (outside every lock)
  // after each change, so that waiting pages can be told.
  TParty(TDatabase &database, TCatalogue &catalogue, TPartyLimits limits,
         std::function<void()> changed, TClock clock = SystemSeconds);

  const TPartyLimits &Limits() const { return limits_; }

  // Grows with every change; a waiting page compares it with what it has.
  int64_t Version() const { return version_.load(); }

  // The state as one guest sees it (the token marks the guest as seen).
  TPartyState State(std::string_view token = {});

  // Whether one more change may be asked from this client address now;
  // counted in the database, so that servers on one database count together.
  TPartyResult Admit(const std::string &client);

  // Guests.
  TPartyResult Join(std::string_view name);
  TPartyResult Rename(std::string_view token, std::string_view name);
  TPartyResult Queue(std::string_view token, std::string_view videoId);
  TPartyResult Remove(std::string_view token, int64_t entry); // the guest's own entry
  TPartyResult VoteSkip(std::string_view token);

  // The host.
  void Start();
  void End(); // every entry, guest and vote goes
  void SetLocked(bool locked);
  void Clear(); // every waiting entry goes
  TPartyResult HostRemove(int64_t entry);
  // The entry playing is done; the waiting entry given (the first waiting one
  // when none is given, or when the one given is gone) plays now, if any.
  TPartyResult TakeNext(std::optional<int64_t> entry = std::nullopt);
  // The entry playing is done and none follows (the jukebox went back to its playlist).
  void Finished();

private:
  // Checks a name: trimmed, or a refusal reason.
  static std::optional<std::string> CheckName(std::string_view name, std::string &reason);
  bool IsOn(TConnection &connection);
  bool IsGuest(TConnection &connection, std::string_view token);
  // Writes down that the guest was seen now; when it only looks, at most once a minute.
  void Touch(TConnection &connection, std::string_view token, int64_t now, bool always);
  // The refusal for a guest's action while no party is on or the token is
  // nobody's; otherwise notes the guest as seen and gives nothing.
  std::optional<TPartyResult> RefuseUnlessGuest(TConnection &connection, std::string_view token,
                                                int64_t now);
  void Changed();

  TDatabase &database_;
  TCatalogue &catalogue_;
  TPartyLimits limits_;
  std::function<void()> changed_;
  TClock clock_;
  std::mutex mutex_; // one change at a time
  std::atomic<int64_t> version_;
};

} // namespace sonabox::server
