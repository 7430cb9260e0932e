#pragma once
// The dataset XML document: the file form of a TDataTable. One document per
// file, on one line, describing the columns, the table parameters (change log,
// auto-increment counter and any others a file brought along) and every stored
// row with its state, deleted rows included.
//
// The writer produces the same bytes for the same table state. The reader is
// lenient about the document's outer form but refuses a document whose
// structure it cannot trust, so that a damaged file is never half-read and
// then saved over.
#include "core/playlists/DataTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sonabox {

struct TColumnDef {
  TFieldDef Def;
  bool ReadOnly = false; // written as readonly="true"
};

// One stored value: a run of TDatasetContent::Bytes, or null.
struct TCellRef {
  std::size_t Offset = 0;
  std::uint32_t Length = 0;
  bool Null = true;
};

using TAttributes = std::vector<std::pair<std::string, std::string>>;

// Everything a dataset document holds. Values are kept as text in their file
// form: integers in canonical decimal, date-times as FormatDateTime writes
// them, so that writing needs no conversion.
struct TDatasetContent {
  std::vector<TColumnDef> Columns;
  std::vector<std::uint32_t> RowStates; // one per stored row, in row-number order
  std::vector<TCellRef> Cells;          // RowStates.size() x Columns.size(), row by row
  std::string Bytes; // the text of every value (and, after loading, the document)
  std::vector<std::uint32_t> ChangeLog;   // triples: row number, second row number, kind
  std::int64_t AutoIncValue = 1;          // the next auto-increment value
  TAttributes OtherParams;                // other PARAMS attributes, in file order
  std::vector<TAttributes> ParamElements; // PARAM children of PARAMS

  int AutoIncColumn() const; // -1 when the table has none
  std::size_t RowCount() const { return RowStates.size(); }
  const TCellRef &Cell(std::size_t row, std::size_t column) const {
    return Cells[row * Columns.size() + column];
  }
  std::string_view Text(const TCellRef &cell) const {
    return std::string_view(Bytes).substr(cell.Offset, cell.Length);
  }
  TCellRef Append(std::string_view text); // stores a value and returns its reference
};

// Row state bits.
constexpr std::uint32_t kRowDeleted = 2;
constexpr std::uint32_t kRowInserted = 4;

// The whole document, byte for byte.
std::string WriteDatasetXml(const TDatasetContent &content);

// Reads a document into `content` (replacing it). The document becomes the
// store of the values, which are decoded where they stand. Returns false with
// a description of the problem when the document is refused.
bool ReadDatasetXml(std::string document, TDatasetContent &content, std::string &error);

// An attribute value as the reader decodes it (its references resolved).
std::string DecodeDatasetValue(std::string_view raw);

// Date-time text: "YYYYMMDD" at midnight, else "YYYYMMDDTHH:MM:SSmmm" with
// seconds and milliseconds as one five-digit number.
std::string FormatDateTime(const TDateTimeValue &value);
bool ParseDateTime(std::string_view text, TDateTimeValue &value);

} // namespace sonabox
