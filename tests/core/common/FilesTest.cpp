#include "core/common/Files.h"

#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;
using namespace sonabox;
using namespace sonabox::test;

namespace {

class FilesTest : public ::testing::Test {
protected:
  std::string Folder() const { return folders_.Root() + "store/"; }
  FilesTest() { fs::create_directories(Folder()); }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(Folder()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TestFolders folders_;
};

} // namespace

TEST_F(FilesTest, ReplacesWholeAndLeavesNoTemporary) {
  const std::string path = Folder() + "index.xml";
  WriteFileAtomically(path, "first version");
  EXPECT_EQ(ReadWholeFile(path), "first version");
  WriteFileAtomically(path, std::string("v2\0\xff", 4));
  EXPECT_EQ(ReadWholeFile(path), std::string("v2\0\xff", 4));
  WriteFileAtomically(path, "");
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(Names(), std::vector<std::string>{"index.xml"});

  // A link in the file's place is replaced, never written through.
  const std::string elsewhere = folders_.Root() + "elsewhere";
  WriteFileBytes(elsewhere, "not mine");
  fs::remove(path);
  fs::create_symlink(elsewhere, path);
  WriteFileAtomically(path, "mine");
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(ReadWholeFile(path), "mine");
  EXPECT_EQ(ReadWholeFile(elsewhere), "not mine");
}

TEST_F(FilesTest, AFailedReplaceLeavesTheOldFileAndNoTemporary) {
  const std::string old(3000, 'o');
  enum TThere { OldFile, AFolder, Nothing };
  const struct {
    const char *what;
    std::string target; // in Folder()
    TThere there;
    rlim_t room; // how large a file may grow
  } cases[] = {
      {"a write that fails half-way (a full disk)", "full.xml", OldFile, 1000},
      {"a full disk before the first byte", "full.xml", OldFile, 0},
      {"a target that is a folder", "folder", AFolder, RLIM_INFINITY},
      {"a folder that does not exist", "missing/file.xml", Nothing, RLIM_INFINITY},
  };
  for (const auto &c : cases) {
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    const std::string path = Folder() + c.target;
    if (c.there == AFolder) fs::create_directories(path);
    if (c.there == OldFile) WriteFileBytes(path, old);
    const auto before = Names();
    {
      DiskFull full(c.room);
      EXPECT_THROW(WriteFileAtomically(path, std::string(5000, 'n')), std::system_error) << c.what;
    }
    EXPECT_EQ(Names(), before) << c.what;
    if (c.there == OldFile) {
      EXPECT_EQ(ReadWholeFile(path), old) << c.what;
    }
  }
}

TEST_F(FilesTest, MoveNeverReplaces) {
  fs::create_directories(Folder() + "trash");
  WriteFileBytes(Folder() + "a.xml", "A");
  MoveFileDurably(Folder() + "a.xml", Folder() + "trash/a.xml");
  EXPECT_FALSE(fs::exists(Folder() + "a.xml"));
  EXPECT_EQ(ReadWholeFile(Folder() + "trash/a.xml"), "A");

  WriteFileBytes(Folder() + "a.xml", "second A");
  try {
    MoveFileDurably(Folder() + "a.xml", Folder() + "trash/a.xml");
    ADD_FAILURE() << "a file in the way was replaced";
  } catch (const std::system_error &error) {
    EXPECT_EQ(error.code(), std::errc::file_exists);
  }
  EXPECT_EQ(ReadWholeFile(Folder() + "a.xml"), "second A");
  EXPECT_EQ(ReadWholeFile(Folder() + "trash/a.xml"), "A");
  EXPECT_THROW(MoveFileDurably(Folder() + "gone.xml", Folder() + "b.xml"), std::system_error);
}

TEST(TemporaryWriter, NamesOfTemporaryFiles) {
  const struct {
    const char *name, *target;
    pid_t pid;
  } cases[] = {
      {"playlists.xml.tmp-123-0", "playlists.xml", 123},
      {"playlists.xml.tmp-123-7", "", 123},
      {"other.xml.tmp-123-0", "playlists.xml", 0},
      {"playlists.xml.tmp-123", "", 0},
      {"playlists.xml.tmp-x-1", "", 0},
      {"playlists.xml.tmp-0-1", "", 0},
      {".tmp-5-1", "", 0},
      {"playlists.xml", "", 0},
      {"playlists.xml.tmp-99999999999-1", "", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(TemporaryWriter(c.name, c.target), c.pid) << c.name;
}
