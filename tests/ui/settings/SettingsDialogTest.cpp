// The settings dialog against a real sonabox-server on free ports: what it
// shows, its test of the service addresses, what OK writes and refuses, and
// the main window's menu that opens it.
#include "ui/settings/SettingsDialog.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "server/ServerFixture.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/app/MainWindow.h"
#include "ui/play/PlayPage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace sonabox;

namespace {

class SettingsDialogTest : public ::testing::Test {
protected:
  void SetUp() override { settings = std::make_unique<TSettings>(); }

  std::string Port(int port) { return "127.0.0.1:" + std::to_string(port); }
  // Presses Test and waits for what it found.
  QString Test(TdSettings &dialog) {
    dialog.btnTest->click();
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return !dialog.Testing(); }));
    return dialog.lbTestResult->text();
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  std::unique_ptr<TSettings> settings;
};

TEST_F(SettingsDialogTest, OpensWithWhatTheStoreHolds) {
  StoreWriteString(store_key::kVideoDataHost, "feed.example:9001");
  StoreWriteString(store_key::kProxyAddr, "proxy.example");
  StoreWriteString(store_key::kProxyPort, "3128");
  StoreWriteString(store_key::kNotifyNextVideo, "0");
  StoreWriteString(store_key::kPlayMode, "Repeat one");
  settings->SaveShareDetails("Ann", "ann@example.org");
  TdSettings dialog(*settings, nullptr);
  EXPECT_EQ(dialog.edVideoDataHost->text(), "feed.example:9001");
  EXPECT_EQ(dialog.edVideoWebHost->text(), "127.0.0.1:8472"); // the default
  EXPECT_EQ(dialog.edServiceHost->text(), "127.0.0.1:8473");
  EXPECT_EQ(dialog.edProxyAddr->text(), "proxy.example");
  EXPECT_EQ(dialog.sbProxyPort->value(), 3128);
  EXPECT_EQ(dialog.edShareName->text(), "Ann");
  EXPECT_EQ(dialog.edShareEmail->text(), "ann@example.org");
  EXPECT_FALSE(dialog.cbNotify->isChecked());
  EXPECT_EQ(dialog.cbPlayMode->currentText(), "Repeat one");
}

// The test asks the addresses as typed, before anything is saved, and says
// which answered.
TEST_F(SettingsDialogTest, TestSaysWhichServiceAnswered) {
  test::TRunningServer server;
  TdSettings dialog(*settings, nullptr);
  dialog.edVideoDataHost->setText(QString::fromStdString(Port(server.Server().FeedPort())));
  dialog.edVideoWebHost->setText(QString::fromStdString(Port(server.Server().WebPort())));
  dialog.edServiceHost->setText(QString::fromStdString(Port(test::UnusedPort())));
  EXPECT_EQ(Test(dialog), "Video feed: answered\nVideo web host: answered\n"
                          "Share and update service: could not be reached");
  EXPECT_EQ(dialog.lbTestResult->textFormat(), Qt::PlainText);
  dialog.edServiceHost->setText(QString::fromStdString(Port(server.Server().ServicePort())));
  EXPECT_EQ(Test(dialog), "Video feed: answered\nVideo web host: answered\n"
                          "Share and update service: answered");
  EXPECT_FALSE(StoreReadString(store_key::kVideoDataHost)) << "a test saves nothing";
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SettingsDialogTest, OkWritesTheStoreAndRefusesWhatCannotBeUsed) {
  TdSettings dialog(*settings, nullptr);
  dialog.show();
  struct Case {
    const char *field, *text, *message; // no message: accepted
  };
  const Case cases[] = {
      {"edVideoDataHost", "127.0.0.1:99999",
       "The address of the video feed, \"127.0.0.1:99999\", is not a host or host:port."},
      {"edVideoDataHost", "http://x/",
       "The address of the video feed, \"http://x/\", is not a "
       "host or host:port."},
      {"edServiceHost", "",
       "The address of the share and update service, \"\", is not a host or "
       "host:port."},
      {"edShareEmail", "ann", "\"ann\" is not an e-mail address."},
      {"edProxyAddr", "a b", "The proxy address \"a b\" is not a host name."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.field);
    TdSettings fresh(*settings, nullptr);
    fresh.findChild<QLineEdit *>(c.field)->setText(c.text);
    const std::size_t before = boxes.Boxes().size();
    fresh.accept();
    ASSERT_EQ(boxes.Boxes().size(), before + 1);
    EXPECT_EQ(boxes.Boxes().back().Text.toStdString(), c.message);
    EXPECT_EQ(fresh.result(), QDialog::Rejected);
  }
  EXPECT_FALSE(StoreReadString(store_key::kVideoDataHost)) << "nothing refused was written";

  dialog.edVideoDataHost->setText(" 127.0.0.1:9471 ");
  dialog.edVideoWebHost->setText("[::1]:9472");
  dialog.edServiceHost->setText("media.example");
  dialog.edProxyAddr->setText("proxy.example");
  dialog.sbProxyPort->setValue(8080);
  dialog.edShareName->setText("Bob");
  dialog.edShareEmail->setText("bob@example.org");
  dialog.cbNotify->setChecked(false);
  dialog.cbPlayMode->setCurrentText("In order");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(VideoDataHost(), "127.0.0.1:9471");
  EXPECT_EQ(VideoWebHost(), "[::1]:9472");
  EXPECT_EQ(ServiceHost(), "media.example");
  EXPECT_EQ(StoreReadString(store_key::kProxyAddr), "proxy.example");
  EXPECT_EQ(StoreReadInt(store_key::kProxyPort), 8080);
  EXPECT_EQ(StoreReadInt(store_key::kNotifyNextVideo), 0);
  EXPECT_EQ(StoreReadString(store_key::kPlayMode), "In order");
  EXPECT_EQ(settings->ShareName(), "Bob");
  EXPECT_EQ(settings->ShareEmail(), "bob@example.org");
  EXPECT_EQ(StoreReadString(store_key::kShareEmail), "bob@example.org");
}

// The gear's Settings... opens the dialog; the Play page takes the play mode
// chosen there.
TEST_F(SettingsDialogTest, TheWindowsMenuOpensItAndThePlayPageFollows) {
  Settings = settings.release(); // the window frees it
  TfMain window;
  window.show();
  ASSERT_NE(window.pPlay->cbPlayMode->currentText(), "Repeat one");
  bool shown = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto *dialog = qobject_cast<TdSettings *>(QApplication::activeModalWidget());
    if (!dialog) return;
    shown = true;
    dialog->cbPlayMode->setCurrentText("Repeat one");
    dialog->accept();
  });
  answer.start(5);
  window.aSettings->trigger();
  answer.stop();
  EXPECT_TRUE(shown);
  EXPECT_EQ(window.pPlay->cbPlayMode->currentText(), "Repeat one");
  EXPECT_EQ(StoreReadString(store_key::kPlayMode), "Repeat one");
}

TEST(IsServiceHost, Table) {
  const std::pair<const char *, bool> cases[] = {
      {"127.0.0.1:8471", true}, {"media.example", true}, {"[::1]:8471", true}, {"[::1]", true},
      {"host:1", true},         {"host:65535", true},    {"", false},          {"host:", false},
      {"host:0", false},        {"host:65536", false},   {"host:080", false},  {":8471", false},
      {"a b", false},           {"http://host", false},  {"host/path", false}, {"user@host", false},
      {"[::1", false},          {"host:12x", false},
  };
  for (const auto &[text, valid] : cases) EXPECT_EQ(IsServiceHost(text), valid) << text;
}

} // namespace
