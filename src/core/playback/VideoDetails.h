#pragma once
// TVideoDetails: one video's details, as the current and the previous video of
// playback and as the source of share entries.
#include <cstdint>
#include <string>

namespace sonabox {

class TDataTable;

class TVideoDetails {
public:
  std::string Title;
  std::string Description;
  std::string Url; // the identifier; empty means no video
  std::string Rating;
  std::string ViewCount; // never loaded from a playlist: stays empty there
  std::string Duration;  // "m:ss"
  int32_t DurationSeconds = 0;
  std::string Thumbnail;

  // Copies every field but ViewCount.
  void AssignFrom(const TVideoDetails &other);

  // Sets the same seven fields from the columns of the same names of the
  // table's current row; a null column gives empty text or 0.
  void LoadFromRow(TDataTable &table);

  // The share entry of these details, after loading them from the table's
  // current row when a table is given. Values go in unescaped; the entry is
  // read back by ParseVideoEntry.
  std::string ToShareEntry(TDataTable *table);
};

} // namespace sonabox
