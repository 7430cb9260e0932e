#include "core/playback/PlayerDocument.h"

#include "core/common/TextHelpers.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace sonabox {

namespace {

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
  return lower;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

struct TTag {
  std::string name;                                            // lower case
  std::vector<std::pair<std::string, std::string>> attributes; // names in lower case

  const std::string *Attribute(std::string_view attributeName) const {
    for (const auto &[key, value] : attributes)
      if (key == attributeName) return &value;
    return nullptr;
  }
};

// Reads the start tag whose name begins at `pos` (just after "<"). Returns false
// when the text ends before the tag is closed: such a tag is dropped. On return
// `pos` is just after the closing ">".
bool ReadTag(const std::string &html, const std::string &lower, std::size_t &pos, TTag &tag) {
  const std::size_t n = html.size();
  std::size_t p = pos;
  while (p < n && IsNameChar(html[p])) ++p;
  tag.name = lower.substr(pos, p - pos);
  tag.attributes.clear();
  while (p < n && html[p] != '>') {
    if (IsSpace(html[p]) || html[p] == '/') {
      ++p;
      continue;
    }
    const std::size_t nameStart = p++;
    while (p < n && !IsSpace(html[p]) && html[p] != '=' && html[p] != '>' && html[p] != '/') ++p;
    std::string name = lower.substr(nameStart, p - nameStart);
    std::string value;
    std::size_t q = p;
    while (q < n && IsSpace(html[q])) ++q;
    if (q < n && html[q] == '=') {
      ++q;
      while (q < n && IsSpace(html[q])) ++q;
      if (q < n && (html[q] == '"' || html[q] == '\'')) {
        const std::size_t end = html.find(html[q], q + 1);
        if (end == std::string::npos) return false;
        value = html.substr(q + 1, end - q - 1);
        p = end + 1;
      } else {
        const std::size_t valueStart = q;
        while (q < n && !IsSpace(html[q]) && html[q] != '>') ++q;
        value = html.substr(valueStart, q - valueStart);
        p = q;
      }
    }
    tag.attributes.emplace_back(std::move(name), std::move(value));
  }
  if (p >= n) return false;
  pos = p + 1;
  return true;
}

} // namespace

std::string PlayerAddress(const std::string &id, const std::string &webHost) {
  return "http://" + webHost + "/v/" + id + "&autoplay=1";
}

std::string PlayerPage(const std::string &id, const std::string &webHost) {
  const std::string address = PlayerAddress(id, webHost);
  return "<html><head><style>body {margin: 0px}</style></head><body>"
         "<object width=\"100%\" height=\"100%\">  "
         "<param name=\"movie\" value=\"" +
         address +
         "\"></param>"
         "  <param name=\"wmode\" value=\"transparent\"></param>"
         "  <param name=\"allowFullScreen\" value=\"true\">"
         "<embed src=\"" +
         address +
         "\" type=\"application/x-shockwave-flash\" "
         "wmode=\"transparent\" width=\"100%\" height=\"100%\"></embed></object>"
         "</body></html>";
}

std::string DeclaredMovieAddress(const std::string &html) {
  const std::string lower = LowerCase(html);
  std::string movieParam;
  bool haveMovieParam = false;
  TTag tag;
  std::size_t pos = 0;
  while ((pos = html.find('<', pos)) != std::string::npos) {
    if (html.compare(pos, 4, "<!--") == 0) {
      pos = html.find("-->", pos + 4);
      if (pos == std::string::npos) break;
      pos += 3;
      continue;
    }
    ++pos;
    if (pos >= html.size() || !IsNameChar(html[pos])) continue; // "</x", "<!x", a lone "<"
    if (!ReadTag(html, lower, pos, tag)) break;
    if (tag.name == "embed") {
      if (const std::string *src = tag.Attribute("src")) return TrimControl(*src);
    } else if (tag.name == "param" && !haveMovieParam) {
      const std::string *name = tag.Attribute("name");
      const std::string *value = tag.Attribute("value");
      if (name && value && LowerCase(*name) == "movie") {
        movieParam = *value;
        haveMovieParam = true;
      }
    } else if (tag.name == "script" || tag.name == "style") {
      // Their content is text, not markup: an <embed> written inside declares nothing.
      pos = lower.find("</" + tag.name, pos);
      if (pos == std::string::npos) break;
    }
  }
  return haveMovieParam ? TrimControl(movieParam) : std::string();
}

bool IsPlayableMovieAddress(const std::string &address, const std::string &webHost) {
  if (webHost.empty()) return false;
  for (const char c : address)
    if (static_cast<unsigned char>(c) <= 32 || c == 127) return false;
  const std::string lower = LowerCase(address);
  std::size_t start;
  if (lower.starts_with("http://"))
    start = 7;
  else if (lower.starts_with("https://"))
    start = 8;
  else
    return false;
  std::size_t end = lower.find_first_of("/?#", start);
  if (end == std::string::npos) end = lower.size();
  return lower.compare(start, end - start, LowerCase(webHost)) == 0;
}

void THtmlDocument::LoadFromStream(QIODevice &stream) {
  const QByteArray bytes = stream.readAll();
  text_.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  movieAddress_ = DeclaredMovieAddress(text_);
  emit Loaded();
}

void LoadDocumentText(THtmlDocumentView &view, const std::string &text) {
  THtmlDocument *document = view.Document();
  if (!document) return;
  QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  bytes.append("\r\n");
  QBuffer stream(&bytes);
  stream.open(QIODevice::ReadOnly);
  document->LoadFromStream(stream);
}

void ShowPlayer(const std::string &id, THtmlDocumentView &view) {
  LoadDocumentText(view, PlayerPage(id));
}

} // namespace sonabox
