#include "LibraryScanner.h"

#include "HttpEngine.h"
#include "PlainPicture.h"
#include "core/common/Files.h"
#include "core/common/TextHelpers.h"

#include <libffmpegthumbnailer/videothumbnailer.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <set>
#include <system_error>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

struct TMediaType {
  const char *Extension;
  const char *MediaType;
  bool Audio;
};

constexpr std::array<TMediaType, 16> kMediaTypes{{
    {".webm", "video/webm", false},
    {".mp4", "video/mp4", false},
    {".m4v", "video/mp4", false},
    {".mkv", "video/x-matroska", false},
    {".mov", "video/quicktime", false},
    {".avi", "video/x-msvideo", false},
    {".ogv", "video/ogg", false},
    {".flv", "video/x-flv", false},
    {".mpg", "video/mpeg", false},
    {".mpeg", "video/mpeg", false},
    {".wmv", "video/x-ms-wmv", false},
    {".mp3", "audio/mpeg", true},
    {".m4a", "audio/mp4", true},
    {".ogg", "audio/ogg", true},
    {".opus", "audio/ogg", true},
    {".flac", "audio/flac", true},
}};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

const TMediaType *TypeOf(const fs::path &name) {
  const std::string extension = Lower(name.extension().string());
  for (const TMediaType &type : kMediaTypes)
    if (extension == type.Extension) return &type;
  return nullptr;
}

constexpr std::size_t kMaxTitleBytes = 300;
constexpr std::size_t kMaxDescriptionBytes = 5000;

// Bytes that are not UTF-8 are replaced and control characters become blanks
// (line breaks too, unless kept), so that a title stays on one line; blanks at
// both ends go.
std::string CleanText(std::string_view raw, bool keepLineBreaks, std::size_t maxBytes) {
  const std::string text = ValidUtf8(raw);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (keepLineBreaks && (c == '\n' || c == '\r'))
      out += '\n';
    else if (c < 32 || c == 127)
      out += ' ';
    else
      out += static_cast<char>(c);
  }
  return Utf8Cut(TrimControl(out), maxBytes);
}

std::string MetadataValue(AVDictionary *metadata, std::initializer_list<const char *> keys) {
  for (const char *key : keys) {
    // Keys are matched without regard to case: Matroska writes "DESCRIPTION".
    if (const AVDictionaryEntry *entry = av_dict_get(metadata, key, nullptr, 0);
        entry && entry->value && *entry->value)
      return entry->value;
  }
  return {};
}

// A tag of the container, or else of the first stream that has it: Ogg keeps
// its Vorbis comments per stream. libavformat gives every container's artist
// (mp4 "\xc2\xa9ART", Matroska ARTIST, RIFF IART, ID3 TPE1) as "artist".
std::string Tag(const AVFormatContext *context, std::initializer_list<const char *> keys) {
  std::string value = MetadataValue(context->metadata, keys);
  for (unsigned i = 0; value.empty() && i < context->nb_streams; ++i)
    value = MetadataValue(context->streams[i]->metadata, keys);
  return value;
}

// Whether a bracketed part of a file name only says what kind of upload it
// is: "(Official Video)", "[HD]", "(Lyrics)".
bool IsUploadNote(std::string_view inner) {
  const std::string text = Lower(std::string(TrimControl(inner)));
  for (const char *word : {"official", "lyric", "visuali"})
    if (text.find(word) != std::string::npos) return true;
  for (const char *note : {"video", "audio", "music video", "hd", "hq", "4k", "1080p", "720p",
                           "remastered", "explicit"})
    if (text == note) return true;
  return false;
}

} // namespace

bool IsVideoFileName(const fs::path &name) {
  const TMediaType *type = TypeOf(name);
  return type && !type->Audio;
}

bool IsAudioFileName(const fs::path &name) {
  const TMediaType *type = TypeOf(name);
  return type && type->Audio;
}

std::string MediaTypeFor(const fs::path &name) {
  const TMediaType *type = TypeOf(name);
  return type ? type->MediaType : "application/octet-stream";
}

TNamedTitle TitleFromFileName(const fs::path &name) {
  const std::string whole = CleanText(name.stem().string(), false, kMaxTitleBytes);
  std::string text = whole;
  for (;;) {
    const char close = text.empty() ? 0 : text.back();
    const std::size_t open = close == ')'   ? text.rfind('(')
                             : close == ']' ? text.rfind('[')
                                            : std::string::npos;
    if (open == std::string::npos || open == 0 ||
        !IsUploadNote(std::string_view(text).substr(open + 1, text.size() - open - 2)))
      break;
    text = TrimControl(text.substr(0, open));
  }
  TNamedTitle named;
  for (const char *dash : {" - ", " \u2013 ", " \u2014 "}) {
    const std::size_t at = text.find(dash);
    if (at == std::string::npos) continue;
    std::string artist = TrimControl(text.substr(0, at));
    std::string title = TrimControl(text.substr(at + std::string_view(dash).size()));
    if (artist.empty() || title.empty()) continue;
    named.Artist = std::move(artist);
    named.Title = std::move(title);
    return named;
  }
  named.Title = text.empty() ? whole : text;
  return named;
}

std::optional<TMediaInfo> ProbeMedia(const fs::path &file) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

  AVFormatContext *context = nullptr;
  if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::optional<TMediaInfo> info;
  if (avformat_find_stream_info(context, nullptr) >= 0) {
    bool playable = false; // a moving picture or a sound; a cover alone is neither
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      const AVStream *stream = context->streams[i];
      if ((stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) ||
          stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
        playable = true;
    }
    if (playable) {
      info.emplace();
      info->Title = CleanText(Tag(context, {"title"}), false, kMaxTitleBytes);
      info->Artist = CleanText(Tag(context, {"artist", "album_artist"}), false, kMaxTitleBytes);
      info->Description = CleanText(Tag(context, {"description", "comment", "synopsis"}), true,
                                    kMaxDescriptionBytes);
      if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        info->Seconds = (context->duration + AV_TIME_BASE / 2) / AV_TIME_BASE;
    }
  }
  avformat_close_input(&context);
  return info;
}

bool MakeThumbnail(const fs::path &media, const fs::path &jpeg) {
  try {
    ffmpegthumbnailer::VideoThumbnailer thumbnailer;
    thumbnailer.setLogCallback([](ThumbnailerLogLevel, const std::string &) {});
    thumbnailer.setThumbnailSize(130, 97);
    thumbnailer.setMaintainAspectRatio(false);
    thumbnailer.setImageQuality(8);
    thumbnailer.setPreferEmbeddedMetadata(IsAudioFileName(media));
    std::vector<uint8_t> picture;
    thumbnailer.generateThumbnail(media.string(), ThumbnailerImageType::Jpeg, picture);
    WriteFileAtomically(
        jpeg.string(),
        std::string_view(reinterpret_cast<const char *>(picture.data()), picture.size()));
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

namespace {
// A picture for the file: one made from it, or else the plain one. False when
// the plain one stands in.
bool PlaceThumbnail(const fs::path &media, const fs::path &jpeg) {
  if (MakeThumbnail(media, jpeg)) return true;
  try {
    WriteFileAtomically(jpeg.string(), PlainPicture());
  } catch (const std::exception &) {
    // The picture address then answers 404, as for a video never scanned.
  }
  return false;
}
} // namespace

std::string ContentKey(const fs::path &file) {
  constexpr std::size_t kPart = 1 << 20;
  TFileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0) return {};
  const auto size = static_cast<std::size_t>(info.st_size);
  std::string bytes = std::to_string(size) + "\n";
  const std::size_t head = bytes.size();
  const std::size_t wanted = std::min(size, 2 * kPart);
  bytes.resize(head + wanted);
  // The first MiB, and the last MiB where the file is longer than two.
  auto readAt = [&](std::size_t into, std::size_t length, off_t from) {
    std::size_t done = 0;
    while (done < length) {
      const ssize_t got = ::pread(fd.Get(), bytes.data() + into + done, length - done,
                                  from + static_cast<off_t>(done));
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  };
  const bool read =
      size <= 2 * kPart
          ? readAt(head, wanted, 0)
          : readAt(head, kPart, 0) && readAt(head + kPart, kPart, static_cast<off_t>(size - kPart));
  return read ? Sha1Hex(bytes) : std::string();
}

namespace {
struct TFileTimes {
  int64_t Size = 0;
  int64_t MTime = 0; // ns
  int64_t CTime = 0; // ns
};

std::optional<TFileTimes> Times(const fs::path &file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return TFileTimes{info.st_size, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
                    info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
}

bool Below(std::string_view path, std::string_view folder) {
  return folder.empty() || (path.size() > folder.size() &&
                            path.substr(0, folder.size()) == folder && path[folder.size()] == '/');
}
} // namespace

TScanReport ScanLibrary(TCatalogue &catalogue, const fs::path &library, const fs::path &thumbnails,
                        const TLogLine &log) {
  std::error_code error;
  if (!fs::is_directory(library, error))
    throw std::runtime_error("the library folder " + library.string() + " cannot be read");
  fs::directory_iterator top(library, error);
  if (error)
    throw std::runtime_error("the library folder " + library.string() +
                             " cannot be read: " + error.message());
  fs::create_directories(thumbnails);

  TScanReport report;
  report.Folders.push_back(library);
  std::map<std::string, TFileStamp> known = catalogue.Files();
  std::multimap<std::string, std::string> knownByContent;
  for (const auto &[path, stamp] : known)
    if (!stamp.Content.empty()) knownByContent.emplace(stamp.Content, path);
  std::set<std::string> seen;
  std::map<std::string, std::string> unreadable; // folder below the library -> why
  std::vector<TCatalogueVideo> stored, deferred;
  std::vector<fs::path> storedFiles, deferredFiles;
  int read = 0;

  // New and changed files are stored in batches, so that a first scan of a
  // large library shows its videos as it goes.
  auto store = [&](std::vector<TCatalogueVideo> &videos, std::vector<fs::path> &files) {
    catalogue.Apply(videos, {});
    for (std::size_t i = 0; i < videos.size(); ++i) {
      const fs::path jpeg = thumbnails / (videos[i].Id + ".jpg");
      if (log)
        log("scan: " + videos[i].RelPath +
            (videos[i].MovedFrom.empty() ? "" : " (moved from " + videos[i].MovedFrom + ")") +
            " as " + videos[i].Id);
      if (!videos[i].MovedFrom.empty() && fs::exists(jpeg, error)) continue;
      if (!PlaceThumbnail(files[i], jpeg) && log)
        log("scan: no picture in " + videos[i].RelPath + ", the plain one stands in");
    }
    read += static_cast<int>(videos.size());
    if (log && !videos.empty()) log("scan: " + std::to_string(read) + " files read so far");
    videos.clear();
    files.clear();
  };

  // Each folder is read on its own, so that one that cannot be read keeps
  // what the catalogue holds of it.
  std::vector<fs::path> folders{library};
  while (!folders.empty()) {
    const fs::path folder = std::move(folders.back());
    folders.pop_back();
    const std::string relFolder =
        folder == library ? std::string() : folder.lexically_relative(library).generic_string();
    fs::directory_iterator walk(folder, error);
    for (; !error && walk != fs::directory_iterator(); walk.increment(error)) {
      const fs::directory_entry &entry = *walk;
      const std::string name = entry.path().filename().string();
      std::error_code ignored;
      if (name.empty() || name[0] == '.' || entry.is_symlink(ignored)) continue;
      if (entry.is_directory(ignored)) {
        folders.push_back(entry.path());
        report.Folders.push_back(entry.path());
        continue;
      }
      if (!TypeOf(entry.path())) continue;
      const std::optional<TFileTimes> times = Times(entry.path());
      if (!times) continue;

      const fs::path relative = entry.path().lexically_relative(library);
      const std::string relPath = relative.generic_string();
      const auto old = known.find(relPath);
      // A tagger may keep the modification time; the change time it cannot.
      if (old != known.end() && old->second.Size == times->Size &&
          old->second.MTime == times->MTime && old->second.CTime == times->CTime) {
        seen.insert(relPath);
        ++report.Unchanged;
        const fs::path jpeg = thumbnails / (old->second.Id + ".jpg");
        if (!fs::exists(jpeg, ignored)) PlaceThumbnail(entry.path(), jpeg);
        continue;
      }
      const std::optional<TMediaInfo> info = ProbeMedia(entry.path());
      const std::string content = info ? ContentKey(entry.path()) : std::string();
      if (content.empty()) {
        ++report.Skipped;
        if (log) log("scan: skipped " + relPath + " (neither video nor sound could be read)");
        continue;
      }
      seen.insert(relPath);
      TCatalogueVideo video;
      video.RelPath = relPath;
      // A folder name that is not UTF-8 is shown, and asked for, with its
      // stray bytes replaced.
      if (std::distance(relative.begin(), relative.end()) > 1)
        video.Category = CleanText(relative.begin()->string(), false, kMaxTitleBytes);
      video.Title = info->Title;
      video.Artist = info->Artist;
      if (video.Title.empty()) {
        TNamedTitle named = TitleFromFileName(entry.path().filename());
        video.Title = std::move(named.Title);
        if (video.Artist.empty()) video.Artist = std::move(named.Artist);
      }
      video.Description = info->Description;
      video.Seconds = info->Seconds;
      video.Size = times->Size;
      video.MTime = times->MTime;
      video.CTime = times->CTime;
      video.Content = content;
      if (old != known.end()) {
        ++report.Changed;
      } else if (knownByContent.count(content)) {
        // Maybe a known file under a new name: decided once the whole
        // library has been seen.
        deferred.push_back(std::move(video));
        deferredFiles.push_back(entry.path());
        continue;
      } else {
        ++report.Added;
      }
      stored.push_back(std::move(video));
      storedFiles.push_back(entry.path());
      if (stored.size() == 100) store(stored, storedFiles);
    }
    if (error) {
      if (folder == library)
        throw std::runtime_error("the library folder " + library.string() +
                                 " could not be read to the end: " + error.message());
      unreadable[relFolder] = error.message();
      error.clear();
    }
  }
  store(stored, storedFiles);

  // What a folder that cannot be read held stays, marked unavailable.
  for (const auto &[path, stamp] : known)
    for (const auto &[folder, why] : unreadable)
      if (Below(path, folder)) seen.insert(path);
  catalogue.MarkUnavailable(unreadable);
  for (const auto &[folder, why] : unreadable)
    if (log)
      log("scan: the folder " + folder + " cannot be read (" + why +
          "); what it held is kept, marked unavailable");

  // A new name whose content was known under a name now gone is a move: the
  // file keeps its id, play count and picture.
  for (TCatalogueVideo &video : deferred) {
    const auto [first, last] = knownByContent.equal_range(video.Content);
    for (auto it = first; it != last; ++it) {
      if (seen.count(it->second)) continue;
      video.MovedFrom = it->second;
      seen.insert(it->second);
      break;
    }
    ++(video.MovedFrom.empty() ? report.Added : report.Moved);
  }
  store(deferred, deferredFiles);

  std::vector<std::string> removed;
  for (const auto &[path, stamp] : known)
    if (!seen.count(path)) removed.push_back(path);
  if (!removed.empty()) {
    catalogue.Apply(stored, removed);
    for (const std::string &path : removed) {
      std::error_code ignored;
      fs::remove(thumbnails / (known[path].Id + ".jpg"), ignored);
      if (log) log("scan: removed " + path);
    }
  }
  report.Removed = static_cast<int>(removed.size());
  return report;
}

} // namespace sonabox::server
