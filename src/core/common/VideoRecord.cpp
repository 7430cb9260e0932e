#include "core/common/VideoRecord.h"

namespace sonabox {

namespace {
constexpr std::string_view kArtistDash = " \u2013 "; // " – "
}

std::string TitleWithArtist(const TVideo &video) {
  if (video.Artist.empty()) return video.Title;
  if (video.Title.empty()) return video.Artist;
  return video.Artist + std::string(kArtistDash) + video.Title;
}

void SetTitleWithArtist(std::string_view text, TVideo &video) {
  const std::size_t dash = text.find(kArtistDash);
  if (dash == std::string_view::npos || dash == 0) {
    video.Artist.clear();
    video.Title = std::string(text);
    return;
  }
  video.Artist = std::string(text.substr(0, dash));
  video.Title = std::string(text.substr(dash + kArtistDash.size()));
}

std::string ShownTitle(const TVideo &video) {
  std::string shown = TitleWithArtist(video);
  return shown.empty() ? video.Url : shown;
}

} // namespace sonabox
