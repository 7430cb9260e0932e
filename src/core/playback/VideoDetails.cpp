#include "core/playback/VideoDetails.h"

#include "core/playlists/DataTable.h"
#include "core/web/ServiceHosts.h"

namespace sonabox {

void TVideoDetails::AssignFrom(const TVideoDetails &other) {
  Title = other.Title;
  Description = other.Description;
  Url = other.Url;
  Rating = other.Rating;
  Duration = other.Duration;
  DurationSeconds = other.DurationSeconds;
  Thumbnail = other.Thumbnail;
}

void TVideoDetails::LoadFromRow(TDataTable &table) {
  Title = table.FieldByName("Title").AsString();
  Description = table.FieldByName("Description").AsString();
  Url = table.FieldByName("Url").AsString();
  Rating = table.FieldByName("Rating").AsString();
  Duration = table.FieldByName("Duration").AsString();
  DurationSeconds = table.FieldByName("DurationSeconds").AsInteger();
  Thumbnail = table.FieldByName("Thumbnail").AsString();
}

std::string TVideoDetails::ToShareEntry(TDataTable *table) {
  if (table) LoadFromRow(*table);
  // The closing pieces are written exactly so: the entry is not XML, and the
  // reader's patterns need only the opening pieces and the quotes.
  return "<entry>"
         "<media:title type='plain'>" +
         Title +
         "</media:title>"
         "<media:player url='http://" +
         VideoWebHost() + "/watch?v=" + Url +
         "'/></media:player url>"
         "<media:description type='plain'>" +
         Description +
         "</media:description>"
         "<yt:statistics viewCount='" +
         ViewCount +
         "'></yt>"
         "<gd:rating average='" +
         Rating +
         "'></gd>"
         "<media:thumbnail url='" +
         Thumbnail +
         "' end/></media>"
         "<yt:duration seconds='" +
         std::to_string(DurationSeconds) +
         "'></yt>"
         "</entry>";
}

} // namespace sonabox
