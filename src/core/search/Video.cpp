#include "core/search/Video.h"

#include "core/common/TextHelpers.h"
#include "core/search/PerlRegEx.h"
#include "core/web/ServiceHosts.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

namespace sonabox {

namespace {
constexpr std::size_t kDescriptionLimit = 200;

// The host as a pattern that matches it literally: every ASCII character
// other than a letter or digit is escaped ("[::1]:8472", "a.b").
std::string LiteralPattern(std::string_view host) {
  std::string out;
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 128 && !std::isalnum(byte)) out += '\\';
    out += c;
  }
  return out;
}

bool IsXmlChar(uint32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// The character of a reference's name ("amp", "#38", "#x26"), if it is one.
std::optional<uint32_t> ReferencedChar(std::string_view name) {
  static constexpr std::pair<std::string_view, uint32_t> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto &[entity, code] : kNamed)
    if (name == entity) return code;
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  const bool hex = name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t code = 0;
  for (const char c : digits) {
    const auto byte = static_cast<unsigned char>(c);
    int value = -1;
    if (std::isdigit(byte))
      value = c - '0';
    else if (hex && std::isxdigit(byte))
      value = std::tolower(byte) - 'a' + 10;
    if (value < 0) return std::nullopt;
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(value);
  }
  if (!IsXmlChar(code)) return std::nullopt;
  return code;
}

// The patterns of an entry's fields. Compiling them costs more than matching
// them on one entry, so each thread keeps them compiled for the web host whose
// entries it last read (a page of results is read with one host).
struct TEntryPatterns {
  explicit TEntryPatterns(std::string_view webHost) : Host(webHost) {
    Title.SetRegEx("<media:title type='plain'>(.*?)</media:title>");
    Artist.SetRegEx("<author><name>(.*?)</name></author>");
    Url.SetRegEx("<media:player url='http://" + LiteralPattern(webHost) + "/watch\\?v=(.*?)'/>");
    Description.SetRegEx("<media:description type='plain'>(.*?)</media:description>");
    ViewCount.SetRegEx("<yt:statistics viewCount='([0-9]{1,})");
    Rating.SetRegEx("<gd:rating.*?average='(.*?)'");
    Thumbnail.SetRegEx("<media:thumbnail url='(.*?)'.*?/>");
    Seconds.SetRegEx("<yt:duration seconds='([0-9]{1,})");
    for (TPerlRegEx *regex :
         {&Title, &Artist, &Url, &Description, &ViewCount, &Rating, &Thumbnail, &Seconds})
      regex->SetOptions(TPerlRegEx::preCaseLess | TPerlRegEx::preSingleLine);
  }

  const std::string Host;
  TPerlRegEx Title, Artist, Url, Description, ViewCount, Rating, Thumbnail, Seconds;
};

TEntryPatterns &EntryPatterns(std::string_view webHost) {
  thread_local std::unique_ptr<TEntryPatterns> patterns;
  if (!patterns || patterns->Host != webHost) patterns = std::make_unique<TEntryPatterns>(webHost);
  return *patterns;
}

std::string FirstGroup(TPerlRegEx &regex, std::string_view subject) {
  regex.SetSubject(subject);
  return regex.Match() ? regex.Group(1) : std::string();
}
} // namespace

std::string DecodeXmlEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t amp = text.find('&', at);
    if (amp == std::string_view::npos) break;
    out += text.substr(at, amp - at);
    const std::size_t semicolon = text.find(';', amp + 1);
    const std::optional<uint32_t> code =
        semicolon == std::string_view::npos || semicolon - amp > 12
            ? std::nullopt
            : ReferencedChar(text.substr(amp + 1, semicolon - amp - 1));
    if (code) {
      char bytes[4];
      out.append(bytes, EncodeUtf8(*code, bytes));
      at = semicolon + 1;
    } else {
      out += '&';
      at = amp + 1;
    }
  }
  out += text.substr(std::min(at, text.size()));
  return out;
}

namespace {
void ReadEntry(std::string_view entry, TVideo &video, std::string_view webHost, TEntryTexts texts) {
  TEntryPatterns &patterns = EntryPatterns(webHost);
  video.Title = FirstGroup(patterns.Title, entry);
  video.Artist = FirstGroup(patterns.Artist, entry);
  video.Url = FirstGroup(patterns.Url, entry);
  video.Description = FirstGroup(patterns.Description, entry);
  if (texts == TEntryTexts::Xml) {
    video.Title = DecodeXmlEntities(video.Title);
    video.Artist = DecodeXmlEntities(video.Artist);
    video.Description = DecodeXmlEntities(video.Description);
  }
  video.ViewCount = FirstGroup(patterns.ViewCount, entry);
  video.Rating = FirstGroup(patterns.Rating, entry);
  video.Thumbnail = FirstGroup(patterns.Thumbnail, entry);
  const std::string seconds = FirstGroup(patterns.Seconds, entry);

  int32_t value = 0;
  video.DurationSeconds = TryParseInt32(seconds, value) && value <= kLongestDuration ? value : 0;
  video.Duration = SecondsToText(seconds);

  std::erase(video.Description, '\t');
  std::erase(video.Description, '\n');
  // The cut keeps whole UTF-8 characters.
  video.Description = Utf8Cut(video.Description, kDescriptionLimit);
}
} // namespace

void ParseVideoEntry(std::string_view entry, TVideo &video, std::string_view webHost) {
  ReadEntry(entry, video, webHost, TEntryTexts::AsTyped);
}

TFeedEntries ParseFeedEntries(std::string_view page, std::string_view webHost, TEntryTexts texts) {
  TFeedEntries result;
  int32_t total = 0;
  if (TryParseInt32(RegExFirstMatch("totalResults>([0-9]{1,})<", page, 1), total))
    result.TotalResults = total;
  std::vector<std::string> entries;
  RegExAllMatches("<entry>(.*?)</entry>", page, 1, entries);
  result.Videos.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    ReadEntry(entries[i], result.Videos[i], webHost, texts);
  return result;
}

std::string ToShareEntry(const TVideo &video) {
  // The closing pieces are written exactly so: the entry is not XML, and the
  // reader's patterns need only the opening pieces and the quotes. The artist
  // travels in the title, as a playlist row holds it, so that every copy of
  // the program reads the entry alike.
  return "<entry>"
         "<media:title type='plain'>" +
         TitleWithArtist(video) +
         "</media:title>"
         "<media:player url='http://" +
         VideoWebHost() + "/watch?v=" + video.Url +
         "'/></media:player url>"
         "<media:description type='plain'>" +
         video.Description +
         "</media:description>"
         "<yt:statistics viewCount='" +
         video.ViewCount +
         "'></yt>"
         "<gd:rating average='" +
         video.Rating +
         "'></gd>"
         "<media:thumbnail url='" +
         video.Thumbnail +
         "' end/></media>"
         "<yt:duration seconds='" +
         std::to_string(video.DurationSeconds) +
         "'></yt>"
         "</entry>";
}

} // namespace sonabox
