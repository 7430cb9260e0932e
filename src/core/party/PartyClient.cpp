#include "core/party/PartyClient.h"

#include "core/web/WebStuff.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace sonabox {

namespace {

// Longer than the server keeps a request waiting.
constexpr std::chrono::seconds kWaitLimit{40};
// After a failure, the next try.
constexpr std::chrono::seconds kRetry{2};

std::string Text(const QJsonValue &value) { return value.toString().toStdString(); }

TPartyEntry ReadEntry(const QJsonObject &object) {
  TPartyEntry entry;
  entry.Entry = static_cast<int64_t>(object["entry"].toDouble());
  entry.VideoId = Text(object["video"]);
  entry.Title = Text(object["title"]);
  entry.Artist = Text(object["artist"]);
  entry.Name = Text(object["name"]);
  entry.Seconds = object["seconds"].toInt();
  return entry;
}

std::string MinutesAndSeconds(int seconds) {
  const int rest = seconds % 60;
  return std::to_string(seconds / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

} // namespace

std::optional<TPartyView> ReadPartyState(const std::string &json) {
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
  if (!document.isObject() || !document.object()["version"].isDouble()) return std::nullopt;
  const QJsonObject object = document.object();
  TPartyView view;
  view.Reachable = true;
  view.On = object["on"].toBool();
  view.Locked = object["locked"].toBool();
  view.Address = Text(object["address"]);
  if (object["now"].isObject()) {
    view.Now = ReadEntry(object["now"].toObject());
    view.SkipAgreed = object["now"].toObject()["skip"].toBool();
  }
  for (const QJsonValue &entry : object["next"].toArray())
    view.Next.push_back(ReadEntry(entry.toObject()));
  return view;
}

std::filesystem::path DefaultPartyHostKeyFile() {
  const char *data = std::getenv("XDG_DATA_HOME");
  const char *home = std::getenv("HOME");
  const std::filesystem::path folder =
      data && *data ? std::filesystem::path(data)
                    : std::filesystem::path(home && *home ? home : ".") / ".local/share";
  return folder / "Tarnwell" / "sonabox-server" / "party-host.key";
}

TPartyClient::TPartyClient(TPlayback &playback, std::string webHost, std::filesystem::path keyFile,
                           QObject *parent)
    : QObject(parent), playback_(playback), webHost_(std::move(webHost)),
      keyFile_(std::move(keyFile)) {
  playback_.Sequencer().SetNextSource([this] { return OfferNext(); });
  connect(&playback_, &TPlayback::VideoChanged, this, &TPartyClient::OnVideoChanged);
  follower_ = std::thread([this] { Follow(); });
  commander_ = std::thread([this] { Command(); });
}

TPartyClient::~TPartyClient() {
  playback_.Sequencer().SetNextSource({});
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  follower_.join();
  commander_.join();
}

std::optional<TQueuedVideo> TPartyClient::OfferNext() {
  if (!view_.Reachable || !view_.On || view_.Next.empty()) return std::nullopt;
  const TPartyEntry entry = view_.Next.front();
  view_.Next.erase(view_.Next.begin());
  playing_ = entry.Entry;
  taken_.insert(entry.Entry);
  justTook_ = true;
  skipped_ = false;
  Send("next", {{"entry", std::to_string(entry.Entry)}});
  TQueuedVideo queued;
  queued.Video.Url = entry.VideoId;
  queued.Video.Title = entry.Title;
  queued.Video.Artist = entry.Artist;
  queued.Video.DurationSeconds = entry.Seconds;
  queued.Video.Duration = MinutesAndSeconds(entry.Seconds);
  queued.Video.Thumbnail = "http://" + webHost_ + "/t/" + entry.VideoId + ".jpg";
  queued.QueuedBy = entry.Name;
  emit Changed();
  return queued;
}

void TPartyClient::OnVideoChanged() {
  if (std::exchange(justTook_, false)) return;
  // Another video than the party's took its place: the party's entry is done.
  if (std::exchange(playing_, 0) != 0) Send("finished");
}

void TPartyClient::Show(const TPartyView &view) {
  view_ = view;
  // What the player took is never offered again, even by a state that was
  // read before the server heard of the take.
  std::erase_if(view_.Next, [this](const TPartyEntry &entry) { return taken_.count(entry.Entry); });
  if (!view_.On) taken_.clear(); // an ended party's entries are gone for good
  emit Changed();
  if (view_.Now && view_.SkipAgreed && view_.Now->Entry == playing_ && !skipped_ &&
      playback_.Running()) {
    skipped_ = true;
    playback_.Next();
  }
}

void TPartyClient::SetOn(bool on) { Send(on ? "start" : "end"); }
void TPartyClient::SetLocked(bool locked) { Send(locked ? "lock" : "unlock"); }
void TPartyClient::Clear() { Send("clear"); }
void TPartyClient::Remove(int64_t entry) { Send("remove", {{"entry", std::to_string(entry)}}); }

void TPartyClient::Send(std::string action,
                        std::vector<std::pair<std::string, std::string>> fields) {
  {
    std::lock_guard lock(mutex_);
    commands_.emplace_back(std::move(action), std::move(fields));
  }
  wake_.notify_all();
}

// The commands, one after the other, in the order given.
void TPartyClient::Command() {
  for (;;) {
    std::pair<std::string, std::vector<std::pair<std::string, std::string>>> command;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !commands_.empty(); });
      if (stop_) return;
      command = std::move(commands_.front());
      commands_.pop_front();
    }
    std::string key;
    std::ifstream(keyFile_) >> key;
    TWebStuff web;
    web.SetCancel(&stop_);
    web.SetDeadline(std::chrono::seconds(15));
    web.AddHeader("X-Party-Host: " + key);
    web.AddField("action", command.first); // a body, so that the post is whole
    for (const auto &[name, value] : command.second) web.AddField(name, value);
    const std::string answer = web.PostForm("http://" + webHost_ + "/party/host/" + command.first);
    if (answer != "ERROR" || stop_) continue;
    const std::string message =
        web.LastOutcome() == TWebOutcome::Refused && web.LastStatus() == 403
            ? "The party server refused the host key in " + keyFile_.string() + "."
            : "The party server at " + webHost_ + " cannot be reached.";
    QMetaObject::invokeMethod(
        this, [this, message] { emit Failed(message); }, Qt::QueuedConnection);
  }
}

// Asks for the state again and again; the server answers each request when
// the party changes (or after a while), so following it costs nothing.
void TPartyClient::Follow() {
  std::string version;
  while (!stop_) {
    TWebStuff web;
    web.SetCancel(&stop_);
    web.SetReadTimeout(kWaitLimit);
    const std::string answer =
        web.GetText("http://" + webHost_ + "/party/api/state?since=" + version);
    if (stop_) return;
    std::optional<TPartyView> view = ReadPartyState(answer);
    if (view) {
      version = std::to_string(
          static_cast<int64_t>(QJsonDocument::fromJson(QByteArray::fromStdString(answer))
                                   .object()["version"]
                                   .toDouble()));
    } else {
      version.clear();
      view = TPartyView(); // not reachable
    }
    QMetaObject::invokeMethod(
        this, [this, shown = *view] { Show(shown); }, Qt::QueuedConnection);
    if (!view->Reachable) {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, kRetry, [this] { return stop_.load(); });
    }
  }
}

} // namespace sonabox
