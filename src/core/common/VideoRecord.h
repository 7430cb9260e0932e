#pragma once
// The video record: one video's details, as a feed page or a share gives them,
// as a playlist row holds them, and as the current video of playback. Search
// results call it TVideo, playback and sharing TVideoDetails; it is one record.
#include <cstdint>
#include <string>
#include <string_view>
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
  std::string Artist; // who made it; empty when not known
};

using TVideoDetails = TVideo;
using TVideos = std::vector<TVideo>;

// A playlist's "Title" column and the title of a share entry have no place of
// their own for the artist: they carry "Artist – Title" (an en dash between
// spaces), so that older copies of the program read and show both, and the
// playlist filter finds the artist too. The title alone when no artist is
// known; the artist alone when there is no title.
std::string TitleWithArtist(const TVideo &video);

// Reads such a text back: the artist is what stands before the first " – ",
// the title what follows it; a text without one is all title.
void SetTitleWithArtist(std::string_view text, TVideo &video);

// The name the program shows and tells for a video (the now-playing line,
// the expanded window, the desktop's controls and notifications):
// TitleWithArtist, or the identifier when the video has neither a title nor
// an artist, so that it is never nameless.
std::string ShownTitle(const TVideo &video);

} // namespace sonabox
