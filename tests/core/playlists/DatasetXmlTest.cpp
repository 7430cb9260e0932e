#include "core/playlists/DatasetXml.h"
#include "core/playlists/DataTable.h"

#include "TableFixtures.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace sonabox;
using namespace sonabox::test;

namespace {

const std::string kPrologue = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";
const std::string kIndexTextFields =
    "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"70\"/>"
    "<FIELD attrname=\"FileName\" fieldtype=\"string\" WIDTH=\"50\"/>";
const std::string kPlayListFields =
    "<FIELD attrname=\"Added\" fieldtype=\"dateTime\"/>"
    "<FIELD attrname=\"Duration\" fieldtype=\"string\" WIDTH=\"10\"/>"
    "<FIELD attrname=\"DurationSeconds\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"Description\" fieldtype=\"string\" WIDTH=\"210\"/>"
    "<FIELD attrname=\"Rating\" fieldtype=\"string\" WIDTH=\"5\"/>"
    "<FIELD attrname=\"Thumbnail\" fieldtype=\"string\" WIDTH=\"50\"/>"
    "<FIELD attrname=\"Title\" fieldtype=\"string\" WIDTH=\"100\"/>"
    "<FIELD attrname=\"Url\" fieldtype=\"string\" WIDTH=\"16\"/>";

// A playlist document around the given row elements.
std::string PlayListDocument(const std::string &params, const std::string &rows) {
  return kPrologue + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + kPlayListFields +
         "</FIELDS>" + params + "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

class DatasetXmlTest : public ::testing::Test {
protected:
  std::string Path(const std::string &name) const { return folders_.Root() + name; }
  std::string Save(TDataTable &table, const std::string &name = "t.xml") {
    table.SaveToFile(Path(name));
    return ReadFileBytes(Path(name));
  }
  // Loads a document through a file, as the program does.
  void Load(TDataTable &table, const std::string &document, const std::string &name = "in.xml") {
    WriteFileBytes(Path(name), document);
    table.LoadFromFile(Path(name));
  }
  TestFolders folders_;
};

} // namespace

TEST_F(DatasetXmlTest, TheIndexThroughItsLifeByteForByte) {
  const std::string file = std::string(40, 'A') + ".xml";
  TDataTable first;
  CreateTable(first, IndexColumns());
  EXPECT_EQ(Save(first, "playlists.xml"),
            kPrologue +
                "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                "<FIELD attrname=\"id\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>" +
                kIndexTextFields +
                "</FIELDS><PARAMS AUTOINCVALUE=\"1\"/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");

  // A later run loads the index and creates Rock: the counter column is now read-only.
  TDataTable later;
  later.LoadFromFile(Path("playlists.xml"));
  AddName(later, "Rock", file);
  const std::string head =
      kPrologue +
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
      "<FIELD attrname=\"id\" fieldtype=\"i4\" readonly=\"true\" SUBTYPE=\"Autoinc\"/>" +
      kIndexTextFields + "</FIELDS>";
  EXPECT_EQ(Save(later, "playlists.xml"),
            head +
                "<PARAMS CHANGE_LOG=\"1 0 4\" AUTOINCVALUE=\"2\"/></METADATA><ROWDATA>"
                "<ROW RowState=\"4\" id=\"1\" Name=\"Rock\" FileName=\"" +
                file + "\"/></ROWDATA></DATAPACKET>");

  later.Delete();
  EXPECT_EQ(Save(later, "playlists.xml"),
            head +
                "<PARAMS CHANGE_LOG=\"1 0 4 1 0 2\" AUTOINCVALUE=\"2\"/></METADATA><ROWDATA>"
                "<ROW RowState=\"6\" id=\"1\" Name=\"Rock\" FileName=\"" +
                file + "\"/></ROWDATA></DATAPACKET>");

  // The deleted row comes back deleted: invisible, and its id is not given again.
  TDataTable again;
  again.LoadFromFile(Path("playlists.xml"));
  EXPECT_EQ(again.RecordCount(), 0);
  AddName(again, "Rock", file);
  EXPECT_EQ(again.FieldByName("id").AsInteger(), 2);
}

TEST_F(DatasetXmlTest, APlayListWithOneVideoByteForByte) {
  TDataTable table;
  CreateTable(table, PlayListColumns());
  EXPECT_EQ(Save(table), PlayListDocument("<PARAMS/>", ""));
  table.Insert();
  table.FieldByName("Duration").SetAsString("3:25");
  table.FieldByName("DurationSeconds").SetAsInteger(205);
  table.FieldByName("Description").SetAsString("A song");
  table.FieldByName("Rating").SetAsString("4.5");
  table.FieldByName("Thumbnail").SetAsString("http://127.0.0.1:8472/t/1.jpg");
  table.FieldByName("Title").SetAsString("Rock & Roll \"Live\"");
  table.FieldByName("Url").SetAsString("abc123");
  table.Post();
  EXPECT_EQ(Save(table),
            PlayListDocument("<PARAMS CHANGE_LOG=\"1 0 4\"/>",
                             "<ROW RowState=\"4\" Duration=\"3:25\" DurationSeconds=\"205\" "
                             "Description=\"A song\" Rating=\"4.5\" "
                             "Thumbnail=\"http://127.0.0.1:8472/t/1.jpg\" "
                             "Title=\"Rock &amp; Roll &quot;Live&quot;\" Url=\"abc123\"/>"));
}

TEST_F(DatasetXmlTest, ValueTexts) {
  const struct {
    std::string value, written;
  } cases[] = {
      {"Rock & Roll \"Live\"", "Rock &amp; Roll &quot;Live&quot;"},
      {"a\\b", "a&#092;b"},
      {"a\tb", "a&#009;b"},
      {"<'>\r\n", "&lt;&apos;&gt;&#013;&#010;"},
      {"caf\xC3\xA9 \x01\x7F\xFF", "caf\xC3\xA9 \x01\x7F\xFF"}, // other bytes unchanged
      {"", ""},                                                 // empty, not null
  };
  for (const auto &c : cases) {
    TDataTable table;
    CreateTable(table, {{"T", TFieldType::String, 100}});
    table.Insert();
    table.FieldByName("T").SetAsString(c.value);
    table.Post();
    EXPECT_NE(Save(table).find("<ROW RowState=\"4\" T=\"" + c.written + "\"/>"), std::string::npos)
        << c.value;
  }

  // Integers and date-times.
  TDataTable table;
  CreateTable(table, {{"N", TFieldType::Integer, 0}, {"D", TFieldType::DateTime, 0}});
  const struct {
    int number;
    std::string dateTime, written;
  } rows[] = {
      {-5, "20080315T14:05:09123", "N=\"-5\" D=\"20080315T14:05:09123\""},
      {0, "20080315", "N=\"0\" D=\"20080315\""},
      {2147483647, "00010101T00:00:00001", "N=\"2147483647\" D=\"00010101T00:00:00001\""},
  };
  for (const auto &row : rows) {
    table.Insert();
    table.FieldByName("N").SetAsInteger(row.number);
    table.FieldByName("D").SetAsString(row.dateTime);
    table.Post();
    EXPECT_NE(Save(table).find(row.written), std::string::npos) << row.written;
  }
  EXPECT_EQ(FormatDateTime({2008, 3, 15, 0, 0, 0, 0}), "20080315");
  EXPECT_EQ(FormatDateTime({2008, 3, 15, 14, 5, 9, 123}), "20080315T14:05:09123");
  TDateTimeValue parsed;
  for (const char *bad : {"20080230", "20081315", "2008031", "20080315T24:00:00000",
                          "20080315T14:05:60000", "20080315 14:05:09123"})
    EXPECT_FALSE(ParseDateTime(bad, parsed)) << bad;
}

TEST_F(DatasetXmlTest, EveryByteAndNullRoundTrip) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  TDataTable table;
  CreateTable(table, {{"A", TFieldType::String, 300},
                      {"B", TFieldType::String, 10},
                      {"C", TFieldType::Integer, 0}});
  table.Insert();
  table.FieldByName("A").SetAsString(all + "x"); // not ending in a space, so nothing is stripped
  table.Post();
  const std::string saved = Save(table);

  TDataTable loaded;
  loaded.LoadFromFile(Path("t.xml"));
  loaded.First();
  EXPECT_EQ(loaded.FieldByName("A").AsString(), all + "x");
  EXPECT_TRUE(loaded.FieldByName("B").IsNull());
  EXPECT_TRUE(loaded.FieldByName("C").IsNull());
  EXPECT_EQ(Save(loaded, "again.xml"), saved);
}

TEST_F(DatasetXmlTest, ReaderLeniency) {
  const std::string fields =
      "<FIELDS><FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"9\"/></FIELDS>";
  const struct {
    const char *what;
    std::string document;
    std::vector<std::string> names; // visible rows
  } cases[] = {
      {"leading blanks, no declaration",
       " \r\n\t<DATAPACKET Version=\"2.0\"><METADATA>" + fields +
           "<PARAMS/></METADATA><ROWDATA><ROW Name=\"a\"/></ROWDATA></DATAPACKET>",
       {"a"}},
      {"byte order mark",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><DATAPACKET><METADATA>" + fields +
           "</METADATA><ROWDATA><ROW Name=\"\xC3\xA9\"/></ROWDATA></DATAPACKET>",
       {"\xC3\xA9"}},
      {"METADATA first",
       "<METADATA>" + fields + "</METADATA><ROWDATA><ROW Name=\"m\"/></ROWDATA>",
       {"m"}},
      {"tagname, type in capitals, blanks and comments",
       "<!-- c --><DATAPACKET>\n <METADATA>\n  <FIELDS><FIELD tagname='Name' fieldtype='STRING' "
       "WIDTH='9' "
       "required=\"TRUE\"/></FIELDS>\n </METADATA>\n <ROWDATA><ROW Name = "
       "'q'/>\n</ROWDATA></DATAPACKET>\n",
       {"q"}},
      {"row elements by prefix, others passed over",
       "<DATAPACKET><METADATA>" + fields +
           "</METADATA><ROWDATA><ROWX Name=\"1\"/><OTHER Name=\"no\"/><ROW Name=\"2\">"
           "<CHILD/></ROW></ROWDATA></DATAPACKET>",
       {"1", "2"}},
      {"RowState and references",
       "<DATAPACKET><METADATA>" + fields +
           "</METADATA><ROWDATA><ROW RowState=\"2\" Name=\"gone\"/><ROW RowState=\"8\" "
           "Name=\"&#65;&#x42;&lt;\"/></ROWDATA></DATAPACKET>",
       {"AB<"}},
  };
  for (const auto &c : cases) {
    TDataTable table;
    ASSERT_NO_THROW(Load(table, c.document)) << c.what;
    EXPECT_EQ(Column(table, "Name"), c.names) << c.what;
  }
}

// Found by fuzzing (the writer reached past an empty cell store): a table
// without columns still keeps and writes its rows.
TEST_F(DatasetXmlTest, ATableWithoutColumnsKeepsItsRows) {
  TDataTable table;
  Load(table, "<METADATA><FIELDS><FIELDX attrname=\"x\"/></FIELDS></METADATA>"
              "<ROWDATA><ROW/><ROW RowState=\"4\"/></ROWDATA>");
  EXPECT_EQ(Save(table), kPrologue +
                             "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS></FIELDS><PARAMS/>"
                             "</METADATA><ROWDATA><ROW/><ROW RowState=\"4\"/></ROWDATA>"
                             "</DATAPACKET>");
}

TEST_F(DatasetXmlTest, ReadOnlyParamsAndCounterAreKept) {
  TDataTable table;
  Load(table,
       "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
       "<FIELD attrname=\"id\" fieldtype=\"I4\" SUBTYPE=\"autoinc\"/>"
       "<FIELD attrname=\"Name\" fieldtype=\"string\" readonly=\"True\" WIDTH=\"9\"/></FIELDS>"
       "<PARAMS LCID=\"1033\" CHANGE_LOG=\"1 0 4\" AUTOINCVALUE=\"7\" NOTE=\"a&amp;b\">"
       "<PARAM Name=\"x\" Value=\"1\"/></PARAMS></METADATA>"
       "<ROWDATA><ROW RowState=\"4\" id=\"3\" Name=\"n\"/></ROWDATA></DATAPACKET>");
  EXPECT_EQ(
      Save(table),
      kPrologue +
          "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
          "<FIELD attrname=\"id\" fieldtype=\"i4\" readonly=\"true\" SUBTYPE=\"Autoinc\"/>"
          "<FIELD attrname=\"Name\" fieldtype=\"string\" readonly=\"true\" WIDTH=\"9\"/></FIELDS>"
          "<PARAMS CHANGE_LOG=\"1 0 4\" AUTOINCVALUE=\"7\" LCID=\"1033\" NOTE=\"a&amp;b\">"
          "<PARAM Name=\"x\" Value=\"1\"/></PARAMS></METADATA>"
          "<ROWDATA><ROW RowState=\"4\" id=\"3\" Name=\"n\"/></ROWDATA></DATAPACKET>");

  // A counter that a stored id has already reached moves past it, so ids stay unique.
  TDataTable behind;
  Load(behind,
       "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"id\" fieldtype=\"i4\" SUBTYPE=\"Autoinc\"/>"
       "</FIELDS><PARAMS AUTOINCVALUE=\"2\"/></METADATA>"
       "<ROWDATA><ROW id=\"5\"/></ROWDATA></DATAPACKET>");
  behind.Insert();
  behind.Post();
  EXPECT_EQ(behind.FieldByName("id").AsInteger(), 6);
}

TEST_F(DatasetXmlTest, ReferenceDecoding) {
  const struct {
    std::string raw, value;
  } cases[] = {
      {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
      {"&lxyz", "<z"}, // "&l" takes four bytes, whatever they are
      {"&gabcd", ">cd"},
      {"&qwertz", "\"z"}, // six
      {"&apXXXz", "'z"},  // six
      {"&aXXXz", "&z"},   // five
      {"&l", "<"},        // cut short by the end of the value
      {"&#65;&#x41;&#x4a;", "AAJ"},
      {"&#233;", "\xC3\xA9"},
      {"&#8364;", "\xE2\x82\xAC"},
      {"&#0;", std::string(1, '\0')},
      {"&#65", "&#65"}, // no semicolon
      {"&#6x5;", "&#6x5;"},
      {"&#;&#x;", "&#;&#x;"},
      {"&#X41;", "&#X41;"},
      {"&#xD800;&#1114112;", "&#xD800;&#1114112;"}, // no character
      {"&foo; & &", "&foo; & &"},
      {"&LT;", "&LT;"},
  };
  for (const auto &c : cases) {
    TDataTable table;
    Load(table, "<METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"string\" "
                "WIDTH=\"50\"/></FIELDS></METADATA>"
                "<ROWDATA><ROW T=\"" +
                    c.raw + "\"/></ROWDATA>");
    table.First();
    EXPECT_EQ(table.FieldByName("T").AsString(), c.value) << c.raw;
  }
}

TEST_F(DatasetXmlTest, RefusedDocumentsLeaveTheTableClosedAndTheFileAlone) {
  const std::string fields = "<FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS>";
  const auto packet = [&](const std::string &metadata, const std::string &rows) {
    return "<DATAPACKET><METADATA>" + metadata + "</METADATA><ROWDATA>" + rows +
           "</ROWDATA></DATAPACKET>";
  };
  const struct {
    std::string document, problem;
  } cases[] = {
      {"", "does not begin with \"<\""},
      {"x<DATAPACKET/>", "does not begin with \"<\""},
      {"<?xml version=\"1.0\"?>", "holds no element"},
      {"<TABLE><METADATA>" + fields + "</METADATA></TABLE>", "the first element is \"TABLE\""},
      {"<DATAPACKET><ROWDATA/></DATAPACKET>", "DATAPACKET does not begin with METADATA"},
      {packet("<PARAMS/>" + fields, ""), "METADATA does not begin with FIELDS"},
      {packet("<FIELDS><FIELD fieldtype=\"i4\"/></FIELDS>", ""), "a FIELD names no column"},
      {packet("<FIELDS><FIELD attrname=\"N\" fieldtype=\"r8\"/></FIELDS>", ""),
       "unknown type \"r8\""},
      {packet("<FIELDS><FIELD attrname=\"N\" fieldtype=\"string\"/></FIELDS>", ""),
       "no valid WIDTH"},
      {packet("<FIELDS><FIELD attrname=\"N\" fieldtype=\"i4\"/><FIELD attrname=\"N\" "
              "fieldtype=\"i4\"/></FIELDS>",
              ""),
       "defined twice"},
      {packet(fields, "<ROW RowState=\"x\"/>"), "RowState \"x\""},
      {packet(fields, "<ROW N=\"12a\"/>"), "holds \"12a\" in the integer column N"},
      {packet(fields, "<ROW N=\"99999999999\"/>"), "integer column N"},
      {packet(fields + "<PARAMS CHANGE_LOG=\"1 0\"/>", ""), "CHANGE_LOG"},
      // A damaged column name in a row: its value would be lost at the next save.
      {packet(fields, "<ROW N=\"1\" Q=\"2\"/>"),
       "row 1 holds a value for \"Q\", which is no column"},
      {packet(fields, "<ROW N=\"1\"/>").substr(0, 60), "the document ends"}, // cut short
      {packet(fields, "<ROW N=\"1\"></ROWDATA>"), "ROW"},
      {packet(fields, "<ROW N=\"1/>"), "the document ends inside the value of N"},
      {packet(fields, "<ROW N/>"), "has no value"},
      {packet(fields, "") + "<MORE/>", "something follows </DATAPACKET>"},
      {packet(fields,
              [] {
                std::string deep = "<ROW>";
                for (int i = 0; i < 200000; ++i) deep += "<a>"; // deep nesting is no danger
                return deep;
              }()),
       "a is closed by </ROWDATA>"},
  };
  for (const auto &c : cases) {
    const std::string path = Path("bad.xml");
    WriteFileBytes(path, c.document);
    TDataTable table("cdsPlayList");
    std::string message;
    try {
      table.LoadFromFile(path);
    } catch (const EDataTableError &error) {
      message = error.what();
    }
    const std::string shown = c.document.substr(0, 200);
    EXPECT_EQ(message.rfind("cdsPlayList: File \"" + path + "\" is not a valid dataset: ", 0), 0u)
        << shown << "\n"
        << message;
    EXPECT_NE(message.find(c.problem), std::string::npos) << shown << "\n" << message;
    EXPECT_FALSE(table.Active()) << shown;
    EXPECT_EQ(ReadFileBytes(path), c.document);
  }
}

TEST_F(DatasetXmlTest, SavingReplacesTheFileWhole) {
  TDataTable table;
  CreateTable(table, PlayListColumns());
  const std::string path = Path("p.xml");
  WriteFileBytes(path, std::string(100000, 'x')); // a longer old file leaves no tail behind
  const std::string title = "t";
  AddTitle(table, &title);
  table.SaveToFile(path);
  EXPECT_EQ(ReadFileBytes(path), WriteDatasetXml([&] {
              TDatasetContent content;
              std::string error;
              EXPECT_TRUE(ReadDatasetXml(ReadFileBytes(path), content, error)) << error;
              return content;
            }()));
  EXPECT_EQ(ReadFileBytes(path).size(), ReadFileBytes(path).find("</DATAPACKET>") + 13);

  // A save that fails leaves no temporary file behind.
  std::filesystem::create_directory(Path("dir"));
  WriteFileBytes(Path("dir/inside"), "x"); // a folder that is not empty cannot be replaced
  EXPECT_THROW(table.SaveToFile(Path("dir")), EDataTableError);
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folders_.Root()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dir", "p.xml"}));
}

namespace {

// What a reader of the format can rely on in a change log: every number
// names a stored row; a row marked inserted has exactly one insertion entry
// and no other has one; a row marked deleted has exactly one deletion entry,
// after its insertion when it has one, and no other has one.
std::string LogProblem(const std::string &document) {
  TDatasetContent content;
  std::string error;
  if (!ReadDatasetXml(document, content, error)) return error;
  const auto &log = content.ChangeLog;
  if (log.size() % 3 != 0) return "the log is not made of triples";
  std::vector<int> insertedAt(content.RowCount(), -1), deletedAt(content.RowCount(), -1);
  for (std::size_t entry = 0; entry < log.size(); entry += 3) {
    if (log[entry] < 1 || log[entry] > content.RowCount() || log[entry + 1] != 0)
      return "entry " + std::to_string(entry / 3) + " names no row";
    auto &at = (log[entry + 2] == kRowInserted ? insertedAt : deletedAt)[log[entry] - 1];
    if (at >= 0) return "row " + std::to_string(log[entry]) + " is logged twice";
    at = static_cast<int>(entry);
  }
  for (std::size_t row = 0; row < content.RowCount(); ++row) {
    const std::uint32_t state = content.RowStates[row];
    if (bool(state & kRowInserted) != (insertedAt[row] >= 0) ||
        bool(state & kRowDeleted) != (deletedAt[row] >= 0) ||
        (insertedAt[row] >= 0 && deletedAt[row] >= 0 && deletedAt[row] < insertedAt[row]))
      return "row " + std::to_string(row + 1) + " does not agree with the log";
  }
  return "";
}

} // namespace

// A moved row is written at its new place and every entry of the change log
// is renumbered with its row, in the order the changes happened.
TEST_F(DatasetXmlTest, MovedRowsAreWrittenInTheirNewOrderAndTheLogFollowsThem) {
  TDataTable table;
  CreateTable(table, PlayListColumns());
  for (std::string title : {"A", "B", "C", "D"}) AddTitle(table, &title);
  table.SetRecNo(2);
  table.Delete();      // B stays stored, deleted, at place 2
  table.MoveRow(3, 1); // D to the top: D, A, C over the places 1, 3 and 4
  EXPECT_EQ(Column(table, "Title"), (std::vector<std::string>{"D", "A", "C"}));
  const std::string written = Save(table);
  EXPECT_EQ(written, PlayListDocument("<PARAMS CHANGE_LOG=\"3 0 4 2 0 4 4 0 4 1 0 4 2 0 2\"/>",
                                      "<ROW RowState=\"4\" Title=\"D\" Url=\"u\"/>"
                                      "<ROW RowState=\"6\" Title=\"B\" Url=\"u\"/>"
                                      "<ROW RowState=\"4\" Title=\"A\" Url=\"u\"/>"
                                      "<ROW RowState=\"4\" Title=\"C\" Url=\"u\"/>"));
  EXPECT_EQ(LogProblem(written), "");

  // Read back: the same order, and the same bytes written again.
  TDataTable again;
  again.LoadFromFile(Path("t.xml"));
  EXPECT_EQ(Column(again, "Title"), (std::vector<std::string>{"D", "A", "C"}));
  EXPECT_EQ(Save(again, "t2.xml"), written);
}

TEST_F(DatasetXmlTest, TheLogStaysValidThroughMovesDeletionsAndUndeletions) {
  const struct {
    const char *name;
    std::function<void(TDataTable &)> change;
    std::vector<std::string> shown;
  } steps[] = {
      {"the last row to the top",
       [](TDataTable &t) { t.MoveRow(5, 1); },
       {"E", "A", "B", "C", "D"}},
      {"a deletion", [](TDataTable &t) { t.SetRecNo(3), t.Delete(); }, {"E", "A", "C", "D"}},
      {"the top row to the bottom", [](TDataTable &t) { t.MoveRow(1, 4); }, {"A", "C", "D", "E"}},
      {"a row added",
       [](TDataTable &t) {
         std::string f = "F";
         AddTitle(t, &f);
       },
       {"A", "C", "D", "E", "F"}},
      {"one place down", [](TDataTable &t) { t.MoveRow(2, 3); }, {"A", "D", "C", "E", "F"}},
      // B was deleted at place 3, which moves never give to another row.
      {"the deletion taken back",
       [](TDataTable &t) { EXPECT_TRUE(t.Undelete(3)); },
       {"A", "D", "B", "C", "E", "F"}},
  };
  TDataTable table;
  CreateTable(table, PlayListColumns());
  for (std::string title : {"A", "B", "C", "D", "E"}) AddTitle(table, &title);
  for (const auto &step : steps) {
    SCOPED_TRACE(step.name);
    step.change(table);
    EXPECT_EQ(Column(table, "Title"), step.shown);
    const std::string written = Save(table);
    EXPECT_EQ(LogProblem(written), "");
    TDataTable again;
    again.LoadFromFile(Path("t.xml"));
    EXPECT_EQ(Column(again, "Title"), step.shown);
    EXPECT_EQ(Save(again, "t2.xml"), written);
  }
}
