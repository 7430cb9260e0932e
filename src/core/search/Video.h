#pragma once
// The video record as it comes from the web, the reading of one feed entry,
// and the storing of a record into a playlist row.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonabox {

class TDataTable;

struct TVideo {
  std::string Title;
  std::string Description; // tabs and line feeds removed, at most 200 bytes
  std::string Url;         // the identifier: what follows "watch?v=" on the web host
  std::string Rating;
  std::string ViewCount;
  std::string Duration; // "m:ss"
  int32_t DurationSeconds = 0;
  std::string Thumbnail;
};

using TVideos = std::vector<TVideo>;

// Fills every field of `video` from the text of one <entry> element (feed or
// share entry). Never fails: what is not found stays empty. The watch address
// is matched on `webHost` (callers read VideoWebHost() once for a whole page).
void ParseVideoEntry(std::string_view entry, TVideo &video, std::string_view webHost);

// Sets "Title", "Description", "Url", "Rating", "Duration", "DurationSeconds"
// and "Thumbnail" of the table's pending or current row. The view count is not
// stored and "Added" is left alone.
void StoreVideoInRow(const TVideo &video, TDataTable &table);

} // namespace sonabox
