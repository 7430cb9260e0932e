// What the main window remembers between runs, on Qt's offscreen platform with
// one 1280 x 900 screen (the ctest entry's platform configuration): the first
// start, a window closed and opened again, and remembered values that no
// longer fit (a place on a screen that is gone, a playlist that is deleted).
#include "ui/app/WindowMemory.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "ui/app/MainWindow.h"
#include "ui/find/FindPage.h"
#include "ui/play/PlayPage.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace sonabox;

namespace {

TEST(WindowPlace, FirstStartTakesFourFifthsCentred) {
  struct Case {
    QRect available, expected;
  } cases[] = {
      {{0, 0, 1280, 900}, {128, 90, 1024, 720}},
      {{0, 30, 1920, 1050}, {192, 135, 1536, 840}}, // below a top panel
      {{0, 0, 800, 600}, {15, 22, 769, 556}},       // small screen: the designed size
      {{0, 0, 640, 480}, {0, 0, 640, 480}},         // smaller still: the whole area
  };
  for (const Case &c : cases)
    EXPECT_EQ(FirstStartGeometry(c.available), c.expected) << c.available.width();
}

TEST(WindowPlace, RememberedPlaceIsBroughtOntoAScreen) {
  const QRect primary(0, 0, 1280, 900), right(1280, 0, 1920, 1080);
  struct Case {
    const char *what;
    QRect remembered;
    QList<QRect> areas;
    QRect expected;
  } cases[] = {
      {"on the primary screen", {100, 80, 1000, 700}, {primary}, {100, 80, 1000, 700}},
      {"on the second screen", {1500, 100, 1200, 800}, {primary, right}, {1500, 100, 1200, 800}},
      {"partly off to the right, title bar shown",
       {900, 100, 700, 500},
       {primary},
       {900, 100, 700, 500}},
      {"the second screen is gone", {1500, 100, 1200, 800}, {primary}, {40, 50, 1200, 800}},
      {"title bar above the screen", {100, -300, 800, 600}, {primary}, {240, 150, 800, 600}},
      {"larger than the screen now", {0, 0, 2000, 1400}, {primary}, {0, 0, 1280, 900}},
      {"far away", {-5000, 7000, 800, 600}, {primary, right}, {240, 150, 800, 600}},
  };
  for (const Case &c : cases) EXPECT_EQ(OntoScreens(c.remembered, c.areas), c.expected) << c.what;
}

class WindowMemoryTest : public ::testing::Test {
protected:
  void SetUp() override { Settings = new TSettings(); }
  void TearDown() override {
    for (const auto &box : boxes.Boxes())
      ADD_FAILURE() << "unexpected message: " << box.Text.toStdString();
    if (window) Close();
  }
  void Open() {
    if (!Settings) Settings = new TSettings();
    window = std::make_unique<TfMain>();
    window->show();
    test::RunUntilIdle();
  }
  void Close() {
    window->close();
    window.reset();
  }
  void MakePlayList(const std::string &name) {
    TPlayListManager store(Settings->DataPath(), Settings->PlayListPath());
    TDataTable table("made");
    store.CreatePlayList(table, name);
    table.Insert();
    table.FieldByName("Title").SetAsString("A song");
    table.FieldByName("Url").SetAsString("v1");
    table.Post();
    table.SaveToFile();
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  std::unique_ptr<TfMain> window;
};

TEST_F(WindowMemoryTest, FirstStartFillsMostOfTheScreenCentred) {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_EQ(available.size(), QSize(1280, 900)) << "the entry's screen configuration";
  Open();
  EXPECT_EQ(window->geometry(), QRect(128, 90, 1024, 720));
  EXPECT_EQ(window->pMain->currentWidget(), window->pPlay);
  EXPECT_EQ(window->pPlay->cbPlayLists->currentIndex(), -1);
}

TEST_F(WindowMemoryTest, PlacePageAndPlayListComeBack) {
  MakePlayList("Evening");
  MakePlayList("Morning");
  Open();
  window->setGeometry(200, 150, 800, 640);
  window->pMain->setCurrentWidget(window->pFind);
  QComboBox *lists = window->pPlay->cbPlayLists;
  lists->setCurrentIndex(lists->findText("Morning"));
  Close();

  Open();
  EXPECT_EQ(window->geometry(), QRect(200, 150, 800, 640));
  EXPECT_FALSE(window->isMaximized());
  EXPECT_EQ(window->pMain->currentWidget(), window->pFind);
  EXPECT_EQ(window->pPlay->cbPlayLists->currentText(), "Morning");
  ASSERT_TRUE(window->pPlay->cdsPlayList->Active()) << "the playlist is open, ready to play";
  EXPECT_EQ(window->pPlay->cdsPlayList->RecordCount(), 1);

  // Maximized: it opens maximized, and un-maximizes to where it was.
  window->showMaximized();
  test::RunUntilIdle();
  Close();
  Open();
  EXPECT_TRUE(window->isMaximized());
  window->showNormal();
  test::RunUntilIdle();
  EXPECT_EQ(window->geometry(), QRect(200, 150, 800, 640));
}

TEST_F(WindowMemoryTest, WhatNoLongerFitsIsPassedOver) {
  MakePlayList("Evening");
  // Left by a run with a second screen to the right, and a playlist since deleted.
  StoreWriteString(store_key::kWindowGeometry, "1500,100,1000,700");
  StoreWriteString(store_key::kPlayListOpen, "Gone");
  StoreWriteString(store_key::kPageShown, "Nowhere");
  Open();
  EXPECT_EQ(window->geometry(), QRect(140, 100, 1000, 700)) << "centred on the screen there is";
  EXPECT_EQ(window->pPlay->cbPlayLists->currentIndex(), -1);
  EXPECT_FALSE(window->pPlay->cdsPlayList->Active());
  EXPECT_EQ(window->pMain->currentWidget(), window->pPlay);
  Close();

  // Values that cannot be read are those of a first start.
  for (const char *text : {"", "1,2,3", "a,b,c,d", "10,10,0,500"}) {
    StoreWriteString(store_key::kWindowGeometry, text);
    Open();
    EXPECT_EQ(window->geometry(), QRect(128, 90, 1024, 720)) << text;
    Close();
    // boxes: TearDown fails on any message box.
  }
}

} // namespace
