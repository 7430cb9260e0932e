#include "core/playlists/PlayListExchange.h"

#include "core/common/TextHelpers.h"
#include "core/playlists/PlayListManager.h"

#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <set>

namespace sonabox {

namespace {

constexpr std::size_t kDescriptionLimit = 200; // as a feed entry's
const QString kXspfNamespace = QStringLiteral("http://xspf.org/ns/0/");
const QString kRatingMeta = QStringLiteral("urn:sonabox:rating");

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "host:port" with the port written (80 when none is), letters in lower case.
std::string Authority(std::string_view host) {
  std::string out = Lower(host);
  const std::size_t bracket = out.rfind(']');
  const std::size_t colon = out.rfind(':');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) out += ":80";
  return out;
}

// The host of an authority ("host:port") and whether it names this machine
// as "localhost" or as a loopback address.
bool SameHost(const std::string &address, const std::string &webHost) {
  if (address == webHost) return true;
  const auto split = [](const std::string &authority) {
    const std::size_t colon = authority.rfind(':');
    return std::pair(authority.substr(0, colon), authority.substr(colon));
  };
  const auto [host, port] = split(address);
  const auto [ourHost, ourPort] = split(webHost);
  // "localhost" reaches a server on either loopback address.
  const auto loopback = [](const std::string &name) {
    return name == "127.0.0.1" || name == "[::1]";
  };
  return port == ourPort &&
         ((host == "localhost" && loopback(ourHost)) || (ourHost == "localhost" && loopback(host)));
}

// "%XX" with two hexadecimal digits as its byte; nothing when a "%" is not
// followed by two.
std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
      return std::nullopt;
    const auto digit = [](char c) {
      return std::isdigit(static_cast<unsigned char>(c))
                 ? c - '0'
                 : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    };
    out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
    i += 2;
  }
  return out;
}

bool IsIdChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

bool IsVideoId(std::string_view id) {
  return !id.empty() && id.size() <= 16 && std::all_of(id.begin(), id.end(), IsIdChar);
}

// The identifier an address spells, percent-encoded or not; "" when it is none.
std::string DecodedVideoId(std::string_view text) {
  const std::optional<std::string> id = PercentDecoded(text);
  return id && IsVideoId(*id) ? *id : std::string();
}

std::string StreamAddress(std::string_view webHost, const std::string &id) {
  return "http://" + std::string(webHost) + "/v/" + id;
}

std::string WatchAddress(std::string_view webHost, const std::string &id) {
  return "http://" + std::string(webHost) + "/watch?v=" + id;
}

// The bytes of a file as text, by its byte order mark, else as UTF-8 when
// they are valid UTF-8, else as Latin-1.
QString DecodeFile(std::string_view bytes) {
  const QByteArray data =
      QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  const auto has = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (has("\xEF\xBB\xBF")) return QString::fromUtf8(data.mid(3));
  if (has("\xFF\xFE") || has("\xFE\xFF")) {
    QStringDecoder decoder(has("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
    return decoder(data.mid(2));
  }
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = utf8(data);
  return utf8.hasError() ? QString::fromLatin1(data) : text;
}

// A text from a file as one line of UTF-8: control characters become spaces,
// blanks at both ends go.
std::string OneLine(const QString &text) {
  QString line = text;
  for (QChar &c : line)
    if (c.unicode() < 32 || c.unicode() == 127) c = u' ';
  return line.trimmed().toStdString();
}

// A stored text with only the characters that XML allows.
QString XmlChars(std::string_view text) {
  const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QString out;
  out.reserve(decoded.size());
  for (qsizetype i = 0; i < decoded.size(); ++i) {
    const QChar c = decoded.at(i);
    if (c.isHighSurrogate() && i + 1 < decoded.size() && decoded.at(i + 1).isLowSurrogate()) {
      out += c;
      out += decoded.at(++i);
      continue;
    }
    const char16_t code = c.unicode();
    if (c.isSurrogate() || code == 0xFFFE || code == 0xFFFF ||
        (code < 32 && code != '\t' && code != '\n' && code != '\r'))
      continue;
    out += c;
  }
  return out;
}

// An element with the text, left out when the text is empty. A carriage
// return is written as a reference: a reader makes a line feed of a bare one.
void TextElement(QXmlStreamWriter &xml, const QString &name, std::string_view text,
                 const QString &rel = {}) {
  if (text.empty()) return;
  xml.writeStartElement(name);
  if (!rel.isEmpty()) xml.writeAttribute(QStringLiteral("rel"), rel);
  const QStringList pieces = XmlChars(text).split(u'\r');
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    if (i > 0) xml.writeEntityReference(QStringLiteral("#13"));
    xml.writeCharacters(pieces[i]);
  }
  xml.writeEndElement();
}

// A stored text as one line of valid UTF-8 (for an M3U title).
std::string LineText(std::string_view text) {
  return OneLine(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

// One entry of a file, before it is known whether it is the program's.
struct TEntry {
  std::vector<std::string> Addresses; // location, identifier: the first that is ours counts
  std::string Title, Artist, Description, Rating;
  int64_t Seconds = 0;
};

// Collects the usable entries of a file within the limit.
class TCollector {
public:
  explicit TCollector(std::string_view webHost) : webHost_(webHost) {}

  void Add(const TEntry &entry) {
    std::string id;
    for (const std::string &address : entry.Addresses)
      if (id.empty()) id = VideoIdFromAddress(address, webHost_);
    if (id.empty()) {
      ++file_.NotOurs;
      return;
    }
    if (static_cast<int>(file_.Videos.size()) >= kMaxImportedVideos) {
      ++file_.OverLimit;
      return;
    }
    TVideo video;
    video.Url = id;
    video.Title = entry.Title;
    video.Artist = entry.Artist;
    // As a feed entry's, but trimmed after the cut too, so that a file
    // written from the playlist reads back the same.
    std::string description = entry.Description;
    std::erase(description, '\t');
    std::erase(description, '\n');
    video.Description =
        QString::fromStdString(Utf8Cut(description, kDescriptionLimit)).trimmed().toStdString();
    video.Rating = entry.Rating;
    video.DurationSeconds =
        entry.Seconds <= kLongestDuration ? static_cast<int32_t>(entry.Seconds) : 0;
    video.Duration = SecondsToText(std::to_string(video.DurationSeconds));
    video.Thumbnail = "http://" + std::string(webHost_) + "/t/" + id + ".jpg";
    file_.Videos.push_back(std::move(video));
  }

  TPlayListFile Take() { return std::move(file_); }

private:
  std::string_view webHost_;
  TPlayListFile file_;
};

// Whole seconds from a decimal text (a fraction is dropped: "10.4" is 10);
// 0 when it is not a number, is negative or lies beyond 32 bits.
int64_t Seconds(const QString &text, double divisor) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok) / divisor;
  return ok && value > 0 && value < INT32_MAX ? static_cast<int64_t>(value) : 0;
}

// "#EXTINF:length attributes,title": the title follows the first comma that
// stands outside quoted attribute values. A title written "Artist - Title",
// as players write it, gives both.
void ReadExtInf(const QString &line, TEntry &entry) {
  const QString rest = line.mid(8);
  qsizetype comma = -1;
  bool quoted = false;
  for (qsizetype i = 0; i < rest.size() && comma < 0; ++i) {
    if (rest.at(i) == u'"') quoted = !quoted;
    if (rest.at(i) == u',' && !quoted) comma = i;
  }
  const QString head = comma < 0 ? rest : rest.left(comma);
  entry.Seconds = Seconds(head.section(u' ', 0, 0, QString::SectionSkipEmpty), 1);
  const QString title = comma < 0 ? QString() : rest.mid(comma + 1);
  const qsizetype dash = title.indexOf(QStringLiteral(" - "));
  if (dash > 0 && !title.mid(dash + 3).trimmed().isEmpty()) {
    entry.Artist = OneLine(title.left(dash));
    entry.Title = OneLine(title.mid(dash + 3));
  } else {
    entry.Title = OneLine(title);
  }
}

void ReadM3u(const QString &text, TCollector &collector) {
  TEntry pending;
  for (const QString &raw : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
    const QString line = raw.trimmed();
    if (line.isEmpty()) continue;
    if (line.startsWith(u'#')) {
      if (line.startsWith(QStringLiteral("#EXTINF:"), Qt::CaseInsensitive)) {
        pending = TEntry();
        ReadExtInf(line, pending);
      }
      continue; // the header, comments and other directives
    }
    pending.Addresses = {line.toStdString()};
    collector.Add(pending);
    pending = TEntry();
  }
}

bool IsXspf(const QXmlStreamReader &reader, const QString &name) {
  return reader.name() == name &&
         (reader.namespaceUri().isEmpty() || reader.namespaceUri() == kXspfNamespace);
}

void ReadTrack(QXmlStreamReader &reader, TCollector &collector) {
  TEntry entry;
  std::string identifier;
  while (reader.readNextStartElement()) {
    if (IsXspf(reader, QStringLiteral("location"))) {
      entry.Addresses.push_back(
          reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString());
    } else if (IsXspf(reader, QStringLiteral("identifier"))) {
      identifier =
          reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString();
    } else if (IsXspf(reader, QStringLiteral("title"))) {
      entry.Title = OneLine(reader.readElementText(QXmlStreamReader::SkipChildElements));
    } else if (IsXspf(reader, QStringLiteral("creator"))) {
      entry.Artist = OneLine(reader.readElementText(QXmlStreamReader::SkipChildElements));
    } else if (IsXspf(reader, QStringLiteral("annotation"))) {
      entry.Description =
          reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString();
    } else if (IsXspf(reader, QStringLiteral("duration"))) {
      entry.Seconds = Seconds(reader.readElementText(QXmlStreamReader::SkipChildElements), 1000);
    } else if (IsXspf(reader, QStringLiteral("meta")) &&
               reader.attributes().value(QStringLiteral("rel")) == kRatingMeta) {
      entry.Rating = OneLine(reader.readElementText(QXmlStreamReader::SkipChildElements));
    } else {
      reader.skipCurrentElement();
    }
  }
  // The stream address first, the watch page when no location is ours.
  if (!identifier.empty()) entry.Addresses.push_back(identifier);
  if (!reader.hasError()) collector.Add(entry);
}

void ReadXspf(const QString &text, TCollector &collector) {
  QXmlStreamReader reader(text);
  if (reader.readNextStartElement() && !IsXspf(reader, QStringLiteral("playlist")))
    throw EPlayListFileError("The file is XML but not an XSPF playlist: its first element is <" +
                             OneLine(reader.name().toString()) + ">.");
  while (!reader.hasError() && reader.readNextStartElement()) {
    if (!IsXspf(reader, QStringLiteral("trackList"))) {
      reader.skipCurrentElement();
      continue;
    }
    while (reader.readNextStartElement()) {
      if (IsXspf(reader, QStringLiteral("track")))
        ReadTrack(reader, collector);
      else
        reader.skipCurrentElement();
    }
  }
  // Read to the end, so that a fault after the last track is found too.
  while (!reader.atEnd() && !reader.hasError()) reader.readNext();
  if (reader.hasError())
    throw EPlayListFileError("The file is not a well-formed XSPF playlist: line " +
                             std::to_string(reader.lineNumber()) + ", column " +
                             std::to_string(reader.columnNumber()) + ": " +
                             reader.errorString().toStdString());
}

std::string Count(int count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::string VideoIdFromAddress(std::string_view address, std::string_view webHost) {
  const std::string_view scheme = "http://";
  if (address.size() <= scheme.size() || Lower(address.substr(0, scheme.size())) != scheme)
    return {};
  std::string_view rest = address.substr(scheme.size());
  rest = rest.substr(0, rest.find('#'));
  const std::size_t pathStart = rest.find_first_of("/?");
  if (pathStart == std::string_view::npos ||
      !SameHost(Authority(rest.substr(0, pathStart)), Authority(webHost)))
    return {};
  const std::string_view target = rest.substr(pathStart);
  if (target.rfind("/v/", 0) == 0) {
    // "/v/ID", or the player's "/v/ID&autoplay=1"
    const std::string_view tail = target.substr(3);
    const std::string_view id = tail.substr(0, tail.find_first_of("&?"));
    return DecodedVideoId(id);
  }
  if (target.rfind("/watch?", 0) != 0) return {};
  std::string_view query = target.substr(7);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view param = query.substr(0, amp);
    if (param.rfind("v=", 0) == 0) return DecodedVideoId(param.substr(2));
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
  }
  return {};
}

TVideos PlayListVideos(TDataTable &table) {
  TVideos videos;
  for (table.First(); !table.Eof(); table.Next()) {
    videos.push_back(VideoFromRow(table));
  }
  return videos;
}

TExportedPlayList WritePlayListFile(const TVideos &videos, TPlayListFormat format,
                                    std::string_view title, std::string_view webHost) {
  TExportedPlayList out;
  if (format == TPlayListFormat::M3u) {
    out.Text = "#EXTM3U\n";
    for (const TVideo &video : videos) {
      if (!IsVideoId(video.Url)) {
        ++out.LeftOut;
        continue;
      }
      ++out.Written;
      const std::string name = video.Artist.empty() || video.Title.empty()
                                   ? video.Artist + video.Title
                                   : video.Artist + " - " + video.Title;
      out.Text +=
          "#EXTINF:" + std::to_string(video.DurationSeconds > 0 ? video.DurationSeconds : -1) +
          "," + LineText(name) + "\n" + StreamAddress(webHost, video.Url) + "\n";
    }
    return out;
  }

  QByteArray bytes;
  QXmlStreamWriter xml(&bytes);
  xml.setAutoFormatting(true);
  xml.setAutoFormattingIndent(2);
  xml.writeStartDocument();
  xml.writeDefaultNamespace(kXspfNamespace);
  xml.writeStartElement(QStringLiteral("playlist"));
  xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
  TextElement(xml, QStringLiteral("title"), title);
  xml.writeStartElement(QStringLiteral("trackList"));
  for (const TVideo &video : videos) {
    if (!IsVideoId(video.Url)) {
      ++out.LeftOut;
      continue;
    }
    ++out.Written;
    xml.writeStartElement(QStringLiteral("track"));
    TextElement(xml, QStringLiteral("location"), StreamAddress(webHost, video.Url));
    TextElement(xml, QStringLiteral("identifier"), WatchAddress(webHost, video.Url));
    TextElement(xml, QStringLiteral("title"), video.Title);
    TextElement(xml, QStringLiteral("creator"), video.Artist);
    TextElement(xml, QStringLiteral("annotation"), video.Description);
    TextElement(xml, QStringLiteral("image"), video.Thumbnail);
    if (video.DurationSeconds > 0)
      TextElement(xml, QStringLiteral("duration"),
                  std::to_string(int64_t{video.DurationSeconds} * 1000));
    TextElement(xml, QStringLiteral("meta"), video.Rating, kRatingMeta);
    xml.writeEndElement();
  }
  xml.writeEndDocument(); // closes the track list and the playlist
  out.Text = bytes.toStdString();
  return out;
}

TPlayListFile ReadPlayListFile(std::string_view bytes, std::string_view webHost) {
  if (bytes.size() > kMaxPlayListFileBytes)
    throw EPlayListFileError("The file is larger than " +
                             std::to_string(kMaxPlayListFileBytes / (1024 * 1024)) +
                             " MiB; a playlist file is far smaller.");
  const QString text = DecodeFile(bytes);
  TCollector collector(webHost);
  if (text.trimmed().startsWith(u'<'))
    ReadXspf(text, collector);
  else
    ReadM3u(text, collector);
  return collector.Take();
}

std::string TImportReport::Summary(const std::string &name, std::string_view webHost) const {
  std::string out = Count(Added, "video", "videos") + " imported into \"" + name + "\"";
  std::vector<std::string> skipped;
  if (Duplicates) skipped.push_back(std::to_string(Duplicates) + " already in it");
  if (NotOurs)
    skipped.push_back(Count(NotOurs, "not a video", "not videos") + " of this program (web host " +
                      std::string(webHost) + ")");
  if (OverLimit)
    skipped.push_back(std::to_string(OverLimit) + " past the " +
                      std::to_string(kMaxImportedVideos) + " videos one file may bring");
  for (std::size_t i = 0; i < skipped.size(); ++i)
    out += (i == 0 ? "; skipped: " : ", ") + skipped[i];
  if (!NotLookedUp.empty())
    out += ". Titles and lengths the file lacks could not be looked up: " + NotLookedUp;
  return out;
}

TImportReport ImportPlayList(TPlayListManager &store, const std::string &name, bool create,
                             const TPlayListFile &file, std::string_view webHost) {
  TImportReport report;
  report.NotOurs = file.NotOurs;
  report.OverLimit = file.OverLimit;
  if (create) {
    if (file.Videos.empty())
      throw EPlayListFileError("The file holds no video of this program (web host " +
                               std::string(webHost) + "); " +
                               Count(file.NotOurs, "entry was", "entries were") + " skipped.");
    AddVideosToPlayList(store, name, true, file.Videos);
    report.Added = static_cast<int>(file.Videos.size());
    return report;
  }
  // A file that brings nothing new writes nothing.
  TDataTable playList;
  if (!store.OpenPlayList(playList, name)) throw ENoPlayList(name);
  std::set<std::string> held;
  for (const TVideo &video : PlayListVideos(playList)) held.insert(video.Url);
  if (std::all_of(file.Videos.begin(), file.Videos.end(),
                  [&](const TVideo &video) { return held.count(video.Url) > 0; })) {
    report.Duplicates = static_cast<int>(file.Videos.size());
    return report;
  }
  // What the playlist holds is read again as it is on disk, under the store's lock.
  store.ChangePlayList(playList, name, [&](TDataTable &table) {
    std::set<std::string> known;
    for (const TVideo &video : PlayListVideos(table)) known.insert(video.Url);
    for (const TVideo &video : file.Videos) {
      if (!known.insert(video.Url).second) {
        ++report.Duplicates;
        continue;
      }
      table.Insert();
      StoreVideoInRow(video, table);
      table.Post();
      ++report.Added;
    }
  });
  return report;
}

} // namespace sonabox
