#include "core/playlists/VideoRow.h"

namespace sonabox {

std::vector<TFieldDef> PlayListColumns() {
  using namespace VideoColumn;
  return {{Added, TFieldType::DateTime, 0},          {Duration, TFieldType::String, 10},
          {DurationSeconds, TFieldType::Integer, 0}, {Description, TFieldType::String, 210},
          {Rating, TFieldType::String, 5},           {Thumbnail, TFieldType::String, 50},
          {Title, TFieldType::String, 100},          {Url, TFieldType::String, 16}};
}

TVideo VideoFromRow(TDataTable &table) {
  TVideo video;
  SetTitleWithArtist(table.FieldByName(VideoColumn::Title).AsString(), video);
  video.Description = table.FieldByName(VideoColumn::Description).AsString();
  video.Url = table.FieldByName(VideoColumn::Url).AsString();
  video.Rating = table.FieldByName(VideoColumn::Rating).AsString();
  video.Duration = table.FieldByName(VideoColumn::Duration).AsString();
  video.DurationSeconds = table.FieldByName(VideoColumn::DurationSeconds).AsInteger();
  video.Thumbnail = table.FieldByName(VideoColumn::Thumbnail).AsString();
  return video;
}

void StoreVideoInRow(const TVideo &video, TDataTable &table) {
  table.FieldByName(VideoColumn::Title).SetAsString(TitleWithArtist(video));
  table.FieldByName(VideoColumn::Description).SetAsString(video.Description);
  table.FieldByName(VideoColumn::Url).SetAsString(video.Url);
  table.FieldByName(VideoColumn::Rating).SetAsString(video.Rating);
  table.FieldByName(VideoColumn::Duration).SetAsString(video.Duration);
  table.FieldByName(VideoColumn::DurationSeconds).SetAsInteger(video.DurationSeconds);
  table.FieldByName(VideoColumn::Thumbnail).SetAsString(video.Thumbnail);
}

} // namespace sonabox
