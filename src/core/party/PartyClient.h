#pragma once
// TPartyClient: the host's side of a party that sonabox-server keeps. It
// follows the party's state (a waiting request on the server's web host that
// the server answers at each change), and it feeds the party's entries to the
// player: when the next video is due and nothing else is queued, the party's
// first entry plays, with "queued by NAME", and the server is told; after the
// party's entries the playlist goes on in its mode. A skip that the guests
// voted moves playback on. The host's actions (on, off, lock, clear, remove)
// carry the host key that the server writes into its data folder.
//
// When the server cannot be reached, the party says so (Reachable() false)
// and offers nothing, so the playlist plays on. Network work runs on two
// threads of the client's own; the state and the signals live on the thread
// that made the client.
#include "core/playback/Playback.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace sonabox {

struct TPartyEntry {
  int64_t Entry = 0;
  std::string VideoId, Title, Artist, Name;
  int Seconds = 0;
};

struct TPartyView {
  bool Reachable = false; // the last request reached the server
  bool On = false;
  bool Locked = false;
  std::string Address; // what guests open
  std::optional<TPartyEntry> Now;
  bool SkipAgreed = false;
  std::vector<TPartyEntry> Next; // in the order they will play
};

// Reads a state answer of the server; nothing when it is no state.
std::optional<TPartyView> ReadPartyState(const std::string &json);

// The host key file of a server that keeps its data in the default folder:
// $XDG_DATA_HOME (or ~/.local/share) + Tarnwell/sonabox-server/party-host.key.
std::filesystem::path DefaultPartyHostKeyFile();

class TPartyClient : public QObject {
  Q_OBJECT
public:
  // Follows the party of the server reached at `webHost` ("host:port"), reading
  // the host key from `keyFile` for each action, and feeds `playback`.
  TPartyClient(TPlayback &playback, std::string webHost, std::filesystem::path keyFile,
               QObject *parent = nullptr);
  ~TPartyClient() override; // ends both threads within about a second

  const TPartyView &View() const { return view_; }

  // The host's actions; each is sent in the background, and its failure said
  // through Failed.
  void SetOn(bool on);
  void SetLocked(bool locked);
  void Clear();
  void Remove(int64_t entry);

signals:
  void Changed(); // View() changed
  void Failed(const std::string &message);

private:
  std::optional<TQueuedVideo> OfferNext();
  void OnVideoChanged();
  void Show(const TPartyView &view);
  void Send(std::string action, std::vector<std::pair<std::string, std::string>> fields = {});
  void Follow();
  void Command();

  TPlayback &playback_;
  std::string webHost_;
  std::filesystem::path keyFile_;
  TPartyView view_;
  int64_t playing_ = 0; // the party entry the player took last, while it plays
  std::set<int64_t>
      taken_;             // every entry the player took: a state older than the take still lists it
  bool justTook_ = false; // the player is about to show the entry it took
  bool skipped_ = false;  // the voted skip of the entry playing was done

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> commands_;
  std::thread follower_, commander_;
};

} // namespace sonabox
