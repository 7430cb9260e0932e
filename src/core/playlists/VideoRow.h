#pragma once
// A playlist row as a video record: the playlist's columns by name, and the
// one mapping that reads a record from a row and writes one into a row.
#include "core/common/VideoRecord.h"
#include "core/playlists/DataTable.h"

#include <vector>

namespace sonabox {

// The names of a playlist's columns.
namespace VideoColumn {
inline constexpr const char *Added = "Added";
inline constexpr const char *Duration = "Duration";
inline constexpr const char *DurationSeconds = "DurationSeconds";
inline constexpr const char *Description = "Description";
inline constexpr const char *Rating = "Rating";
inline constexpr const char *Thumbnail = "Thumbnail";
inline constexpr const char *Title = "Title";
inline constexpr const char *Url = "Url";
} // namespace VideoColumn

// The eight columns of a playlist table, in their order.
std::vector<TFieldDef> PlayListColumns();

// The video of the table's current row; a null column gives empty text or 0.
// The view count is not a column and stays empty. The "Title" column holds
// the artist too (TitleWithArtist).
TVideo VideoFromRow(TDataTable &table);

// Sets the seven video columns (all but "Added") of the table's pending or
// current row, the artist within "Title". The view count is not stored.
void StoreVideoInRow(const TVideo &video, TDataTable &table);

} // namespace sonabox
