// Playlist files opened from outside the program: the hand-over from a second
// start to the running program, and the import that asks which playlist the
// videos go into.
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/app/FileHandOver.h"
#include "ui/app/MainWindow.h"
#include "ui/play/PlayPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocalServer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace sonabox;
using sonabox::test::ProcessEventsUntil;

namespace {

QString UniqueName() {
  return QDir::temp().filePath("sonabox-test-") +
         QString::number(QCoreApplication::applicationPid()) + "-" +
         QString::number(test::UnusedPort());
}

// A second start, on a thread of its own: its calls block, as they do in a
// program that has nothing else to do.
bool HandOverFromAnotherStart(const QString &name, const QStringList &files) {
  std::atomic<bool> done = false, taken = false;
  std::thread second([&] {
    taken = HandFilesOver(name, files);
    done = true;
  });
  const bool ended = ProcessEventsUntil([&] { return done.load(); });
  second.join();
  return ended && taken;
}

TEST(FileHandOver, TheRunningProgramGetsTheFilesOfASecondStart) {
  const QString name = UniqueName();
  TFileHandOver first(name, nullptr);
  ASSERT_TRUE(first.Listening());
  std::vector<QStringList> received;
  QObject::connect(&first, &TFileHandOver::FilesHandedOver,
                   [&](const QStringList &files) { received.push_back(files); });

  const QStringList files = {"/music/Road Trip.m3u", "/music/Ünïcode — mix.xspf",
                             "/odd/new\nline.m3u"};
  ASSERT_TRUE(HandOverFromAnotherStart(name, files));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !received.empty(); }));
  EXPECT_EQ(received, std::vector<QStringList>{files});

  // Another program on the same settings takes nothing: the first one does.
  TFileHandOver second(name, nullptr);
  EXPECT_FALSE(second.Listening());
  EXPECT_TRUE(HandOverFromAnotherStart(name, {"/music/again.m3u"}));
  ASSERT_TRUE(ProcessEventsUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received.back(), QStringList{"/music/again.m3u"});
}

TEST(FileHandOver, WithoutARunningProgramTheStartGoesOn) {
  const QString name = UniqueName();
  EXPECT_FALSE(HandOverFromAnotherStart(name, {"/music/a.m3u"}));
  // What a program that ended without closing left behind is taken over.
  {
    QFile stale(name);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  }
  TFileHandOver next(name, nullptr);
  EXPECT_TRUE(next.Listening());
  EXPECT_TRUE(HandOverFromAnotherStart(name, {"/music/a.m3u"}));
}

TEST(FileHandOver, NamesFollowTheSettingsAndPathsTheCurrentFolder) {
  EXPECT_EQ(HandOverName("/home/a/.config/Tarnwell/Sonabox.ini"),
            HandOverName("/home/a/.config/Tarnwell/Sonabox.ini"));
  EXPECT_TRUE(HandOverName("/home/a/.config/Tarnwell/Sonabox.ini")
                  .startsWith(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)));
  EXPECT_NE(HandOverName("/home/a/.config/Tarnwell/Sonabox.ini"),
            HandOverName("/home/b/.config/Tarnwell/Sonabox.ini"));
  const QString here = QDir::currentPath();
  EXPECT_EQ(FilesOfCommandLine({"list.m3u", "/abs/x.xspf", "../up.m3u"}),
            (QStringList{here + "/list.m3u", "/abs/x.xspf", QDir::cleanPath(here + "/../up.m3u")}));
}

class OpenFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    host = "127.0.0.1:" + std::to_string(test::UnusedPort());
    StoreWriteString("VideoWebHost", host);
    StoreWriteString("VideoDataHost", host);
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    TDataTable mix;
    window->PlayListManager->CreatePlayList(mix, "Mix");
    window->RefreshPlayListCombos(false);
    // The import dialog is answered with `choice` (empty: Cancel); what it offered is kept.
    QObject::connect(&dialogs, &QTimer::timeout, [this] {
      auto *ask = window->findChild<QDialog *>("dImportInto");
      if (!ask || !ask->isVisible()) return;
      auto *into = ask->findChild<QComboBox *>("cbImportInto");
      offered.clear();
      for (int i = 0; i < into->count(); ++i) offered << into->itemText(i);
      if (choice.isEmpty()) {
        ask->reject();
        return;
      }
      into->setCurrentText(choice);
      ask->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    dialogs.start(5);
  }
  void TearDown() override { window.reset(); }

  QString WriteFile(const QString &name, const std::string &bytes) {
    const QString path = QString::fromStdString(folders.Root()) + name;
    test::WriteFileBytes(path.toStdString(), bytes);
    return path;
  }
  std::vector<std::string> Titles(const std::string &name) {
    TDataTable table;
    std::vector<std::string> titles;
    if (!window->PlayListManager->OpenPlayList(table, name)) return titles;
    for (table.First(); !table.Eof(); table.Next())
      titles.push_back(table.FieldByName("Title").AsString());
    return titles;
  }
  std::string M3u() {
    return "#EXTM3U\n#EXTINF:200,First\nhttp://" + host + "/v/abc\n#EXTINF:100,Second\nhttp://" +
           host + "/watch?v=def\n";
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  std::unique_ptr<TfMain> window;
  std::string host;
  QTimer dialogs;
  QString choice;
  QStringList offered;
};

TEST_F(OpenFilesTest, AskedWhichPlayListTheVideosGoInto) {
  const QString file = WriteFile("Road Trip.m3u", M3u());
  struct Case {
    QString choice; // in the dialog; empty: Cancel
    std::string playList;
    std::vector<std::string> titles;
  };
  std::vector<std::string> told; // on the Play page's message line
  for (const Case &c : {Case{"", "Road Trip", {}}, Case{"Mix", "Mix", {"First", "Second"}},
                        Case{"A new playlist \"Road Trip\"", "Road Trip", {"First", "Second"}}}) {
    choice = c.choice;
    window->pMain->setCurrentIndex(1);
    window->pPlay->lbMessage->clear();
    window->OpenPlayListFiles({file});
    EXPECT_EQ(offered, (QStringList{"A new playlist \"Road Trip\"", "Mix"}));
    EXPECT_EQ(Titles(c.playList), c.titles) << c.choice.toStdString();
    EXPECT_EQ(window->pMain->currentWidget(), window->pPlay) << "the import shows on the Play page";
    told.push_back(window->pPlay->lbMessage->text().toStdString());
  }
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(told, (std::vector<std::string>{"", "2 videos imported into \"Mix\"",
                                            "2 videos imported into \"Road Trip\""}));

  // Once "Road Trip" exists, a new playlist of the same file gets the next name.
  choice = "A new playlist \"Road Trip 2\"";
  window->OpenPlayListFiles({file});
  EXPECT_EQ(offered.first(), choice);
  EXPECT_EQ(Titles("Road Trip 2"), (std::vector<std::string>{"First", "Second"}));
}

TEST_F(OpenFilesTest, FilesThatAreNoPlayListAreNamedAndNothingIsAsked) {
  choice = "Mix";
  const std::string refused = " is not a playlist that Sonabox can import: ";
  struct Case {
    QString path;
    std::string says;
  };
  const std::vector<Case> cases = {
      {WriteFile("clip.mp4", std::string("\0\0\0\x18"
                                         "ftypmp42\xff\xfe",
                                         14)),
       "\"clip.mp4\"" + refused + "it holds no video of the service at " + host},
      {WriteFile("others.m3u", "#EXTM3U\nhttp://elsewhere.example/v/abc\n/music/song.mp3\n"),
       "\"others.m3u\"" + refused + "it holds no video of the service at " + host},
      {WriteFile("page.xspf", "<html><body>not a playlist</body></html>"),
       "\"page.xspf\"" + refused},
      {QString::fromStdString(folders.Root()) + "missing.m3u", "Cannot read"},
  };
  for (const Case &c : cases) {
    const std::size_t before = boxes.Boxes().size();
    window->OpenPlayListFiles({c.path});
    ASSERT_EQ(boxes.Boxes().size(), before + 1) << c.path.toStdString();
    const test::ModalWatcher::Seen &box = boxes.Boxes().back();
    EXPECT_EQ(box.Icon, QMessageBox::Critical);
    EXPECT_NE(box.Text.toStdString().find(c.says), std::string::npos) << box.Text.toStdString();
  }
  EXPECT_TRUE(offered.isEmpty()) << "nothing was asked";
  EXPECT_TRUE(Titles("Mix").empty());
}

} // namespace
