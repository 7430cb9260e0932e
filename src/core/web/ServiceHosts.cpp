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

} // namespace sonabox
