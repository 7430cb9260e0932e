#include "LibraryScanner.h"

#include "core/common/TextHelpers.h"

#include <libffmpegthumbnailer/videothumbnailer.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <set>
#include <system_error>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

struct TVideoType {
  const char *Extension;
  const char *MediaType;
};

constexpr std::array<TVideoType, 11> kVideoTypes{{
    {".webm", "video/webm"},
    {".mp4", "video/mp4"},
    {".m4v", "video/mp4"},
    {".mkv", "video/x-matroska"},
    {".mov", "video/quicktime"},
    {".avi", "video/x-msvideo"},
    {".ogv", "video/ogg"},
    {".flv", "video/x-flv"},
    {".mpg", "video/mpeg"},
    {".mpeg", "video/mpeg"},
    {".wmv", "video/x-ms-wmv"},
}};

const TVideoType *TypeOf(const fs::path &name) {
  std::string extension = name.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const TVideoType &type : kVideoTypes)
    if (extension == type.Extension) return &type;
  return nullptr;
}

constexpr std::size_t kMaxTitleBytes = 300;
constexpr std::size_t kMaxDescriptionBytes = 5000;

// Control characters become blanks (line breaks too, unless kept), so that a
// title stays on one line; blanks at both ends go.
std::string CleanText(std::string_view text, bool keepLineBreaks, std::size_t maxBytes) {
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

int64_t ModificationTime(const fs::directory_entry &entry, std::error_code &error) {
  const auto time = entry.last_write_time(error);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

} // namespace

bool IsVideoFileName(const fs::path &name) { return TypeOf(name) != nullptr; }

std::string MediaTypeFor(const fs::path &name) {
  const TVideoType *type = TypeOf(name);
  return type ? type->MediaType : "application/octet-stream";
}

std::optional<TMediaInfo> ProbeMedia(const fs::path &file) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

  AVFormatContext *context = nullptr;
  if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::optional<TMediaInfo> info;
  if (avformat_find_stream_info(context, nullptr) >= 0) {
    bool hasVideo = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      const AVStream *stream = context->streams[i];
      if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
        hasVideo = true;
    }
    if (hasVideo) {
      info.emplace();
      info->Title = CleanText(MetadataValue(context->metadata, {"title"}), false, kMaxTitleBytes);
      info->Description =
          CleanText(MetadataValue(context->metadata, {"description", "comment", "synopsis"}), true,
                    kMaxDescriptionBytes);
      if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        info->Seconds = (context->duration + AV_TIME_BASE / 2) / AV_TIME_BASE;
    }
  }
  avformat_close_input(&context);
  return info;
}

bool MakeThumbnail(const fs::path &video, const fs::path &jpeg) {
  const fs::path partial = jpeg.string() + ".partial";
  try {
    ffmpegthumbnailer::VideoThumbnailer thumbnailer;
    thumbnailer.setLogCallback([](ThumbnailerLogLevel, const std::string &) {});
    thumbnailer.setThumbnailSize(130, 97);
    thumbnailer.setMaintainAspectRatio(false);
    thumbnailer.setImageQuality(8);
    thumbnailer.generateThumbnail(video.string(), ThumbnailerImageType::Jpeg, partial.string());
    fs::rename(partial, jpeg);
    return true;
  } catch (const std::exception &) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    return false;
  }
}

TScanReport ScanLibrary(TCatalogue &catalogue, const fs::path &library, const fs::path &thumbnails,
                        const TLogLine &log) {
  std::error_code error;
  if (!fs::is_directory(library, error))
    throw std::runtime_error("the library folder " + library.string() + " cannot be read");
  fs::recursive_directory_iterator walk(library, fs::directory_options::skip_permission_denied,
                                        error);
  if (error)
    throw std::runtime_error("the library folder " + library.string() +
                             " cannot be read: " + error.message());
  fs::create_directories(thumbnails);

  TScanReport report;
  std::map<std::string, TFileStamp> known = catalogue.Files();
  std::set<std::string> seen;
  std::vector<TCatalogueVideo> stored;
  std::vector<fs::path> storedFiles;

  // New and changed files are stored in batches, so that a first scan of a
  // large library shows its videos as it goes.
  auto store = [&] {
    catalogue.Apply(stored, {});
    for (std::size_t i = 0; i < stored.size(); ++i) {
      if (log) log("scan: " + stored[i].RelPath + " as " + stored[i].Id);
      if (!MakeThumbnail(storedFiles[i], thumbnails / (stored[i].Id + ".jpg")) && log)
        log("scan: no thumbnail for " + stored[i].RelPath);
    }
    stored.clear();
    storedFiles.clear();
  };

  for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    if (error) break;
    const fs::directory_entry &entry = *walk;
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') {
      if (entry.is_directory(error)) walk.disable_recursion_pending();
      continue;
    }
    if (entry.is_symlink(error) || !entry.is_regular_file(error) || !IsVideoFileName(entry.path()))
      continue;

    const fs::path relative = entry.path().lexically_relative(library);
    const std::string relPath = relative.generic_string();
    const int64_t size = static_cast<int64_t>(entry.file_size(error));
    if (error) continue;
    const int64_t mtime = ModificationTime(entry, error);
    if (error) continue;

    const auto old = known.find(relPath);
    if (old != known.end() && old->second.Size == size && old->second.MTime == mtime) {
      seen.insert(relPath);
      ++report.Unchanged;
      const fs::path jpeg = thumbnails / (old->second.Id + ".jpg");
      if (!fs::exists(jpeg, error)) MakeThumbnail(entry.path(), jpeg);
      continue;
    }
    const std::optional<TMediaInfo> info = ProbeMedia(entry.path());
    if (!info) {
      ++report.Skipped;
      if (log) log("scan: skipped " + relPath + " (no readable video)");
      continue;
    }
    seen.insert(relPath);
    TCatalogueVideo video;
    video.RelPath = relPath;
    if (std::distance(relative.begin(), relative.end()) > 1)
      video.Category = relative.begin()->string();
    video.Title = info->Title.empty()
                      ? CleanText(entry.path().stem().string(), false, kMaxTitleBytes)
                      : info->Title;
    video.Description = info->Description;
    video.Seconds = info->Seconds;
    video.Size = size;
    video.MTime = mtime;
    stored.push_back(std::move(video));
    storedFiles.push_back(entry.path());
    if (old == known.end())
      ++report.Added;
    else
      ++report.Changed;
    if (stored.size() == 100) store();
  }
  if (error)
    throw std::runtime_error("the library folder " + library.string() +
                             " could not be read to the end: " + error.message());
  store();

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
