#include "core/playlists/DataTable.h"

#include "core/common/Files.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/DatasetXml.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <system_error>

namespace sonabox {

struct TDataTable::TState {
  struct TIndex {
    std::string Name;
    int Column = 0;
    bool Unique = false;
  };

  TDatasetContent Data;
  std::vector<TIndex> Indexes;
  int CurrentIndex = -1;

  // The visible rows (storage positions) in the order of the current index,
  // and the cursor over them.
  std::vector<std::uint32_t> View;
  std::size_t Cursor = 0;
  bool AtEof = true;

  // The row between Insert and Post.
  bool Pending = false;
  bool PendingSet = false;
  std::vector<std::optional<std::string>> PendingValues;

  // The filter as it applies to this table's columns.
  int FilterColumn = -1;
  std::u32string FilterPattern;
  bool FilterCaseInsensitive = false;

  std::optional<std::string_view> Value(std::size_t row, std::size_t column) const {
    const TCellRef &cell = Data.Cell(row, column);
    if (cell.Null) return std::nullopt;
    return Data.Text(cell);
  }
  int ColumnOf(std::string_view name) const {
    for (std::size_t i = 0; i < Data.Columns.size(); ++i)
      if (Data.Columns[i].Def.Name == name) return static_cast<int>(i);
    return -1;
  }
};

namespace {

using TValue = std::optional<std::string_view>;

// Index order: null first; integers by value; other values byte by byte.
int CompareValues(TFieldType type, TValue a, TValue b) {
  if (!a || !b) return int(bool(a)) - int(bool(b));
  if (type == TFieldType::Integer || type == TFieldType::AutoInc) {
    int x = 0, y = 0;
    TryParseInt32(*a, x);
    TryParseInt32(*b, y);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int order = a->compare(*b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// A text as its column keeps it: cut to the width without splitting a UTF-8
// character, then stripped of trailing spaces.
std::string FitText(const std::string &value, int width) {
  std::string text = Utf8Cut(value, static_cast<std::size_t>(std::max(width, 0)));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A letter of the Latin, Greek or Cyrillic scripts without its accents ("ó"
// is "o"); other characters as they are (a Hangul syllable is no letter and
// its marks).
char32_t WithoutAccents(char32_t code) {
  while (code < 0x2000 && QChar::decompositionTag(code) == QChar::Canonical) {
    const QString parts = QChar::decomposition(code);
    if (parts.isEmpty() || parts.at(0).isSurrogate()) break;
    code = parts.at(0).unicode();
  }
  return code;
}

// The characters of a UTF-8 text; a byte that starts no valid sequence is one
// character of its own, kept apart from every real character. With `fold`,
// letter case and accents aside: accents typed apart (combining marks) go,
// and "Jóga" reads as "joga".
std::u32string Characters(std::string_view text, bool fold) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    char32_t code = lead;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4, code = lead & 0x07;
    else if (lead >= 0x80)
      code = 0xDC00 | lead;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = pos + k < text.size() ? static_cast<unsigned char>(text[pos + k]) : 0;
      if ((next & 0xC0) != 0x80) {
        length = 1;
        code = 0xDC00 | lead;
        break;
      }
      code = (code << 6) | (next & 0x3F);
    }
    pos += length;
    if (!fold || (code >= 0xD800 && code <= 0xDFFF)) {
      out += code;
    } else if (QChar::category(code) != QChar::Mark_NonSpacing) {
      out += QChar::toCaseFolded(WithoutAccents(code));
    }
  }
  return out;
}

// "%" matches any run of characters, "_" exactly one, anything else itself.
bool LikeMatch(const std::u32string &text, const std::u32string &pattern) {
  std::size_t t = 0, p = 0;
  std::size_t starP = std::u32string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == U'%') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && (pattern[p] == U'_' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'%') ++p;
  return p == pattern.size();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Takes "Column LIKE 'pattern'" apart (a quote in the pattern doubled). An
// expression of blanks only is no filter: the column comes back empty.
bool ParseLikeFilter(std::string_view expression, std::string &column, std::string &pattern) {
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < expression.size() && IsBlank(expression[i])) ++i;
  };
  skipBlanks();
  column.clear();
  pattern.clear();
  if (i == expression.size()) return true;
  while (i < expression.size() &&
         (std::isalnum(static_cast<unsigned char>(expression[i])) || expression[i] == '_'))
    column += expression[i++];
  const std::size_t beforeBlanks = i;
  skipBlanks();
  if (column.empty() || i == beforeBlanks || expression.size() - i < 4) return false;
  for (char c : std::string_view("LIKE"))
    if (std::toupper(static_cast<unsigned char>(expression[i++])) != c) return false;
  skipBlanks();
  if (i == expression.size() || expression[i] != '\'') return false;
  for (++i;; ++i) {
    if (i == expression.size()) return false;
    if (expression[i] == '\'') {
      if (i + 1 < expression.size() && expression[i + 1] == '\'') {
        pattern += '\'';
        ++i;
        continue;
      }
      break;
    }
    pattern += expression[i];
  }
  ++i;
  skipBlanks();
  return i == expression.size();
}

std::string KeyViolation(std::string_view value, const std::string &index) {
  return "Key violation: \"" + std::string(value) + "\" is already in index " + index;
}

} // namespace

// ---------------------------------------------------------------------------
// TField

bool TField::IsNull() const { return !table_->CurrentValue(column_).has_value(); }

std::string TField::AsString() const {
  const TValue value = table_->CurrentValue(column_);
  return value ? std::string(*value) : std::string();
}

int TField::AsInteger() const {
  const TValue value = table_->CurrentValue(column_);
  int number = 0;
  return value && TryParseInt32(*value, number) ? number : 0;
}

void TField::SetAsString(const std::string &value) { table_->SetPendingText(column_, value); }

void TField::SetAsInteger(int value) {
  const TDataTable::TState &state = table_->ActiveState();
  if (column_ < static_cast<int>(state.Data.Columns.size()) &&
      state.Data.Columns[column_].Def.Type == TFieldType::DateTime)
    table_->Fail("Field '" + state.Data.Columns[column_].Def.Name +
                 "' cannot be set from an integer");
  table_->SetPendingText(column_, std::to_string(value));
}

void TField::Clear() { table_->SetPendingValue(column_, std::nullopt); }

// ---------------------------------------------------------------------------
// TDataTable

TDataTable::TDataTable(std::string componentName) : componentName_(std::move(componentName)) {}

TDataTable::~TDataTable() = default;

void TDataTable::Fail(const std::string &message) const {
  throw EDataTableError(componentName_.empty() ? message : componentName_ + ": " + message);
}

TDataTable::TState &TDataTable::ActiveState() const {
  if (!state_) Fail("Cannot perform this operation on a closed dataset");
  return *state_;
}

void TDataTable::FireChange() {
  if (onChange_) onChange_();
}

bool TDataTable::Active() const { return state_ != nullptr; }

void TDataTable::DefineColumns(const std::vector<TFieldDef> &defs) { defs_ = defs; }

const std::vector<TFieldDef> &TDataTable::Columns() const { return defs_; }

void TDataTable::CreateEmpty() {
  auto state = std::make_unique<TState>();
  for (const TFieldDef &def : defs_) {
    if (def.Name.empty()) Fail("A column has no name");
    if (def.Type == TFieldType::String && def.Width <= 0)
      Fail("Field '" + def.Name + "' has no width");
    if (state->ColumnOf(def.Name) >= 0) Fail("Duplicate field name '" + def.Name + "'");
    if (def.Type == TFieldType::AutoInc && state->Data.AutoIncColumn() >= 0)
      Fail("Field '" + def.Name + "' is a second auto-increment column");
    state->Data.Columns.push_back(TColumnDef{def, false});
  }
  RebuildView(*state, false);
  state_ = std::move(state);
  indexName_.clear();
  FireChange();
}

void TDataTable::SaveToFile(const std::string &path) {
  const TState &state = ActiveState();
  EndPending();
  const std::string target = path.empty() ? fileName_ : path;
  const std::string document = WriteDatasetXml(state.Data);
  try {
    WriteFileAtomically(target, document);
  } catch (const std::system_error &error) {
    Fail("Cannot create file \"" + target + "\". " + error.code().message());
  }
}

void TDataTable::LoadFromFile(const std::string &path) {
  Close();
  const std::string source = path.empty() ? fileName_ : path;
  std::string document;
  try {
    document = ReadWholeFile(source);
  } catch (const std::system_error &error) {
    Fail("Cannot open file \"" + source + "\". " + error.code().message());
  }
  auto state = std::make_unique<TState>();
  std::string problem;
  if (!ReadDatasetXml(std::move(document), state->Data, problem))
    Fail("File \"" + source + "\" is not a valid dataset: " + problem);
  RebuildView(*state, false);
  defs_.clear();
  for (const TColumnDef &column : state->Data.Columns) defs_.push_back(column.Def);
  state_ = std::move(state);
  FireChange();
}

void TDataTable::Open() {
  if (state_) return;
  std::error_code error;
  if (fileName_.empty() || !std::filesystem::exists(fileName_, error))
    Fail("Missing data provider or data packet");
  LoadFromFile(fileName_);
}

void TDataTable::Close() {
  if (!state_) return;
  state_.reset();
  indexName_.clear();
  FireChange();
}

// ---------------------------------------------------------------------------
// Editing

void TDataTable::Insert() {
  TState &state = ActiveState();
  EndPending();
  state.Pending = true;
  state.PendingSet = false;
  state.PendingValues.assign(state.Data.Columns.size(), std::nullopt);
}

bool TDataTable::Inserting() const { return state_ && state_->Pending; }

void TDataTable::Cancel() {
  if (state_) state_->Pending = false;
}

void TDataTable::EndPending() {
  if (!state_ || !state_->Pending) return;
  if (state_->PendingSet)
    Post();
  else
    state_->Pending = false;
}

void TDataTable::Post() {
  TState &state = ActiveState();
  if (!state.Pending) return;
  TDatasetContent &data = state.Data;
  const int autoInc = data.AutoIncColumn();
  if (autoInc >= 0 && data.AutoIncValue > std::numeric_limits<std::int32_t>::max())
    Fail("The auto-increment counter is exhausted");
  const std::string autoIncText = autoInc >= 0 ? std::to_string(data.AutoIncValue) : std::string();
  const auto pendingValue = [&](int column) -> TValue {
    if (column == autoInc) return autoIncText;
    const auto &value = state.PendingValues[static_cast<std::size_t>(column)];
    return value ? TValue(*value) : std::nullopt;
  };

  for (const TState::TIndex &index : state.Indexes) {
    if (!index.Unique) continue;
    const TValue key = pendingValue(index.Column);
    const TFieldType type = data.Columns[static_cast<std::size_t>(index.Column)].Def.Type;
    for (std::size_t row = 0; row < data.RowCount(); ++row) {
      if (data.RowStates[row] & kRowDeleted) continue;
      if (CompareValues(type, state.Value(row, static_cast<std::size_t>(index.Column)), key) == 0)
        Fail(KeyViolation(key.value_or(""), index.Name));
    }
  }

  const std::size_t row = data.RowCount();
  data.RowStates.push_back(kRowInserted);
  for (std::size_t column = 0; column < data.Columns.size(); ++column) {
    const TValue value = pendingValue(static_cast<int>(column));
    data.Cells.push_back(value ? data.Append(*value) : TCellRef{});
  }
  if (autoInc >= 0) ++data.AutoIncValue;
  data.ChangeLog.insert(data.ChangeLog.end(),
                        {static_cast<std::uint32_t>(row + 1), 0u, kRowInserted});
  state.Pending = false;

  if (PassesFilter(state, row)) {
    auto position = state.View.end();
    if (state.CurrentIndex >= 0) {
      const TState::TIndex &index = state.Indexes[static_cast<std::size_t>(state.CurrentIndex)];
      const auto column = static_cast<std::size_t>(index.Column);
      const TFieldType type = data.Columns[column].Def.Type;
      const TValue key = state.Value(row, column);
      // The new row has the highest number, so it goes after its equals.
      position = std::upper_bound(state.View.begin(), state.View.end(), key,
                                  [&](const TValue &k, std::uint32_t other) {
                                    return CompareValues(type, k, state.Value(other, column)) < 0;
                                  });
    }
    position = state.View.insert(position, static_cast<std::uint32_t>(row));
    state.Cursor = static_cast<std::size_t>(position - state.View.begin());
    state.AtEof = false;
  }
  FireChange();
}

void TDataTable::Delete() {
  TState &state = ActiveState();
  if (state.Pending) {
    state.Pending = false;
    return;
  }
  if (state.View.empty()) Fail("Cannot perform this operation on an empty dataset");
  const std::uint32_t row = state.View[state.Cursor];
  state.Data.RowStates[row] |= kRowDeleted;
  state.Data.ChangeLog.insert(state.Data.ChangeLog.end(), {row + 1, 0u, kRowDeleted});
  state.View.erase(state.View.begin() + static_cast<std::ptrdiff_t>(state.Cursor));
  if (state.Cursor >= state.View.size() && state.Cursor > 0) state.Cursor = state.View.size() - 1;
  state.AtEof = state.View.empty();
  FireChange();
}

bool TDataTable::Undelete(int rowNumber) {
  TState &state = ActiveState();
  EndPending();
  TDatasetContent &data = state.Data;
  if (rowNumber < 1 || static_cast<std::size_t>(rowNumber) > data.RowCount()) return false;
  const auto row = static_cast<std::size_t>(rowNumber) - 1;
  if (!(data.RowStates[row] & kRowDeleted)) return false;
  for (const TState::TIndex &index : state.Indexes) {
    if (!index.Unique) continue;
    const auto column = static_cast<std::size_t>(index.Column);
    const TValue key = state.Value(row, column);
    for (std::size_t other = 0; other < data.RowCount(); ++other)
      if (!(data.RowStates[other] & kRowDeleted) &&
          CompareValues(data.Columns[column].Def.Type, state.Value(other, column), key) == 0)
        Fail(KeyViolation(key.value_or(""), index.Name));
  }
  data.RowStates[row] &= ~kRowDeleted;
  // The last deletion of this row leaves the log; a row is deleted once, so
  // that is the entry of this deletion.
  for (std::size_t entry = data.ChangeLog.size() / 3; entry-- > 0;) {
    const auto at = data.ChangeLog.begin() + static_cast<std::ptrdiff_t>(entry * 3);
    if (at[0] == static_cast<std::uint32_t>(rowNumber) && at[2] == kRowDeleted) {
      data.ChangeLog.erase(at, at + 3);
      break;
    }
  }
  RebuildView(state, false);
  const auto found =
      std::find(state.View.begin(), state.View.end(), static_cast<std::uint32_t>(row));
  if (found != state.View.end())
    state.Cursor = static_cast<std::size_t>(found - state.View.begin());
  FireChange();
  return true;
}

void TDataTable::MoveRow(int recNo, int to) {
  TState &state = ActiveState();
  EndPending();
  if (state.CurrentIndex >= 0) Fail("Rows cannot be moved while an index sets their order");
  const auto count = static_cast<int>(state.View.size());
  if (recNo < 1 || recNo > count || to < 1 || to > count)
    Fail("Cannot move row " + std::to_string(recNo) + " to " + std::to_string(to) + " of " +
         std::to_string(count));
  if (recNo == to) {
    state.Cursor = static_cast<std::size_t>(to) - 1;
    state.AtEof = false;
    return;
  }
  // The visible rows hold their places among the stored rows (the view is in
  // row-number order) and share them out again in their new order.
  std::vector<std::uint32_t> order = state.View;
  const std::uint32_t moved = order[static_cast<std::size_t>(recNo) - 1];
  order.erase(order.begin() + (recNo - 1));
  order.insert(order.begin() + (to - 1), moved);
  TDatasetContent &data = state.Data;
  std::vector<std::uint32_t> place(data.RowCount()); // old place -> new place
  for (std::size_t row = 0; row < place.size(); ++row) place[row] = static_cast<std::uint32_t>(row);
  for (std::size_t k = 0; k < order.size(); ++k) place[order[k]] = state.View[k];

  std::vector<std::uint32_t> states(data.RowCount());
  std::vector<TCellRef> cells(data.Cells.size());
  const std::size_t columns = data.Columns.size();
  for (std::size_t row = 0; row < place.size(); ++row) {
    states[place[row]] = data.RowStates[row];
    std::copy_n(data.Cells.begin() + static_cast<std::ptrdiff_t>(row * columns), columns,
                cells.begin() + static_cast<std::ptrdiff_t>(place[row] * columns));
  }
  data.RowStates = std::move(states);
  data.Cells = std::move(cells);
  for (std::size_t entry = 0; entry + 2 < data.ChangeLog.size(); entry += 3)
    for (std::size_t field : {entry, entry + 1}) {
      const std::uint32_t number = data.ChangeLog[field];
      if (number >= 1 && number <= place.size()) data.ChangeLog[field] = place[number - 1] + 1;
    }
  state.Cursor = static_cast<std::size_t>(to) - 1;
  state.AtEof = false;
  FireChange();
}

// ---------------------------------------------------------------------------
// Navigation

void TDataTable::First() {
  TState &state = ActiveState();
  EndPending();
  state.Cursor = 0;
  state.AtEof = state.View.empty();
}

void TDataTable::Next() {
  TState &state = ActiveState();
  EndPending();
  if (state.Cursor + 1 < state.View.size())
    ++state.Cursor;
  else
    state.AtEof = true;
}

bool TDataTable::Eof() const { return !state_ || state_->AtEof || state_->View.empty(); }

int TDataTable::RecordCount() const { return static_cast<int>(ActiveState().View.size()); }

int TDataTable::RecNo() const {
  if (!state_ || state_->View.empty()) return 0;
  return static_cast<int>(state_->Cursor) + 1;
}

void TDataTable::SetRecNo(int recNo) {
  TState &state = ActiveState();
  EndPending();
  if (recNo < 1 || static_cast<std::size_t>(recNo) > state.View.size()) return;
  state.Cursor = static_cast<std::size_t>(recNo) - 1;
  state.AtEof = false;
}

int TDataTable::RowNumber(int recNo) const {
  if (!state_ || recNo < 1 || static_cast<std::size_t>(recNo) > state_->View.size()) return 0;
  return static_cast<int>(state_->View[static_cast<std::size_t>(recNo) - 1]) + 1;
}

TField TDataTable::FieldByName(const std::string &name) {
  const int column = state_ ? state_->ColumnOf(name) : -1;
  if (column < 0) Fail("Field '" + name + "' not found");
  return TField(*this, column);
}

std::optional<std::string_view> TDataTable::CurrentValue(int column) const {
  const TState &state = ActiveState();
  if (column < 0 || static_cast<std::size_t>(column) >= state.Data.Columns.size())
    Fail("Field number " + std::to_string(column) + " not found");
  if (state.Pending) {
    const auto &value = state.PendingValues[static_cast<std::size_t>(column)];
    return value ? TValue(*value) : std::nullopt;
  }
  if (state.View.empty()) return std::nullopt;
  return state.Value(state.View[state.Cursor], static_cast<std::size_t>(column));
}

void TDataTable::SetPendingText(int column, const std::string &value) {
  const TState &state = ActiveState();
  if (column < 0 || static_cast<std::size_t>(column) >= state.Data.Columns.size())
    Fail("Field number " + std::to_string(column) + " not found");
  const TFieldDef &def = state.Data.Columns[static_cast<std::size_t>(column)].Def;
  switch (def.Type) {
  case TFieldType::String: return SetPendingValue(column, FitText(value, def.Width));
  case TFieldType::Integer:
  case TFieldType::AutoInc: {
    if (value.empty()) return SetPendingValue(column, std::nullopt);
    int number = 0;
    if (!TryParseInt32(value, number)) Fail("'" + value + "' is not a valid integer value");
    return SetPendingValue(column, std::to_string(number));
  }
  case TFieldType::DateTime: {
    if (value.empty()) return SetPendingValue(column, std::nullopt);
    TDateTimeValue dateTime;
    if (!ParseDateTime(value, dateTime)) Fail("'" + value + "' is not a valid date and time");
    return SetPendingValue(column, FormatDateTime(dateTime));
  }
  }
}

void TDataTable::SetPendingValue(int column, std::optional<std::string> value) {
  TState &state = ActiveState();
  if (column < 0 || static_cast<std::size_t>(column) >= state.Data.Columns.size())
    Fail("Field number " + std::to_string(column) + " not found");
  const TColumnDef &def = state.Data.Columns[static_cast<std::size_t>(column)];
  if (!state.Pending) Fail("Dataset not in edit or insert mode");
  if (def.ReadOnly || def.Def.Type == TFieldType::AutoInc)
    Fail("Field '" + def.Def.Name + "' cannot be modified");
  state.PendingValues[static_cast<std::size_t>(column)] = std::move(value);
  state.PendingSet = true;
}

std::string TDataTable::DisplayText(int recNo, const std::string &column) const {
  if (!state_ || recNo < 1 || static_cast<std::size_t>(recNo) > state_->View.size()) return {};
  const int index = state_->ColumnOf(column);
  if (index < 0) return {};
  const TValue value = state_->Value(state_->View[static_cast<std::size_t>(recNo) - 1],
                                     static_cast<std::size_t>(index));
  return value ? std::string(*value) : std::string();
}

// ---------------------------------------------------------------------------
// Indexes

void TDataTable::AddIndex(const std::string &name, const std::string &column, bool unique) {
  TState &state = ActiveState();
  const int columnIndex = state.ColumnOf(column);
  if (columnIndex < 0) Fail("Field '" + column + "' not found");
  for (const TState::TIndex &index : state.Indexes)
    if (index.Name == name) Fail("Index '" + name + "' already exists");
  if (unique) {
    // The rows already stored must not break the new index.
    const auto c = static_cast<std::size_t>(columnIndex);
    const TFieldType type = state.Data.Columns[c].Def.Type;
    std::vector<std::uint32_t> rows;
    for (std::size_t row = 0; row < state.Data.RowCount(); ++row)
      if (!(state.Data.RowStates[row] & kRowDeleted))
        rows.push_back(static_cast<std::uint32_t>(row));
    std::sort(rows.begin(), rows.end(), [&](std::uint32_t a, std::uint32_t b) {
      return CompareValues(type, state.Value(a, c), state.Value(b, c)) < 0;
    });
    for (std::size_t i = 1; i < rows.size(); ++i)
      if (CompareValues(type, state.Value(rows[i - 1], c), state.Value(rows[i], c)) == 0)
        Fail(KeyViolation(state.Value(rows[i], c).value_or(""), name));
  }
  state.Indexes.push_back({name, columnIndex, unique});
}

void TDataTable::SetIndexName(const std::string &name) {
  TState &state = ActiveState();
  EndPending();
  int found = -1;
  for (std::size_t i = 0; i < state.Indexes.size(); ++i)
    if (state.Indexes[i].Name == name) found = static_cast<int>(i);
  if (!name.empty() && found < 0) Fail("Index '" + name + "' not found");
  state.CurrentIndex = found;
  indexName_ = name;
  RebuildView(state, true);
  FireChange();
}

bool TDataTable::FindKey(const std::string &value) {
  TState &state = ActiveState();
  EndPending();
  if (state.CurrentIndex < 0) Fail("No index currently active");
  const auto column =
      static_cast<std::size_t>(state.Indexes[static_cast<std::size_t>(state.CurrentIndex)].Column);
  const TFieldDef &def = state.Data.Columns[column].Def;
  // The key as the column would hold it.
  std::string key;
  if (def.Type == TFieldType::String) {
    key = FitText(value, def.Width);
  } else if (def.Type == TFieldType::DateTime) {
    TDateTimeValue dateTime;
    if (!ParseDateTime(value, dateTime)) return false;
    key = FormatDateTime(dateTime);
  } else {
    int number = 0;
    if (!TryParseInt32(value, number)) return false;
    key = std::to_string(number);
  }
  const auto found = std::lower_bound(
      state.View.begin(), state.View.end(), key, [&](std::uint32_t row, const std::string &k) {
        return CompareValues(def.Type, state.Value(row, column), k) < 0;
      });
  if (found == state.View.end() || CompareValues(def.Type, state.Value(*found, column), key) != 0)
    return false;
  state.Cursor = static_cast<std::size_t>(found - state.View.begin());
  state.AtEof = false;
  return true;
}

// ---------------------------------------------------------------------------
// Filter

void TDataTable::SetFilter(const std::string &filter) {
  std::string column, pattern;
  if (!ParseLikeFilter(filter, column, pattern)) Fail("Invalid filter expression: " + filter);
  const std::string oldFilter = filter_, oldColumn = filterColumn_, oldPattern = filterPattern_;
  filter_ = filter;
  filterColumn_ = column;
  filterPattern_ = pattern;
  if (!state_ || !filtered_) return;
  EndPending();
  try {
    RebuildView(*state_, false);
  } catch (const EDataTableError &) {
    filter_ = oldFilter;
    filterColumn_ = oldColumn;
    filterPattern_ = oldPattern;
    throw;
  }
  FireChange();
}

void TDataTable::SetFiltered(bool filtered) {
  if (filtered == filtered_) return;
  filtered_ = filtered;
  if (!state_) return;
  EndPending();
  try {
    RebuildView(*state_, false);
  } catch (const EDataTableError &) {
    filtered_ = !filtered;
    throw;
  }
  FireChange();
}

void TDataTable::SetFilterCaseInsensitive(bool caseInsensitive) {
  if (caseInsensitive == filterCaseInsensitive_) return;
  filterCaseInsensitive_ = caseInsensitive;
  if (!state_ || !filtered_) return;
  EndPending();
  RebuildView(*state_, false);
  FireChange();
}

bool TDataTable::PassesFilter(const TState &state, std::size_t row) const {
  if (state.FilterColumn < 0) return true;
  const TValue title = state.Value(row, static_cast<std::size_t>(state.FilterColumn));
  if (!title) return false; // a null value never matches
  return LikeMatch(Characters(*title, state.FilterCaseInsensitive), state.FilterPattern);
}

// Recomputes the visible rows: not deleted, passing the filter, in the order
// of the current index (rows of equal value in row-number order). The cursor
// stays on its row when asked and that row is still visible, else it goes to
// the first row.
void TDataTable::RebuildView(TState &state, bool keepCurrent) const {
  state.FilterColumn = -1;
  if (filtered_ && !filterColumn_.empty()) {
    state.FilterColumn = state.ColumnOf(filterColumn_);
    if (state.FilterColumn < 0) Fail("Field '" + filterColumn_ + "' not found");
    state.FilterCaseInsensitive = filterCaseInsensitive_;
    state.FilterPattern = Characters(filterPattern_, filterCaseInsensitive_);
  }
  const bool hadRow = keepCurrent && !state.View.empty();
  const std::uint32_t current = hadRow ? state.View[state.Cursor] : 0;

  state.View.clear();
  state.View.reserve(state.Data.RowCount());
  for (std::size_t row = 0; row < state.Data.RowCount(); ++row)
    if (!(state.Data.RowStates[row] & kRowDeleted) && PassesFilter(state, row))
      state.View.push_back(static_cast<std::uint32_t>(row));
  if (state.CurrentIndex >= 0) {
    const auto column = static_cast<std::size_t>(
        state.Indexes[static_cast<std::size_t>(state.CurrentIndex)].Column);
    const TFieldType type = state.Data.Columns[column].Def.Type;
    std::stable_sort(state.View.begin(), state.View.end(), [&](std::uint32_t a, std::uint32_t b) {
      return CompareValues(type, state.Value(a, column), state.Value(b, column)) < 0;
    });
  }
  state.Cursor = 0;
  if (hadRow) {
    const auto found = std::find(state.View.begin(), state.View.end(), current);
    if (found != state.View.end())
      state.Cursor = static_cast<std::size_t>(found - state.View.begin());
  }
  state.AtEof = state.View.empty();
}

} // namespace sonabox
