#pragma once
// The server's options and the reading of its command line.
#include "LibraryScanner.h"
#include "Party.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sonabox::server {

struct TServerOptions {
  std::filesystem::path Library;
  std::filesystem::path Data;       // database, thumbnails, outbox
  std::string Database;             // a postgresql:// address; empty: the SQLite file in Data
  std::filesystem::path Thumbnails; // empty: DATA/thumbnails
  std::filesystem::path Assets;     // files under /assets/, the installer "Sonabox.run"
  std::filesystem::path UpdateKey;  // empty: no signed update is offered
  int64_t LatestBuild = 40;
  int FeedPort = 8471; // 0: any free port
  int WebPort = 8472;
  int ServicePort = 8473;
  std::string Bind = "127.0.0.1";
  std::string WebHost;        // empty: Bind and the web port
  int64_t ShareDays = 90;     // a share older than this is gone
  int64_t SharesPerHour = 20; // stored from one client address within an hour
  int64_t MaxShares = 2000;   // stored in all
  int64_t OutboxMax = 1000;   // notifications kept in the outbox
  bool Party = false;         // a party is on from the start
  TPartyLimits PartyLimits;
  TLogLine Log; // when set: one line per request and per scanned file
};

// The per-user data folder: $XDG_DATA_HOME (or ~/.local/share) + Tarnwell/sonabox-server.
std::filesystem::path DefaultDataFolder();

// The library served when none is given: the user's video folder as the
// desktop names it (XDG_VIDEOS_DIR in $XDG_CONFIG_HOME/user-dirs.dirs), or
// ~/Videos.
std::filesystem::path DefaultLibraryFolder();

// The options file: $XDG_CONFIG_HOME (or ~/.config) + Tarnwell/sonabox-server.conf.
// Each line is "name = value" with the name of a long option ("library =
// /srv/videos", "bind = 0.0.0.0"); "#" starts a comment line, and a value
// starting with "~/" is below the home folder.
std::filesystem::path ConfigFilePath();

// Reads the options file, when there is one, then the command line, which
// goes over it. The text to print and exit with when the arguments ask for
// help or are wrong (`Help` then tells which).
struct TCommandLine {
  std::optional<TServerOptions> Options;
  std::string Message;
  bool Help = false;
};
TCommandLine ParseCommandLine(const std::vector<std::string> &arguments);

} // namespace sonabox::server
