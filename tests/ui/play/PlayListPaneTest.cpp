// The playlist pane and saving ticked results, on the real main window with
// the real playlist store in a private data folder.
#include "core/playback/PlaySequencer.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/FeedServer.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "ui/app/MainWindow.h"
#include "ui/find/FindPage.h"
#include "ui/find/ResultPanels.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/WebImage.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

using namespace sonabox;
using sonabox::test::ProcessEventsUntil;
using sonabox::test::RunUntilIdle;
namespace fs = std::filesystem;

namespace {

QStringList Items(const QComboBox *box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

std::vector<std::string> Titles(TDataTable &table) {
  std::vector<std::string> titles;
  for (int row = 1; row <= table.RecordCount(); ++row)
    titles.push_back(table.DisplayText(row, "Title"));
  return titles;
}

std::vector<std::string> GridTitles(TfMain &window) {
  std::vector<std::string> titles;
  for (int row = 0; row < window.pPlay->ds->rowCount(); ++row)
    titles.push_back(
        window.pPlay->ds->data(window.pPlay->ds->index(row, 0)).toString().toStdString());
  return titles;
}

class PlayListPaneTest : public ::testing::Test {
protected:
  void SetUp() override {
    StoreWriteString("VideoDataHost", feed.Host());
    StoreWriteString("VideoWebHost", feed.Host());
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    EXPECT_TRUE(ProcessEventsUntil([] { return TDownLoadThread::Running() == 0; }));
  }

  // A playlist made through the store, with rows of these titles.
  void MakePlayList(const std::string &name, const std::vector<std::string> &titles) {
    TDataTable table;
    window->PlayListManager->CreatePlayList(table, name);
    for (const std::string &title : titles) {
      table.Insert();
      table.FieldByName("Title").SetAsString(title);
      table.FieldByName("Url").SetAsString("id-" + title);
      table.Post();
    }
    table.SaveToFile();
    window->RefreshPlayListCombos(false);
  }
  // Searches and ticks the panels of these indexes.
  void SearchAndTick(int results, const std::vector<int> &ticked) {
    feed.Set(results, results);
    window->pMain->setCurrentWidget(window->pFind);
    window->pFind->edTubeSearch->setText("rock");
    window->pFind->aSearchExecute();
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->pFind->TubeSearch == nullptr; }));
    ASSERT_EQ(window->pFind->VisualResults.size(), static_cast<size_t>(results));
    for (int index : ticked) window->pFind->ModifySongSelection(index);
  }
  void Save() {
    RunUntilIdle(); // the enable rule of aSaveVideos
    ASSERT_TRUE(window->pFind->aSaveVideos->isEnabled());
    window->pFind->aSaveVideos->trigger();
  }
  size_t PlayListFiles() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(Settings->PlayListPath())) ++n;
    return n;
  }
  std::string Message(size_t i) const { return boxes.Boxes().at(i).Text.toStdString(); }
  // What the line beside the save button says.
  std::string SaveNote() const { return window->pFind->lbSaveMessage->text().toStdString(); }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  test::FeedServer feed;
  std::unique_ptr<TfMain> window;
};

TEST_F(PlayListPaneTest, StartUpListsThePlaylistsWithNothingChosen) {
  MakePlayList("rock", {});
  MakePlayList("Abba", {});
  MakePlayList("Rock", {});
  window.reset();
  Settings = new TSettings();
  window = std::make_unique<TfMain>();
  const QStringList names = {"Abba", "Rock", "rock"};
  for (const QComboBox *box : {window->pFind->cbAddPlayList, window->pPlay->cbPlayLists,
                               window->pShare->cbSharePlayList}) {
    EXPECT_EQ(Items(box), names) << box->objectName().toStdString();
    EXPECT_EQ(box->currentIndex(), -1);
  }
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(PlayListPaneTest, ADamagedIndexIsRebuiltAndTheProgramStarts) {
  MakePlayList("Rock", {});
  window.reset();
  Settings = new TSettings();
  const std::string index = Settings->DataPath() + "playlists.xml";
  const std::string damaged = test::ReadFileBytes(index) + "<junk";
  test::WriteFileBytes(index, damaged);
  boxes.SetAnswer(QMessageBox::Yes);
  window = std::make_unique<TfMain>();
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_NE(Message(0).find(index), std::string::npos) << Message(0);
  EXPECT_NE(Message(0).find(Settings->PlayListPath()), std::string::npos) << Message(0);
  EXPECT_NE(Message(1).find("rebuilt: 1 playlist."), std::string::npos) << Message(1);
  // The playlist is back under its name, and the damaged file is kept, byte for byte.
  EXPECT_EQ(Items(window->pPlay->cbPlayLists), QStringList{"Rock"});
  bool kept = false;
  for (const auto &entry : fs::directory_iterator(Settings->DataPath()))
    if (entry.path().filename().string().rfind("playlists.xml.damaged-", 0) == 0) {
      kept = test::ReadFileBytes(entry.path().string()) == damaged;
      EXPECT_NE(Message(1).find(entry.path().string()), std::string::npos);
    }
  EXPECT_TRUE(kept);
}

TEST_F(PlayListPaneTest, SavingTwoTickedPanelsIntoANewPlaylist) {
  SearchAndTick(3, {0, 2});
  const size_t files = PlayListFiles();
  window->pFind->edPlayListName->setText("Rock");
  Save();

  // Success is told on the line beside the save button, not in a box.
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(SaveNote(), "2 videos added to \"Rock\"");
  EXPECT_TRUE(window->pFind->lbSaveMessage->isVisible());
  EXPECT_EQ(window->pFind->lbSaveMessage->textFormat(), Qt::PlainText);
  EXPECT_EQ(PlayListFiles(), files + 1);
  EXPECT_EQ(window->PlayListManager->IndexTable().RecordCount(), 1);
  for (const QComboBox *box :
       {window->pFind->cbAddPlayList, window->pPlay->cbPlayLists, window->pShare->cbSharePlayList})
    EXPECT_EQ(Items(box), QStringList{"Rock"}) << box->objectName().toStdString();

  TDataTable saved;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(saved, "Rock"));
  EXPECT_EQ(Titles(saved), (std::vector<std::string>{"Song 1", "Song 3"}));
  saved.First();
  EXPECT_EQ(saved.FieldByName("Url").AsString(), "id1");
  EXPECT_EQ(saved.FieldByName("DurationSeconds").AsInteger(), 61);
  EXPECT_TRUE(saved.FieldByName("Added").IsNull());
  // The ticks are cleared, and the new playlist is the choice for the next save.
  for (const TVisualResult *result : window->pFind->VisualResults) {
    EXPECT_FALSE(result->Selected);
    EXPECT_FALSE(result->SelectImage->isChecked());
  }
  EXPECT_EQ(window->pFind->cbAddPlayList->currentText(), "Rock");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "");
}

// Videos that the chosen playlist holds already are added again only when the
// user says so; cancelling changes nothing and keeps the ticks.
TEST_F(PlayListPaneTest, TickedVideosAlreadyInThePlaylistAreAskedAbout) {
  struct Case {
    std::vector<int> ticked;
    QMessageBox::StandardButton answer;
    std::string question, message; // no message: nothing saved
    std::vector<std::string> ids;  // of the playlist's rows after the save
  };
  const std::vector<Case> cases = {
      {{0, 2},
       QMessageBox::No,
       "\"Song 1\" is already in \"Pop\".",
       "1 video added to \"Pop\"; 1 already in it was skipped",
       {"id1", "id2", "id3"}},
      {{0, 2},
       QMessageBox::Yes,
       "\"Song 1\" is already in \"Pop\".",
       "2 videos added to \"Pop\"",
       {"id1", "id2", "id1", "id3"}},
      {{0, 1, 2},
       QMessageBox::No,
       "2 of the 3 ticked videos are already in \"Pop\".",
       "1 video added to \"Pop\"; 2 already in it were skipped",
       {"id1", "id2", "id3"}},
      {{0, 1},
       QMessageBox::No,
       "All 2 ticked videos are already in \"Pop\".",
       "0 videos added to \"Pop\"; 2 already in it were skipped",
       {"id1", "id2"}},
      {{0, 2}, QMessageBox::Cancel, "\"Song 1\" is already in \"Pop\".", "", {"id1", "id2"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.question + " / " + std::to_string(c.answer));
    window.reset();
    Settings = new TSettings();
    fs::remove_all(Settings->DataPath());
    window = std::make_unique<TfMain>();
    boxes.SetAnswer(QMessageBox::Ok);
    SearchAndTick(3, {0, 1});
    window->pFind->edPlayListName->setText("Pop");
    Save();
    ASSERT_EQ(SaveNote(), "2 videos added to \"Pop\"");
    window->pFind->lbSaveMessage->clear();

    const size_t seen = boxes.Boxes().size();
    for (int index : c.ticked) window->pFind->ModifySongSelection(index);
    window->pFind->cbAddPlayList->setCurrentText("Pop");
    boxes.SetAnswer(c.answer);
    Save();
    ASSERT_GE(boxes.Boxes().size(), seen + 1);
    EXPECT_EQ(boxes.Boxes()[seen].Icon, QMessageBox::Question);
    EXPECT_EQ(Message(seen), c.question);
    EXPECT_EQ(boxes.Boxes().size(), seen + 1);
    EXPECT_EQ(SaveNote(), c.message);
    if (c.message.empty()) {
      for (int index : c.ticked) EXPECT_TRUE(window->pFind->VisualResults[index]->Selected);
    } else {
      for (const TVisualResult *result : window->pFind->VisualResults)
        EXPECT_FALSE(result->Selected);
    }
    TDataTable saved;
    ASSERT_TRUE(window->PlayListManager->OpenPlayList(saved, "Pop"));
    std::vector<std::string> ids;
    for (int row = 1; row <= saved.RecordCount(); ++row)
      ids.push_back(saved.DisplayText(row, "Url"));
    EXPECT_EQ(ids, c.ids);
  }
}

// Saving wants a ticked video; Enter in the new name saves as the button does.
TEST_F(PlayListPaneTest, EnterInTheNewNameSavesTheTickedVideos) {
  SearchAndTick(2, {});
  window->pFind->edPlayListName->setFocus();
  QTest::keyClicks(window->pFind->edPlayListName, "Empty");
  QTest::keyClick(window->pFind->edPlayListName, Qt::Key_Return);
  EXPECT_FALSE(window->PlayListManager->HasPlayList("Empty")) << "nothing ticked";
  EXPECT_EQ(SaveNote(), "");
  window->pFind->ModifySongSelection(1);
  QTest::keyClick(window->pFind->edPlayListName, Qt::Key_Return);
  EXPECT_EQ(SaveNote(), "1 video added to \"Empty\"");
  TDataTable saved;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(saved, "Empty"));
  ASSERT_EQ(saved.RecordCount(), 1);
  EXPECT_EQ(Titles(saved)[0].rfind("Song 2 ", 0), 0u);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(PlayListPaneTest, ADuplicateNameShowsTheErrorAndSavesNothing) {
  MakePlayList("Rock", {"Old"});
  SearchAndTick(2, {0, 1});
  const size_t files = PlayListFiles();
  const std::string indexBytes = test::ReadFileBytes(Settings->DataPath() + "playlists.xml");
  window->pFind->edPlayListName->setText("Rock");
  Save();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_NE(Message(0).find("Rock"), std::string::npos) << Message(0);
  EXPECT_EQ(PlayListFiles(), files);
  EXPECT_EQ(test::ReadFileBytes(Settings->DataPath() + "playlists.xml"), indexBytes);
  TDataTable rock;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(rock, "Rock"));
  EXPECT_EQ(Titles(rock), std::vector<std::string>{"Old"});

  // The program goes on: the next save works.
  window->pFind->edPlayListName->setText("Jazz");
  Save();
  EXPECT_EQ(SaveNote(), "2 videos added to \"Jazz\"");
}

TEST_F(PlayListPaneTest, SavingIntoThePlaylistOnShowShowsTheRowsAtOnce) {
  MakePlayList("Pop", {"Old"});
  MakePlayList("Rock", {"Stone"});
  window->pPlay->cbPlayLists->setCurrentText("Pop");
  ASSERT_EQ(GridTitles(*window), std::vector<std::string>{"Old"});
  SearchAndTick(3, {2});
  window->pFind->edPlayListName->setText("typed");
  window->pFind->cbAddPlayList->setCurrentText("Pop");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "")
      << "choosing a playlist empties the new name";
  Save();
  EXPECT_EQ(SaveNote(), "1 video added to \"Pop\"");
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"Old", "Song 3"}));
  EXPECT_EQ(window->pFind->cbAddPlayList->currentText(), "Pop");
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Pop");

  // Saving into another existing playlist shows that one on the Play page.
  window->pFind->ModifySongSelection(2);
  window->pFind->cbAddPlayList->setCurrentText("Rock");
  Save();
  EXPECT_EQ(SaveNote(), "1 video added to \"Rock\"");
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Rock");
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"Stone", "Song 3"}));
}

TEST_F(PlayListPaneTest, TheFilterShowsTitlesContainingTheTextInAnyCase) {
  MakePlayList("Mix", {"I Love You", "Rock On", "LOVELY day", "glove box", "It's love", "Blue"});
  MakePlayList("Other", {"Love Me Do", "Help"});
  window->pPlay->edSearch->setText("LOVE"); // while nothing is open: nothing happens
  EXPECT_FALSE(window->pPlay->cdsPlayList->Filtered());
  window->pPlay->edSearch->clear();
  window->pPlay->cbPlayLists->setCurrentText("Mix");

  struct Case {
    QString text;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      {"LOVE", {"I Love You", "LOVELY day", "glove box", "It's love"}},
      {"love", {"I Love You", "LOVELY day", "glove box", "It's love"}},
      {"it's", {"It's love"}}, // a quote in the text
      {"r%n", {"Rock On"}},    // % acts as a wildcard
      {"bl_e", {"Blue"}},      // and so does _
      {"", {"I Love You", "Rock On", "LOVELY day", "glove box", "It's love", "Blue"}},
  };
  for (const Case &c : cases) {
    window->pPlay->edSearch->setText(c.text);
    EXPECT_EQ(GridTitles(*window), c.shown) << c.text.toStdString();
  }
  EXPECT_FALSE(window->pPlay->cdsPlayList->Filtered());
  EXPECT_EQ(window->pPlay->cdsPlayList->Filter(), "");

  // The filter stays when another playlist is opened.
  window->pPlay->edSearch->setText("love");
  window->pPlay->cbPlayLists->setCurrentText("Other");
  EXPECT_EQ(GridTitles(*window), std::vector<std::string>{"Love Me Do"});
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(PlayListPaneTest, DeletingAVideo) {
  MakePlayList("Mix", {"One", "Two", "Three"});
  window->pPlay->cbPlayLists->setCurrentText("Mix");
  const std::string file = window->pPlay->cdsPlayList->FileName();
  window->pPlay->sgPlayList->selectRow(1);
  RunUntilIdle();
  ASSERT_TRUE(window->pPlay->aDeleteVideo->isEnabled());
  window->pPlay->aDeleteVideo->trigger();
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"One", "Three"}));
  // The file keeps the video as a deleted row; its visible rows lose it.
  TDataTable saved;
  saved.LoadFromFile(file);
  EXPECT_EQ(Titles(saved), (std::vector<std::string>{"One", "Three"}));
  EXPECT_NE(test::ReadFileBytes(file).find("Title=\"Two\""), std::string::npos);

  // The message line says what went, with Undo; Ctrl+Z brings it back in its place.
  EXPECT_EQ(window->pPlay->lbMessage->text(), "Deleted \"Two\" from \"Mix\".");
  EXPECT_TRUE(window->pPlay->pMessage->isVisible());
  EXPECT_TRUE(window->pPlay->btnUndo->isVisible());
  QTest::keyClick(window->pPlay->sgPlayList, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"One", "Two", "Three"}));
  saved.LoadFromFile(file);
  EXPECT_EQ(Titles(saved), (std::vector<std::string>{"One", "Two", "Three"}));
  EXPECT_EQ(window->pPlay->lbMessage->text(), "\"Two\" is back in \"Mix\".");
  EXPECT_FALSE(window->pPlay->btnUndo->isVisible());

  // With every row hidden by the filter there is nothing to delete.
  const std::string before = test::ReadFileBytes(file);
  window->pPlay->edSearch->setText("nothing like this");
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->aDeleteVideo->isEnabled());
  window->pPlay->aDeleteVideo->trigger();
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(test::ReadFileBytes(file), before);
}

// Undo takes deletions back newest first, in whichever playlist they were
// made, open or not, and also a deleted playlist, which opens again.
TEST_F(PlayListPaneTest, UndoTakesDeletionsBackNewestFirst) {
  MakePlayList("Mix", {"One", "Two"});
  MakePlayList("Keep", {"Three", "Four"});
  TPlayPage &page = *window->pPlay;
  page.cbPlayLists->setCurrentText("Mix");
  const std::string mixFile = page.cdsPlayList->FileName();
  page.sgPlayList->selectRow(0);
  page.aDeleteVideo->trigger();
  page.cbPlayLists->setCurrentText("Keep");
  page.sgPlayList->selectRow(1);
  page.aDeleteVideo->trigger();
  page.cbPlayLists->setCurrentText("Mix");
  page.aDeletePlayList->trigger();
  EXPECT_EQ(page.lbMessage->text(), "Deleted the playlist \"Mix\".");
  EXPECT_FALSE(fs::exists(mixFile));
  EXPECT_EQ(Items(page.cbPlayLists), QStringList{"Keep"});

  page.btnUndo->click(); // the playlist, chosen and open again
  EXPECT_EQ(page.lbMessage->text(), "The playlist \"Mix\" is back.");
  EXPECT_TRUE(fs::exists(mixFile));
  EXPECT_EQ(Items(window->pFind->cbAddPlayList), (QStringList{"Keep", "Mix"}));
  EXPECT_EQ(page.cbPlayLists->currentText(), "Mix");
  EXPECT_EQ(GridTitles(*window), std::vector<std::string>{"Two"});

  page.aUndo->trigger(); // a video of Keep, which is not open
  EXPECT_EQ(page.lbMessage->text(), "\"Four\" is back in \"Keep\".");
  TDataTable keep;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(keep, "Keep"));
  EXPECT_EQ(Titles(keep), (std::vector<std::string>{"Three", "Four"}));

  page.aUndo->trigger(); // the first deletion, in the open playlist
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"One", "Two"}));
  RunUntilIdle();
  EXPECT_FALSE(page.aUndo->isEnabled());
  EXPECT_TRUE(boxes.Boxes().empty());
}

// Rows move by Move Up and Move Down (Ctrl+Up, Ctrl+Down) and by a drop; the
// file is written in the new order and the moved row stays the current one.
TEST_F(PlayListPaneTest, RowsMoveAndTheFileKeepsTheirOrder) {
  MakePlayList("Mix", {"A", "B", "C", "D"});
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  TPlayPage &page = *window->pPlay;
  page.cbPlayLists->setCurrentText("Mix");
  const std::string file = page.cdsPlayList->FileName();
  struct Case {
    int row; // 0-based, selected first
    std::function<void()> move;
    std::vector<std::string> titles;
    int current; // 0-based
  };
  auto drop = [&](int from, int before) {
    std::unique_ptr<QMimeData> data(page.ds->mimeData({page.ds->index(from, 0)}));
    ASSERT_TRUE(page.ds->dropMimeData(data.get(), Qt::MoveAction, before, 0, {}));
    RunUntilIdle(); // the row moves once the drop has ended
  };
  const std::vector<Case> cases = {
      {2,
       [&] { QTest::keyClick(page.sgPlayList, Qt::Key_Up, Qt::ControlModifier); },
       {"A", "C", "B", "D"},
       1},
      {1,
       [&] { QTest::keyClick(page.sgPlayList, Qt::Key_Down, Qt::ControlModifier); },
       {"A", "B", "C", "D"},
       2},
      {0, [&] { page.aMoveDown->trigger(); }, {"B", "A", "C", "D"}, 1},
      {3, [&] { page.aMoveDown->trigger(); }, {"B", "A", "C", "D"}, 3}, // already last
      {0, [&] { drop(0, 3); }, {"A", "C", "B", "D"}, 2},                // before the last row
      {3, [&] { drop(3, 0); }, {"D", "A", "C", "B"}, 0},                // to the top
      {1, [&] { drop(1, -1); }, {"D", "C", "B", "A"}, 3},               // below the last row
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.titles[0] + c.titles[1] + c.titles[2] + c.titles[3]);
    page.sgPlayList->selectRow(c.row);
    page.sgPlayList->setFocus();
    RunUntilIdle();
    c.move();
    EXPECT_EQ(GridTitles(*window), c.titles);
    EXPECT_EQ(page.sgPlayList->currentIndex().row(), c.current);
    TDataTable saved;
    saved.LoadFromFile(file);
    EXPECT_EQ(Titles(saved), c.titles);
  }
  // A dropped row that is not in the grid changes nothing.
  QMimeData stray;
  stray.setData("application/x-sonabox-row", "9");
  EXPECT_FALSE(page.ds->dropMimeData(&stray, Qt::MoveAction, 0, 0, {}));
  EXPECT_TRUE(boxes.Boxes().empty());
}

// F2 on the choice asks for the new name with every typed key; a name the
// store refuses is said and asked again; the open playlist stays open.
TEST_F(PlayListPaneTest, RenamingThePlaylistByF2) {
  MakePlayList("Mix", {"One"});
  MakePlayList("Keep", {});
  TPlayPage &page = *window->pPlay;
  page.cbPlayLists->setCurrentText("Mix");
  const std::string file = page.cdsPlayList->FileName();
  std::vector<QString> typed = {"Keep", "   ", "  Road Trip "}, shown;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible() || typed.empty()) return;
    auto *edit = dialog->findChild<QLineEdit *>();
    shown.push_back(edit->text());
    edit->selectAll();
    QTest::keyClicks(edit, typed.front());
    typed.erase(typed.begin());
    dialog->accept();
  });
  answer.start(5);
  window->pFind->cbAddPlayList->setCurrentText("Keep"); // another playlist chosen there
  page.cbPlayLists->setFocus();
  QTest::keyClick(page.cbPlayLists, Qt::Key_F2);
  answer.stop();

  EXPECT_EQ(shown, (std::vector<QString>{"Mix", "Keep", "   "}));
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(Message(0), "A playlist named \"Keep\" already exists.");
  EXPECT_EQ(Message(1), "A playlist needs a name.");
  EXPECT_EQ(page.lbMessage->text(), "Renamed \"Mix\" to \"Road Trip\".");
  for (const QComboBox *box :
       {window->pFind->cbAddPlayList, page.cbPlayLists, window->pShare->cbSharePlayList})
    EXPECT_EQ(Items(box), (QStringList{"Keep", "Road Trip"})) << box->objectName().toStdString();
  EXPECT_EQ(page.cbPlayLists->currentText(), "Road Trip");
  EXPECT_EQ(page.cdsPlayList->FileName(), file);
  EXPECT_EQ(GridTitles(*window), std::vector<std::string>{"One"});
  TDataTable renamed;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(renamed, "Road Trip"));
  EXPECT_EQ(renamed.FileName(), file);
}

// A name with "&" reads as typed in the rename dialog; the other pages keep
// their choice of the renamed playlist under its new name, and any other choice.
TEST_F(PlayListPaneTest, RenamingKeepsTheOtherPagesChoices) {
  MakePlayList("Party & Friends", {"One"});
  MakePlayList("Keep", {});
  TPlayPage &page = *window->pPlay;
  struct Case {
    QString findChoice, shareChoice, newName, findAfter, shareAfter;
  };
  const Case cases[] = {
      {"Party & Friends", "Party & Friends", "Party & More", "Party & More", "Party & More"},
      {"Keep", "Party & More", "Party", "Keep", "Party"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.newName.toStdString());
    const QString old = c.findChoice == "Keep" ? c.shareChoice : c.findChoice;
    page.cbPlayLists->setCurrentText(old);
    window->pFind->cbAddPlayList->setCurrentText(c.findChoice);
    window->pShare->cbSharePlayList->setCurrentText(c.shareChoice);
    QString caption;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      for (QLabel *label : dialog->findChildren<QLabel *>())
        if (label->buddy())
          caption = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
      dialog->setTextValue(c.newName);
      dialog->accept();
    });
    answer.start(5);
    page.aRenamePlayList->trigger();
    answer.stop();
    EXPECT_EQ(caption, "New name for \"" + old + "\":");
    EXPECT_EQ(page.cbPlayLists->currentText(), c.newName);
    EXPECT_EQ(window->pFind->cbAddPlayList->currentText(), c.findAfter);
    EXPECT_EQ(window->pShare->cbSharePlayList->currentText(), c.shareAfter);
  }
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(PlayListPaneTest, ThePlayModeIsChosenAndRemembered) {
  TPlayPage &page = *window->pPlay;
  EXPECT_EQ(page.cbPlayMode->currentText(), "Shuffle");
  EXPECT_EQ(page.Sequencer->PlayMode(), TPlayMode::Shuffle);
  page.cbPlayMode->setCurrentText("In order");
  EXPECT_EQ(page.Sequencer->PlayMode(), TPlayMode::InOrder);
  window.reset();
  Settings = new TSettings();
  window = std::make_unique<TfMain>();
  EXPECT_EQ(window->pPlay->cbPlayMode->currentText(), "In order");
  EXPECT_EQ(window->pPlay->Sequencer->PlayMode(), TPlayMode::InOrder);
}

// With no playlist at all the video area says how to begin; the grid's
// columns have their headers.
TEST_F(PlayListPaneTest, AFirstStartSaysHowToBegin) {
  TPlayPage &page = *window->pPlay;
  window->pMain->setCurrentWidget(window->pPlay);
  EXPECT_TRUE(page.lbFirstSteps->isVisible());
  EXPECT_EQ(page.lbFirstSteps->text(),
            "Find videos on the Find page, tick them and save them into a playlist");
  EXPECT_FALSE(page.wbPlayer->isVisible());
  MakePlayList("Mix", {});
  EXPECT_FALSE(page.lbFirstSteps->isVisible());
  EXPECT_TRUE(page.wbPlayer->isVisible());
  EXPECT_EQ(page.ds->headerData(0, Qt::Horizontal).toString(), "Title");
  EXPECT_EQ(page.ds->headerData(1, Qt::Horizontal).toString(), "Time");
}

TEST_F(PlayListPaneTest, DeletingAPlaylist) {
  MakePlayList("Mix", {"One"});
  MakePlayList("Keep", {"Two"});
  window->pMain->setCurrentWidget(window->pPlay);
  window->pPlay->cbPlayLists->setCurrentText("Mix");
  const std::string file = window->pPlay->cdsPlayList->FileName();
  RunUntilIdle();
  ASSERT_TRUE(window->pPlay->aDeletePlayList->isEnabled());
  window->pPlay->aDeletePlayList->trigger();

  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(window->pPlay->cbPlayLists->currentIndex(), -1);
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "");
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  EXPECT_EQ(window->pPlay->ds->rowCount(), 0);
  for (const QComboBox *box :
       {window->pFind->cbAddPlayList, window->pPlay->cbPlayLists, window->pShare->cbSharePlayList})
    EXPECT_EQ(Items(box), QStringList{"Keep"});
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->aDeletePlayList->isEnabled());
  EXPECT_FALSE(window->pPlay->aDeleteVideo->isEnabled());
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(PlayListPaneTest, APlaylistThatCannotBeLoadedIsReported) {
  MakePlayList("Broken", {"One"});
  TDataTable table;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(table, "Broken"));
  test::WriteFileBytes(table.FileName(), "not a dataset");
  window->pPlay->cbPlayLists->setCurrentText("Broken");
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
}

TEST_F(PlayListPaneTest, ChoosingAPlaylistAndTypingANameExcludeEachOther) {
  MakePlayList("Pop", {});
  window->pMain->setCurrentWidget(window->pFind);
  window->pFind->edPlayListName->setText("Ja");
  window->pFind->cbAddPlayList->setCurrentText("Pop");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "");

  // A typed key clears the choice first, then lands in the edit.
  QTest::keyClick(window->pFind->edPlayListName, Qt::Key_J);
  EXPECT_EQ(window->pFind->cbAddPlayList->currentIndex(), -1);
  EXPECT_EQ(window->pFind->cbAddPlayList->currentText(), "");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "j");
  QTest::keyClicks(window->pFind->edPlayListName, "azz");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "jazz");

  // Changing the category empties the name too.
  window->pFind->cbCategory->setCurrentText("News");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "");
}

TEST_F(PlayListPaneTest, EveryTypedCharacterOfANewNameIsKept) {
  MakePlayList("Pop", {});
  MakePlayList("Jazz", {});
  window->pMain->setCurrentWidget(window->pFind);
  window->pFind->cbAddPlayList->setCurrentText("Pop");
  window->pFind->edPlayListName->setFocus();
  QTest::keyClicks(window->pFind->edPlayListName, "Road Trip");
  EXPECT_EQ(window->pFind->edPlayListName->text(), "Road Trip");
  EXPECT_EQ(window->pFind->cbAddPlayList->currentIndex(), -1);
}

// With nothing chosen on the Play page, a playlist just made there is shown.
TEST_F(PlayListPaneTest, AFirstPlaylistIsShownOnThePlayPage) {
  SearchAndTick(3, {0, 2});
  window->pFind->edPlayListName->setText("Rock");
  Save();
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Rock");
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"Song 1", "Song 3"}));
}

TEST_F(PlayListPaneTest, ThePlayPagesChoiceAndGridAlwaysAgree) {
  MakePlayList("Rock", {"Stone"});
  window->pPlay->cbPlayLists->setCurrentText("Rock");
  ASSERT_EQ(GridTitles(*window), std::vector<std::string>{"Stone"});

  // Saving into a new playlist on the Find page leaves Rock chosen and shown.
  SearchAndTick(2, {0});
  window->pFind->edPlayListName->setText("Road Trip");
  Save();
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Rock");
  EXPECT_EQ(GridTitles(*window), std::vector<std::string>{"Stone"});

  // A playlist that is gone from the list is no longer shown either.
  window->PlayListManager->DeletePlayList("Rock");
  window->RefreshPlayListCombos(false);
  EXPECT_EQ(window->pPlay->cbPlayLists->currentIndex(), -1);
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  EXPECT_TRUE(GridTitles(*window).empty());
}

TEST_F(PlayListPaneTest, APlaylistRenamedByAnotherProgramStaysOpenUnderItsNewName) {
  MakePlayList("Rock", {"Stone", "Pebble"});
  MakePlayList("Jazz", {"Blue"});
  window->pPlay->cbPlayLists->setCurrentText("Rock");
  window->pPlay->sgPlayList->setCurrentIndex(window->pPlay->ds->index(1, 0));

  TPlayListManager other(Settings->DataPath(), Settings->PlayListPath());
  ASSERT_EQ(other.RenamePlayList("Rock", "Rock & Roll"), "Rock & Roll");
  // The folder watcher tells the window; the page follows the file.
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return window->pPlay->cbPlayLists->currentText() == "Rock & Roll"; }));
  EXPECT_EQ(GridTitles(*window), (std::vector<std::string>{"Stone", "Pebble"}));
  EXPECT_EQ(window->pPlay->sgPlayList->currentIndex().row(), 1);
  // Changes go to the playlist under its new name.
  window->pPlay->aDeleteVideoExecute();
  TDataTable table;
  ASSERT_TRUE(other.OpenPlayList(table, "Rock & Roll"));
  EXPECT_EQ(Titles(table), std::vector<std::string>{"Stone"});

  // Deleted elsewhere, it is closed.
  other.DeletePlayList("Rock & Roll");
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->pPlay->cdsPlayList->Active(); }));
  EXPECT_EQ(Items(window->pPlay->cbPlayLists), QStringList{"Jazz"});
  EXPECT_EQ(window->pPlay->cbPlayLists->currentIndex(), -1);
}

TEST_F(PlayListPaneTest, AChosenPlaylistThatCannotBeOpenedCanStillBeDeleted) {
  MakePlayList("Broken", {"One"});
  MakePlayList("Keep", {"Two"});
  TDataTable table;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(table, "Broken"));
  fs::remove(table.FileName());
  window->pPlay->cbPlayLists->setCurrentText("Broken");
  RunUntilIdle();
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  ASSERT_TRUE(window->pPlay->aDeletePlayList->isEnabled());
  EXPECT_FALSE(window->pPlay->aDeleteVideo->isEnabled());
  window->pPlay->aDeletePlayList->trigger();
  EXPECT_FALSE(window->PlayListManager->HasPlayList("Broken"));
  EXPECT_EQ(Items(window->pPlay->cbPlayLists), QStringList{"Keep"});
}

} // namespace
