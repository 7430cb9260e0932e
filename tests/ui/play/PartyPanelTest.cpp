// The Play page's party panel as the host meets it, against a real
// sonabox-server: the switch shows the guests' address and its QR code, on
// the page and in a corner of the expanded video, Up next lists who queued
// what as typed, Remove, Clear and Lock adding change the server's party, and
// a server that cannot be reached is told while the playlist plays on.
#include "ui/play/PartyPanel.h"

#include "core/party/PartyClient.h"
#include "core/playback/Playback.h"
#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "server/ServerFixture.h"
#include "support/EventLoop.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/play/ExpandedVideo.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace sonabox::test {
namespace {

// Plays nothing: remembers the videos it was shown.
class ListeningPlayer : public TVideoPlayer {
public:
  void Show(const TVideoDetails &video) override { shown.push_back(video.Url); }
  void SetNext(const TVideoDetails &) override {}
  void Blank() override {}
  void SetPaused(bool) override {}
  void SeekTo(double) override {}
  double Position() const override { return 0; }
  double Duration() const override { return 0; }
  void SetVolume(int) override {}
  void SetMuted(bool) override {}
  void SetEvenLoudness(bool) override {}
  std::vector<std::string> shown;
};

class PartyPanelTest : public ::testing::Test {
protected:
  PartyPanelTest() {
    std::vector<server::TCatalogueVideo> videos(4);
    for (std::size_t i = 0; i < videos.size(); ++i) {
      videos[i].RelPath = "v" + std::to_string(i) + ".webm";
      videos[i].Title = "v" + std::to_string(i);
      videos[i].Seconds = 60;
      videos[i].Size = 1;
    }
    videos[2].Artist = "Cy & Co";
    running.Server().Catalogue().Apply(videos, {});
    for (const auto &video : videos) ids[video.Title] = video.Id;
    StoreWriteString("VideoWebHost", running.Server().WebHost());
    StoreWriteString("PartyHostKeyFile", running.Server().PartyHostKeyFile().string());

    playback.SetPlayer(&player);
    playback.SetPlayMode(TPlayMode::InOrder);
    TDataTable &table = playback.PlayList();
    table.DefineColumns(PlayListColumns());
    table.CreateEmpty();
    for (const char *url : {"p", "q"}) {
      TVideoDetails video;
      video.Url = url;
      video.Title = url;
      video.DurationSeconds = 60;
      table.Insert();
      StoreVideoInRow(video, table);
      table.Post();
    }
    table.First();
  }

  void Make() {
    panel = std::make_unique<TPartyPanel>(playback, nullptr);
    QObject::connect(panel.get(), &TPartyPanel::AddressChanged,
                     [this](const QString &address) { toldAddress = address; });
    panel->resize(320, 480);
    panel->show();
  }

  // A click on the box of a check box (its middle may be beyond its text).
  static void Tick(QCheckBox *box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  }

  // Lets the panel hear from the server until the condition holds.
  static bool Until(const std::function<bool()> &done) { return ProcessEventsUntil(done); }

  std::vector<std::string> UpNext() const {
    std::vector<std::string> rows;
    for (int i = 0; i < panel->lstUpNext->count(); ++i)
      rows.push_back(panel->lstUpNext->item(i)->text().toStdString());
    return rows;
  }

  TRunningServer running;
  TestFolders folders; // the store the panel reads
  std::map<std::string, std::string> ids;
  ListeningPlayer player;
  TPlayback playback;
  std::unique_ptr<TPartyPanel> panel;
  QString toldAddress = "(nothing told)";
};

TEST_F(PartyPanelTest, TheSwitchShowsTheAddressAndTheHostsActionsChangeTheServersParty) {
  Make();
  EXPECT_TRUE(panel->imgPartyCode->isHidden());
  EXPECT_TRUE(panel->lstUpNext->isHidden());

  Tick(panel->cbParty);
  const QString address =
      "http://127.0.0.1:" + QString::number(running.Server().WebPort()) + "/party";
  ASSERT_TRUE(Until([&] { return panel->lbPartyAddress->text() == "Guests open " + address; }))
      << panel->lbPartyAddress->text().toStdString();
  EXPECT_TRUE(running.Server().Party().State().On);
  EXPECT_TRUE(panel->cbParty->isChecked());
  EXPECT_FALSE(panel->imgPartyCode->isHidden());
  EXPECT_FALSE(panel->lstUpNext->isHidden());
  // The code shown is the address's, which the expanded window is told too.
  EXPECT_EQ(panel->imgPartyCode->pixmap().toImage().convertToFormat(QImage::Format_Mono),
            PartyQrCode(address.toStdString(), 2));
  EXPECT_EQ(toldAddress, address);

  // Guests queue; each row names the video as the now-playing line does, and
  // the guest's name as typed.
  server::TParty &party = running.Server().Party();
  const std::string ann = party.Join("Ann").Token;
  const std::string bob = party.Join("<b>Bob</b>").Token;
  ASSERT_TRUE(party.Queue(ann, ids["v1"]));
  ASSERT_TRUE(party.Queue(bob, ids["v2"]));
  ASSERT_TRUE(party.Queue(ann, ids["v3"]));
  ASSERT_TRUE(Until([&] { return panel->lstUpNext->count() == 3; }));
  EXPECT_EQ(UpNext(), (std::vector<std::string>{"v1 (queued by Ann)",
                                                "Cy & Co \u2013 v2 (queued by <b>Bob</b>)",
                                                "v3 (queued by Ann)"}));

  // Remove wants a row; it takes the chosen one away on the server.
  panel->lstUpNext->setCurrentRow(-1);
  EXPECT_FALSE(panel->btnRemove->isEnabled());
  panel->lstUpNext->setCurrentRow(1);
  ASSERT_TRUE(panel->btnRemove->isEnabled());
  QTest::mouseClick(panel->btnRemove, Qt::LeftButton);
  ASSERT_TRUE(Until([&] { return party.State().Next.size() == 2; }));
  EXPECT_EQ(party.State().Next[1].Title, "v3");
  ASSERT_TRUE(Until([&] { return panel->lstUpNext->count() == 2; }));

  // Lock adding: guests can queue nothing more until it is unticked.
  Tick(panel->cbLockAdding);
  ASSERT_TRUE(Until([&] { return party.State().Locked; }));
  EXPECT_EQ(party.Queue(bob, ids["v0"]).Refusal, server::TPartyRefusal::Locked);
  Tick(panel->cbLockAdding);
  ASSERT_TRUE(Until([&] { return !party.State().Locked; }));
  ASSERT_TRUE(Until([&] { return !panel->cbLockAdding->isChecked(); }));

  // Clear empties the queue, and has nothing more to clear.
  ASSERT_TRUE(panel->btnClear->isEnabled());
  QTest::mouseClick(panel->btnClear, Qt::LeftButton);
  ASSERT_TRUE(Until([&] { return party.State().Next.empty(); }));
  ASSERT_TRUE(Until([&] { return panel->lstUpNext->count() == 0; }));
  EXPECT_FALSE(panel->btnClear->isEnabled());

  // The switch off ends the party: no address, no code, on the page or beside the video.
  Tick(panel->cbParty);
  ASSERT_TRUE(Until([&] { return panel->lbPartyAddress->text() == "The party is off."; }));
  EXPECT_FALSE(party.State().On);
  EXPECT_FALSE(panel->cbParty->isChecked());
  EXPECT_TRUE(panel->imgPartyCode->isHidden());
  EXPECT_TRUE(panel->lstUpNext->isHidden());
  EXPECT_EQ(toldAddress, "");
}

TEST_F(PartyPanelTest, AServerThatCannotBeReachedIsToldAndThePlaylistPlaysOn) {
  StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(UnusedPort()));
  Make();
  Tick(panel->cbParty);
  ASSERT_TRUE(Until([&] { return panel->lbPartyAddress->text().contains("cannot be reached"); }))
      << panel->lbPartyAddress->text().toStdString();
  EXPECT_FALSE(panel->cbParty->isChecked());
  EXPECT_TRUE(panel->imgPartyCode->isHidden());
  EXPECT_TRUE(panel->lstUpNext->isHidden());
  EXPECT_EQ(toldAddress, "(nothing told)"); // no address ever shown

  playback.Play();
  playback.PlayerEnded();
  playback.PlayerEnded();
  EXPECT_EQ(player.shown, (std::vector<std::string>{"p", "q", "p"}));
  EXPECT_EQ(playback.NowPlayingLine(), "Now playing: p");
}

TEST_F(PartyPanelTest, TheExpandedVideoShowsTheAddressInACornerClearOfItsControls) {
  Make();
  QWidget owner;
  owner.resize(800, 600);
  owner.show();
  QPointer<TdExpandedVideo> window = new TdExpandedVideo(owner, playback);
  panel->ShowInCorner(*window);
  window->show();
  EXPECT_EQ(window->findChild<QWidget *>("pPartyCorner"), nullptr); // no party yet: no corner

  const QString address =
      "http://127.0.0.1:" + QString::number(running.Server().WebPort()) + "/party";
  Tick(panel->cbParty);
  QWidget *corner = nullptr;
  ASSERT_TRUE(Until([&] {
    corner = window->findChild<QWidget *>("pPartyCorner");
    return corner && corner->isVisible();
  }));
  EXPECT_EQ(window->findChild<QLabel *>("lbPartyCornerAddress")->text(), address);
  auto code = [&] {
    return window->findChild<QLabel *>("imgPartyCornerCode")
        ->pixmap()
        .toImage()
        .convertToFormat(QImage::Format_Mono);
  };

  // In the top right corner, whole, and clear of the controls that a mouse
  // move shows, at the window's smallest size too.
  for (const QSize size : {window->size(), QSize(624, 409)}) {
    SCOPED_TRACE(size.width());
    window->resize(size);
    window->MouseMoved();
    ASSERT_TRUE(Until([&] {
      return window->pControls->isVisible() &&
             corner->geometry().topRight() == QPoint(window->width() - 13, 12);
    })) << corner->geometry().x()
        << "," << corner->geometry().y();
    EXPECT_TRUE(window->rect().contains(corner->geometry()));
    // The address's code, whole modules of a few pixels each, a quarter of the window high.
    const QImage plain = PartyQrCode(address.toStdString(), 1);
    EXPECT_EQ(code().height() % plain.height(), 0);
    EXPECT_EQ(code().scaled(plain.size()).convertToFormat(QImage::Format_Mono), plain);
    EXPECT_GE(code().height(), window->height() / 4 - plain.height());
    EXPECT_FALSE(corner->geometry().intersects(window->pControls->geometry()));
  }

  // The switch off takes it away; a window opened while the party is on shows it from the start.
  Tick(panel->cbParty);
  ASSERT_TRUE(Until([&] { return !corner->isVisible(); }));
  Tick(panel->cbParty);
  ASSERT_TRUE(Until([&] { return corner->isVisible(); }));
  window->close();
  ASSERT_TRUE(Until([&] { return window.isNull(); }));
  window = new TdExpandedVideo(owner, playback);
  panel->ShowInCorner(*window);
  window->show();
  corner = window->findChild<QWidget *>("pPartyCorner");
  EXPECT_TRUE(corner->isVisible());
  EXPECT_EQ(window->findChild<QLabel *>("lbPartyCornerAddress")->text(), address);
  delete window;
}

} // namespace
} // namespace sonabox::test
