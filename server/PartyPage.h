#pragma once
// The guest page and its script and style, built into the server from
// server/party/.
#include <string_view>

namespace sonabox::server {

std::string_view PartyPageHtml();
std::string_view PartyPageScript();
std::string_view PartyPageStyle();

} // namespace sonabox::server
