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

TEST(StartUp, ADamagedIndexIsKeptAsideAndTheProgramStarts) {
  TestFolders folders;
  ModalWatcher boxes;
  StoreWriteString("VideoWebHost", "127.0.0.1:" + std::to_string(UnusedPort()));
  fs::create_directories(folders.DataPath());
  const std::string index = folders.DataPath() + "playlists.xml";
  WriteFileBytes(index, "garbage");

  Settings = new TSettings();
  auto window = std::make_unique<TfMain>();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  const std::string text = boxes.Boxes()[0].Text.toStdString();
  EXPECT_NE(text.find("\"" + index + "\" could not be read"), std::string::npos) << text;
  std::string kept;
  for (const auto &entry : fs::directory_iterator(folders.DataPath()))
    if (entry.path().filename().string().rfind("playlists.xml.damaged-", 0) == 0)
      kept = entry.path().string();
  EXPECT_NE(text.find("\"" + kept + "\""), std::string::npos) << text;
  EXPECT_EQ(ReadFileBytes(kept), "garbage");
  EXPECT_EQ(ReadFileBytes(index).rfind("<?xml", 0), 0u);
  window.reset();
}
