#include "core/search/Categories.h"

#include "core/common/TextHelpers.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QXmlStreamReader>

#include <set>

namespace sonabox {

namespace {
constexpr std::size_t kMaxTermBytes = 100;
constexpr std::size_t kMaxCategories = 500;
} // namespace

const std::vector<std::string> &FixedCategories() {
  static const std::vector<std::string> categories = {
      "Animals", "Autos",     "Comedy", "Education", "Film",   "Games", "Howto",  "Music",
      "News",    "Nonprofit", "People", "Shortmov",  "Sports", "Tech",  "Travel", "Videoblog"};
  return categories;
}

std::optional<std::vector<std::string>> ParseCategories(std::string_view text) {
  QXmlStreamReader reader(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  if (!reader.readNextStartElement() || reader.name() != QStringLiteral("categories"))
    return std::nullopt;
  std::vector<std::string> terms;
  std::set<QString> seen{QString::fromLatin1(kAnyCategory).toCaseFolded()};
  while (reader.readNextStartElement()) {
    if (reader.name() == QStringLiteral("category") && terms.size() < kMaxCategories) {
      QString term = reader.attributes().value(QStringLiteral("term")).toString();
      term.removeIf([](QChar c) { return c.unicode() < 32 || c.unicode() == 127; });
      const std::string kept = TrimControl(Utf8Cut(term.trimmed().toStdString(), kMaxTermBytes));
      if (!kept.empty() && seen.insert(QString::fromStdString(kept).toCaseFolded()).second)
        terms.push_back(kept);
    }
    reader.skipCurrentElement();
  }
  while (!reader.atEnd() && !reader.hasError()) reader.readNext();
  if (reader.hasError()) return std::nullopt;
  return terms;
}

std::optional<std::vector<std::string>> FetchCategories(std::chrono::milliseconds deadline) {
  TWebStuff web;
  web.SetDeadline(deadline);
  const std::string text = web.GetText("http://" + VideoDataHost() + "/feeds/api/categories");
  if (web.LastOutcome() != TWebOutcome::Answered) return std::nullopt;
  return ParseCategories(text);
}

std::string CategoryForAddress(std::string_view category) {
  return QUrl::toPercentEncoding(
             QString::fromUtf8(category.data(), static_cast<qsizetype>(category.size())))
      .toStdString();
}

} // namespace sonabox
