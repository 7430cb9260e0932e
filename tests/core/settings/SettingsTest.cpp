#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace sonabox;
namespace fs = std::filesystem;

TEST(TSettings, FirstRunCreatesTheFoldersAndTheStore) {
  test::TestFolders folders;
  TSettings settings;
  EXPECT_EQ(settings.DataPath(), folders.DataPath());
  EXPECT_EQ(settings.PlayListPath(), folders.DataPath() + "playlists/");
  EXPECT_EQ(settings.TempPath(), folders.DataPath() + "temp/");
  EXPECT_TRUE(fs::is_directory(settings.PlayListPath()));
  EXPECT_TRUE(fs::is_directory(settings.TempPath()));
  EXPECT_TRUE(fs::exists(folders.ConfigFile()));
  EXPECT_EQ(settings.ShareName(), "");
  EXPECT_EQ(settings.ShareEmail(), "");
}

TEST(TSettings, RemembersTheSenderBetweenRuns) {
  test::TestFolders folders;
  {
    TSettings settings;
    settings.SaveShareDetails("Ann \xc3\x85se", "ann@example.org");
    EXPECT_EQ(settings.ShareName(), "Ann \xc3\x85se");
  }
  TSettings next;
  EXPECT_EQ(next.ShareName(), "Ann \xc3\x85se");
  EXPECT_EQ(next.ShareEmail(), "ann@example.org");
  // The proxy values are never created by the program.
  EXPECT_FALSE(StoreReadString("ProxyAddr"));
  EXPECT_FALSE(StoreReadString("ProxyPort"));
}

TEST(TSettings, WorkingFolderWhenNoDataFolderCanBeUsed) {
  test::TestFolders folders;
  // A data home that is a file cannot hold folders.
  test::WriteFileBytes(folders.Root() + "blocked", "x");
  setenv("XDG_DATA_HOME", (folders.Root() + "blocked").c_str(), 1);
  const fs::path old = fs::current_path();
  fs::create_directories(folders.Root() + "work");
  fs::current_path(folders.Root() + "work");
  TSettings settings;
  fs::current_path(old);
  EXPECT_EQ(settings.DataPath(), fs::path(folders.Root() + "work").string() + "/");
  EXPECT_TRUE(fs::is_directory(folders.Root() + "work/temp"));
  EXPECT_TRUE(fs::is_directory(folders.Root() + "work/playlists"));
}

TEST(TSettings, AFailedWriteLeavesTheValuesInMemory) {
  test::TestFolders folders;
  TSettings settings;
  settings.SaveShareDetails("first", "first@example.org");
  // The store's folder becomes a file: nothing can be written any more.
  fs::remove_all(folders.Root() + "config/Tarnwell");
  test::WriteFileBytes(folders.Root() + "config/Tarnwell", "x");
  EXPECT_THROW(settings.SaveShareDetails("second", "second@example.org"), std::runtime_error);
  EXPECT_EQ(settings.ShareName(), "first");
}

TEST(Store, IntegersAndServiceHosts) {
  test::TestFolders folders;
  EXPECT_FALSE(StoreReadInt("ProxyPort"));
  EXPECT_EQ(VideoDataHost(), "127.0.0.1:8471");
  EXPECT_EQ(VideoWebHost(), "127.0.0.1:8472");
  EXPECT_EQ(ServiceHost(), "127.0.0.1:8473");
  StoreWriteString("ProxyPort", "3128");
  StoreWriteString("VideoWebHost", "videos.example.org");
  EXPECT_EQ(StoreReadInt("ProxyPort"), 3128);
  EXPECT_EQ(VideoWebHost(), "videos.example.org");
  StoreWriteString("ProxyPort", "not a number");
  EXPECT_FALSE(StoreReadInt("ProxyPort"));
}
