#include "core/web/ServiceHosts.h"

#include "core/common/TextHelpers.h"
#include "core/settings/Settings.h"

namespace sonabox {

namespace {
std::string HostValue(const char *name, const char *fallback) {
  const std::optional<std::string> value = StoreReadString(name);
  if (!value) return fallback;
  const std::string host = TrimControl(*value);
  return host.empty() ? std::string(fallback) : host;
}
} // namespace

std::string VideoDataHost() { return HostValue(store_key::kVideoDataHost, "127.0.0.1:8471"); }
std::string VideoWebHost() { return HostValue(store_key::kVideoWebHost, "127.0.0.1:8472"); }
std::string ServiceHost() { return HostValue(store_key::kServiceHost, "127.0.0.1:8473"); }

bool IsServiceHost(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) <= 32 || c == 127 ||
        std::string_view("/?#@\\").find(c) != std::string_view::npos)
      return false;
  // "[v6 address]" or a name, then ":port" when given.
  std::size_t hostEnd = 0;
  if (text.starts_with('[')) {
    hostEnd = text.find(']');
    if (hostEnd == std::string_view::npos || hostEnd < 2) return false;
    ++hostEnd;
  } else {
    hostEnd = text.find(':');
    if (hostEnd == std::string_view::npos) hostEnd = text.size();
    if (hostEnd == 0) return false;
  }
  const std::string_view rest = text.substr(hostEnd);
  if (rest.empty()) return true;
  int port = 0;
  return rest.size() >= 2 && rest.size() <= 6 && rest[0] == ':' && rest[1] != '0' &&
         TryParseInt32(rest.substr(1), port) &&
         rest.find_first_not_of(":0123456789") == std::string_view::npos && port >= 1 &&
         port <= 65535;
}

} // namespace sonabox
