// The program on a real session bus (ctest runs this inside dbus-run-session):
// the desktop's media controls as a client on another connection sees and
// drives them, a second program on the same bus, and the notification that a
// video started, received by a small notification service on that bus. The
// NoSessionBus case runs in an entry of its own, with a bus address where
// nothing listens.
#include "core/playback/PlaySequencer.h"
#include "core/playback/Playback.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/LocalHttpServer.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/app/MainWindow.h"
#include "ui/app/MediaControls.h"
#include "ui/play/PlayPage.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace sonabox;

namespace {

const char *const kPlayerInterface = "org.mpris.MediaPlayer2.Player";

struct Row {
  std::string title, url, thumbnail;
  int seconds;
};

// A playlist in the store, before the window reads it.
void MakePlayList(const std::string &name, const std::vector<Row> &rows) {
  TPlayListManager store(Settings->DataPath(), Settings->PlayListPath());
  TDataTable table("made");
  store.CreatePlayList(table, name);
  for (const Row &row : rows) {
    table.Insert();
    table.FieldByName("Title").SetAsString(row.title);
    table.FieldByName("Url").SetAsString(row.url);
    table.FieldByName("Thumbnail").SetAsString(row.thumbnail);
    table.FieldByName("DurationSeconds").SetAsInteger(row.seconds);
    table.FieldByName("Duration").SetAsString("0:" + std::to_string(row.seconds));
    table.Post();
  }
  table.SaveToFile();
}

// Another connection to the same bus, as the desktop has. Its calls to the
// program go out asynchronously: the program answers on this same thread.
class BusClient {
public:
  BusClient()
      : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                           "client" + QString::number(++count_))) {}
  ~BusClient() { QDBusConnection::disconnectFromBus(bus_.name()); }
  QDBusConnection &Bus() { return bus_; }

  QDBusMessage Call(const QString &service, const QString &interface, const QString &method,
                    const QVariantList &arguments = {}) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, TMediaControls::kObjectPath, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = bus_.asyncCall(call);
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return pending.isFinished(); }))
        << method.toStdString();
    return pending.reply();
  }
  QVariant Get(const QString &service, const QString &interface, const QString &name) {
    const QDBusMessage reply =
        Call(service, "org.freedesktop.DBus.Properties", "Get", {interface, name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    if (reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
  }
  QVariantMap Metadata(const QString &service) {
    return qdbus_cast<QVariantMap>(Get(service, kPlayerInterface, "Metadata"));
  }

private:
  static inline int count_ = 0;
  QDBusConnection bus_;
};

// What the program sends as org.freedesktop.DBus.Properties.PropertiesChanged.
// The listener's view is what a desktop panel shows: each change applied.
class ChangeListener : public QObject {
  Q_OBJECT
public:
  QVariantMap view;
public slots:
  void Changed(const QString &interface, const QVariantMap &changed, const QStringList &) {
    if (interface != kPlayerInterface) return;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) view.insert(it.key(), it.value());
  }
};

// A notification service of the smallest kind: it keeps what arrives.
class NotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
  struct Received {
    QString app, icon, summary, body;
    uint replaces;
    QVariantMap hints;
    uint id;
  };
  std::vector<Received> received;

public slots:
  uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
              const QString &body, const QStringList &, const QVariantMap &hints, int) {
    const uint id = 100 + uint(received.size());
    received.push_back({app, icon, summary, body, replaces, hints, id});
    return id;
  }
};

struct Picture {
  int width = 0, height = 0, rowStride = 0, bits = 0, channels = 0;
  bool alpha = false;
  QByteArray pixels;
};

Picture ImageData(const QVariant &hint) {
  Picture p;
  const QDBusArgument argument = hint.value<QDBusArgument>();
  argument.beginStructure();
  argument >> p.width >> p.height >> p.rowStride >> p.alpha >> p.bits >> p.channels >> p.pixels;
  argument.endStructure();
  return p;
}

// What the program says on its output, line by line.
std::vector<std::string> said;
void Keep(QtMsgType, const QMessageLogContext &, const QString &message) {
  said.push_back(message.toStdString());
}
bool Said(const std::string &line) {
  return std::find(said.begin(), said.end(), line) != said.end();
}

class DesktopBusTest : public ::testing::Test {
protected:
  void SetUp() override {
    said.clear();
    previousHandler = qInstallMessageHandler(Keep);
    ASSERT_GT(silent.port, 0);
    StoreWriteString(store_key::kVideoWebHost, "127.0.0.1:" + std::to_string(silent.port));
    Settings = new TSettings();
  }
  void TearDown() override {
    for (const auto &box : boxes.Boxes())
      ADD_FAILURE() << "unexpected message: " << box.Text.toStdString();
    window.reset();
    qInstallMessageHandler(previousHandler);
  }
  void OpenWindow() {
    window = std::make_unique<TfMain>();
    service = window->MediaControls->ServiceName();
  }
  void ChoosePlayList(const QString &name) {
    QComboBox *box = window->pPlay->cbPlayLists;
    box->setCurrentIndex(box->findText(name));
    ASSERT_EQ(box->currentText(), name);
  }
  std::string Playing() { return window->pPlay->Sequencer->CurrentVideo().Title; }
  // A call from the desktop, then the program waits for more as it does between
  // two calls (its enable rules run).
  void Press(const char *interface, const char *method) {
    client.Call(service, interface, method);
    test::RunUntilIdle();
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  test::SilentHost silent;
  std::unique_ptr<TfMain> window;
  QString service;
  BusClient client;
  QtMessageHandler previousHandler = nullptr;
};

TEST_F(DesktopBusTest, TheDesktopDrivesThePlayPage) {
  MakePlayList("Evening", {{"First song", "v1", "http://127.0.0.1:1/t/1.jpg", 61},
                           {"Second song", "v2", "http://127.0.0.1:1/t/2.jpg", 62},
                           {"Third song", "v3", "", 63}});
  OpenWindow();
  ASSERT_EQ(service.toStdString(), TMediaControls::kServiceName);
  EXPECT_TRUE(client.Bus().interface()->isServiceRegistered(service));
  EXPECT_TRUE(Said("Media controls on the session bus as org.mpris.MediaPlayer2.sonabox"));
  ChangeListener listener;
  ASSERT_TRUE(client.Bus().connect(service, TMediaControls::kObjectPath,
                                   "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                   &listener, SLOT(Changed(QString, QVariantMap, QStringList))));
  window->show();
  test::RunUntilIdle();

  EXPECT_EQ(client.Get(service, "org.mpris.MediaPlayer2", "Identity").toString(), "Sonabox");
  EXPECT_EQ(client.Get(service, "org.mpris.MediaPlayer2", "DesktopEntry").toString(), "sonabox");
  EXPECT_TRUE(client.Get(service, "org.mpris.MediaPlayer2", "CanRaise").toBool());

  // Nothing open: every control does nothing, and says so.
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Stopped");
  EXPECT_TRUE(client.Metadata(service).isEmpty());
  EXPECT_FALSE(client.Get(service, kPlayerInterface, "CanGoNext").toBool());
  for (const char *method : {"Next", "Previous", "Play", "PlayPause", "Pause", "Stop"}) {
    const QDBusMessage reply = client.Call(service, kPlayerInterface, method);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method;
  }
  test::RunUntilIdle();
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Stopped");
  EXPECT_TRUE(Playing().empty());

  // A playlist is open: Next can be pressed, and the desktop hears it.
  ChoosePlayList("Evening");
  test::RunUntilIdle();
  EXPECT_TRUE(client.Get(service, kPlayerInterface, "CanGoNext").toBool());
  EXPECT_TRUE(client.Get(service, kPlayerInterface, "CanPlay").toBool());
  EXPECT_FALSE(client.Get(service, kPlayerInterface, "CanGoPrevious").toBool());
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return listener.view.value("CanGoNext").toBool(); }));

  // Next from the desktop while stopped chooses a video and stays stopped, as
  // the interface asks; Play plays it, and the desktop reads its title.
  Press(kPlayerInterface, "Next");
  const std::string first = Playing();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Stopped");
  Press(kPlayerInterface, "Play");
  EXPECT_EQ(Playing(), first);
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  QVariantMap metadata = client.Metadata(service);
  EXPECT_EQ(metadata.value("xesam:title").toString().toStdString(), first);
  const TVideoDetails &video = window->pPlay->Sequencer->CurrentVideo();
  EXPECT_EQ(metadata.value("mpris:length").toLongLong(), video.DurationSeconds * 1000000LL);
  EXPECT_EQ(metadata.value("mpris:trackid").value<QDBusObjectPath>().path(),
            TMediaControls::TrackId(video.Url).path());
  EXPECT_EQ(metadata.value("mpris:artUrl").toString().toStdString(), video.Thumbnail);
  EXPECT_EQ(window->pPlay->lbNowPlayingTitle->text().toStdString(), "Now playing: " + first);
  ASSERT_TRUE(test::ProcessEventsUntil([&] {
    return listener.view.value("PlaybackStatus").toString() == "Playing" &&
           qdbus_cast<QVariantMap>(listener.view.value("Metadata")).value("xesam:title") ==
               QString::fromStdString(first);
  })) << "PropertiesChanged carries the status and the new title";

  // Next again: another video (the draw never repeats the one just played).
  Press(kPlayerInterface, "Next");
  const std::string second = Playing();
  EXPECT_NE(second, first);
  EXPECT_EQ(client.Metadata(service).value("xesam:title").toString().toStdString(), second);
  EXPECT_TRUE(client.Get(service, kPlayerInterface, "CanGoPrevious").toBool());

  // Previous goes back; Play while playing changes nothing; Stop stops.
  Press(kPlayerInterface, "Previous");
  EXPECT_EQ(Playing(), first);
  const int logLines = window->mLog->document()->lineCount();
  Press(kPlayerInterface, "Play");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  EXPECT_EQ(window->mLog->document()->lineCount(), logLines) << "not started again";
  Press(kPlayerInterface, "Stop");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Stopped");
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
  Press(kPlayerInterface, "PlayPause");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  EXPECT_EQ(Playing(), first) << "starting again plays the video that was stopped";

  // Pause and resume: the page's own pause, which holds the count-down.
  Press(kPlayerInterface, "Pause");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Paused");
  EXPECT_TRUE(window->pPlay->Paused());
  Press(kPlayerInterface, "Pause");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Paused");
  Press(kPlayerInterface, "PlayPause");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  Press(kPlayerInterface, "PlayPause");
  Press(kPlayerInterface, "Play");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  EXPECT_EQ(Playing(), first) << "resumed, not another video";
  ASSERT_TRUE(test::ProcessEventsUntil([&] {
    return listener.view.value("PlaybackStatus").toString() == "Playing" &&
           listener.view.value("CanPause").toBool();
  }));

  // Nothing is loaded in this test, so there is nothing to seek in: both
  // calls are ignored.
  EXPECT_FALSE(client.Get(service, kPlayerInterface, "CanSeek").toBool());
  client.Call(service, kPlayerInterface, "Seek", {qlonglong(5000000)});
  client.Call(
      service, kPlayerInterface, "SetPosition",
      {QVariant::fromValue(TMediaControls::TrackId(window->pPlay->Sequencer->CurrentVideo().Url)),
       qlonglong(5000000)});
  EXPECT_EQ(client.Get(service, kPlayerInterface, "Position").toLongLong(), 0);

  // The volume: the desktop sets it (0 to 1), the page shows and keeps it
  // (0 to 100), and the desktop hears it.
  for (const auto &[asked, percent] : std::vector<std::pair<double, int>>{
           {0.5, 50}, {0.333, 33}, {1.7, 100}, {-0.2, 0}, {1.0, 100}}) {
    client.Call(service, "org.freedesktop.DBus.Properties", "Set",
                {kPlayerInterface, "Volume", QVariant::fromValue(QDBusVariant(asked))});
    EXPECT_EQ(window->pPlay->Volume(), percent) << asked;
    EXPECT_DOUBLE_EQ(client.Get(service, kPlayerInterface, "Volume").toDouble(), percent / 100.0);
  }
  window->pPlay->SetVolume(40);
  ASSERT_TRUE(test::ProcessEventsUntil([&] {
    return listener.view.value("Volume").toDouble() == 0.4;
  })) << "a change on the page reaches the desktop";

  // Quit closes the window through its usual steps.
  Press("org.mpris.MediaPlayer2", "Quit");
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return !window->isVisible(); }));
  EXPECT_FALSE(window->pPlay->tShuffle->isActive());
}

// OpenUri plays an address of the configured web host now; any other address
// is refused with an error on the bus and changes nothing. Loop, shuffle and
// rate are the page's play mode and pause.
TEST_F(DesktopBusTest, OpenUriLoopShuffleAndRate) {
  MakePlayList("Evening", {{"First song", "v1", "", 61}, {"Second song", "v2", "", 62}});
  OpenWindow();
  ChoosePlayList("Evening");
  const std::string host = "127.0.0.1:" + std::to_string(silent.port);
  const struct {
    std::string address;
    const char *plays; // the title then playing; null: refused
  } cases[] = {
      {"http://" + host + "/watch?v=v2", "Second song"}, // a row's details
      {"http://" + host + "/v/v1", "First song"},
      {"http://" + host + "/watch?v=elsewhere", "elsewhere"}, // no row: the id is its title
      {"http://example.org/watch?v=v2", nullptr},
      {"https://" + host + "/watch?v=v2", nullptr},
      {"http://" + host + "/watch?list=v2", nullptr},
      {"", nullptr},
  };
  std::string playing;
  for (const auto &c : cases) {
    const QDBusMessage reply =
        client.Call(service, kPlayerInterface, "OpenUri", {QString::fromStdString(c.address)});
    test::RunUntilIdle();
    if (c.plays) {
      EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << c.address;
      playing = c.plays;
    } else {
      EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << c.address;
      EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.InvalidArgs") << c.address;
    }
    EXPECT_EQ(Playing(), playing) << c.address;
    EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing")
        << c.address;
  }

  auto set = [&](const char *name, const QVariant &value) {
    const QDBusMessage reply =
        client.Call(service, "org.freedesktop.DBus.Properties", "Set",
                    {kPlayerInterface, name, QVariant::fromValue(QDBusVariant(value))});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << name;
    test::RunUntilIdle();
  };
  auto mode = [&] { return std::string(PlayModeName(window->pPlay->Playback().PlayMode())); };
  auto loop = [&] { return client.Get(service, kPlayerInterface, "LoopStatus").toString(); };
  auto shuffle = [&] { return client.Get(service, kPlayerInterface, "Shuffle").toBool(); };
  set("LoopStatus", "Track");
  EXPECT_EQ(mode(), "Repeat one");
  EXPECT_EQ(loop(), "Track");
  EXPECT_FALSE(shuffle());
  set("Shuffle", true);
  EXPECT_EQ(mode(), "Shuffle");
  EXPECT_EQ(loop(), "Playlist");
  set("LoopStatus", "None"); // shuffled once through: Shuffle all that ends
  EXPECT_EQ(mode(), "Shuffle all");
  EXPECT_EQ(loop(), "None");
  EXPECT_TRUE(shuffle());
  set("Shuffle", false);
  EXPECT_EQ(mode(), "In order");
  EXPECT_EQ(loop(), "None");
  set("LoopStatus", "Playlist");
  EXPECT_EQ(mode(), "In order");
  EXPECT_EQ(loop(), "Playlist");

  set("Rate", 1.0);
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Playing");
  set("Rate", 0.0);
  EXPECT_EQ(client.Get(service, kPlayerInterface, "PlaybackStatus").toString(), "Paused");
  EXPECT_EQ(client.Get(service, kPlayerInterface, "Rate").toDouble(), 1.0);
}

TEST_F(DesktopBusTest, ASecondProgramTakesANameOfItsOwn) {
  BusClient first; // the program already running holds the name
  ASSERT_TRUE(first.Bus().registerService(TMediaControls::kServiceName));
  MakePlayList("Evening", {{"The Band \xE2\x80\x93 Only song", "v1", "", 30}});
  OpenWindow();
  EXPECT_EQ(service.toStdString(),
            std::string(TMediaControls::kServiceName) + ".instance" + std::to_string(::getpid()));
  EXPECT_EQ(client.Bus().interface()->serviceOwner(TMediaControls::kServiceName).value(),
            first.Bus().baseService());
  EXPECT_TRUE(Said("Media controls on the session bus as " + service.toStdString()));
  ChoosePlayList("Evening");
  client.Call(service, kPlayerInterface, "Next");
  const QVariantMap metadata = client.Metadata(service);
  EXPECT_EQ(metadata.value("xesam:title").toString(), "Only song");
  EXPECT_EQ(qdbus_cast<QStringList>(metadata.value("xesam:artist")), QStringList{"The Band"});

  // Gone with its window.
  window.reset();
  EXPECT_FALSE(client.Bus().interface()->isServiceRegistered(service));
}

TEST_F(DesktopBusTest, ANotificationTellsOfEachNewVideoWhileTheWindowIsInactive) {
  QImage thumb(40, 30, QImage::Format_RGB32);
  thumb.fill(QColor(200, 10, 20));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  thumb.save(&buffer, "PNG");
  test::LocalHttpServer pictures;
  pictures.Http().Get("/t/ok.png", [&](const httplib::Request &, httplib::Response &response) {
    response.set_content(png.toStdString(), "image/png");
  });
  pictures.Start();
  MakePlayList("Evening", {{"Red <b>song</b> & co", "v1", pictures.Url("/t/ok.png"), 30},
                           {"Lost picture", "v2", pictures.Url("/t/missing.png"), 30}});

  NotificationService notifications;
  BusClient desktop;
  ASSERT_TRUE(desktop.Bus().registerObject("/org/freedesktop/Notifications", &notifications,
                                           QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(desktop.Bus().registerService("org.freedesktop.Notifications"));
  OpenWindow();
  ChoosePlayList("Evening");
  auto arrived = [&](std::size_t count) {
    return test::ProcessEventsUntil([&] { return notifications.received.size() >= count; });
  };

  // The window is not active: each new video is told, with its picture.
  ASSERT_FALSE(window->isActiveWindow());
  std::vector<std::string> titles;
  for (int i = 0; i < 2; ++i) {
    window->pPlay->aControlsNext->trigger();
    titles.push_back(Playing());
    ASSERT_TRUE(arrived(i + 1));
  }
  for (int i = 0; i < 2; ++i) {
    const NotificationService::Received &n = notifications.received[i];
    EXPECT_EQ(n.app, "Sonabox");
    EXPECT_EQ(n.icon, "sonabox");
    EXPECT_EQ(n.summary.toStdString(), titles[i]) << "the title as it is, in the summary";
    EXPECT_EQ(n.body, "Now playing");
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), "sonabox");
    if (titles[i] == "Lost picture") {
      EXPECT_FALSE(n.hints.contains("image-data")) << "a picture that cannot be had is left out";
    } else {
      ASSERT_TRUE(n.hints.contains("image-data"));
      const Picture p = ImageData(n.hints.value("image-data"));
      EXPECT_EQ(p.width, 40);
      EXPECT_EQ(p.height, 30);
      EXPECT_EQ(p.channels, 4);
      EXPECT_EQ(p.bits, 8);
      ASSERT_EQ(p.pixels.size(), p.rowStride * p.height);
      EXPECT_EQ(uchar(p.pixels[0]), 200);
      EXPECT_EQ(uchar(p.pixels[1]), 10);
      EXPECT_EQ(uchar(p.pixels[2]), 20);
    }
  }
  EXPECT_EQ(notifications.received[0].replaces, 0u);
  EXPECT_EQ(notifications.received[1].replaces, notifications.received[0].id)
      << "each notification replaces the one before";

  // The same video again (Play restarts it) is not news; the next one is.
  window->pPlay->aControlsPlay->trigger();
  window->pPlay->aControlsNext->trigger();
  ASSERT_TRUE(arrived(3));
  EXPECT_EQ(notifications.received.size(), 3u);
  EXPECT_EQ(notifications.received[2].summary.toStdString(), Playing());

  // Turned off in the store: nothing; on again: the next one is told.
  StoreWriteString(store_key::kNotifyNextVideo, "0");
  window->pPlay->aControlsNext->trigger();
  StoreWriteString(store_key::kNotifyNextVideo, "1");
  window->pPlay->aControlsNext->trigger();
  ASSERT_TRUE(arrived(4));
  EXPECT_EQ(notifications.received.size(), 4u);
  EXPECT_EQ(notifications.received[3].summary.toStdString(), Playing());

  // The window is active: the user sees the title there, no notification.
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->pPlay->aControlsNext->trigger();
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  window->pPlay->aControlsNext->trigger();
  ASSERT_TRUE(arrived(5));
  EXPECT_EQ(notifications.received.size(), 5u);
  EXPECT_EQ(notifications.received[4].summary.toStdString(), Playing());
}

// Run with a bus address where nothing listens.
TEST_F(DesktopBusTest, NoSessionBus) {
  MakePlayList("Evening", {{"Only song", "v1", "", 30}});
  OpenWindow();
  EXPECT_TRUE(service.isEmpty());
  EXPECT_TRUE(Said("No session bus: the desktop's media controls and notifications are off"));
  ChoosePlayList("Evening");
  window->pPlay->aControlsNext->trigger();
  EXPECT_EQ(Playing(), "Only song") << "the program works as ever";
  // boxes: TearDown fails on any message box.
}

} // namespace

#include "DesktopBusTest.moc"
