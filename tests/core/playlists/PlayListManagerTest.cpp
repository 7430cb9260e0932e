#include "core/playlists/PlayListManager.h"

#include "TableFixtures.h"
#include "core/common/TextHelpers.h"
#include "core/search/Video.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
  TestFolders folders_;
};

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
            "Key violation: \"Rock\" is already in index nameidx");
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

  // An unknown name changes nothing, but the index is still written.
  const std::string before = IndexBytes();
  fs::remove(Data() + "playlists.xml");
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
            "Key violation: \"" + std::string(70, 'n') + "\" is already in index nameidx");
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
  fs::remove(probe.FileName());
  WriteFileBytes(broken, "<html>");

  EXPECT_EQ(ErrorOf([&] { store.OpenPlayList(table, "Gone"); }),
            "cdsPlayList: Missing data provider or data packet");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(ErrorOf([&] {
              store.OpenPlayList(table, "Broken");
            }).rfind("cdsPlayList: File \"" + broken, 0),
            0u);
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(IndexBytes(), index);
  EXPECT_EQ(ReadFileBytes(broken), "<html>");
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

TEST_F(PlayListStore, ADamagedIndexIsMovedAsideNeverOverwritten) {
  const std::string index = Data() + "playlists.xml";
  const struct {
    const char *what;
    std::string bytes;
  } damaged[] = {
      {"cut short", kEmptyIndex.substr(0, 100)},
      {"two rows with one name",
       "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"id\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>"
       "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"70\"/></FIELDS></METADATA><ROWDATA>"
       "<ROW id=\"1\" Name=\"x\"/><ROW id=\"2\" Name=\"x\"/></ROWDATA></DATAPACKET>"},
      {"no Name column", "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"id\" "
                         "fieldtype=\"i4\"/></FIELDS></METADATA></DATAPACKET>"},
  };
  std::set<std::string> asides;
  for (const auto &d : damaged) {
    WriteFileBytes(index, d.bytes);
    EXPECT_THROW(TPlayListManager(Data(), PlayLists()), EDataTableError) << d.what;
    EXPECT_EQ(ReadFileBytes(index), d.bytes) << d.what;
    const std::string aside = RecoverDamagedIndex(Data());
    EXPECT_EQ(aside.rfind(index + ".damaged-", 0), 0u) << aside;
    EXPECT_TRUE(asides.insert(aside).second) << "reused " << aside;
    EXPECT_EQ(ReadFileBytes(aside), d.bytes) << d.what;
    EXPECT_FALSE(fs::exists(index));
    TPlayListManager fresh(Data(), PlayLists());
    EXPECT_EQ(IndexBytes(), kEmptyIndex);
  }
  for (const std::string &aside : asides) EXPECT_TRUE(fs::exists(aside)) << aside;
  fs::remove(index);
  EXPECT_THROW(RecoverDamagedIndex(Data()), EDataTableError);
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
  EXPECT_THROW(AddVideosToPlayList(store, "Road Trip", true, videos({"E"})), EDataTableError);
  EXPECT_EQ(store.PlayListNames(), (std::vector<std::string>{"Road Trip"}));
  EXPECT_EQ(PlayListFiles().size(), 1u);
  EXPECT_EQ(titles("Road Trip"), (std::vector<std::string>{"B", "A", "C"}));
}
