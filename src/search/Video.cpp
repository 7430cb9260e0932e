#include "search/Video.h"

#include "common/TextHelpers.h"
#include "playlists/DataTable.h"
#include "search/PerlRegEx.h"

#include <algorithm>

namespace sonabox {

namespace {
constexpr std::size_t kDescriptionLimit = 200;

// The host as a pattern: every dot written as "\.".
std::string EscapeDots(std::string_view host) {
  std::string out;
  for (char c : host) {
    if (c == '.') out += '\\';
    out += c;
  }
  return out;
}
} // namespace

void ParseVideoEntry(std::string_view entry, TVideo &video, std::string_view webHost) {
  video.Title = RegExFirstMatch("<media:title type='plain'>(.*?)</media:title>", entry, 1);
  video.Url = RegExFirstMatch(
      "<media:player url='http://" + EscapeDots(webHost) + "/watch\\?v=(.*?)'/>", entry, 1);
  video.Description =
      RegExFirstMatch("<media:description type='plain'>(.*?)</media:description>", entry, 1);
  video.ViewCount = RegExFirstMatch("<yt:statistics viewCount='([0-9]{1,})", entry, 1);
  video.Rating = RegExFirstMatch("<gd:rating.*?average='(.*?)'", entry, 1);
  video.Thumbnail = RegExFirstMatch("<media:thumbnail url='(.*?)'.*?/>", entry, 1);
  const std::string seconds = RegExFirstMatch("<yt:duration seconds='([0-9]{1,})", entry, 1);

  int32_t value = 0;
  video.DurationSeconds = TryParseInt32(seconds, value) ? value : 0;
  video.Duration = SecondsToText(seconds);

  std::erase(video.Description, '\t');
  std::erase(video.Description, '\n');
  // The cut keeps whole UTF-8 characters.
  video.Description = Utf8Cut(video.Description, kDescriptionLimit);
}

void StoreVideoInRow(const TVideo &video, TDataTable &table) {
  table.FieldByName("Title").SetAsString(video.Title);
  table.FieldByName("Description").SetAsString(video.Description);
  table.FieldByName("Url").SetAsString(video.Url);
  table.FieldByName("Rating").SetAsString(video.Rating);
  table.FieldByName("Duration").SetAsString(video.Duration);
  table.FieldByName("DurationSeconds").SetAsInteger(video.DurationSeconds);
  table.FieldByName("Thumbnail").SetAsString(video.Thumbnail);
}

} // namespace sonabox
