#include "CommandLine.h"

#include <charconv>
#include <cstdlib>
#include <limits>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

constexpr const char *kUsage =
    "usage: sonabox-server --library DIR [--data DIR] [--assets DIR]\n"
    "                      [--update-key FILE] [--latest-build N]\n"
    "                      [--feed-port N] [--web-port N] [--service-port N]\n"
    "                      [--bind ADDR] [--web-host HOST:PORT]\n"
    "                      [--share-days N] [--shares-per-hour N] [--max-shares N]\n"
    "                      [--outbox-max N]\n"
    "\n"
    "Serves the videos of a library folder to Sonabox: a searchable video feed,\n"
    "the videos and thumbnails, and the share and update service.\n"
    "\n"
    "  --library DIR       the video folder; its first-level folders are categories\n"
    "  --data DIR          catalogue, thumbnails and outbox (default\n"
    "                      $XDG_DATA_HOME/Tarnwell/sonabox-server)\n"
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
    "  --help              this text\n"
    "\n"
    "A rescan of the library runs at start, every minute and on SIGHUP.\n"
    "Limits of every port: request heads of 64 KiB, request bodies of 1 MiB,\n"
    "connections idle for 15 s closed, 1000 connections, 128 from one address.\n";

std::optional<int64_t> ReadNumber(const std::string &text, int64_t low, int64_t high) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    return std::nullopt;
  return value;
}

} // namespace

fs::path DefaultDataFolder() {
  const char *data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data && *data) {
    base = data;
  } else {
    const char *home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".local" / "share";
  }
  return base / "Tarnwell" / "sonabox-server";
}

TCommandLine ParseCommandLine(const std::vector<std::string> &arguments) {
  TCommandLine result;
  TServerOptions options;
  bool dataGiven = false, assetsGiven = false;
  auto fail = [&](const std::string &message) {
    result.Message = "sonabox-server: " + message + "\n" + kUsage;
    return result;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i], value;
    if (name == "--help" || name == "-h") {
      result.Help = true;
      result.Message = kUsage;
      return result;
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
    } else {
      return fail("unknown option " + name);
    }
  }
  if (options.Library.empty()) return fail("--library is required");
  if (!dataGiven) options.Data = DefaultDataFolder();
  if (!assetsGiven) options.Assets = options.Data / "assets";
  result.Options = std::move(options);
  return result;
}

} // namespace sonabox::server
