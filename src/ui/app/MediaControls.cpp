#include "ui/app/MediaControls.h"

#include "core/playback/PlaySequencer.h"
#include "core/common/VideoRecord.h"
#include "ui/play/PlayPage.h"
#include "ui/widgets/Guarded.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QWidget>

#include <unistd.h>

#include <algorithm>

namespace sonabox {

namespace {

constexpr qlonglong kMicroseconds = 1000000;

} // namespace

TMediaControls::TMediaControls(TPlayPage &page, QWidget &window)
    : QObject(&window), page_(page), window_(window) {
  new TMprisRootAdaptor(*this);
  auto *player = new TMprisPlayerAdaptor(*this);
  publish_.setSingleShot(true);
  publish_.setInterval(0);
  connect(&publish_, &QTimer::timeout, this, &TMediaControls::PublishChanges);
  auto soon = [this] { publish_.start(); };
  TPlaySequencer *sequencer = page_.Sequencer.get();
  connect(sequencer, &TPlaySequencer::ShowVideo, this, soon);
  connect(sequencer, &TPlaySequencer::Stopped, this, soon);
  connect(&page_, &TPlayPage::StateChanged, this, soon);
  connect(&page_, &TPlayPage::VideoChanged, this, soon);
  connect(&page_, &TPlayPage::VolumeChanged, this, soon);
  connect(&page_, &TPlayPage::Seeked, player,
          [player](double seconds) { emit player->Seeked(qRound64(seconds * kMicroseconds)); });
  // What can be done follows the page's enable rules.
  for (QAction *action :
       {page_.aControlsPrev, page_.aControlsPlay, page_.aControlsStop, page_.aControlsNext})
    connect(action, &QAction::enabledChanged, this, soon);
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
  if (Accepting()) page_.aControlsNext->trigger();
}

void TMediaControls::Previous() {
  if (Accepting()) page_.aControlsPrev->trigger();
}

void TMediaControls::Play() {
  if (!page_.Playing()) PlayPause();
}

void TMediaControls::Pause() {
  if (page_.Playing()) PlayPause();
}

void TMediaControls::PlayPause() {
  // Stopped: as the page's Play (which also says whether there is anything
  // to play); else pause or resume.
  if (!Accepting()) return;
  if (!page_.Sequencer->Running())
    page_.aControlsPlay->trigger();
  else
    RunGuarded(&window_, [this] { page_.PlayPause(); });
}

void TMediaControls::Stop() {
  if (Accepting()) page_.aControlsStop->trigger();
}

void TMediaControls::Seek(qlonglong offset) {
  if (Accepting() && CanSeek())
    RunGuarded(&window_, [&] { page_.SeekBy(double(offset) / kMicroseconds); });
}

void TMediaControls::SetPosition(const QDBusObjectPath &trackId, qlonglong position) {
  // A position for a video that no longer plays, or outside this one, is ignored.
  if (!Accepting() || !CanSeek() || trackId != TrackId(page_.Sequencer->CurrentVideo().Url) ||
      position < 0 || double(position) / kMicroseconds > page_.Duration())
    return;
  RunGuarded(&window_, [&] { page_.SetPosition(double(position) / kMicroseconds); });
}

QString TMediaControls::PlaybackStatus() const {
  if (page_.Paused()) return "Paused";
  return page_.Playing() ? "Playing" : "Stopped";
}

QDBusObjectPath TMediaControls::TrackId(const std::string &videoId) {
  // Object path elements take [A-Za-z0-9_] only: the identifier's bytes in hex.
  return QDBusObjectPath("/org/sonabox/track/" +
                         QString::fromLatin1(QByteArray::fromStdString(videoId).toHex()));
}

QVariantMap TMediaControls::Metadata() const {
  const TVideoDetails &video = page_.Sequencer->CurrentVideo();
  if (video.Url.empty()) return {}; // no video chosen yet
  QVariantMap metadata;
  metadata.insert("mpris:trackid", QVariant::fromValue(TrackId(video.Url)));
  metadata.insert("xesam:title", QString::fromStdString(video.Title));
  // The player's length once it knows it, else the playlist's.
  const double seconds = page_.Duration() > 0 ? page_.Duration() : video.DurationSeconds;
  if (seconds > 0) metadata.insert("mpris:length", qRound64(seconds * kMicroseconds));
  if (!video.Thumbnail.empty())
    metadata.insert("mpris:artUrl", QString::fromStdString(video.Thumbnail));
  return metadata;
}

double TMediaControls::Volume() const { return page_.Volume() / 100.0; }

void TMediaControls::SetVolume(double volume) {
  if (Accepting() && volume == volume) // not NaN
    page_.SetVolume(qRound(std::clamp(volume, 0.0, 1.0) * 100));
}

qlonglong TMediaControls::Position() const { return qRound64(page_.Position() * kMicroseconds); }

bool TMediaControls::CanGoNext() const { return page_.aControlsNext->isEnabled(); }

bool TMediaControls::CanGoPrevious() const { return page_.aControlsPrev->isEnabled(); }

bool TMediaControls::CanPlay() const { return page_.aControlsPlay->isEnabled(); }

bool TMediaControls::CanPause() const { return page_.Sequencer->Running(); }

bool TMediaControls::CanSeek() const { return page_.Sequencer->Running() && page_.Duration() > 0; }

// ---------------------------------------------------------------- changes

QVariantMap TMediaControls::ChangingProperties() const {
  return {{"PlaybackStatus", PlaybackStatus()},
          {"Metadata", Metadata()},
          {"Volume", Volume()},
          {"CanGoNext", CanGoNext()},
          {"CanGoPrevious", CanGoPrevious()},
          {"CanPlay", CanPlay()},
          {"CanPause", CanPause()},
          {"CanSeek", CanSeek()}};
}

void TMediaControls::PublishChanges() {
  if (serviceName_.isEmpty()) return;
  const QVariantMap now = ChangingProperties();
  QVariantMap changed;
  for (auto it = now.cbegin(); it != now.cend(); ++it)
    if (published_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
  published_ = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                   "PropertiesChanged");
  signal << QString(kPlayerInterface) << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

// ------------------------------------------------------------------ adaptors

TMprisRootAdaptor::TMprisRootAdaptor(TMediaControls &controls)
    : QDBusAbstractAdaptor(&controls), controls_(controls) {}

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMediaControls &controls)
    : QDBusAbstractAdaptor(&controls), controls_(controls) {}

} // namespace sonabox
