#include "FileServing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

// Digits only, below 2^62; -1 for anything else (an empty text too).
int64_t ReadOffset(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > (int64_t{1} << 62))
    return -1;
  return value;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

} // namespace

TByteRange ReadByteRange(std::string_view header, int64_t size) {
  TByteRange unsatisfiable{TByteRange::Unsatisfiable, 0, -1};
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() ||
      !std::equal(kUnit.begin(), kUnit.end(), header.begin(),
                  [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
    return unsatisfiable;
  std::string_view list = header.substr(kUnit.size());
  int count = 0;
  TByteRange range{TByteRange::Part, 0, size - 1};
  while (!list.empty() || count == 0) {
    const std::size_t comma = list.find(',');
    const std::string_view piece = Trimmed(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    const std::size_t dash = piece.find('-');
    if (dash == std::string_view::npos) return unsatisfiable;
    const std::string_view from = piece.substr(0, dash), to = piece.substr(dash + 1);
    if (from.empty()) { // the last bytes
      const int64_t last = ReadOffset(to);
      if (last <= 0 || size == 0) return unsatisfiable;
      range.First = std::max<int64_t>(0, size - last);
      range.Last = size - 1;
    } else {
      const int64_t first = ReadOffset(from);
      const int64_t last = to.empty() ? size - 1 : ReadOffset(to);
      if (first < 0 || last < 0 || last < first || first >= size) return unsatisfiable;
      range.First = first;
      range.Last = std::min(last, size - 1);
    }
    ++count;
  }
  if (count > 1) return {TByteRange::Whole, 0, size - 1};
  return range;
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
  TByteRange range{TByteRange::Whole, 0, size - 1};
  if (const auto header = request.Header("Range")) range = ReadByteRange(*header, size);
  response.Headers.emplace_back("Accept-Ranges", "bytes");
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
