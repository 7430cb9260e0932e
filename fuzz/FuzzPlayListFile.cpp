// Fuzz target: any bytes as an imported playlist file (M3U or XSPF). What is
// read, written as either format and read again, gives the same videos.
#include "core/playlists/PlayListExchange.h"

#include <cstdlib>

using namespace sonabox;

namespace {
const char kHost[] = "127.0.0.1:8472";

std::string Key(const TVideos &videos, bool full) {
  std::string key;
  for (const TVideo &v : videos)
    key += v.Url + "\n" + v.Title + "\n" + std::to_string(v.DurationSeconds) + "\n" +
           (full ? v.Description + "\n" + v.Rating + "\n" : "");
  return key;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TPlayListFile file;
  try {
    file = ReadPlayListFile(std::string_view(reinterpret_cast<const char *>(data), size), kHost);
  } catch (const EPlayListFileError &) {
    return 0;
  }
  for (const TPlayListFormat format : {TPlayListFormat::M3u, TPlayListFormat::Xspf}) {
    const TExportedPlayList written = WritePlayListFile(file.Videos, format, "fuzz", kHost);
    const TPlayListFile again = ReadPlayListFile(written.Text, kHost);
    const bool full = format == TPlayListFormat::Xspf;
    if (written.LeftOut != 0 || Key(again.Videos, full) != Key(file.Videos, full)) std::abort();
  }
  return 0;
}
