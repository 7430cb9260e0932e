// Start-up against data folders that cannot be used: a folder that cannot be
// written ends the start with one message that says what and where, and a
// damaged playlist index is kept aside while the program starts.
#include "ui/app/Startup.h"

#include "core/settings/Settings.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/app/MainWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace sonabox;
using namespace sonabox::test;

TEST(StartUp, ADataFolderThatCannotBeWrittenEndsTheStartWithOneMessage) {
  TestFolders folders;
  ModalWatcher boxes;
  // A file stands where the data folder should be.
  const std::string blocked = folders.Root() + "data/Tarnwell/Sonabox";
  fs::create_directories(fs::path(blocked).parent_path());
  WriteFileBytes(blocked, "mine");

  EXPECT_EQ(StartUp(), nullptr);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  const std::string text = boxes.Boxes()[0].Text.toStdString();
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_NE(text.find("could not be created or written"), std::string::npos) << text;
  EXPECT_NE(text.find("\"" + blocked + "\""), std::string::npos) << text;
  EXPECT_EQ(fMain, nullptr);
  EXPECT_EQ(Settings, nullptr);
  EXPECT_EQ(ReadFileBytes(blocked), "mine");
}

// A damaged index is never replaced by an empty one: the user is asked, and
// "Quit" leaves everything as it is; with a full disk the rebuild fails and
// one message says so.
TEST(StartUp, ADamagedIndexIsLeftAsItIsWhenNotRebuilt) {
  TestFolders folders;
  StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(UnusedPort()));
  fs::create_directories(folders.DataPath() + "playlists");
  const std::string index = folders.DataPath() + "playlists.xml";
  WriteFileBytes(index, "garbage");
  const auto files = [&] {
    std::vector<std::string> names;
    // The program's own folders and lock file may appear; nothing else may.
    for (const auto &entry : fs::recursive_directory_iterator(folders.DataPath()))
      if (entry.path().filename() != "temp" && entry.path().filename() != "playlists.lock")
        names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto before = files();

  {
    ModalWatcher boxes(QMessageBox::No);
    EXPECT_EQ(StartUp(), nullptr);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    const std::string asked = boxes.Boxes()[0].Text.toStdString();
    EXPECT_NE(asked.find("\"" + index + "\" is damaged"), std::string::npos) << asked;
    EXPECT_NE(asked.find("\"" + folders.DataPath() + "playlists/\""), std::string::npos) << asked;
    EXPECT_NE(boxes.Boxes()[1].Text.toStdString().find("was left as it is"), std::string::npos);
  }
  EXPECT_EQ(files(), before);
  EXPECT_EQ(ReadFileBytes(index), "garbage");

  {
    ModalWatcher boxes(QMessageBox::Yes);
    DiskFull full(0);
    EXPECT_EQ(StartUp(), nullptr);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    const std::string told = boxes.Boxes()[1].Text.toStdString();
    EXPECT_NE(told.find("could not be rebuilt"), std::string::npos) << told;
    EXPECT_NE(told.find("Nothing was changed"), std::string::npos) << told;
    EXPECT_EQ(told.find("new, empty"), std::string::npos) << told;
  }
  EXPECT_EQ(files(), before);
  EXPECT_EQ(ReadFileBytes(index), "garbage");
}
