#include "core/playlists/DataTable.h"

#include "TableFixtures.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <functional>

using namespace sonabox;
using namespace sonabox::test;

TEST(DataTable, TextIsCutToWidthAndTrailingSpacesStripped) {
  const struct {
    std::string in, stored;
  } cases[] = {
      {"Rock", "Rock"},
      {"Rock   ", "Rock"},                  // trailing spaces go
      {"  Ro", "  Ro"},                     // leading ones stay
      {"12345678", "12345"},                // cut to the width of 5
      {"1234 678", "1234"},                 // cut, then stripped
      {"", ""},                             // empty stays empty
      {"     ", ""},                        // all spaces: empty, not null
      {"ab\xC3\xA9\xC3\xA9", "ab\xC3\xA9"}, // "abéé": the second é would not fit whole
      {"abc\xE2\x82\xAC", "abc"},           // "abc€": the three-byte € would be split
      {"a\tb\r", "a\tb\r"},                 // only spaces are stripped
  };
  for (const auto &c : cases) {
    TDataTable table;
    CreateTable(table, {{"Rating", TFieldType::String, 5}});
    table.Insert();
    table.FieldByName("Rating").SetAsString(c.in);
    table.Post();
    EXPECT_EQ(table.FieldByName("Rating").AsString(), c.stored) << c.in;
    EXPECT_FALSE(table.FieldByName("Rating").IsNull()) << c.in;
  }
}

TEST(DataTable, InsertPostAssignsIdsAndKeepsRowOrder) {
  TDataTable table;
  CreateTable(table, IndexColumns());
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(table.Eof());
  AddName(table, "b");
  AddName(table, "a");
  AddName(table, "c");
  EXPECT_EQ(table.RecordCount(), 3);
  EXPECT_EQ(Column(table, "Name"), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(Column(table, "id"), (std::vector<std::string>{"1", "2", "3"}));
  // A column never set reads as null.
  table.Insert();
  table.FieldByName("Name").SetAsString("d");
  table.Post();
  EXPECT_TRUE(table.FieldByName("FileName").IsNull());
  EXPECT_EQ(table.FieldByName("id").AsInteger(), 4);
}

TEST(DataTable, DeletedRowsAreInvisibleAndTheirIdsNeverReturn) {
  TDataTable table;
  CreateTable(table, IndexColumns());
  table.AddIndex("nameidx", "Name", true);
  AddName(table, "a");
  AddName(table, "b");
  AddName(table, "c");
  table.SetRecNo(2);
  table.Delete();
  // The next visible row becomes current.
  EXPECT_EQ(table.FieldByName("Name").AsString(), "c");
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(Column(table, "Name"), (std::vector<std::string>{"a", "c"}));
  table.SetIndexName("nameidx");
  EXPECT_FALSE(table.FindKey("b"));
  // The deleted name may be used again, but its id is not.
  AddName(table, "b");
  EXPECT_EQ(table.FieldByName("id").AsInteger(), 4);
  // Deleting the last row makes the row before it current.
  table.SetIndexName("");
  table.SetRecNo(3);
  table.Delete();
  EXPECT_EQ(table.FieldByName("Name").AsString(), "c");
}

TEST(DataTable, UniqueIndexRefusesADuplicateAndKeepsTheRowPending) {
  TDataTable table("cdsIndex");
  CreateTable(table, IndexColumns());
  table.AddIndex("nameidx", "Name", true);
  AddName(table, "Rock", "ONE.xml");
  AddName(table, "rock", "TWO.xml"); // letter case counts

  table.Insert();
  table.FieldByName("Name").SetAsString("Rock  "); // the same name once stripped
  table.FieldByName("FileName").SetAsString("THREE.xml");
  EXPECT_EQ(ErrorOf([&] { table.Post(); }),
            "cdsIndex: Key violation: \"Rock\" is already in index nameidx");
  EXPECT_TRUE(table.Inserting());
  table.Cancel();
  EXPECT_FALSE(table.Inserting());
  EXPECT_EQ(table.RecordCount(), 2);
  table.SetIndexName("nameidx");
  ASSERT_TRUE(table.FindKey("Rock"));
  EXPECT_EQ(table.FieldByName("FileName").AsString(), "ONE.xml");
  // The refused row took no id.
  AddName(table, "Jazz");
  EXPECT_EQ(table.FieldByName("id").AsInteger(), 3);
}

TEST(DataTable, AUniqueIndexOverDuplicateRowsIsRefused) {
  TDataTable table;
  CreateTable(table, IndexColumns());
  AddName(table, "x");
  AddName(table, "x");
  EXPECT_EQ(ErrorOf([&] { table.AddIndex("nameidx", "Name", true); }),
            "Key violation: \"x\" is already in index nameidx");
  table.AddIndex("plain", "Name", false); // a non-unique one is fine
}

TEST(DataTable, IndexOrderAndExactLookUp) {
  TDataTable table;
  CreateTable(table, IndexColumns());
  table.AddIndex("ididx", "id", false);
  table.AddIndex("nameidx", "Name", true);
  for (const char *name : {"m", "B", "a", "d", "e", "f", "g", "h", "i", "j", "k"})
    AddName(table, name);
  table.SetIndexName("ididx");
  // Integers sort by value: 10 and 11 come after 9.
  const auto ids = Column(table, "id");
  EXPECT_EQ(ids.front(), "1");
  EXPECT_EQ(ids.back(), "11");
  table.SetIndexName("nameidx");
  EXPECT_EQ(Column(table, "Name").front(), "B"); // byte order: capitals first
  EXPECT_TRUE(table.FindKey("B"));
  EXPECT_EQ(table.FieldByName("id").AsInteger(), 2);
  EXPECT_FALSE(table.FindKey("b"));
  EXPECT_FALSE(table.FindKey("A"));
  // A failed look-up leaves the current row where it was.
  EXPECT_EQ(table.FieldByName("Name").AsString(), "B");
  table.SetIndexName("ididx");
  EXPECT_TRUE(table.FindKey("11"));
  EXPECT_EQ(table.FieldByName("Name").AsString(), "k");
  EXPECT_FALSE(table.FindKey("twelve"));
  // Rows posted under an index take their place in its order.
  table.SetIndexName("nameidx");
  AddName(table, "c");
  EXPECT_EQ(table.FieldByName("Name").AsString(), "c");
  EXPECT_EQ(table.RecNo(), 3); // B a c d ...
  EXPECT_EQ(ErrorOf([&] { table.SetIndexName("nosuch"); }), "Index 'nosuch' not found");
}

TEST(DataTable, PendingRowIsPostedOrDroppedWhenSavingOrChangingIndex) {
  TestFolders folders;
  const std::string path = folders.Root() + "t.xml";
  TDataTable table;
  CreateTable(table, IndexColumns());
  table.AddIndex("nameidx", "Name", true);

  table.Insert(); // nothing set: dropped
  table.SaveToFile(path);
  EXPECT_FALSE(table.Inserting());
  EXPECT_EQ(table.RecordCount(), 0);

  table.Insert();
  table.FieldByName("Name").SetAsString("set");
  table.SaveToFile(path); // posted before writing
  EXPECT_EQ(table.RecordCount(), 1);
  TDataTable loaded;
  loaded.LoadFromFile(path);
  EXPECT_EQ(Column(loaded, "Name"), std::vector<std::string>{"set"});

  table.Insert();
  table.SetIndexName("nameidx"); // nothing set: dropped
  EXPECT_EQ(table.RecordCount(), 1);
  table.Insert();
  table.FieldByName("Name").SetAsString("other");
  table.SetIndexName("");
  EXPECT_EQ(table.RecordCount(), 2);
  // A pending row that breaks the index is not lost: the change fails and the row stays.
  table.Insert();
  table.FieldByName("Name").SetAsString("set");
  EXPECT_NE(ErrorOf([&] { table.SetIndexName("nameidx"); }), "");
  EXPECT_TRUE(table.Inserting());
  EXPECT_EQ(table.IndexName(), "");
}

TEST(DataTable, FieldsAreSetOnlyOnAPendingRow) {
  TDataTable table("cdsPlayList");
  CreateTable(table, PlayListColumns());
  AddTitle(table, nullptr);
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("Title").SetAsString("x"); }),
            "cdsPlayList: Dataset not in edit or insert mode");
  table.Insert();
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("DurationSeconds").SetAsString("12x"); }),
            "cdsPlayList: '12x' is not a valid integer value");
  table.FieldByName("DurationSeconds").SetAsString("-0042");
  EXPECT_EQ(table.FieldByName("DurationSeconds").AsString(), "-42");
  table.FieldByName("DurationSeconds").SetAsString("");
  EXPECT_TRUE(table.FieldByName("DurationSeconds").IsNull());
  table.FieldByName("Rating").SetAsInteger(1234567);
  EXPECT_EQ(table.FieldByName("Rating").AsString(), "12345");
  EXPECT_EQ(table.FieldByName("Rating").AsInteger(), 12345);
  table.FieldByName("Title").SetAsString("not a number");
  EXPECT_EQ(table.FieldByName("Title").AsInteger(), 0);
  table.FieldByName("Added").SetAsString("20080315T14:05:09123");
  EXPECT_EQ(table.FieldByName("Added").AsString(), "20080315T14:05:09123");
  EXPECT_NE(ErrorOf([&] { table.FieldByName("Added").SetAsString("2008-03-15"); }), "");
  table.FieldByName("Title").Clear();
  EXPECT_TRUE(table.FieldByName("Title").IsNull());
  table.Post();

  TDataTable index;
  CreateTable(index, IndexColumns());
  index.Insert();
  EXPECT_EQ(ErrorOf([&] { index.FieldByName("id").SetAsInteger(7); }),
            "Field 'id' cannot be modified");
}

TEST(DataTable, ErrorsOfAClosedTable) {
  TestFolders folders;
  TDataTable table("cdsPlayList");
  const std::string closed = "cdsPlayList: Cannot perform this operation on a closed dataset";
  const std::pair<const char *, std::function<void()>> cases[] = {
      {"Insert", [&] { table.Insert(); }},
      {"Delete", [&] { table.Delete(); }},
      {"FindKey", [&] { table.FindKey("x"); }},
      {"First", [&] { table.First(); }},
      {"Next", [&] { table.Next(); }},
      {"RecordCount", [&] { table.RecordCount(); }},
      {"SaveToFile", [&] { table.SaveToFile(folders.Root() + "x.xml"); }},
      {"AddIndex", [&] { table.AddIndex("i", "Title", false); }},
  };
  for (const auto &[name, action] : cases) EXPECT_EQ(ErrorOf(action), closed) << name;
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("Title"); }), "cdsPlayList: Field 'Title' not found");
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_EQ(table.DisplayText(1, "Title"), "");
  EXPECT_FALSE(table.Active());
}

TEST(DataTable, ErrorsOfAnOpenTable) {
  TDataTable table("cdsPlayList");
  CreateTable(table, PlayListColumns());
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("Views"); }), "cdsPlayList: Field 'Views' not found");
  EXPECT_EQ(ErrorOf([&] { table.Delete(); }),
            "cdsPlayList: Cannot perform this operation on an empty dataset");
  EXPECT_EQ(ErrorOf([&] { table.FindKey("x"); }), "cdsPlayList: No index currently active");
  // Without a component name there is no prefix.
  TDataTable plain;
  CreateTable(plain, PlayListColumns());
  EXPECT_EQ(ErrorOf([&] { plain.Delete(); }), "Cannot perform this operation on an empty dataset");
  // Definitions that cannot make a table.
  TDataTable bad;
  bad.DefineColumns({{"a", TFieldType::String, 5}, {"a", TFieldType::Integer, 0}});
  EXPECT_EQ(ErrorOf([&] { bad.CreateEmpty(); }), "Duplicate field name 'a'");
  EXPECT_FALSE(bad.Active());
}

TEST(DataTable, FileErrors) {
  TestFolders folders;
  TDataTable table("cdsPlayList");
  const std::string missing = folders.Root() + "missing.xml";

  table.SetFileName(missing);
  EXPECT_EQ(ErrorOf([&] { table.Open(); }), "cdsPlayList: Missing data provider or data packet");
  table.SetFileName("");
  EXPECT_EQ(ErrorOf([&] { table.Open(); }), "cdsPlayList: Missing data provider or data packet");
  EXPECT_EQ(ErrorOf([&] { table.LoadFromFile(missing); }),
            "cdsPlayList: Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_EQ(ErrorOf([&] { table.LoadFromFile(folders.Root()); }),
            "cdsPlayList: Cannot open file \"" + folders.Root() + "\". Is a directory");
  EXPECT_FALSE(table.Active());

  CreateTable(table, PlayListColumns());
  const std::string noFolder = folders.Root() + "no/such/folder/p.xml";
  EXPECT_EQ(ErrorOf([&] { table.SaveToFile(noFolder); }),
            "cdsPlayList: Cannot create file \"" + noFolder + "\". No such file or directory");
  EXPECT_EQ(ErrorOf([&] {
              table.SaveToFile(folders.Root());
            }).rfind("cdsPlayList: Cannot create file", 0),
            0u);
  // A refused load closes the table.
  WriteFileBytes(folders.Root() + "bad.xml", "not xml");
  EXPECT_NE(ErrorOf([&] { table.LoadFromFile(folders.Root() + "bad.xml"); }), "");
  EXPECT_FALSE(table.Active());
}

TEST(DataTable, OpenLoadsFileNameAndSaveUsesIt) {
  TestFolders folders;
  TDataTable table;
  CreateTable(table, PlayListColumns());
  table.SetFileName(folders.Root() + "p.xml");
  const std::string title = "One";
  AddTitle(table, &title);
  table.SaveToFile();
  table.Close();
  EXPECT_FALSE(table.Active());
  table.Open();
  EXPECT_EQ(Column(table, "Title"), std::vector<std::string>{"One"});
  table.Open(); // already open: nothing happens
  EXPECT_EQ(table.RecordCount(), 1);
}

TEST(DataTable, TitleFilter) {
  TDataTable table;
  CreateTable(table, PlayListColumns());
  const std::string titles[] = {"Love Song", "GLOVES",     "Rock & Roll",   "It's love",
                                "lov",       "",           "50% off",       "Ünïcode Love",
                                "Jóga",      "夜に駆ける", "Jo\u0301ga II", "한국"};
  for (const std::string &title : titles) AddTitle(table, &title);
  AddTitle(table, nullptr); // a null title
  const std::string deleted = "Deleted love";
  AddTitle(table, &deleted);
  table.Delete();

  const struct {
    std::string filter;
    bool caseInsensitive;
    std::vector<std::string> visible;
  } cases[] = {
      {"Title LIKE '%love%'", true, {"Love Song", "GLOVES", "It's love", "Ünïcode Love"}},
      {"Title LIKE '%love%'", false, {"It's love"}},
      {"Title LIKE 'lov'", false, {"lov"}}, // the whole title must match
      {"Title LIKE 'lo_'", false, {"lov"}},
      {"Title LIKE '_'", false, {}},
      {"Title LIKE '%'",
       false,
       {"Love Song", "GLOVES", "Rock & Roll", "It's love", "lov", "", "50% off", "Ünïcode Love",
        "Jóga", "夜に駆ける", "Jo\u0301ga II", "한국"}},
      {"Title LIKE ''", false, {""}},
      {"Title LIKE '%''%'", false, {"It's love"}}, // a doubled quote is one quote
      {"Title LIKE '50%'", false, {"50% off"}},
      {"Title LIKE '_nïcode%'", false, {"Ünïcode Love"}}, // "_" is one character, not one byte
      {"Title LIKE 'üNÏCODE LOVE'", true, {"Ünïcode Love"}},
      // Without regard to case, accents are aside too, composed or typed apart.
      {"Title LIKE 'unicode love'", true, {"Ünïcode Love"}},
      {"Title LIKE '%jo%'", true, {"Jóga", "Jo\u0301ga II"}},
      {"Title LIKE '%JÓ%'", true, {"Jóga", "Jo\u0301ga II"}},
      {"Title LIKE '%jo%'", false, {}},
      {"Title LIKE '%夜%'", true, {"夜に駆ける"}},
      {"Title LIKE '%駆け%'", true, {"夜に駆ける"}},
      {"Title LIKE '%국%'", true, {"한국"}},
      {"Title LIKE '%구%'", true, {}}, // a syllable is not its first letter
      {"  Title   like   '%&%'  ", false, {"Rock & Roll"}},
  };
  for (const auto &c : cases) {
    table.SetFilterCaseInsensitive(c.caseInsensitive);
    table.SetFilter(c.filter);
    table.SetFiltered(true);
    EXPECT_EQ(Column(table, "Title"), c.visible) << c.filter;
    EXPECT_EQ(table.RecordCount(), static_cast<int>(c.visible.size())) << c.filter;
  }
  table.SetFiltered(false);
  EXPECT_EQ(table.RecordCount(), 13);
  EXPECT_EQ(table.DisplayText(13, "Title"), ""); // the null title

  EXPECT_EQ(ErrorOf([&] { table.SetFilter("Title = 'x'"); }),
            "Invalid filter expression: Title = 'x'");
  EXPECT_EQ(ErrorOf([&] { table.SetFilter("Title LIKE 'open"); }),
            "Invalid filter expression: Title LIKE 'open");
  table.SetFilter("Nothing LIKE 'x'");
  EXPECT_EQ(ErrorOf([&] { table.SetFiltered(true); }), "Field 'Nothing' not found");
  EXPECT_FALSE(table.Filtered());
}

TEST(DataTable, FilterStaysWhenAnotherFileIsOpened) {
  TestFolders folders;
  TDataTable source;
  CreateTable(source, PlayListColumns());
  for (std::string title : {"Blue", "Red", "Light blue"}) AddTitle(source, &title);
  source.SaveToFile(folders.Root() + "p.xml");

  TDataTable table;
  table.SetFilterCaseInsensitive(true);
  table.SetFilter("Title LIKE '%blue%'");
  table.SetFiltered(true);
  table.LoadFromFile(folders.Root() + "p.xml");
  EXPECT_EQ(Column(table, "Title"), (std::vector<std::string>{"Blue", "Light blue"}));
  // Deleting under the filter deletes the visible row it shows.
  table.First();
  table.Delete();
  table.SetFiltered(false);
  EXPECT_EQ(Column(table, "Title"), (std::vector<std::string>{"Red", "Light blue"}));
}

TEST(DataTable, ChangeHandlerAndDisplayText) {
  TestFolders folders;
  TDataTable table;
  int changes = 0;
  table.SetOnChange([&] { ++changes; });
  CreateTable(table, PlayListColumns());
  const struct {
    const char *what;
    std::function<void()> action;
  } steps[] = {
      {"post",
       [&] {
         const std::string t = "A";
         AddTitle(table, &t);
       }},
      {"post",
       [&] {
         const std::string t = "B";
         AddTitle(table, &t);
       }},
      {"filter",
       [&] {
         table.SetFilter("Title LIKE 'A'");
         table.SetFiltered(true);
       }},
      {"unfilter", [&] { table.SetFiltered(false); }},
      {"delete",
       [&] {
         table.First();
         table.Delete();
       }},
      {"save and load",
       [&] {
         table.SaveToFile(folders.Root() + "p.xml");
         table.LoadFromFile(folders.Root() + "p.xml");
       }},
      {"close", [&] { table.Close(); }},
  };
  for (const auto &step : steps) {
    const int before = changes;
    step.action();
    EXPECT_GT(changes, before) << step.what;
  }
  table.LoadFromFile(folders.Root() + "p.xml");
  const std::string c = "C";
  AddTitle(table, &c);
  table.First();
  EXPECT_EQ(table.DisplayText(2, "Title"), "C");
  EXPECT_EQ(table.DisplayText(3, "Title"), "");
  EXPECT_EQ(table.DisplayText(1, "Nothing"), "");
  EXPECT_EQ(table.RecNo(), 1); // reading did not move the cursor
  EXPECT_EQ(table.FieldByName("Title").AsString(), "B");
}

TEST(DataTable, MovingARowUnderAFilterLeavesTheHiddenRowsInPlace) {
  TDataTable table;
  CreateTable(table, PlayListColumns());
  for (std::string title : {"Keep 1", "Drop", "Keep 2", "Keep 3"}) AddTitle(table, &title);
  table.SetFilter("Title LIKE 'Keep%'");
  table.SetFiltered(true);
  table.MoveRow(3, 1);
  EXPECT_EQ(Column(table, "Title"), (std::vector<std::string>{"Keep 3", "Keep 1", "Keep 2"}));
  table.SetRecNo(2);
  table.MoveRow(2, 2); // to its own place: nothing moves, the row becomes current
  EXPECT_EQ(table.FieldByName("Title").AsString(), "Keep 1");
  table.SetFiltered(false);
  EXPECT_EQ(Column(table, "Title"),
            (std::vector<std::string>{"Keep 3", "Drop", "Keep 1", "Keep 2"}));
}

TEST(DataTable, MoveAndUndeleteRefusals) {
  TDataTable table;
  CreateTable(table, IndexColumns());
  table.AddIndex("nameidx", "Name", true);
  AddName(table, "a");
  AddName(table, "b");
  // The moved row becomes current.
  table.MoveRow(2, 1);
  EXPECT_EQ(table.FieldByName("Name").AsString(), "b");
  EXPECT_EQ(table.RowNumber(1), 1);
  EXPECT_NE(ErrorOf([&] { table.MoveRow(1, 3); }), "");
  EXPECT_NE(ErrorOf([&] { table.MoveRow(0, 1); }), "");
  table.SetIndexName("nameidx"); // an index sets the order: rows cannot be moved
  EXPECT_NE(ErrorOf([&] { table.MoveRow(1, 2); }), "");
  EXPECT_EQ(Column(table, "Name"), (std::vector<std::string>{"a", "b"}));

  // Only a deleted row can be taken back, and not while its name is in use.
  ASSERT_TRUE(table.FindKey("a"));
  const int row = table.RowNumber(table.RecNo());
  EXPECT_FALSE(table.Undelete(row));
  EXPECT_FALSE(table.Undelete(9));
  table.Delete();
  AddName(table, "a");
  EXPECT_EQ(ErrorOf([&] { table.Undelete(row); }).rfind("Key violation", 0), 0u);
  ASSERT_TRUE(table.FindKey("a"));
  table.Delete();
  EXPECT_TRUE(table.Undelete(row));
  EXPECT_EQ(table.FieldByName("Name").AsString(), "a");
  EXPECT_EQ(table.FieldByName("id").AsInteger(), 1); // the row itself, not the newer "a"
  EXPECT_EQ(table.RecordCount(), 2);
}
