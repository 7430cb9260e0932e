#pragma once
// Scanning the library folder into the catalogue: metadata through
// libavformat, thumbnails through libffmpegthumbnailer.
#include "Catalogue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonabox::server {

// Whether the name ends in one of the video extensions served (any case).
bool IsVideoFileName(const std::filesystem::path &name);

// Whether the name ends in one of the audio extensions served (any case): mp3,
// m4a, ogg, opus, flac.
bool IsAudioFileName(const std::filesystem::path &name);

// The media type answered for a file of that name.
std::string MediaTypeFor(const std::filesystem::path &name);

struct TMediaInfo {
  std::string Title;       // empty when the file has none
  std::string Artist;      // empty when the file has none
  std::string Description; // empty when the file has none
  int64_t Seconds = 0;
};

// Reads a media file's tags (those of the container first, then those of each
// stream, where Ogg keeps them) and length; nothing when libavformat cannot
// open it or it holds neither a video nor an audio stream. Texts are valid
// UTF-8 on one line (a description keeps its line breaks).
std::optional<TMediaInfo> ProbeMedia(const std::filesystem::path &file);

struct TNamedTitle {
  std::string Artist; // empty when the name has none
  std::string Title;
};

// The title a file name gives when the file has no title tag: the name
// without its extension, bytes that are not UTF-8 replaced, a trailing
// "(Official Video)" and the like dropped, and "Artist - Title" split in two.
TNamedTitle TitleFromFileName(const std::filesystem::path &name);

// Writes a 130x97 JPEG of a frame of the video, or of an audio file's cover
// (through a temporary file, so that a failure leaves no partial picture).
// False when no picture could be made.
bool MakeThumbnail(const std::filesystem::path &media, const std::filesystem::path &jpeg);

// What identifies a file's content whatever its name: the SHA-1 (hex) of its
// size and of its first and last MiB (the whole file when it is smaller).
// Empty when the file cannot be read.
std::string ContentKey(const std::filesystem::path &file);

// Receives one line of text (no line break) to log.
using TLogLine = std::function<void(const std::string &)>;

struct TScanReport {
  int Added = 0;
  int Changed = 0;
  int Removed = 0;
  int Unchanged = 0;
  int Moved = 0;                              // known files under a new name or in another folder
  int Skipped = 0;                            // media-named files that could not be read
  std::vector<std::filesystem::path> Folders; // every folder read, the library first
};

// Brings the catalogue in line with the library folder: new and changed video
// and audio files (by size, modification time and change time) are read,
// removed ones dropped, the rest left alone. A new name holding the content of
// a name now gone is the same file moved: it keeps its id. Thumbnails go to
// `thumbnails` as ID.jpg (the plain picture when none can be made). Hidden
// files and symbolic links are not followed. A library folder that cannot be
// read throws and changes nothing, so that an unmounted disk never empties the
// catalogue; a folder inside it that cannot be read keeps what it held, marked
// unavailable with the reason. One line per new, changed, moved, skipped or
// removed file, and per unreadable folder, goes to `log` when it is set.
TScanReport ScanLibrary(TCatalogue &catalogue, const std::filesystem::path &library,
                        const std::filesystem::path &thumbnails, const TLogLine &log);

} // namespace sonabox::server
