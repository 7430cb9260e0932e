#include "Feed.h"

#include "core/common/TextHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <limits>

namespace sonabox::server {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole number from 1 to 2^31 - 1, digits only.
std::optional<int64_t> ReadCount(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return value;
}

void AppendEntry(std::string &out, const TCatalogueVideo &video, std::string_view webHost) {
  out += "<entry>";
  if (!video.Artist.empty()) {
    out += "<author><name>";
    AppendEntryText(out, video.Artist);
    out += "</name></author>";
  }
  out += "<media:group><media:category label='";
  AppendXmlEscaped(out, video.Category);
  out += "'>";
  AppendXmlEscaped(out, video.Category);
  out += "</media:category><media:title type='plain'>";
  AppendEntryText(out, video.Title);
  out += "</media:title><media:description type='plain'>";
  AppendEntryText(out, video.Description);
  out += "</media:description><media:player url='http://";
  out += webHost;
  out += "/watch?v=";
  out += video.Id;
  out += "'/><media:thumbnail url='http://";
  out += webHost;
  out += "/t/";
  out += video.Id;
  out += ".jpg' height='97' width='130'/><yt:duration seconds='";
  out += std::to_string(video.Seconds);
  out += "'/></media:group><gd:rating average='";
  AppendXmlEscaped(out, video.Rating);
  out += "' max='5' min='1'/><yt:statistics viewCount='";
  out += std::to_string(video.Views);
  out += "'/></entry>\n";
}

} // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<TFeedQuery> ParseFeedQuery(std::string_view target) {
  const std::size_t question = target.find('?');
  std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

  TFeedQuery result;
  std::string rest;
  std::size_t vq = std::string_view::npos, start = 0;
  if (query.rfind("vq=", 0) == 0) {
    vq = 0;
    start = 3;
  } else if ((vq = query.find("&vq=")) != std::string_view::npos) {
    start = vq + 4;
  }
  if (vq != std::string_view::npos) {
    std::size_t end = query.find("&orderby=", start);
    if (end == std::string_view::npos) end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    result.Keywords = PercentDecode(query.substr(start, end - start));
    rest = std::string(query.substr(0, vq));
    rest += query.substr(end);
  } else {
    rest = std::string(query);
  }

  std::string_view params(rest);
  while (!params.empty()) {
    const std::size_t amp = params.find('&');
    const std::string_view param = params.substr(0, amp);
    params = amp == std::string_view::npos ? std::string_view() : params.substr(amp + 1);
    const std::size_t equals = param.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = param.substr(0, equals);
    const std::string value = PercentDecode(param.substr(equals + 1));
    if (name == "start-index" || name == "max-results") {
      const std::optional<int64_t> count = ReadCount(value);
      if (!count) return std::nullopt;
      if (name == "start-index")
        result.StartIndex = *count;
      else
        result.MaxResults = std::min(*count, kMaxFeedResults);
    }
  }
  return result;
}

void AppendXmlEscaped(std::string &out, std::string_view text) {
  for (const char c : ValidUtf8(text)) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '\'': out += "&apos;"; break;
    case '"': out += "&quot;"; break;
    default:
      if (static_cast<unsigned char>(c) >= 32 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
}

void AppendEntryText(std::string &out, std::string_view text) {
  for (const char c : ValidUtf8(text)) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    default:
      if (static_cast<unsigned char>(c) >= 32 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
}

std::string WriteFeed(const TFeedPage &page, const TFeedQuery &query, std::string_view webHost) {
  std::string out;
  out.reserve(600 + page.Videos.size() * 900);
  out += "<?xml version='1.0' encoding='UTF-8'?>\n"
         "<feed xmlns='http://www.w3.org/2005/Atom' "
         "xmlns:openSearch='urn:sonabox:opensearch' "
         "xmlns:media='http://search.yahoo.com/mrss/' "
         "xmlns:gd='urn:sonabox:gd' xmlns:yt='urn:sonabox:yt'>\n<openSearch:totalResults>";
  out += std::to_string(page.Total);
  out += "</openSearch:totalResults><openSearch:startIndex>";
  out += std::to_string(query.StartIndex);
  out += "</openSearch:startIndex><openSearch:itemsPerPage>";
  out += std::to_string(query.MaxResults);
  out += "</openSearch:itemsPerPage>\n";
  for (const TCatalogueVideo &video : page.Videos) AppendEntry(out, video, webHost);
  out += "</feed>\n";
  return out;
}

std::string WriteLookup(const std::vector<TCatalogueVideo> &videos) {
  const auto text = [](const std::string &value) {
    return QString::fromStdString(ValidUtf8(value));
  };
  QJsonArray list;
  for (const TCatalogueVideo &video : videos)
    list.append(QJsonObject{{"id", text(video.Id)},
                            {"title", text(video.Title)},
                            {"artist", text(video.Artist)},
                            {"seconds", static_cast<qint64>(video.Seconds)},
                            {"description", text(video.Description)},
                            {"rating", text(video.Rating)}});
  return QJsonDocument(QJsonObject{{"videos", list}}).toJson(QJsonDocument::Compact).toStdString();
}

std::string WriteCategories(const std::vector<TCategoryCount> &categories) {
  std::string out = "<?xml version='1.0' encoding='UTF-8'?>\n<categories>\n";
  for (const TCategoryCount &category : categories) {
    out += "<category term='";
    AppendXmlEscaped(out, category.Name);
    out += "' count='" + std::to_string(category.Videos) + "'/>\n";
  }
  out += "</categories>\n";
  return out;
}

} // namespace sonabox::server
