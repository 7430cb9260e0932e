#pragma once
// The three service hosts, read from the per-user store each time they are
// asked for. Each is "host" or "host:port", written into "http://" addresses.
// The defaults reach a sonabox-server running on this machine.
#include <string>
#include <string_view>

namespace sonabox {

// The video data feed host (value "VideoDataHost", default 127.0.0.1:8471).
std::string VideoDataHost();

// The video web host: watch pages, player addresses, thumbnails
// (value "VideoWebHost", default 127.0.0.1:8472).
std::string VideoWebHost();

// The maker's share and update service host (value "ServiceHost", default 127.0.0.1:8473).
std::string ServiceHost();

// Whether the text can be a service host: "host" or "host:port" (a port of 1
// to 65535), without blanks, controls or any of "/?#@\\".
bool IsServiceHost(std::string_view text);

} // namespace sonabox
