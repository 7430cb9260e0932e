#include "CommandLine.h"

#include "Database.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

constexpr const char *kUsage =
    "usage: sonabox-server [--library DIR] [--data DIR] [--assets DIR]\n"
    "                      [--database postgresql://...] [--thumbnails DIR]\n"
    "                      [--update-key FILE] [--latest-build N]\n"
    "                      [--feed-port N] [--web-port N] [--service-port N]\n"
    "                      [--bind ADDR] [--web-host HOST:PORT]\n"
    "                      [--share-days N] [--shares-per-hour N] [--max-shares N]\n"
    "                      [--outbox-max N] [--party] [--party-waiting N]\n"
    "                      [--party-replay-minutes N] [--party-skip-votes N]\n"
    "                      [--party-seen-minutes N] [--party-requests-per-minute N]\n"
    "\n"
    "Serves the videos of a library folder to Sonabox: a searchable video feed,\n"
    "the videos and thumbnails, and the share and update service.\n"
    "\n"
    "  --library DIR       the video folder; its first-level folders are categories\n"
    "  --data DIR          catalogue, thumbnails and outbox (default\n"
    "                      $XDG_DATA_HOME/Tarnwell/sonabox-server)\n"
    "  --database ADDRESS  keep the catalogue, shares and party in this PostgreSQL\n"
    "                      database (postgresql://user@host/name) instead of the\n"
    "                      SQLite file in DATA; servers on one database answer alike\n"
    "  --thumbnails DIR    where the thumbnails are made and served from (default\n"
    "                      DATA/thumbnails); servers on one database share one\n"
    "  --assets DIR        files served under /assets/, among them the installer\n"
    "                      \"Sonabox.run\" (default DATA/assets)\n"
    "  --update-key FILE   Ed25519 private key (PEM) that signs the update answer\n"
    "  --latest-build N    the newest build offered (default 40: no update)\n"
    "  --feed-port N       video data feed (default 8471; 0 picks a free port)\n"
    "  --web-port N        videos, thumbnails and watch pages (default 8472)\n"
    "  --service-port N    share and update service (default 8473)\n"
    "  --bind ADDR         the address listened on (default 127.0.0.1)\n"
    "  --web-host HOST:PORT  the web host written into feed entries, as the\n"
    "                      program is configured to reach it (default ADDR:web-port)\n"
    "  --share-days N      days a share is kept (default 90)\n"
    "  --shares-per-hour N shares one client address may store in an hour\n"
    "                      (default 20)\n"
    "  --max-shares N      shares kept in all (default 2000); more are refused\n"
    "  --outbox-max N      notifications kept in DATA/outbox (default 1000);\n"
    "                      the oldest go first\n"
    "  --party             a party is on from the start: guests open\n"
    "                      http://WEB-HOST/party and queue videos\n"
    "  --party-waiting N   videos one guest may have waiting (default 3)\n"
    "  --party-replay-minutes N  a video played within this is refused (default 60)\n"
    "  --party-skip-votes N  votes a skip needs at least (default 2); it also\n"
    "                      needs half of the guests seen lately\n"
    "  --party-seen-minutes N  guests seen within this count (default 15)\n"
    "  --party-requests-per-minute N  party changes one client address may ask\n"
    "                      for in a minute (default 30)\n"
    "  --help              this text\n"
    "\n"
    "Without --library, the video folder of the desktop is served (XDG_VIDEOS_DIR,\n"
    "else ~/Videos). Options are also read from\n"
    "$XDG_CONFIG_HOME/Tarnwell/sonabox-server.conf, one \"name = value\" a line\n"
    "(\"library = /srv/videos\"); the command line goes over that file.\n"
    "\n"
    "A rescan of the library runs at start, every minute and on SIGHUP.\n"
    "Limits of every port: request heads of 32 KiB, request bodies of 1 MiB,\n"
    "connections idle for 15 s closed, 1000 connections, 128 from one address.\n";

std::optional<int64_t> ReadNumber(const std::string &text, int64_t low, int64_t high) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    return std::nullopt;
  return value;
}

fs::path Home() {
  const char *home = std::getenv("HOME");
  return home && *home ? home : ".";
}

// $NAME, or the home folder followed by `fallback` when it is unset or empty.
fs::path XdgFolder(const char *name, const char *fallback) {
  const char *value = std::getenv(name);
  return value && *value ? fs::path(value) : Home() / fallback;
}

std::string Trimmed(const std::string &text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The options file as "--name=value" arguments, or the line that is wrong.
struct TConfigFile {
  std::vector<std::string> Arguments;
  std::string Error;
};

TConfigFile ReadConfigFile(const fs::path &path) {
  TConfigFile file;
  std::ifstream in(path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string name = Trimmed(line.substr(0, equals));
    if (equals == std::string::npos || name.empty() || name.rfind("--", 0) == 0 || name == "help") {
      file.Error = path.string() + " line " + std::to_string(number) +
                   ": write an option as \"name = value\"";
      return file;
    }
    std::string value = Trimmed(line.substr(equals + 1));
    if (value.rfind("~/", 0) == 0) value = (Home() / value.substr(2)).string();
    file.Arguments.push_back("--" + name + "=" + value);
  }
  return file;
}

} // namespace

fs::path DefaultDataFolder() {
  return XdgFolder("XDG_DATA_HOME", ".local/share") / "Tarnwell" / "sonabox-server";
}

fs::path DefaultLibraryFolder() {
  // Lines such as XDG_VIDEOS_DIR="$HOME/Videos"; the path is absolute or
  // starts with $HOME.
  std::ifstream in(XdgFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
  const std::string key = "XDG_VIDEOS_DIR=\"";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
    const std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME/", 0) == 0) return Home() / value.substr(6);
    if (!value.empty() && value[0] == '/') return value;
  }
  return Home() / "Videos";
}

fs::path ConfigFilePath() {
  return XdgFolder("XDG_CONFIG_HOME", ".config") / "Tarnwell" / "sonabox-server.conf";
}

TCommandLine ParseCommandLine(const std::vector<std::string> &commandLine) {
  TCommandLine result;
  TServerOptions options;
  bool dataGiven = false, assetsGiven = false;
  const fs::path configPath = ConfigFilePath();
  TConfigFile config = ReadConfigFile(configPath);
  // The file's options come first, so that the command line goes over them.
  const std::size_t fromFile = config.Arguments.size();
  std::vector<std::string> arguments = std::move(config.Arguments);
  arguments.insert(arguments.end(), commandLine.begin(), commandLine.end());
  std::size_t i = 0;
  auto fail = [&](const std::string &message) {
    const std::string where = i < fromFile ? configPath.string() + ": " : "";
    result.Message = "sonabox-server: " + where + message + "\n" + kUsage;
    return result;
  };
  if (!config.Error.empty()) {
    result.Message = "sonabox-server: " + config.Error + "\n" + kUsage;
    return result;
  }
  for (; i < arguments.size(); ++i) {
    std::string name = arguments[i], value;
    if (name == "--help" || name == "-h") {
      result.Help = true;
      result.Message = kUsage;
      return result;
    }
    if (name == "--party") {
      options.Party = true;
      continue;
    }
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return fail(name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name);
    }
    auto port = [&](int &target) {
      const auto number = ReadNumber(value, 0, 65535);
      if (number) target = static_cast<int>(*number);
      return number.has_value();
    };
    auto count = [&](int64_t &target) {
      const auto number = ReadNumber(value, 1, std::numeric_limits<int32_t>::max());
      if (number) target = *number;
      return number.has_value();
    };
    if (name == "--library") {
      options.Library = value;
    } else if (name == "--data") {
      options.Data = value;
      dataGiven = true;
    } else if (name == "--database") {
      if (!IsPostgresAddress(value)) return fail("--database wants a postgresql:// address");
      options.Database = value;
    } else if (name == "--thumbnails") {
      options.Thumbnails = value;
    } else if (name == "--assets") {
      options.Assets = value;
      assetsGiven = true;
    } else if (name == "--update-key") {
      options.UpdateKey = value;
    } else if (name == "--latest-build") {
      const auto number = ReadNumber(value, 0, std::numeric_limits<int32_t>::max());
      if (!number) return fail("--latest-build wants a whole number");
      options.LatestBuild = *number;
    } else if (name == "--feed-port") {
      if (!port(options.FeedPort)) return fail("--feed-port wants a port number");
    } else if (name == "--web-port") {
      if (!port(options.WebPort)) return fail("--web-port wants a port number");
    } else if (name == "--service-port") {
      if (!port(options.ServicePort)) return fail("--service-port wants a port number");
    } else if (name == "--bind") {
      options.Bind = value;
    } else if (name == "--web-host") {
      options.WebHost = value;
    } else if (name == "--share-days") {
      if (!count(options.ShareDays)) return fail("--share-days wants a whole number from 1");
    } else if (name == "--shares-per-hour") {
      if (!count(options.SharesPerHour))
        return fail("--shares-per-hour wants a whole number from 1");
    } else if (name == "--max-shares") {
      if (!count(options.MaxShares)) return fail("--max-shares wants a whole number from 1");
    } else if (name == "--outbox-max") {
      if (!count(options.OutboxMax)) return fail("--outbox-max wants a whole number from 1");
    } else if (name == "--party") {
      // From the options file: "party = yes".
      if (value != "yes" && value != "no") return fail("--party= wants yes or no");
      options.Party = value == "yes";
    } else if (name == "--party-waiting") {
      if (!count(options.PartyLimits.WaitingPerGuest))
        return fail("--party-waiting wants a whole number from 1");
    } else if (name == "--party-replay-minutes") {
      if (!count(options.PartyLimits.ReplayMinutes))
        return fail("--party-replay-minutes wants a whole number from 1");
    } else if (name == "--party-skip-votes") {
      if (!count(options.PartyLimits.SkipVotes))
        return fail("--party-skip-votes wants a whole number from 1");
    } else if (name == "--party-seen-minutes") {
      if (!count(options.PartyLimits.SeenMinutes))
        return fail("--party-seen-minutes wants a whole number from 1");
    } else if (name == "--party-requests-per-minute") {
      if (!count(options.PartyLimits.RequestsPerMinute))
        return fail("--party-requests-per-minute wants a whole number from 1");
    } else {
      return fail("unknown option " + name);
    }
  }
  if (options.Library.empty()) options.Library = DefaultLibraryFolder();
  if (!dataGiven) options.Data = DefaultDataFolder();
  if (!assetsGiven) options.Assets = options.Data / "assets";
  result.Options = std::move(options);
  return result;
}

} // namespace sonabox::server
