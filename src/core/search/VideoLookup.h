#pragma once
// The details of videos that arrived without them: a list of plain addresses
// (what other players write) or XSPF tracks without a title. The video data
// feed host is asked for all of them in one request,
//   POST http://DATAHOST/feeds/api/lookup   form field "ids": "id1,id2,..."
// which it answers with a JSON object whose "videos" holds, for each video it
// knows, its "id", "title", "artist", "seconds", "description" and "rating".
#include "core/common/VideoRecord.h"

#include <chrono>
#include <string>

namespace sonabox {

// The video lacks a title or a length.
bool NeedsLookup(const TVideo &video);

// Asks the configured data host, within `deadline`, about the videos that
// NeedsLookup, and fills in each of their empty fields (title, artist,
// length, description, rating) with what the service knows; the rest stays as
// it is. Answers "" when the service answered, else why not, in the user's
// words ("the video service at 127.0.0.1:8471 could not be reached"); the
// videos are then unchanged.
std::string LookUpVideos(TVideos &videos, std::chrono::milliseconds deadline);

} // namespace sonabox
