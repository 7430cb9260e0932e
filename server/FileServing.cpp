#include "FileServing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

// Digits only (a value beyond 2^62 counts as 2^62, past the end of any file);
// -1 for anything else, an empty text too.
int64_t ReadOffset(std::string_view text) {
  constexpr int64_t kHuge = int64_t{1} << 62;
  if (text.empty()) return -1;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value >= kHuge / 10 ? kHuge : std::min(kHuge, value * 10 + (c - '0'));
  }
  return value;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string HttpDate(time_t time) {
  tm parts{};
  gmtime_r(&time, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

// An HTTP date in its preferred form; nothing for anything else.
std::optional<time_t> ReadHttpDate(const std::string &text) {
  tm parts{};
  const char *end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
  if (!end || *end) return std::nullopt;
  return timegm(&parts);
}

// Whether an If-None-Match list names the entity tag ("*" names any); weak
// tags compare by their opaque part.
bool ListNames(std::string_view list, std::string_view tag) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = Trimmed(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == "*" || item == tag) return true;
  }
  return false;
}

} // namespace

TByteRange ReadByteRange(std::string_view header, int64_t size) {
  const TByteRange whole{TByteRange::Whole, 0, size - 1};
  const TByteRange unsatisfiable{TByteRange::Unsatisfiable, 0, -1};
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() ||
      !std::equal(kUnit.begin(), kUnit.end(), header.begin(),
                  [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
    return whole; // a unit this server does not know is ignored
  std::string_view list = header.substr(kUnit.size());
  int elements = 0;
  TByteRange span{TByteRange::Unsatisfiable, size, -1}; // the smallest first, the largest last
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view piece = Trimmed(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (piece.empty()) continue; // "0-1,,5-6" has an empty element, which is allowed
    ++elements;
    const std::size_t dash = piece.find('-');
    if (dash == std::string_view::npos) return unsatisfiable;
    const std::string_view from = piece.substr(0, dash), to = piece.substr(dash + 1);
    int64_t first = 0, last = 0;
    if (from.empty()) { // the last bytes
      const int64_t length = ReadOffset(to);
      if (length < 0) return unsatisfiable;
      if (length == 0 || size == 0) continue;
      first = std::max<int64_t>(0, size - length);
      last = size - 1;
    } else {
      first = ReadOffset(from);
      last = to.empty() ? size - 1 : ReadOffset(to);
      if (first < 0 || last < 0 || last < first) return unsatisfiable;
      if (first >= size) continue;
      last = std::min(last, size - 1); // a last position past the end means the end
    }
    span = {TByteRange::Part, std::min(span.First, first), std::max(span.Last, last)};
  }
  if (elements == 0) return unsatisfiable;
  return span.Kind == TByteRange::Part ? span : unsatisfiable;
}

bool InsideFolder(const fs::path &folder, const fs::path &file) {
  std::error_code error;
  const fs::path base = fs::canonical(folder, error);
  if (error) return false;
  const fs::path target = fs::canonical(file, error);
  if (error) return false;
  const auto [end, rest] = std::mismatch(base.begin(), base.end(), target.begin(), target.end());
  return end == base.end() && rest != target.end();
}

void Refuse(THttpResponse &response, int status) {
  response.Status = status;
  response.SetContent("ERROR", "text/plain");
}

int64_t ServeFile(const THttpRequest &request, THttpResponse &response, const fs::path &file,
                  const std::string &mediaType) {
  TFileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    Refuse(response, 404);
    return -1;
  }
  const int64_t size = info.st_size;
  char tag[80];
  std::snprintf(tag, sizeof tag, "\"%llx-%llx-%llx.%lx\"",
                static_cast<unsigned long long>(info.st_ino), static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec);
  const std::string entityTag = tag;
  response.Headers.emplace_back("Accept-Ranges", "bytes");
  response.Headers.emplace_back("ETag", entityTag);
  response.Headers.emplace_back("Last-Modified", HttpDate(info.st_mtim.tv_sec));

  // If-Modified-Since counts only where If-None-Match is absent.
  const auto noneMatch = request.Header("If-None-Match");
  const auto modifiedSince = noneMatch ? std::nullopt : request.Header("If-Modified-Since");
  const auto since = modifiedSince ? ReadHttpDate(*modifiedSince) : std::nullopt;
  if ((noneMatch && ListNames(*noneMatch, entityTag)) || (since && info.st_mtim.tv_sec <= *since)) {
    response.Status = 304;
    return -1;
  }

  // A range is answered only while the file is the one If-Range names (by
  // strong tag or exact date); otherwise the whole file.
  TByteRange range{TByteRange::Whole, 0, size - 1};
  const auto ifRange = request.Header("If-Range");
  const bool sameFile =
      !ifRange || *ifRange == entityTag ||
      (!ifRange->empty() && ifRange->front() != '"' && ifRange->rfind("W/", 0) != 0 &&
       ReadHttpDate(*ifRange) == std::optional<time_t>(info.st_mtim.tv_sec));
  if (const auto header = request.Header("Range"); header && sameFile)
    range = ReadByteRange(*header, size);
  if (range.Kind == TByteRange::Unsatisfiable) {
    response.Status = 416;
    response.Headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    return -1;
  }
  if (range.Kind == TByteRange::Part) {
    response.Status = 206;
    response.Headers.emplace_back("Content-Range", "bytes " + std::to_string(range.First) + "-" +
                                                       std::to_string(range.Last) + "/" +
                                                       std::to_string(size));
  }
  response.ContentType = mediaType;
  response.File = std::move(fd);
  response.FileOffset = static_cast<uint64_t>(range.First);
  response.FileLength = static_cast<uint64_t>(range.Last - range.First + 1);
  return range.First;
}

} // namespace sonabox::server
