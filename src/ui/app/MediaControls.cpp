#include "ui/app/MediaControls.h"

#include "core/common/VideoRecord.h"
#include "core/playback/Playback.h"
#include "ui/play/PlayerViews.h"
#include "ui/widgets/Guarded.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QWidget>

#include <unistd.h>

#include <algorithm>

namespace sonabox {

namespace {

constexpr qlonglong kMicroseconds = 1000000;

} // namespace

TMediaControls::TMediaControls(TPlayback &playback, TPlayerViews &views, QWidget &window)
    : QObject(&window), playback_(playback), views_(views), window_(window) {
  new TMprisRootAdaptor(*this);
  auto *player = new TMprisPlayerAdaptor(*this);
  publish_.setSingleShot(true);
  publish_.setInterval(0);
  connect(&publish_, &QTimer::timeout, this, &TMediaControls::PublishChanges);
  auto soon = [this] { publish_.start(); };
  for (auto signal : {&TPlayback::VideoChanged, &TPlayback::StateChanged, &TPlayback::VolumeChanged,
                      &TPlayback::ActionsChanged, &TPlayback::PlayModeChanged})
    connect(&playback_, signal, this, soon);
  connect(&views_, &TPlayerViews::FullScreenChanged, this, soon);
  connect(&playback_, &TPlayback::Seeked, player,
          [player](double seconds) { emit player->Seeked(qRound64(seconds * kMicroseconds)); });
}

TMediaControls::~TMediaControls() {
  if (serviceName_.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(serviceName_);
  bus.unregisterObject(kObjectPath);
}

void TMediaControls::Register() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    qInfo("No session bus: the desktop's media controls and notifications are off");
    return;
  }
  if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
    qInfo("Media controls: %s is taken on the session bus", kObjectPath);
    return;
  }
  // A second program on the same desktop gets a name of its own.
  for (const QString &name :
       {QString(kServiceName), QString(kServiceName) + ".instance" + QString::number(::getpid())}) {
    if (bus.registerService(name)) {
      serviceName_ = name;
      published_ = ChangingProperties();
      publishedRoot_ = {{"Fullscreen", Fullscreen()}};
      qInfo("Media controls on the session bus as %s", qPrintable(name));
      return;
    }
  }
  bus.unregisterObject(kObjectPath);
  qInfo("Media controls: no name could be had on the session bus");
}

// ------------------------------------------------------------------ program

void TMediaControls::Raise() {
  if (window_.isMinimized()) window_.showNormal();
  window_.raise();
  window_.activateWindow();
}

void TMediaControls::Quit() {
  // After the answer has gone: closing runs the window's usual closing steps.
  QMetaObject::invokeMethod(&window_, &QWidget::close, Qt::QueuedConnection);
}

// ------------------------------------------------------------------ playback

bool TMediaControls::Accepting() const { return !QApplication::activeModalWidget(); }

void TMediaControls::Next() {
  if (Accepting() && CanGoNext())
    RunGuarded(&window_, [this] { playback_.Next(TSkip::KeepState); });
}

void TMediaControls::Previous() {
  if (Accepting() && CanGoPrevious())
    RunGuarded(&window_, [this] { playback_.Previous(TSkip::KeepState); });
}

void TMediaControls::Play() {
  if (!playback_.Playing()) PlayPause();
}

void TMediaControls::Pause() {
  if (playback_.Playing()) PlayPause();
}

void TMediaControls::PlayPause() {
  // Stopped: as the page's Play, when there is anything to play; else pause or resume.
  if (!Accepting() || (!playback_.Running() && !CanPlay())) return;
  RunGuarded(&window_, [this] { playback_.PlayPause(); });
}

void TMediaControls::Stop() {
  if (Accepting() && playback_.Actions().Stop) RunGuarded(&window_, [this] { playback_.Stop(); });
}

void TMediaControls::Seek(qlonglong offset) {
  if (Accepting() && CanSeek())
    RunGuarded(&window_, [&] { playback_.SeekBy(double(offset) / kMicroseconds); });
}

void TMediaControls::SetPosition(const QDBusObjectPath &trackId, qlonglong position) {
  // A position for a video that no longer plays, or outside this one, is ignored.
  if (!Accepting() || !CanSeek() || trackId != TrackId(playback_.CurrentVideo().Url) ||
      position < 0 || double(position) / kMicroseconds > playback_.Duration())
    return;
  RunGuarded(&window_, [&] { playback_.SetPosition(double(position) / kMicroseconds); });
}

bool TMediaControls::OpenUri(const QString &uri) {
  if (!Accepting()) return true; // not refused: left alone while a dialog waits
  bool played = false;
  RunGuarded(&window_, [&] { played = playback_.PlayAddress(uri.toStdString()); });
  if (!played && calledFromDBus())
    sendErrorReply(QDBusError::InvalidArgs,
                   "Not the address of a video this program plays: " + uri);
  return played;
}

QString TMediaControls::LoopStatus() const {
  if (playback_.PlaysOnce()) return "None";
  return playback_.PlayMode() == TPlayMode::RepeatOne ? "Track" : "Playlist";
}

void TMediaControls::SetLoopStatus(const QString &status) {
  if (!Accepting()) return;
  if (status == "Track") {
    playback_.SetPlayMode(TPlayMode::RepeatOne);
  } else if (status == "Playlist") {
    playback_.SetPlayMode(Shuffle() ? playback_.PlayMode() : TPlayMode::InOrder);
  } else if (status == "None") {
    playback_.SetPlayMode(Shuffle() ? TPlayMode::ShuffleAll : TPlayMode::InOrder);
    playback_.SetPlaysOnce(true);
  }
}

bool TMediaControls::Shuffle() const {
  return playback_.PlayMode() == TPlayMode::Shuffle ||
         playback_.PlayMode() == TPlayMode::ShuffleAll;
}

void TMediaControls::SetShuffle(bool on) {
  if (!Accepting() || on == Shuffle()) return;
  const bool once = playback_.PlaysOnce();
  // Played once, only Shuffle all comes to an end.
  playback_.SetPlayMode(!on    ? TPlayMode::InOrder
                        : once ? TPlayMode::ShuffleAll
                               : TPlayMode::Shuffle);
  playback_.SetPlaysOnce(once);
}

void TMediaControls::SetRate(double rate) {
  if (Accepting() && rate == 0) RunGuarded(&window_, [this] { playback_.SetPaused(true); });
}

bool TMediaControls::Fullscreen() const { return views_.FullScreen(); }

void TMediaControls::SetFullscreen(bool on) {
  if (Accepting() && on != Fullscreen()) views_.ToggleFullScreen();
}

QString TMediaControls::PlaybackStatus() const {
  if (playback_.Paused()) return "Paused";
  return playback_.Playing() ? "Playing" : "Stopped";
}

QDBusObjectPath TMediaControls::TrackId(const std::string &videoId) {
  // Object path elements take [A-Za-z0-9_] only: the identifier's bytes in hex.
  return QDBusObjectPath("/org/sonabox/track/" +
                         QString::fromLatin1(QByteArray::fromStdString(videoId).toHex()));
}

QVariantMap TMediaControls::Metadata() const {
  const TVideoDetails &video = playback_.CurrentVideo();
  if (video.Url.empty()) return {}; // no video chosen yet
  QVariantMap metadata;
  metadata.insert("mpris:trackid", QVariant::fromValue(TrackId(video.Url)));
  metadata.insert("xesam:title",
                  QString::fromStdString(video.Title.empty() ? ShownTitle(video) : video.Title));
  if (!video.Artist.empty())
    metadata.insert("xesam:artist", QStringList{QString::fromStdString(video.Artist)});
  // The player's length once it knows it, else the playlist's.
  const double seconds = playback_.Duration() > 0 ? playback_.Duration() : video.DurationSeconds;
  if (seconds > 0) metadata.insert("mpris:length", qRound64(seconds * kMicroseconds));
  if (!video.Thumbnail.empty())
    metadata.insert("mpris:artUrl", QString::fromStdString(video.Thumbnail));
  if (!playback_.QueuedBy().empty())
    metadata.insert("xesam:comment",
                    QStringList{"queued by " + QString::fromStdString(playback_.QueuedBy())});
  return metadata;
}

double TMediaControls::Volume() const { return playback_.Volume() / 100.0; }

void TMediaControls::SetVolume(double volume) {
  if (Accepting() && volume == volume) // not NaN
    playback_.SetVolume(qRound(std::clamp(volume, 0.0, 1.0) * 100));
}

qlonglong TMediaControls::Position() const {
  return qRound64(playback_.Position() * kMicroseconds);
}

bool TMediaControls::CanGoNext() const { return playback_.Actions().Next; }

bool TMediaControls::CanGoPrevious() const { return playback_.Actions().Previous; }

bool TMediaControls::CanPlay() const { return playback_.Actions().Play; }

bool TMediaControls::CanPause() const { return playback_.Actions().Pause; }

bool TMediaControls::CanSeek() const { return playback_.Actions().Seek; }

// ---------------------------------------------------------------- changes

QVariantMap TMediaControls::ChangingProperties() const {
  return {{"PlaybackStatus", PlaybackStatus()},
          {"Metadata", Metadata()},
          {"Volume", Volume()},
          {"CanGoNext", CanGoNext()},
          {"CanGoPrevious", CanGoPrevious()},
          {"CanPlay", CanPlay()},
          {"CanPause", CanPause()},
          {"CanSeek", CanSeek()},
          {"LoopStatus", LoopStatus()},
          {"Shuffle", Shuffle()}};
}

void TMediaControls::PublishChanges() {
  if (serviceName_.isEmpty()) return;
  SendChanges(kPlayerInterface, ChangingProperties(), published_);
  SendChanges(kRootInterface, {{"Fullscreen", Fullscreen()}}, publishedRoot_);
}

void TMediaControls::SendChanges(const char *interface, const QVariantMap &now,
                                 QVariantMap &published) {
  QVariantMap changed;
  for (auto it = now.cbegin(); it != now.cend(); ++it)
    if (published.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
  published = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                   "PropertiesChanged");
  signal << QString(interface) << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

// ------------------------------------------------------------------ adaptors

TMprisRootAdaptor::TMprisRootAdaptor(TMediaControls &controls)
    : QDBusAbstractAdaptor(&controls), controls_(controls) {}

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMediaControls &controls)
    : QDBusAbstractAdaptor(&controls), controls_(controls) {}

} // namespace sonabox
