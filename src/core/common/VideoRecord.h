#pragma once
// The video record: one video's details, as a feed page or a share gives them,
// as a playlist row holds them, and as the current video of playback. Search
// results call it TVideo, playback and sharing TVideoDetails; it is one record.
#include <cstdint>
#include <string>
#include <vector>

namespace sonabox {

struct TVideo {
  std::string Title;
  std::string Description; // tabs and line feeds removed, at most 200 bytes
  std::string Url; // the identifier: what follows "watch?v=" on the web host; empty: no video
  std::string Rating;
  std::string ViewCount; // never kept in a playlist: empty for a video read from a row
  std::string Duration;  // "m:ss"
  int32_t DurationSeconds = 0;
  std::string Thumbnail;
};

using TVideoDetails = TVideo;
using TVideos = std::vector<TVideo>;

} // namespace sonabox
