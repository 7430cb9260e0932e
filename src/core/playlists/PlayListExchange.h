#pragma once
// Playlists in the files other players read: extended M3U and XSPF, written
// from a playlist and read back into a new or an existing one.
//
// A video leaves the program as addresses on the video web host: the stream
// "http://HOST/v/ID", which media players can play, and (in XSPF) the watch page
// "http://HOST/watch?v=ID" as its identifier. Coming back, an address counts as
// one of the program's videos when it is either of those two forms on the
// configured web host (host letter case aside, port 80 when none is written,
// "localhost" the same as a loopback address) and ID, once percent-decoded, is
// 1 to 16 of the characters the web host's addresses use (letters, digits,
// "-" and "_"). Every other entry is skipped and counted. The
// thumbnail of an imported video is its address on the web host, as the feed
// gives it; nothing else in a file decides what the program fetches.
//
// Files come from anywhere: they are read whatever their encoding (UTF-8, with
// or without a byte order mark, UTF-16 with one, otherwise Latin-1), at most
// kMaxPlayListFileBytes of them and at most kMaxImportedVideos videos, and a
// damaged file never changes a playlist.
#include "core/playlists/VideoRow.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace sonabox {

class TPlayListManager;

inline constexpr std::size_t kMaxPlayListFileBytes = 16 * 1024 * 1024;
inline constexpr int kMaxImportedVideos = 10000;

enum class TPlayListFormat { M3u, Xspf };

// A file that cannot be imported at all: too large, not well-formed XML, not
// an XSPF playlist, or no video of the program in it. Nothing was written.
class EPlayListFileError : public EDataTableError {
public:
  using EDataTableError::EDataTableError;
};

// The identifier of one of the program's videos from its address, or "" when
// the address is not one (see above).
std::string VideoIdFromAddress(std::string_view address, std::string_view webHost);

// The videos of a playlist table's visible rows, in their order.
TVideos PlayListVideos(TDataTable &table);

struct TExportedPlayList {
  std::string Text;
  int Written = 0;
  int LeftOut = 0; // rows whose identifier no web host address can carry
};

// The file text of the videos. M3U: "#EXTM3U", then "#EXTINF:seconds,Artist -
// Title" (the title alone when no artist is known; -1 seconds when the length
// is unknown) and the stream address for each video. XSPF: well-formed UTF-8
// XML with the playlist's title, and per video its stream address, watch page,
// title, artist (<creator>), description, thumbnail, length in milliseconds
// and rating.
TExportedPlayList WritePlayListFile(const TVideos &videos, TPlayListFormat format,
                                    std::string_view title, std::string_view webHost);

// What a file holds: the videos of the program in file order, and how many
// entries were skipped because they are not (or have no address), or lie past
// kMaxImportedVideos. The format is told by the content: XML is read as XSPF,
// anything else as M3U. Lengths may have a fraction, which is dropped; an
// M3U title "Artist - Title" gives both, XSPF has the artist in <creator>. Throws
// EPlayListFileError for a file too large, an XML document that is not well-formed or not an XSPF
// playlist.
struct TPlayListFile {
  TVideos Videos;
  int NotOurs = 0;
  int OverLimit = 0;
};
TPlayListFile ReadPlayListFile(std::string_view bytes, std::string_view webHost);

struct TImportReport {
  int Added = 0;
  int Duplicates = 0; // already in the playlist (by identifier)
  int NotOurs = 0;
  int OverLimit = 0;
  std::string NotLookedUp; // why titles and lengths could not be looked up (LookUpVideos)
  // "12 videos imported into "Mix"; skipped: 2 already in it, 1 not a video
  // of this program (web host 127.0.0.1:8472)" and so on; only the counts
  // that are not 0 are named. Then why titles could not be looked up, if so.
  std::string Summary(const std::string &name, std::string_view webHost) const;
};

// Stores the videos of a file that was read, in order, into the playlist `name`:
// with `create` a new playlist (named by the store's rules; every video of the
// file is kept, so an exported playlist comes back row for row), otherwise the
// existing one, where videos whose identifier is already in it (or came
// earlier in the file) are skipped. Throws EPlayListFileError when there is
// nothing to add to a new playlist (which is then not created), and the
// store's errors of AddVideosToPlayList. A merge that adds nothing leaves the
// playlist file untouched.
TImportReport ImportPlayList(TPlayListManager &store, const std::string &name, bool create,
                             const TPlayListFile &file, std::string_view webHost);

} // namespace sonabox
