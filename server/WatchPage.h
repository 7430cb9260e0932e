#pragma once
// The watch page of the video web host: a small HTML page that plays the
// video in the browser. Every text of the video is escaped.
#include "Catalogue.h"

#include <string>

namespace sonabox::server {

// The page of a catalogued video: title, artist, player (muted, so that
// browsers start it, with an "Unmute" button), description, duration, views
// and category. A container that browsers cannot play, or a file that cannot
// be read now, is said instead of a player.
std::string WatchPage(const TCatalogueVideo &video);

// The page answered (with 404) for an identifier that names no video.
std::string NoSuchVideoPage();

} // namespace sonabox::server
