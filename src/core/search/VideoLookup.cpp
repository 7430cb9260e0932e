#include "core/search/VideoLookup.h"

#include "core/common/TextHelpers.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <map>

namespace sonabox {

namespace {

constexpr std::size_t kDescriptionLimit = 200; // as a feed entry's

// A text from the answer as one line: control characters become spaces.
std::string OneLine(QString text) {
  for (QChar &c : text)
    if (c.unicode() < 32 || c.unicode() == 127) c = u' ';
  return text.trimmed().toStdString();
}

void FillIn(TVideo &video, const QJsonObject &known) {
  if (video.Title.empty()) video.Title = OneLine(known.value("title").toString());
  if (video.Artist.empty()) video.Artist = OneLine(known.value("artist").toString());
  const double seconds = known.value("seconds").toDouble();
  if (video.DurationSeconds == 0 && seconds > 0 && seconds <= kLongestDuration) {
    video.DurationSeconds = static_cast<int32_t>(seconds);
    video.Duration = SecondsToText(std::to_string(video.DurationSeconds));
  }
  if (video.Description.empty()) {
    std::string description = known.value("description").toString().toStdString();
    std::erase(description, '\t');
    std::erase(description, '\n');
    video.Description = Utf8Cut(description, kDescriptionLimit);
  }
  if (video.Rating.empty()) video.Rating = OneLine(known.value("rating").toString());
}

} // namespace

bool NeedsLookup(const TVideo &video) { return video.Title.empty() || video.DurationSeconds == 0; }

std::string LookUpVideos(TVideos &videos, std::chrono::milliseconds deadline) {
  std::string ids;
  for (const TVideo &video : videos)
    if (NeedsLookup(video)) ids += (ids.empty() ? "" : ",") + video.Url;
  if (ids.empty()) return {};

  const std::string host = VideoDataHost();
  TWebStuff web;
  web.SetDeadline(deadline);
  web.AddField("ids", ids);
  const std::string answer = web.PostForm("http://" + host + "/feeds/api/lookup");
  const std::string service = "the video service at " + host;
  switch (web.LastOutcome()) {
  case TWebOutcome::Answered: break;
  case TWebOutcome::Unreachable: return service + " could not be reached";
  case TWebOutcome::TimedOut: return service + " did not answer in time";
  case TWebOutcome::Refused:
    return service + " cannot look videos up (it answered " + std::to_string(web.LastStatus()) +
           ")";
  case TWebOutcome::Failed: return service + " broke off its answer";
  }
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(answer.data(), static_cast<qsizetype>(answer.size())));
  if (!document.object().value("videos").isArray())
    return service + " gave an answer that is not a list of videos";

  std::map<std::string, QJsonObject> known;
  for (const QJsonValue &entry : document.object().value("videos").toArray()) {
    const QJsonObject video = entry.toObject();
    known.emplace(video.value("id").toString().toStdString(), video);
  }
  for (TVideo &video : videos) {
    const auto found = known.find(video.Url);
    if (found != known.end() && NeedsLookup(video)) FillIn(video, found->second);
  }
  return {};
}

} // namespace sonabox
