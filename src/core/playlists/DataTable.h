#pragma once
// TDataTable: the in-memory table behind every table of the program (the
// playlist index, each playlist, the open playlist and the playlist being
// shared), stored as one dataset XML document per file.
//
// A table keeps its change state: deleted rows stay in storage and in the
// file, marked as deleted, and every insertion and deletion since the table was
// first created is listed in its change log. Deleted rows are invisible:
// iteration, RecordCount, FindKey and the filter skip them.
//
// Errors are raised as EDataTableError; a table with a component name puts
// that name and ": " in front of the message ("cdsPlayList: ...").
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sonabox {

class EDataTableError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TFieldType { String, Integer, AutoInc, DateTime };

struct TFieldDef {
  std::string Name;
  TFieldType Type = TFieldType::String;
  int Width = 0; // characters (bytes) for text columns
};

// A calendar date and a time of day to the millisecond.
struct TDateTimeValue {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  bool operator==(const TDateTimeValue &) const = default;
};

class TDataTable;

// One column of the table's current row, read or set as text or as integer.
class TField {
public:
  bool IsNull() const;
  std::string AsString() const; // null reads as empty text
  int AsInteger() const;        // null, or text that is no integer, reads as 0
  void
  SetAsString(const std::string &value); // text columns: cut to the width, trailing spaces removed
  void SetAsInteger(int value);
  void Clear(); // sets null

private:
  friend class TDataTable;
  TField(TDataTable &table, int column) : table_(&table), column_(column) {}
  TDataTable *table_;
  int column_;
};

class TDataTable {
public:
  explicit TDataTable(std::string componentName = {});
  ~TDataTable();
  TDataTable(const TDataTable &) = delete;
  TDataTable &operator=(const TDataTable &) = delete;

  const std::string &ComponentName() const { return componentName_; }

  // Definition and files.
  void DefineColumns(const std::vector<TFieldDef> &defs); // clears the definitions first
  const std::vector<TFieldDef> &Columns() const;
  void CreateEmpty(); // open, no rows, empty log, counter 1
  const std::string &FileName() const { return fileName_; }
  void SetFileName(const std::string &path) { fileName_ = path; }
  // Writes the whole table (invisible rows included); the file is replaced
  // atomically, so a crash while saving never leaves a truncated file.
  void SaveToFile(const std::string &path = {});
  void LoadFromFile(const std::string &path = {}); // closes first; stays closed on failure
  void Open();                                     // a closed table loads FileName
  void Close();                                    // discards the rows in memory
  bool Active() const;

  // Editing.
  void Insert(); // begins a pending row, all columns null
  void Post();   // appends the pending row
  void Cancel(); // drops the pending row
  bool Inserting() const;
  void Delete(); // deletes the current visible row; the next visible row becomes current
  // Takes a deleted row back, as if it had never been deleted: its deleted
  // mark goes and so does the log entry of its deletion. `rowNumber` is the
  // row's place among the stored rows (RowNumber). False, with nothing
  // changed, when that row is not deleted; a row whose value a unique index
  // now finds in another row fails with the key violation.
  bool Undelete(int rowNumber);
  // Moves the recNo-th visible row to the place `to` among the visible rows
  // and makes it current. The stored rows take the new order (the file is
  // written in it); rows hidden by the filter and deleted rows keep their
  // places. The change log names rows by their place among the stored rows,
  // so each entry is renumbered with its row and still names the row it was
  // written for, in the order the changes happened. Rows keep their order
  // only while no index is current: then the move fails.
  void MoveRow(int recNo, int to);

  // Navigation over visible rows, in the order of the current index.
  void First();
  void Next();
  bool Eof() const;
  int RecordCount() const;
  int RecNo() const; // 1-based position of the current row among the visible rows; 0 when none
  void SetRecNo(int recNo); // moves to the recNo-th visible row
  // The place among the stored rows (1, 2, ..., deleted rows counted) of the
  // recNo-th visible row; 0 when there is no such row. Deleting a row does
  // not change any row's place.
  int RowNumber(int recNo) const;

  TField FieldByName(const std::string &name);

  // The text of a column of the recNo-th visible row, for views that show the
  // table without moving its current row; empty for null or out of range.
  std::string DisplayText(int recNo, const std::string &column) const;

  // Indexes (in memory only, not stored in the file; closing the table drops
  // them). FindKey compares exactly, letter case included, and finds only
  // visible rows; a text key is first cut and stripped as the column would
  // store it.
  void AddIndex(const std::string &name, const std::string &column, bool unique);
  const std::string &IndexName() const { return indexName_; }
  void SetIndexName(const std::string &name);
  bool FindKey(const std::string &value);

  // The title filter: "Title LIKE 'pattern'".
  const std::string &Filter() const { return filter_; }
  void SetFilter(const std::string &filter);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);
  bool FilterCaseInsensitive() const { return filterCaseInsensitive_; }
  void SetFilterCaseInsensitive(bool caseInsensitive);

  // Called after every change of what the table shows (open, close, load, post,
  // delete, filter or index change), so that a view bound to it can refresh.
  void SetOnChange(std::function<void()> handler) { onChange_ = std::move(handler); }

  struct TState; // rows, change log, counter and the retained parameters

private:
  friend class TField;
  [[noreturn]] void Fail(const std::string &message) const; // adds the component name
  TState &ActiveState() const;                              // fails on a closed table
  void EndPending(); // posts a pending row when a column was set, drops it otherwise
  void RebuildView(TState &state, bool keepCurrent) const;
  void FireChange();
  bool PassesFilter(const TState &state, std::size_t row) const;
  std::optional<std::string_view> CurrentValue(int column) const;
  void SetPendingText(int column, const std::string &value);
  void SetPendingValue(int column, std::optional<std::string> value);

  std::vector<TFieldDef> defs_;
  std::string filterColumn_;  // the filter expression taken apart:
  std::string filterPattern_; // column LIKE 'pattern'
  std::string componentName_;
  std::string fileName_;
  std::string indexName_;
  std::string filter_;
  bool filtered_ = false;
  bool filterCaseInsensitive_ = false;
  std::function<void()> onChange_;
  std::unique_ptr<TState> state_;
};

} // namespace sonabox
