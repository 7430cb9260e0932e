// Export... and Import... of the playlist pane, on the real main window with
// the real store, the program's own file dialogs and message boxes.
#include "ui/play/PlayListFiles.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/app/MainWindow.h"
#include "ui/play/PlayPage.h"
#include "ui/widgets/DataTableModel.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

using namespace sonabox;
using sonabox::test::ProcessEventsUntil;
using sonabox::test::RunUntilIdle;

namespace {

class PlayListFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    host = "127.0.0.1:" + std::to_string(test::UnusedPort());
    StoreWriteString("VideoWebHost", host);
    StoreWriteString("VideoDataHost", host);
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // The next file dialog is answered with `answer` (an empty one cancels).
    QObject::connect(&dialogs, &QTimer::timeout, [this] {
      for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog || !dialog->isVisible()) continue;
        if (answer.isEmpty()) {
          dialog->reject();
        } else {
          dialog->selectFile(answer);
          static_cast<QDialog *>(dialog)->accept(); // as the dialog's own button does
        }
      }
    });
    dialogs.start(5);
  }
  void TearDown() override { window.reset(); }

  void MakeMix() {
    TVideo a, b;
    a.Url = "aaa";
    a.Title = "Rock & <Roll>";
    a.DurationSeconds = 65;
    a.Duration = "1:05";
    b.Url = "bbb";
    b.Title = "Second";
    b.Duration = "0:00"; // as the feed gives an unknown length
    AddVideosToPlayList(*window->PlayListManager, "Mix", true, {a, b});
    window->RefreshPlayListCombos(false);
  }
  TPlayListFiles &Files() { return *window->pPlay->pPlayListFiles; }
  std::vector<std::string> Rows(const std::string &name) {
    TDataTable table;
    EXPECT_TRUE(window->PlayListManager->OpenPlayList(table, name));
    std::vector<std::string> rows;
    for (table.First(); !table.Eof(); table.Next())
      rows.push_back(table.FieldByName("Url").AsString() + " " +
                     table.FieldByName("Title").AsString() + " " +
                     table.FieldByName("Duration").AsString());
    return rows;
  }
  std::string LastMessage() const {
    return boxes.Boxes().empty() ? std::string() : boxes.Boxes().back().Text.toStdString();
  }
  // What the message line under the grid says.
  std::string Told() const { return window->pPlay->lbMessage->text().toStdString(); }
  // Clicks the button with the message line emptied: the file dialog and any
  // question are answered while the click runs.
  void Click(QToolButton *button) {
    window->pPlay->lbMessage->clear();
    QTest::mouseClick(button, Qt::LeftButton);
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  QTimer dialogs;
  QString answer;
  std::string host;
  std::unique_ptr<TfMain> window;
};

} // namespace

TEST_F(PlayListFilesTest, ExportThenImportAsANewPlayListAndMerged) {
  MakeMix();
  RunUntilIdle();
  EXPECT_FALSE(Files().btnExport->isEnabled()); // nothing chosen yet
  EXPECT_TRUE(Files().btnImport->isEnabled());
  window->pPlay->cbPlayLists->setCurrentText("Mix");
  RunUntilIdle();
  ASSERT_TRUE(Files().btnExport->isEnabled());

  // A name without an extension is written in the format of the filter (M3U);
  // success is told on the message line, not in a box.
  answer = QString::fromStdString(folders.Root() + "Road Trip");
  Click(Files().btnExport);
  const std::string file = folders.Root() + "Road Trip.m3u8";
  EXPECT_EQ(Told(), "2 videos of \"Mix\" written to \"" + file + "\"");
  EXPECT_TRUE(window->pPlay->lbMessage->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(test::ReadFileBytes(file), "#EXTM3U\n#EXTINF:65,Rock & <Roll>\nhttp://" + host +
                                           "/v/aaa\n#EXTINF:-1,Second\nhttp://" + host +
                                           "/v/bbb\n");

  // With a playlist chosen, the user is asked where the videos go: a new
  // playlist named after the file, which comes back row for row.
  answer = QString::fromStdString(file);
  boxes.SetAnswer(QMessageBox::No);
  Click(Files().btnImport);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text.toStdString(),
            "Add the videos of \"Road Trip.m3u8\" to \"Mix\", or make a new playlist of them?");
  // Nothing answers on the data host: the unknown length stays unknown, and
  // the message says why.
  const std::string notLookedUp = ". Titles and lengths the file lacks could not be looked up: "
                                  "the video service at " +
                                  host + " could not be reached";
  EXPECT_EQ(Told(), "2 videos imported into \"Road Trip\"" + notLookedUp);
  EXPECT_EQ(Rows("Road Trip"), Rows("Mix"));
  EXPECT_EQ(window->pPlay->cbPlayLists->findText("Road Trip"), 1); // listed, Mix still chosen
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Mix");

  // Into the chosen playlist: what it holds is skipped, and the grid shows the rest.
  test::WriteFileBytes(folders.Root() + "more.xspf",
                       "<playlist xmlns='http://xspf.org/ns/0/'><trackList>"
                       "<track><location>http://" +
                           host +
                           "/v/aaa</location></track>"
                           "<track><identifier>http://" +
                           host +
                           "/watch?v=ccc</identifier><title>Third</title></track>"
                           "<track><location>http://elsewhere.example/v/ddd</location></track>"
                           "</trackList></playlist>");
  answer = QString::fromStdString(folders.Root() + "more.xspf");
  boxes.SetAnswer(QMessageBox::Yes);
  Click(Files().btnImport);
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(Told(), "1 video imported into \"Mix\"; skipped: 1 already in it, 1 not a video "
                    "of this program (web host " +
                        host + ")" + notLookedUp);
  EXPECT_EQ(window->pPlay->ds->rowCount(), 3);

  // A second import of the same file makes "Road Trip 2"; a damaged file is
  // refused with its reason in a box and changes nothing.
  answer = QString::fromStdString(file);
  boxes.SetAnswer(QMessageBox::No);
  Click(Files().btnImport);
  ASSERT_EQ(boxes.Boxes().size(), 3u);
  EXPECT_EQ(Told(), "2 videos imported into \"Road Trip 2\"" + notLookedUp);
  test::WriteFileBytes(folders.Root() + "broken.xspf", "<playlist><trackList><track>");
  answer = QString::fromStdString(folders.Root() + "broken.xspf");
  Click(Files().btnImport);
  ASSERT_EQ(boxes.Boxes().size(), 5u);
  EXPECT_EQ(boxes.Boxes().back().Icon, QMessageBox::Critical);
  EXPECT_EQ(LastMessage().rfind("The file is not a well-formed XSPF playlist", 0), 0u)
      << LastMessage();
  EXPECT_EQ(Told(), "");
  EXPECT_EQ(window->PlayListManager->PlayListNames(),
            (std::vector<std::string>{"Mix", "Road Trip", "Road Trip 2"}));

  // A cancelled dialog does nothing.
  answer.clear();
  QTest::mouseClick(Files().btnImport, Qt::LeftButton);
  QTest::mouseClick(Files().btnExport, Qt::LeftButton);
  RunUntilIdle();
  EXPECT_EQ(boxes.Boxes().size(), 5u);
}
