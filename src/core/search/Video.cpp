#include "core/search/Video.h"

#include "core/common/TextHelpers.h"
#include "core/playlists/DataTable.h"
#include "core/search/PerlRegEx.h"

#include <algorithm>
#include <memory>

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

// The patterns of an entry's fields. Compiling them costs more than matching
// them on one entry, so each thread keeps them compiled for the web host whose
// entries it last read (a page of results is read with one host).
struct TEntryPatterns {
  explicit TEntryPatterns(std::string_view webHost) : Host(webHost) {
    Title.SetRegEx("<media:title type='plain'>(.*?)</media:title>");
    Url.SetRegEx("<media:player url='http://" + EscapeDots(webHost) + "/watch\\?v=(.*?)'/>");
    Description.SetRegEx("<media:description type='plain'>(.*?)</media:description>");
    ViewCount.SetRegEx("<yt:statistics viewCount='([0-9]{1,})");
    Rating.SetRegEx("<gd:rating.*?average='(.*?)'");
    Thumbnail.SetRegEx("<media:thumbnail url='(.*?)'.*?/>");
    Seconds.SetRegEx("<yt:duration seconds='([0-9]{1,})");
    for (TPerlRegEx *regex :
         {&Title, &Url, &Description, &ViewCount, &Rating, &Thumbnail, &Seconds})
      regex->SetOptions(TPerlRegEx::preCaseLess | TPerlRegEx::preSingleLine);
  }

  const std::string Host;
  TPerlRegEx Title, Url, Description, ViewCount, Rating, Thumbnail, Seconds;
};

TEntryPatterns &EntryPatterns(std::string_view webHost) {
  thread_local std::unique_ptr<TEntryPatterns> patterns;
  if (!patterns || patterns->Host != webHost) patterns = std::make_unique<TEntryPatterns>(webHost);
  return *patterns;
}

std::string FirstGroup(TPerlRegEx &regex, std::string_view subject) {
  regex.SetSubject(subject);
  return regex.Match() ? regex.Group(1) : std::string();
}
} // namespace

void ParseVideoEntry(std::string_view entry, TVideo &video, std::string_view webHost) {
  TEntryPatterns &patterns = EntryPatterns(webHost);
  video.Title = FirstGroup(patterns.Title, entry);
  video.Url = FirstGroup(patterns.Url, entry);
  video.Description = FirstGroup(patterns.Description, entry);
  video.ViewCount = FirstGroup(patterns.ViewCount, entry);
  video.Rating = FirstGroup(patterns.Rating, entry);
  video.Thumbnail = FirstGroup(patterns.Thumbnail, entry);
  const std::string seconds = FirstGroup(patterns.Seconds, entry);

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
