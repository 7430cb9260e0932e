#pragma once
// The two kinds of table the program stores: the playlist index and a playlist.
#include "core/playlists/DataTable.h"

#include <functional>
#include <string>
#include <vector>

namespace sonabox::test {

inline std::vector<TFieldDef> IndexColumns() {
  return {{"id", TFieldType::AutoInc, 0},
          {"Name", TFieldType::String, 70},
          {"FileName", TFieldType::String, 50}};
}

inline std::vector<TFieldDef> PlayListColumns() {
  return {{"Added", TFieldType::DateTime, 0},          {"Duration", TFieldType::String, 10},
          {"DurationSeconds", TFieldType::Integer, 0}, {"Description", TFieldType::String, 210},
          {"Rating", TFieldType::String, 5},           {"Thumbnail", TFieldType::String, 50},
          {"Title", TFieldType::String, 100},          {"Url", TFieldType::String, 16}};
}

// The message of the EDataTableError that `action` raises, or "" when none.
inline std::string ErrorOf(const std::function<void()> &action) {
  try {
    action();
  } catch (const EDataTableError &error) {
    return error.what();
  }
  return "";
}

inline void CreateTable(TDataTable &table, const std::vector<TFieldDef> &columns) {
  table.DefineColumns(columns);
  table.CreateEmpty();
}

// Inserts and posts one index row.
inline void AddName(TDataTable &table, const std::string &name, const std::string &file = "F.xml") {
  table.Insert();
  table.FieldByName("Name").SetAsString(name);
  table.FieldByName("FileName").SetAsString(file);
  table.Post();
}

// Inserts and posts one playlist row with just a title (null when absent).
inline void AddTitle(TDataTable &table, const std::string *title) {
  table.Insert();
  if (title) table.FieldByName("Title").SetAsString(*title);
  table.FieldByName("Url").SetAsString("u");
  table.Post();
}

// The visible values of one column, in iteration order.
inline std::vector<std::string> Column(TDataTable &table, const std::string &name) {
  std::vector<std::string> values;
  for (table.First(); !table.Eof(); table.Next())
    values.push_back(table.FieldByName(name).AsString());
  return values;
}

} // namespace sonabox::test
