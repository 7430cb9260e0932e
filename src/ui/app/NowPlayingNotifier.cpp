#include "ui/app/NowPlayingNotifier.h"

#include "core/common/VideoRecord.h"
#include "core/playback/Playback.h"
#include "core/settings/Settings.h"
#include "ui/widgets/WebImage.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QWidget>

namespace sonabox {

namespace {

// The "image-data" hint: raw RGBA pixels, (iiibiiay).
struct TNotificationImage {
  QImage image; // Format_RGBA8888
};

QDBusArgument &operator<<(QDBusArgument &argument, const TNotificationImage &picture) {
  const QImage &image = picture.image;
  argument.beginStructure();
  argument << image.width() << image.height() << int(image.bytesPerLine()) << true << 8 << 4
           << QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
  argument.endStructure();
  return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, TNotificationImage &) {
  return argument; // only ever sent
}

constexpr int kGiveUpMs = 2000;
constexpr int kLargestSide = 256; // pixels: thumbnails are smaller; larger ones are scaled down

} // namespace

} // namespace sonabox

Q_DECLARE_METATYPE(sonabox::TNotificationImage)

namespace sonabox {

TNowPlayingNotifier::TNowPlayingNotifier(TPlayback &playback, QWidget &window)
    : QObject(&window), playback_(playback), window_(window) {
  qDBusRegisterMetaType<TNotificationImage>();
  giveUp_.setSingleShot(true);
  giveUp_.setInterval(kGiveUpMs);
  connect(&giveUp_, &QTimer::timeout, this, [this] { Send(QImage()); });
  connect(&playback_, &TPlayback::VideoChanged, this, &TNowPlayingNotifier::VideoShown);
}

TNowPlayingNotifier::~TNowPlayingNotifier() = default;

void TNowPlayingNotifier::VideoShown() {
  const TVideoDetails &video = playback_.CurrentVideo();
  // The same video started again (Play, the expanded window) is not news;
  // its title, looked up once it played, is (the notification is replaced).
  const std::string shown = video.Url + '\n' + ShownTitle(video);
  const bool another = shown != lastVideo_;
  lastVideo_ = shown;
  if (!another || window_.isActiveWindow() || StoreReadInt(store_key::kNotifyNextVideo) == 0 ||
      !QDBusConnection::sessionBus().isConnected())
    return;

  // A notification still waiting for its picture is overtaken by this one.
  ++generation_;
  title_ = ShownTitle(video);
  waiting_ = true;
  const uint64_t generation = generation_;
  picture_ = std::make_unique<TWebPicture>([this, generation] {
    if (generation == generation_) Send(picture_->Image());
  });
  picture_->OnDownLoadError = [this, generation](TWebPicture *, const std::string &) {
    // On the fetching thread: the answer goes to this object's thread.
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
          if (generation == generation_) Send(QImage());
        },
        Qt::QueuedConnection);
  };
  giveUp_.start();
  if (!video.Thumbnail.empty()) picture_->LoadFromURL(video.Thumbnail);
  // No address, or a local picture that was read (or not) at once.
  if (waiting_ && !picture_->Busy()) Send(picture_->Image());
}

void TNowPlayingNotifier::Send(const QImage &picture) {
  if (!waiting_) return;
  waiting_ = false;
  giveUp_.stop();

  QVariantMap hints;
  hints.insert("desktop-entry", QString("sonabox"));
  if (!picture.isNull()) {
    TNotificationImage image{picture
                                 .scaled(picture.size().boundedTo({kLargestSide, kLargestSide}),
                                         Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGBA8888)};
    hints.insert("image-data", QVariant::fromValue(image));
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  // The title is the summary, which is never read as markup.
  call << QString("Sonabox") << shownId_ << QString("sonabox") << QString::fromStdString(title_)
       << QString("Now playing") << QStringList() << hints << -1;
  auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) shownId_ = reply.value(); // none when no service answers
    w->deleteLater();
  });
}

} // namespace sonabox
