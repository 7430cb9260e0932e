#include "core/playlists/PlayListManager.h"

#include "TableFixtures.h"
#include "core/common/TextHelpers.h"
#include "core/search/Video.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;
using namespace sonabox;
using namespace sonabox::test;

namespace {

const std::string kEmptyIndex =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"id\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>"
    "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"70\"/>"
    "<FIELD attrname=\"FileName\" fieldtype=\"string\" WIDTH=\"50\"/>"
    "</FIELDS><PARAMS AUTOINCVALUE=\"1\"/></METADATA><ROWDATA></ROWDATA></DATAPACKET>";

class PlayListStore : public ::testing::Test {
protected:
  PlayListStore() { fs::create_directories(PlayLists()); }
  std::string Data() const { return folders_.Root() + "data/"; }
  std::string PlayLists() const { return Data() + "playlists/"; }
  std::string IndexBytes() const { return ReadFileBytes(Data() + "playlists.xml"); }
  std::vector<std::string> PlayListFiles() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(PlayLists()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void Create(TPlayListManager &store, const std::string &name) {
    TDataTable table;
    store.CreatePlayList(table, name);
  }
  // Every file below the data folder with a digest of its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(Data()))
      files[entry.path().string()] =
          entry.is_regular_file() ? Sha1Hex(ReadFileBytes(entry.path())) : "/";
    return files;
  }
  TestFolders folders_;
};

// The id of a process that has ended.
pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

} // namespace

TEST_F(PlayListStore, FirstStartWritesTheEmptyIndex) {
  TPlayListManager store(Data(), PlayLists());
  EXPECT_EQ(IndexBytes(), kEmptyIndex);
  EXPECT_TRUE(PlayListFiles().empty());
  EXPECT_TRUE(store.PlayListNames().empty());
  EXPECT_EQ(store.IndexTable().IndexName(), "ididx");
  // A second start loads it and writes nothing.
  TPlayListManager again(Data(), PlayLists());
  EXPECT_EQ(IndexBytes(), kEmptyIndex);
}

TEST_F(PlayListStore, CreateMakesAnEmptySavedPlayListAndAnIndexRow) {
  TPlayListManager store(Data(), PlayLists());
  TDataTable table("cdsPlayList");
  store.CreatePlayList(table, "Rock");
  EXPECT_TRUE(table.Active());
  EXPECT_EQ(table.RecordCount(), 0);
  const auto files = PlayListFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string &file = files[0];
  EXPECT_EQ(file.size(), 44u);
  EXPECT_EQ(file.find_first_not_of("0123456789ABCDEF"), 40u);
  EXPECT_EQ(table.FileName(), PlayLists() + file);
  EXPECT_NE(ReadFileBytes(PlayLists() + file).find("<PARAMS/></METADATA><ROWDATA></ROWDATA>"),
            std::string::npos);
  EXPECT_NE(
      IndexBytes().find("<ROW RowState=\"4\" id=\"1\" Name=\"Rock\" FileName=\"" + file + "\"/>"),
      std::string::npos);

  // Rows added by the caller and saved come back through OpenPlayList.
  const std::string title = "Song";
  AddTitle(table, &title);
  table.SaveToFile();
  TDataTable other;
  TPlayListManager reloaded(Data(), PlayLists());
  ASSERT_TRUE(reloaded.OpenPlayList(other, "Rock"));
  EXPECT_EQ(Column(other, "Title"), std::vector<std::string>{"Song"});
}

TEST_F(PlayListStore, NamesAreExactAndADuplicateLeavesNothingBehind) {
  TPlayListManager store(Data(), PlayLists());
  Create(store, "Rock");
  Create(store, "rock");
  EXPECT_EQ(PlayListFiles().size(), 2u);
  const std::string indexBefore = IndexBytes();

  TDataTable table;
  table.DefineColumns({{"Keep", TFieldType::String, 5}});
  EXPECT_EQ(ErrorOf([&] { store.CreatePlayList(table, "Rock"); }),
            "A playlist named \"Rock\" already exists.");
  EXPECT_FALSE(table.Active()); // the given table is untouched
  EXPECT_EQ(table.Columns().size(), 1u);
  EXPECT_EQ(PlayListFiles().size(), 2u);
  EXPECT_EQ(IndexBytes(), indexBefore);
  EXPECT_FALSE(store.IndexTable().Inserting());
  // The refused row is not in the way: the next creation and save work.
  Create(store, "Jazz");
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Jazz", "Rock", "rock"}));
  EXPECT_NE(IndexBytes().find("id=\"3\" Name=\"Jazz\""), std::string::npos);
  EXPECT_EQ(IndexBytes().find("CHANGE_LOG=\"1 0 4 2 0 4 3 0 4\""), IndexBytes().find("CHANGE_LOG"));
}

TEST_F(PlayListStore, NamesAreSortedWithoutRegardToCase) {
  TPlayListManager store(Data(), PlayLists());
  for (const char *name :
       {"b", "A", "c", "rock", "ROCK", "Rock", "\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9 2", "Z"})
    Create(store, name);
  EXPECT_EQ(store.PlayListNames(),
            (std::vector<std::string>{"A", "b", "c", "ROCK", "Rock", "rock", "Z",
                                      "\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9 2"}));
}

TEST_F(PlayListStore, DeleteKeepsTheRowAsDeletedAndNeverReusesItsId) {
  TPlayListManager store(Data(), PlayLists());
  Create(store, "Rock");
  const std::string file = PlayListFiles().at(0);
  store.DeletePlayList("Rock");
  EXPECT_TRUE(PlayListFiles().empty());
  EXPECT_NE(
      IndexBytes().find("<ROW RowState=\"6\" id=\"1\" Name=\"Rock\" FileName=\"" + file + "\"/>"),
      std::string::npos);
  EXPECT_NE(IndexBytes().find("CHANGE_LOG=\"1 0 4 1 0 2\" AUTOINCVALUE=\"2\""), std::string::npos);
  EXPECT_TRUE(store.PlayListNames().empty());
  Create(store, "Rock");
  EXPECT_NE(IndexBytes().find("id=\"2\" Name=\"Rock\""), std::string::npos);

  // An unknown name changes nothing.
  const std::string before = IndexBytes();
  store.DeletePlayList("Nothing");
  EXPECT_EQ(IndexBytes(), before);

  // A playlist whose file is already gone is still removed from the index.
  fs::remove(PlayLists() + PlayListFiles().at(0));
  store.DeletePlayList("Rock");
  EXPECT_FALSE(store.HasPlayList("Rock"));
}

TEST_F(PlayListStore, LongNamesAreCutAndStillFound) {
  TPlayListManager store(Data(), PlayLists());
  const std::string longName = std::string(70, 'n') + "tail";
  Create(store, longName);
  EXPECT_EQ(store.PlayListNames(), std::vector<std::string>{std::string(70, 'n')});
  TDataTable table;
  EXPECT_TRUE(store.OpenPlayList(table, longName));
  EXPECT_TRUE(store.OpenPlayList(table, std::string(70, 'n')));
  EXPECT_EQ(ErrorOf([&] { Create(store, std::string(70, 'n') + "other"); }),
            "A playlist named \"" + std::string(70, 'n') + "\" already exists.");
}

TEST_F(PlayListStore, OpenFailures) {
  TPlayListManager store(Data(), PlayLists());
  TDataTable table("cdsPlayList");
  EXPECT_FALSE(store.OpenPlayList(table, "Nothing"));
  EXPECT_FALSE(table.Active());

  Create(store, "Gone");
  Create(store, "Broken");
  const std::string index = IndexBytes();
  const auto files = PlayListFiles();
  TDataTable probe;
  store.OpenPlayList(probe, "Broken");
  const std::string broken = probe.FileName();
  probe.Close();
  store.OpenPlayList(probe, "Gone");
  const std::string gone = probe.FileName();
  fs::remove(gone);
  WriteFileBytes(broken, "<html>");

  // The message names the playlist and its file.
  EXPECT_EQ(ErrorOf([&] { store.OpenPlayList(table, "Gone"); }),
            "The playlist \"Gone\" cannot be opened: its file \"" + gone + "\" is missing.");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(ErrorOf([&] { store.OpenPlayList(table, "Broken"); })
                .rfind("The playlist \"Broken\" cannot be opened: File \"" + broken +
                           "\" is not a valid dataset: ",
                       0),
            0u);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(IndexBytes(), index);
  EXPECT_EQ(ReadFileBytes(broken), "<html>");

  // Both can still be deleted, and their names used again.
  for (const char *name : {"Gone", "Broken"}) {
    store.DeletePlayList(name);
    EXPECT_FALSE(store.HasPlayList(name)) << name;
  }
  EXPECT_FALSE(fs::exists(broken));
  for (const char *name : {"Gone", "Broken"}) {
    Create(store, name);
    EXPECT_TRUE(store.OpenPlayList(table, name)) << name;
  }
  table.Close();
  // An open table given to OpenPlayList is closed first, never left showing another playlist.
  Create(store, "Open");
  CreateTable(table, sonabox::PlayListColumns());
  EXPECT_FALSE(store.OpenPlayList(table, "Nothing"));
  EXPECT_FALSE(table.Active());
}

TEST_F(PlayListStore, FileNamesStayDistinctWithinOneSecond) {
  // Taken names, as the index or the folder would report them.
  std::set<std::string> taken = {Sha1Hex("1/2/24 10:00:00") + ".xml",
                                 Sha1Hex("1/2/24 10:00:00 2") + ".xml"};
  const auto isTaken = [&](const std::string &name) { return taken.count(name) > 0; };
  EXPECT_EQ(NewPlayListFileName("1/2/24 10:00:01", isTaken), Sha1Hex("1/2/24 10:00:01") + ".xml");
  EXPECT_EQ(NewPlayListFileName("1/2/24 10:00:00", isTaken), Sha1Hex("1/2/24 10:00:00 3") + ".xml");

  // Through the store: many playlists at once, and a stray file that holds
  // this second's name is never overwritten.
  TPlayListManager store(Data(), PlayLists());
  const std::string stray = PlayLists() + Sha1Hex(ClockText()) + ".xml";
  WriteFileBytes(stray, "stray");
  for (int i = 0; i < 5; ++i) Create(store, "P" + std::to_string(i));
  EXPECT_EQ(PlayListFiles().size(), 6u);
  EXPECT_EQ(ReadFileBytes(stray), "stray");
  TDataTable table;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(store.OpenPlayList(table, "P" + std::to_string(i)));
    EXPECT_EQ(table.RecordCount(), 0);
  }
}

TEST_F(PlayListStore, APlayListThatCannotBeWrittenLeavesNoIndexRow) {
  TPlayListManager store(Data(), PlayLists());
  const std::string before = IndexBytes();
  fs::remove_all(PlayLists());
  TDataTable table;
  EXPECT_EQ(ErrorOf([&] {
              store.CreatePlayList(table, "Rock");
            }).rfind("Cannot create file \"" + PlayLists(), 0),
            0u);
  EXPECT_EQ(IndexBytes(), before);
  EXPECT_FALSE(store.HasPlayList("Rock"));
  fs::create_directories(PlayLists());
  Create(store, "Rock");
  EXPECT_TRUE(store.HasPlayList("Rock"));
}

TEST_F(PlayListStore, IndexRowsNeverReachOutsideThePlayListsFolder) {
  const std::string outside = Data() + "keep.xml";
  WriteFileBytes(outside, "keep");
  WriteFileBytes(
      Data() + "playlists.xml",
      "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"id\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>"
      "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"70\"/>"
      "<FIELD attrname=\"FileName\" fieldtype=\"string\" "
      "WIDTH=\"50\"/></FIELDS></METADATA><ROWDATA>"
      "<ROW id=\"1\" Name=\"Up\" FileName=\"../keep.xml\"/><ROW id=\"2\" Name=\"Empty\" "
      "FileName=\"\"/>"
      "</ROWDATA></DATAPACKET>");
  TPlayListManager store(Data(), PlayLists());
  TDataTable table;
  EXPECT_NE(ErrorOf([&] { store.OpenPlayList(table, "Up"); }), "");
  store.DeletePlayList("Up");
  store.DeletePlayList("Empty");
  EXPECT_EQ(ReadFileBytes(outside), "keep");
  EXPECT_TRUE(fs::is_directory(PlayLists()));
  EXPECT_TRUE(store.PlayListNames().empty());
}

TEST_F(PlayListStore, ADamagedIndexIsRebuiltFromThePlayListFiles) {
  const std::string index = Data() + "playlists.xml";
  std::string rockFile, jazzFile, gone;
  {
    TPlayListManager store(Data(), PlayLists());
    TDataTable table;
    store.CreatePlayList(table, "Rock & Roll");
    rockFile = fs::path(table.FileName()).filename().string();
    store.CreatePlayList(table, "Jazz");
    jazzFile = fs::path(table.FileName()).filename().string();
    store.CreatePlayList(table, "Gone");
    gone = fs::path(table.FileName()).filename().string();
    store.DeletePlayList("Gone");
  }
  WriteFileBytes(PlayLists() + std::string(40, 'B') + ".xml", "<html>"); // no playlist
  // Cut inside Jazz's row: Rock's name can still be read, Jazz's cannot.
  const std::string whole = IndexBytes();
  const std::string damaged = whole.substr(0, whole.find("Name=\"Jazz") + 7);
  WriteFileBytes(index, damaged);
  EXPECT_THROW(TPlayListManager(Data(), PlayLists()), EIndexDamaged);
  EXPECT_EQ(IndexBytes(), damaged);

  // With no room for the new index, nothing changes.
  {
    DiskFull full(100);
    EXPECT_NE(ErrorOf([&] { RebuildIndex(Data(), PlayLists()); }), "");
  }
  EXPECT_EQ(IndexBytes(), damaged);
  for (const auto &entry : fs::directory_iterator(Data()))
    EXPECT_EQ(entry.path().filename().string().find(".damaged-"), std::string::npos);

  const TRebuiltIndex rebuilt = RebuildIndex(Data(), PlayLists());
  EXPECT_EQ(rebuilt.PlayLists, 2);
  EXPECT_EQ(rebuilt.Recovered, 1);
  EXPECT_EQ(rebuilt.LeftOut, 1);
  EXPECT_EQ(rebuilt.KeptAs.rfind(index + ".damaged-", 0), 0u);
  EXPECT_EQ(ReadFileBytes(rebuilt.KeptAs), damaged);
  TPlayListManager store(Data(), PlayLists());
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Recovered 1", "Rock & Roll"}));
  TDataTable table;
  ASSERT_TRUE(store.OpenPlayList(table, "Recovered 1"));
  EXPECT_EQ(fs::path(table.FileName()).filename().string(), jazzFile);
  ASSERT_TRUE(store.OpenPlayList(table, "Rock & Roll"));
  EXPECT_EQ(fs::path(table.FileName()).filename().string(), rockFile);
  // A second rebuild never overwrites the first one's kept file.
  EXPECT_NE(RebuildIndex(Data(), PlayLists()).KeptAs, rebuilt.KeptAs);
  EXPECT_EQ(ReadFileBytes(rebuilt.KeptAs), damaged);
}

TEST_F(PlayListStore, DamagedFilesAreRefusedNamedAndNeverWrittenBack) {
  {
    TPlayListManager store(Data(), PlayLists());
    Create(store, "Jazz");
    Create(store, "Rock");
    AddVideosToPlayList(store, "Jazz", false, std::vector<TVideo>(3, TVideo{.Url = "a"}));
  }
  const std::string index = Data() + "playlists.xml";
  const std::string good = IndexBytes();
  const auto flip = [](std::string text, const std::string &at, std::size_t offset) {
    text[text.find(at) + offset] ^= 0x20;
    return text;
  };
  // A flipped byte in a row's "FileName=", and in the column's name.
  for (const std::string &damaged :
       {flip(good, " FileName=\"", 3), flip(good, "attrname=\"FileName", 12)}) {
    WriteFileBytes(index, damaged);
    EXPECT_NE(ErrorOf([&] { TPlayListManager store(Data(), PlayLists()); }).find(index),
              std::string::npos);
    EXPECT_EQ(IndexBytes(), damaged);
  }
  WriteFileBytes(index, good);

  // A playlist file whose "Url" column lost its name.
  TPlayListManager store(Data(), PlayLists());
  TDataTable table;
  ASSERT_TRUE(store.OpenPlayList(table, "Jazz"));
  const std::string file = table.FileName();
  const std::string damaged = flip(ReadFileBytes(file), "attrname=\"Url", 10);
  WriteFileBytes(file, damaged);
  const std::string error = ErrorOf([&] {
    store.ChangePlayList(table, "Jazz", [](TDataTable &playList) { playList.Delete(); });
  });
  EXPECT_NE(error.find("\"" + file + "\""), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(file), damaged);
  EXPECT_NE(ErrorOf([&] { store.OpenPlayList(table, "Jazz"); }), "");
  EXPECT_FALSE(table.Active());
}

TEST_F(PlayListStore, TwoStoresOnOneFolderKeepEachOthersChanges) {
  TPlayListManager program(Data(), PlayLists());
  TPlayListManager other(Data(), PlayLists()); // another program on the same files
  Create(program, "mixed");
  Create(program, "Rock");
  EXPECT_TRUE(other.TakeOutsideChanges().Index);
  EXPECT_FALSE(program.TakeOutsideChanges().Index); // its own changes are not news

  Create(other, "Broken bits");
  AddVideosToPlayList(other, "Broken bits", false, {TVideo{.Title = "A", .Url = "a"}});
  other.DeletePlayList("mixed");
  // The program's next change starts from what is on disk.
  EXPECT_EQ(program.RenamePlayList("Rock", "Stone"), "Stone");
  EXPECT_EQ(program.PlayListNames(), (std::vector<std::string>{"Broken bits", "Stone"}));
  EXPECT_TRUE(other.TakeOutsideChanges().Index);
  EXPECT_EQ(other.PlayListNames(), program.PlayListNames());

  // Rows that the other added survive the program's change of that playlist.
  TDataTable open;
  ASSERT_TRUE(program.OpenPlayList(open, "Broken bits"));
  AddVideosToPlayList(other, "Broken bits", false, {TVideo{.Title = "B", .Url = "b"}});
  const auto changed = program.TakeOutsideChanges().PlayListFiles;
  EXPECT_NE(std::find(changed.begin(), changed.end(), open.FileName()), changed.end());
  program.ChangePlayList(open, "Broken bits", [](TDataTable &playList) {
    playList.SetRecNo(1);
    playList.Delete();
  });
  EXPECT_EQ(Column(open, "Title"), std::vector<std::string>{"B"});
  EXPECT_TRUE(program.TakeOutsideChanges().PlayListFiles.empty());
}

TEST_F(PlayListStore, ANewPlaylistAppearsWholeOrNotAtAll) {
  TPlayListManager store(Data(), PlayLists());
  const std::vector<TVideo> videos(40, TVideo{.Title = std::string(90, 't'), .Url = "u"});
  const auto before = Snapshot();
  {
    DiskFull full(2000);
    EXPECT_NE(ErrorOf([&] { AddVideosToPlayList(store, "Big", true, videos); }), "");
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(store.HasPlayList("Big"));
  AddVideosToPlayList(store, "Big", true, videos);
  TDataTable table;
  ASSERT_TRUE(store.OpenPlayList(table, "Big"));
  EXPECT_EQ(table.RecordCount(), 40);

  // Create, delete, create, delete within a second: the trash keeps both files.
  for (const char *name : {"One", "Two"}) {
    AddVideosToPlayList(store, name, true, {TVideo{.Title = name, .Url = "x"}});
    store.DeletePlayList(name);
  }
  std::set<std::string> titles;
  for (const auto &entry : fs::directory_iterator(store.TrashFolder())) {
    TDataTable trashed;
    trashed.LoadFromFile(entry.path().string());
    titles.insert(trashed.DisplayText(1, "Title"));
  }
  EXPECT_EQ(titles, (std::set<std::string>{"One", "Two"}));
}

TEST_F(PlayListStore, AddVideosOpensOrCreatesAppendsInOrderAndSaves) {
  TPlayListManager store(Data(), PlayLists());
  auto videos = [](std::initializer_list<const char *> titles) {
    std::vector<TVideo> list;
    for (const char *title : titles) {
      TVideo video;
      video.Title = title;
      video.Url = std::string("id-") + title;
      list.push_back(video);
    }
    return list;
  };
  auto titles = [&](const std::string &name) {
    TDataTable table;
    EXPECT_TRUE(store.OpenPlayList(table, name));
    std::vector<std::string> found;
    for (table.First(); !table.Eof(); table.Next())
      found.push_back(table.FieldByName("Title").AsString());
    return found;
  };

  const std::string file = AddVideosToPlayList(store, "Road Trip", true, videos({"B", "A"}));
  EXPECT_EQ(fs::path(file).parent_path(), fs::path(PlayLists()).parent_path());
  EXPECT_EQ(titles("Road Trip"), (std::vector<std::string>{"B", "A"}));
  // Adding to it again appends after the rows it has, into the same file.
  EXPECT_EQ(AddVideosToPlayList(store, "Road Trip", false, videos({"C"})), file);
  EXPECT_EQ(titles("Road Trip"), (std::vector<std::string>{"B", "A", "C"}));

  // A playlist to open that does not exist is an error, and nothing is made.
  EXPECT_THROW(AddVideosToPlayList(store, "Nowhere", false, videos({"D"})), ENoPlayList);
  // A name taken fails as creating it does, and the first playlist keeps its rows.
  EXPECT_THROW(AddVideosToPlayList(store, "Road Trip", true, videos({"E"})), EPlayListExists);
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Road Trip"}));
  EXPECT_EQ(PlayListFiles().size(), 1u);
  EXPECT_EQ(titles("Road Trip"), (std::vector<std::string>{"B", "A", "C"}));
}

TEST_F(PlayListStore, NamesAreTrimmedAndANameOfBlanksIsRefused) {
  TPlayListManager store(Data(), PlayLists());
  const struct {
    std::string typed, stored;
  } kept[] = {
      {"  Rock  ", "Rock"},
      {"\tLate Night\r\n", "Late Night"},
      {"\x01Mix\x1f", "Mix"},
      // Cut to the column's width, then trimmed again.
      {std::string(69, 'n') + "\tfar", std::string(69, 'n')},
  };
  for (const auto &k : kept) {
    EXPECT_EQ(TrimPlayListName(k.typed), k.stored);
    TDataTable table;
    EXPECT_EQ(ErrorOf([&] { store.CreatePlayList(table, k.typed); }), "") << k.typed;
    EXPECT_TRUE(store.HasPlayList(k.stored)) << k.stored;
    EXPECT_TRUE(store.OpenPlayList(table, k.stored)) << k.stored;
  }
  EXPECT_EQ(store.PlayListNames(),
            (std::vector<std::string>{"Late Night", "Mix", std::string(69, 'n'), "Rock"}));

  const auto before = Snapshot();
  for (const std::string &blank : {std::string(), std::string("   "), std::string("\t\r\n \x01")}) {
    TDataTable table;
    EXPECT_EQ(ErrorOf([&] { store.CreatePlayList(table, blank); }), "A playlist needs a name.");
    EXPECT_FALSE(table.Active());
  }
  // A name that is taken once trimmed says so, with the name as it is kept.
  EXPECT_EQ(ErrorOf([&] { Create(store, " Rock\t"); }),
            "A playlist named \"Rock\" already exists.");
  EXPECT_THROW(Create(store, "Rock"), EPlayListExists);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(store.PlayListNames().size(), 4u);
}

TEST_F(PlayListStore, ASaveThatFailsLeavesTheStoreAndItsFilesAsTheyWere) {
  TPlayListManager store(Data(), PlayLists());
  // An index larger than an empty playlist, so that only the index save fails.
  for (int i = 0; i < 12; ++i) Create(store, std::to_string(i) + std::string(60, 'x'));
  const auto before = Snapshot();
  const auto names = store.PlayListNames();
  ASSERT_GT(IndexBytes().size(), 2000u);
  {
    DiskFull full(1500);
    TDataTable table;
    EXPECT_NE(ErrorOf([&] { store.CreatePlayList(table, "New"); }), "");
    EXPECT_FALSE(table.Active());
    EXPECT_NE(ErrorOf([&] { store.DeletePlayList(names[0]); }), "");
    EXPECT_NE(ErrorOf([&] { store.RenamePlayList(names[1], "Renamed"); }), "");
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(store.PlayListNames(), names);
  EXPECT_FALSE(store.HasPlayList("New"));
  EXPECT_FALSE(store.HasPlayList("Renamed"));
  TDataTable table;
  EXPECT_TRUE(store.OpenPlayList(table, names[0]));
  // With room again, both work, and the failed creation took no id.
  Create(store, "New");
  EXPECT_NE(IndexBytes().find("id=\"13\" Name=\"New\""), std::string::npos);
  store.DeletePlayList(names[0]);
  EXPECT_FALSE(store.HasPlayList(names[0]));
  EXPECT_FALSE(fs::exists(table.FileName()));
}

TEST_F(PlayListStore, StaleTemporariesAreRemovedAtStartAndNothingElse) {
  WriteFileBytes(Data() + "playlists.xml", kEmptyIndex);
  const std::string ended = std::to_string(EndedProcess());
  const std::string running = std::to_string(getpid());
  const std::string hex = std::string(40, 'A') + ".xml";
  const std::string stale[] = {
      Data() + "playlists.xml.tmp-" + ended + "-0",
      Data() + "playlists.xml.tmp-" + ended + "-17",
      PlayLists() + hex + ".tmp-" + ended + "-3",
      PlayLists() + "Old name.xml.tmp-" + ended + "-0",
  };
  const std::string kept[] = {
      Data() + "playlists.xml.tmp-" + running + "-0", // its writer still runs
      Data() + "playlists.xml.tmp-1-0",
      PlayLists() + hex + ".tmp-" + running + "-2",
      Data() + "notes.txt.tmp-" + ended + "-0", // the data folder may be any folder
      Data() + "temp/Sonabox.run.tmp-" + ended + "-0",
      PlayLists() + hex + ".tmp-" + ended,
      PlayLists() + hex + ".tmp-" + ended + "-",
      PlayLists() + hex + ".tmp-x" + ended + "-1",
      PlayLists() + hex + ".tmp--1-1",
      PlayLists() + hex + ".tmp-99999999999999999999-1",
      PlayLists() + ".tmp-" + ended + "-1",
      PlayLists() + "readme.txt",
  };
  fs::create_directories(Data() + "temp");
  for (const std::string &path : stale) WriteFileBytes(path, "half");
  for (const std::string &path : kept) WriteFileBytes(path, "keep");
  const std::string folder = PlayLists() + "B.xml.tmp-" + ended + "-1"; // not a file
  fs::create_directories(folder);

  // A playlist file that no index row names (a creation cut short) goes to the trash.
  WriteFileBytes(PlayLists() + hex, "orphan");
  TPlayListManager store(Data(), PlayLists());
  EXPECT_FALSE(fs::exists(PlayLists() + hex));
  EXPECT_EQ(ReadFileBytes(store.TrashFolder() + hex), "orphan");
  for (const std::string &path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  for (const std::string &path : kept) EXPECT_EQ(ReadFileBytes(path), "keep") << path;
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(IndexBytes(), kEmptyIndex);
}

TEST_F(PlayListStore, AFolderThatCannotBeWrittenIsNotTakenForADamagedIndex) {
  // A file stands where a folder should be: the data folder, a folder above
  // it, the playlists folder.
  const struct {
    std::string blocked, data, playLists;
  } cases[] = {
      {Data() + "a", Data() + "a/", Data() + "a/playlists/"},
      {Data() + "b", Data() + "b/c/", Data() + "b/c/playlists/"},
      {Data() + "p", Data(), Data() + "p/"},
  };
  for (const auto &c : cases) {
    WriteFileBytes(c.blocked, "mine");
    const auto before = Snapshot();
    std::string error;
    try {
      TPlayListManager store(c.data, c.playLists);
    } catch (const EDataFolderError &e) {
      error = e.what();
    }
    EXPECT_NE(error.find("could not be created or written"), std::string::npos) << error;
    EXPECT_NE(error.find("\"" + c.blocked + "\""), std::string::npos) << error;
    EXPECT_EQ(Snapshot(), before) << c.blocked;
    fs::remove(c.blocked);
  }
}

TEST_F(PlayListStore, RenameKeepsTheFileUnderTheRulesOfNewNames) {
  TPlayListManager store(Data(), PlayLists());
  TDataTable table;
  store.CreatePlayList(table, "Rock");
  table.Insert();
  table.FieldByName("Title").SetAsString("Stone");
  table.Post();
  table.SaveToFile();
  Create(store, "Jazz");
  const std::string file = fs::path(table.FileName()).filename().string();

  EXPECT_EQ(store.RenamePlayList("Rock", "  Road Trip\t"), "Road Trip");
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Jazz", "Road Trip"}));
  TDataTable renamed;
  ASSERT_TRUE(store.OpenPlayList(renamed, "Road Trip"));
  EXPECT_EQ(renamed.FileName(), PlayLists() + file);
  EXPECT_EQ(Column(renamed, "Title"), std::vector<std::string>{"Stone"});
  // In the index: the old row deleted, a new row (the next id) for the same file.
  EXPECT_NE(IndexBytes().find("CHANGE_LOG=\"1 0 4 2 0 4 1 0 2 3 0 4\" AUTOINCVALUE=\"4\""),
            std::string::npos);
  EXPECT_NE(IndexBytes().find("<ROW RowState=\"4\" id=\"3\" Name=\"Road Trip\" FileName=\"" + file +
                              "\"/>"),
            std::string::npos);
  EXPECT_EQ(PlayListFiles().size(), 2u);

  // A case change is a new name; the same name changes nothing.
  EXPECT_EQ(store.RenamePlayList("Road Trip", "road trip"), "road trip");
  const std::string index = IndexBytes();
  EXPECT_EQ(store.RenamePlayList("road trip", "road trip "), "road trip");
  EXPECT_EQ(IndexBytes(), index);

  const auto before = Snapshot();
  const struct {
    const char *from, *to, *error;
  } refused[] = {
      {"road trip", " \t", "A playlist needs a name."},
      {"road trip", " Jazz", "A playlist named \"Jazz\" already exists."},
      {"Nowhere", "Somewhere", "No playlist is named \"Nowhere\""},
  };
  for (const auto &r : refused) {
    EXPECT_EQ(ErrorOf([&] { store.RenamePlayList(r.from, r.to); }), r.error) << r.to;
  }
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Jazz", "road trip"}));
}

TEST_F(PlayListStore, TheNameOfAPlaylistFile) {
  TPlayListManager store(Data(), PlayLists());
  TDataTable rock, jazz;
  store.CreatePlayList(rock, "Rock");
  store.CreatePlayList(jazz, "Jazz");
  EXPECT_EQ(store.PlayListNameOf(rock.FileName()), "Rock");
  EXPECT_EQ(store.PlayListNameOf(jazz.FileName()), "Jazz");
  const std::string file = fs::path(rock.FileName()).filename().string();
  EXPECT_EQ(store.PlayListNameOf(Data() + file), "") << "not in the playlists folder";
  EXPECT_EQ(store.PlayListNameOf(PlayLists() + "nothing.xml"), "");
  store.DeletePlayList("Rock");
  EXPECT_EQ(store.PlayListNameOf(rock.FileName()), "") << "deleted";
}

TEST_F(PlayListStore, ADeletedPlaylistGoesToTheTrashAndComesBack) {
  TPlayListManager store(Data(), PlayLists());
  Create(store, "Pop");
  TDataTable table;
  store.CreatePlayList(table, "Rock");
  table.Insert();
  table.FieldByName("Title").SetAsString("Stone");
  table.Post();
  table.SaveToFile();
  const std::string file = fs::path(table.FileName()).filename().string();
  const std::string bytes = ReadFileBytes(table.FileName());
  const std::string indexBefore = IndexBytes();

  const TPlayListManager::TDeleted deleted = store.DeletePlayList("Rock");
  EXPECT_EQ(deleted.Name, "Rock");
  EXPECT_EQ(deleted.FileName, file);
  EXPECT_EQ(deleted.RowNumber, 2);
  EXPECT_FALSE(fs::exists(PlayLists() + file));
  EXPECT_EQ(ReadFileBytes(store.TrashFolder() + file), bytes);
  EXPECT_EQ(store.TrashFolder(), Data() + "trash/");

  // Back: the same index bytes as before the deletion, the file in its place.
  store.RestorePlayList(deleted);
  EXPECT_EQ(IndexBytes(), indexBefore);
  EXPECT_EQ(ReadFileBytes(PlayLists() + file), bytes);
  EXPECT_FALSE(fs::exists(store.TrashFolder() + file));
  TDataTable back;
  ASSERT_TRUE(store.OpenPlayList(back, "Rock"));
  EXPECT_EQ(Column(back, "Title"), std::vector<std::string>{"Stone"});

  // Not back while another playlist has the name; nothing changes.
  const auto again = store.DeletePlayList("Rock");
  Create(store, "Rock");
  const auto before = Snapshot();
  EXPECT_EQ(ErrorOf([&] { store.RestorePlayList(again); }),
            "A playlist named \"Rock\" already exists.");
  EXPECT_EQ(Snapshot(), before);
  // A file gone from the trash: the playlist stays deleted.
  const auto gone = store.DeletePlayList("Pop");
  fs::remove(store.TrashFolder() + gone.FileName);
  EXPECT_EQ(ErrorOf([&] { store.RestorePlayList(gone); }),
            "The playlist \"Pop\" cannot be restored: its file is no longer in the trash.");
  EXPECT_FALSE(store.HasPlayList("Pop"));
}

TEST_F(PlayListStore, TheTrashKeepsFilesForAWeek) {
  fs::create_directories(Data() + "trash/");
  const std::string old = Data() + "trash/old.xml", recent = Data() + "trash/recent.xml";
  WriteFileBytes(old, "old");
  WriteFileBytes(recent, "recent");
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(24 * 8));
  fs::last_write_time(recent, fs::file_time_type::clock::now() - std::chrono::hours(24 * 6));
  TPlayListManager store(Data(), PlayLists());
  EXPECT_FALSE(fs::exists(old));
  EXPECT_EQ(ReadFileBytes(recent), "recent");
}

TEST_F(PlayListStore, VideosAlreadyInAPlaylist) {
  TPlayListManager store(Data(), PlayLists());
  auto videos = [](std::initializer_list<std::string> urls) {
    std::vector<TVideo> list;
    for (const std::string &url : urls) {
      TVideo video;
      video.Url = url;
      list.push_back(video);
    }
    return list;
  };
  AddVideosToPlayList(store, "Mix", true, videos({"a", "b", "abcdefghijklmnopXYZ"}));
  const struct {
    const char *name;
    std::vector<TVideo> videos;
    std::vector<bool> already;
  } cases[] = {
      {"none held", videos({"c", "d"}), {false, false}},
      {"held ones", videos({"b", "c", "a"}), {true, false, true}},
      {"twice in the list", videos({"c", "c"}), {false, true}},
      {"held as the column keeps it", videos({"abcdefghijklmnopQRS"}), {true}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(VideosAlreadyIn(store, "Mix", c.videos), c.already) << c.name;
  EXPECT_EQ(VideosAlreadyIn(store, "Nowhere", videos({"a"})), std::vector<bool>{false});
  // A deleted row no longer holds its video.
  TDataTable mix;
  ASSERT_TRUE(store.OpenPlayList(mix, "Mix"));
  mix.Delete();
  mix.SaveToFile();
  EXPECT_EQ(VideosAlreadyIn(store, "Mix", videos({"a"})), std::vector<bool>{false});
}
