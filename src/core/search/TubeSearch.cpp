#include "core/search/TubeSearch.h"

#include "core/search/Categories.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <QUrl>

#include <exception>

namespace sonabox {

namespace {
// The keywords as they go into the feed address: percent-encoded, so that
// "&", "<", "#" or "%" typed by the user reach the service as typed (a space
// is sent as "%20").
std::string KeywordsForAddress(const std::string &keywords) {
  return QUrl::toPercentEncoding(QString::fromStdString(keywords)).toStdString();
}
} // namespace

TTubeSearch::TTubeSearch(const std::string &keywords, const std::string &category)
    : keywords_(KeywordsForAddress(keywords)), category_(category) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

std::string TTubeSearch::FeedUrl() const {
  std::string url = "http://" + VideoDataHost() + "/feeds/api/videos";
  if (category_ != kAnyCategory) url += "/-/" + CategoryForAddress(category_);
  url += "?vq=" + keywords_ + "&orderby=relevance&start-index=" + std::to_string(startIndex_) +
         "&max-results=25";
  return url;
}

void TTubeSearch::SetOnTerminate(QObject *context, std::function<void(TTubeSearch &)> handler) {
  context_ = context;
  onTerminate_ = std::move(handler);
}

void TTubeSearch::run() {
  try {
    Search();
  } catch (const std::exception &) {
    // A search that cannot run ends without records, like a failed request.
    totalResults_ = 0;
    videos_.clear();
  }
  // The handler runs on this object's own thread (the creator's), where the
  // context lives too, so checking it there cannot race with its destruction.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (context_ && onTerminate_) onTerminate_(*this);
      },
      Qt::BlockingQueuedConnection);
}

void TTubeSearch::Search() {
  std::string text;
  {
    TWebStuff web;
    text = web.GetText(FeedUrl());
    outcome_ = web.LastOutcome();
    status_ = web.LastStatus();
  }
  // A page without a usable count gives no records.
  TFeedEntries page = ParseFeedEntries(text, VideoWebHost(), TEntryTexts::Xml);
  if (!page.TotalResults) return;
  pageRead_ = true;
  totalResults_ = *page.TotalResults;
  videos_ = std::move(page.Videos);
}

} // namespace sonabox
