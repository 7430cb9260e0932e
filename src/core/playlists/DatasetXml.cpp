#include "core/playlists/DatasetXml.h"

#include "core/common/TextHelpers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

namespace sonabox {

int TDatasetContent::AutoIncColumn() const {
  for (std::size_t i = 0; i < Columns.size(); ++i)
    if (Columns[i].Def.Type == TFieldType::AutoInc) return static_cast<int>(i);
  return -1;
}

TCellRef TDatasetContent::Append(std::string_view text) {
  TCellRef cell{Bytes.size(), static_cast<std::uint32_t>(text.size()), false};
  Bytes.append(text);
  return cell;
}

// ---------------------------------------------------------------------------
// Date-time text

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The value of `count` decimal digits at `text`, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

void AppendPadded(std::string &out, int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  out += buffer;
}

} // namespace

std::string FormatDateTime(const TDateTimeValue &value) {
  std::string out;
  AppendPadded(out, value.Year, 4);
  AppendPadded(out, value.Month, 2);
  AppendPadded(out, value.Day, 2);
  if (value.Hour == 0 && value.Minute == 0 && value.Second == 0 && value.Millisecond == 0)
    return out;
  out += 'T';
  AppendPadded(out, value.Hour, 2);
  out += ':';
  AppendPadded(out, value.Minute, 2);
  out += ':';
  AppendPadded(out, value.Second * 1000 + value.Millisecond, 5);
  return out;
}

bool ParseDateTime(std::string_view text, TDateTimeValue &value) {
  if (text.size() != 8 && text.size() != 20) return false;
  TDateTimeValue v;
  v.Year = Digits(text, 0, 4);
  v.Month = Digits(text, 4, 2);
  v.Day = Digits(text, 6, 2);
  if (v.Year < 1 || v.Month < 1 || v.Month > 12 || v.Day < 1 ||
      v.Day > DaysInMonth(v.Year, v.Month))
    return false;
  if (text.size() == 20) {
    if (text[8] != 'T' || text[11] != ':' || text[14] != ':') return false;
    v.Hour = Digits(text, 9, 2);
    v.Minute = Digits(text, 12, 2);
    const int secondsAndMillis = Digits(text, 15, 5);
    if (v.Hour < 0 || v.Hour > 23 || v.Minute < 0 || v.Minute > 59 || secondsAndMillis < 0 ||
        secondsAndMillis > 59999)
      return false;
    v.Second = secondsAndMillis / 1000;
    v.Millisecond = secondsAndMillis % 1000;
  }
  value = v;
  return true;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// What each byte is written as inside an attribute value: itself, or for
// exactly nine characters a reference. Eight bytes per entry so that every
// byte is written with one fixed-size copy.
struct TEscape {
  char Text[7];
  std::uint8_t Length;
};

static_assert(sizeof(TEscape) == 8);

const std::array<TEscape, 256> &EscapeTable() {
  static const std::array<TEscape, 256> table = [] {
    std::array<TEscape, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = TEscape{{static_cast<char>(c)}, 1};
    const auto set = [&](unsigned char c, std::string_view text) {
      std::memcpy(t[c].Text, text.data(), text.size());
      t[c].Length = static_cast<std::uint8_t>(text.size());
    };
    set('<', "&lt;");
    set('>', "&gt;");
    set('&', "&amp;");
    set('\'', "&apos;");
    set('"', "&quot;");
    set('\r', "&#013;");
    set('\n', "&#010;");
    set('\t', "&#009;");
    set('\\', "&#092;");
    return t;
  }();
  return table;
}

// The document under construction: a buffer written through a pointer and
// grown when a piece might not fit.
class TDocumentWriter {
public:
  explicit TDocumentWriter(std::size_t estimate) { Grow(estimate); }

  void Put(std::string_view text) {
    Reserve(text.size());
    std::memcpy(write_, text.data(), text.size());
    write_ += text.size();
  }

  void PutEscaped(std::string_view text) {
    Reserve(6 * text.size() + sizeof(TEscape));
    const auto &table = EscapeTable();
    char *w = write_;
    for (const char c : text) {
      const TEscape &escape = table[static_cast<unsigned char>(c)];
      std::memcpy(w, &escape, sizeof escape);
      w += escape.Length;
    }
    write_ = w;
  }

  template <typename Number> void PutNumber(Number value) {
    Reserve(24);
    write_ = std::to_chars(write_, write_ + 24, value).ptr;
  }

  void PutAttribute(std::string_view name, std::string_view value) {
    Put(" ");
    Put(name);
    Put("=\"");
    PutEscaped(value);
    Put("\"");
  }

  std::string Take() {
    buffer_.resize(static_cast<std::size_t>(write_ - buffer_.data()));
    return std::move(buffer_);
  }

private:
  void Reserve(std::size_t bytes) {
    if (static_cast<std::size_t>(limit_ - write_) < bytes) Grow(bytes);
  }
  void Grow(std::size_t bytes) {
    const std::size_t used =
        buffer_.empty() ? 0 : static_cast<std::size_t>(write_ - buffer_.data());
    buffer_.resize(std::max(2 * buffer_.size(), used + bytes + 64));
    write_ = buffer_.data() + used;
    limit_ = buffer_.data() + buffer_.size();
  }

  std::string buffer_;
  char *write_ = nullptr;
  char *limit_ = nullptr;
};

const char *FieldTypeText(TFieldType type) {
  switch (type) {
  case TFieldType::String: return "string";
  case TFieldType::Integer:
  case TFieldType::AutoInc: return "i4";
  case TFieldType::DateTime: return "dateTime";
  }
  return "string";
}

} // namespace

std::string WriteDatasetXml(const TDatasetContent &content) {
  const std::size_t columns = content.Columns.size();
  std::size_t perRow = 32;
  for (const TColumnDef &column : content.Columns) perRow += column.Def.Name.size() + 4;
  TDocumentWriter out(512 + 64 * columns + content.Bytes.size() + content.Bytes.size() / 4 +
                      content.RowCount() * perRow + 12 * content.ChangeLog.size());
  out.Put(
      "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>");
  for (const TColumnDef &column : content.Columns) {
    out.Put("<FIELD");
    out.PutAttribute("attrname", column.Def.Name);
    out.Put(" fieldtype=\"");
    out.Put(FieldTypeText(column.Def.Type));
    out.Put("\"");
    if (column.ReadOnly) out.Put(" readonly=\"true\"");
    if (column.Def.Type == TFieldType::AutoInc) out.Put(" SUBTYPE=\"Autoinc\"");
    if (column.Def.Type == TFieldType::String) {
      out.Put(" WIDTH=\"");
      out.PutNumber(column.Def.Width);
      out.Put("\"");
    }
    out.Put("/>");
  }
  out.Put("</FIELDS><PARAMS");
  if (!content.ChangeLog.empty()) {
    out.Put(" CHANGE_LOG=\"");
    for (std::size_t i = 0; i < content.ChangeLog.size(); ++i) {
      if (i) out.Put(" ");
      out.PutNumber(content.ChangeLog[i]);
    }
    out.Put("\"");
  }
  if (content.AutoIncColumn() >= 0) {
    out.Put(" AUTOINCVALUE=\"");
    out.PutNumber(content.AutoIncValue);
    out.Put("\"");
  }
  for (const auto &[name, value] : content.OtherParams) out.PutAttribute(name, value);
  if (content.ParamElements.empty()) {
    out.Put("/>");
  } else {
    out.Put(">");
    for (const TAttributes &element : content.ParamElements) {
      out.Put("<PARAM");
      for (const auto &[name, value] : element) out.PutAttribute(name, value);
      out.Put("/>");
    }
    out.Put("</PARAMS>");
  }
  out.Put("</METADATA><ROWDATA>");

  // " Name=\"" for each column, made once.
  std::vector<std::string> openers;
  openers.reserve(columns);
  for (const TColumnDef &column : content.Columns) openers.push_back(' ' + column.Def.Name + "=\"");

  for (std::size_t row = 0; row < content.RowCount(); ++row) {
    out.Put("<ROW");
    if (const std::uint32_t state = content.RowStates[row]; state != 0) {
      out.Put(" RowState=\"");
      out.PutNumber(state);
      out.Put("\"");
    }
    const TCellRef *cells = content.Cells.data() + row * columns; // no cells without columns
    for (std::size_t column = 0; column < columns; ++column) {
      if (cells[column].Null) continue;
      out.Put(openers[column]);
      out.PutEscaped(content.Text(cells[column]));
      out.Put("\"");
    }
    out.Put("/>");
  }
  out.Put("</ROWDATA></DATAPACKET>");
  return out.Take();
}

// ---------------------------------------------------------------------------
// Reading

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the reference that starts at the ampersand `amp`, writing its text
// at `out`; returns how many bytes of input it takes and sets `written`.
// "&#digits;" and "&#xhex;" give the character of their code. Otherwise the
// letter after the ampersand decides: l, g, q, "ap" and any other a give
// < > " ' and &, and the reference is taken as 4, 4, 6, 6 and 5 bytes long
// whatever those bytes are. Anything else leaves the ampersand as it is.
// The text is never longer than the reference, so `out` may lie at or before
// `amp` in the same buffer.
std::size_t DecodeReference(const char *amp, const char *end, char *out, std::size_t &written) {
  const std::size_t left = static_cast<std::size_t>(end - amp);
  written = 1;
  if (left >= 2 && amp[1] == '#') {
    const char *p = amp + 2;
    const bool hex = p < end && *p == 'x';
    if (hex) ++p;
    const char *digits = p;
    std::uint32_t code = 0;
    for (; p < end; ++p) {
      const int digit = hex ? HexValue(*p) : (*p >= '0' && *p <= '9' ? *p - '0' : -1);
      if (digit < 0) break;
      code =
          std::min<std::uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000); // past any character
    }
    if (p > digits && p < end && *p == ';') {
      char text[4];
      if (const std::size_t length = EncodeUtf8(code, text)) {
        std::memcpy(out, text, length);
        written = length;
        return static_cast<std::size_t>(p + 1 - amp);
      }
    }
    *out = '&';
    return 1;
  }
  std::size_t length = 1;
  char character = '&';
  switch (left >= 2 ? amp[1] : '\0') {
  case 'l':
    character = '<';
    length = 4;
    break;
  case 'g':
    character = '>';
    length = 4;
    break;
  case 'q':
    character = '"';
    length = 6;
    break;
  case 'a':
    character = left >= 3 && amp[2] == 'p' ? '\'' : '&';
    length = character == '\'' ? 6 : 5;
    break;
  default: break;
  }
  *out = character;
  return std::min(length, left);
}

// Decodes the references of a value in its own place; returns the new length.
std::size_t DecodeInPlace(char *begin, std::size_t size) {
  char *read = begin;
  char *write = begin;
  char *const end = begin + size;
  for (;;) {
    auto *amp = static_cast<char *>(std::memchr(read, '&', static_cast<std::size_t>(end - read)));
    const std::size_t run = static_cast<std::size_t>((amp ? amp : end) - read);
    if (write != read) std::memmove(write, read, run);
    write += run;
    if (!amp) return static_cast<std::size_t>(write - begin);
    std::size_t written = 0;
    read = amp + DecodeReference(amp, end, write, written);
    write += written;
  }
}

std::string Decoded(std::string_view raw) {
  std::string text(raw);
  text.resize(DecodeInPlace(text.data(), text.size()));
  return text;
}

struct TFormatError {
  std::string Message;
};

// A pull reader over the document's markup. Text between elements, comments,
// processing instructions, CDATA sections and declarations are passed over.
class TDocumentReader {
public:
  // Reads the document held in content.Bytes.
  explicit TDocumentReader(TDatasetContent &content)
      : p_(content.Bytes.data()), end_(content.Bytes.data() + content.Bytes.size()),
        content_(content) {}

  void Read() {
    SkipSpace();
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) { // UTF-8 byte order mark
      p_ += 3;
      SkipSpace();
    }
    if (p_ == end_ || *p_ != '<') Fail("the document does not begin with \"<\"");
    std::string_view name;
    if (NextTag(name) != TNode::Start) Fail("the document holds no element");
    if (name == "DATAPACKET") {
      if (SkipAttributes()) Fail("DATAPACKET holds no METADATA");
      if (NextTag(name) != TNode::Start || name != "METADATA")
        Fail("DATAPACKET does not begin with METADATA");
      ReadMetadata();
      for (;;) {
        const TNode node = NextTag(name);
        if (node == TNode::Finished) Fail("the document ends inside DATAPACKET");
        if (node == TNode::End) {
          ExpectEnd(name, "DATAPACKET");
          break;
        }
        if (name == "ROWDATA")
          ReadRowData();
        else
          SkipElement(name);
      }
      if (NextTag(name) != TNode::Finished) Fail("something follows </DATAPACKET>");
    } else if (name == "METADATA") {
      ReadMetadata();
      for (TNode node; (node = NextTag(name)) != TNode::Finished;) {
        if (node == TNode::End) Fail("an unexpected </" + std::string(name) + ">");
        if (name == "ROWDATA")
          ReadRowData();
        else
          SkipElement(name);
      }
    } else {
      Fail("the first element is \"" + std::string(name) + "\", not DATAPACKET or METADATA");
    }
    Finish();
  }

private:
  enum class TNode { Start, End, Finished };

  [[noreturn]] void Fail(std::string message) { throw TFormatError{std::move(message)}; }

  void ExpectEnd(std::string_view name, std::string_view expected) {
    if (name != expected)
      Fail(std::string(expected) + " is closed by </" + std::string(name) + ">");
  }

  void SkipSpace() {
    while (p_ < end_ && IsSpace(*p_)) ++p_;
  }

  bool StartsWith(std::string_view text) const {
    return static_cast<std::size_t>(end_ - p_) >= text.size() &&
           std::memcmp(p_, text.data(), text.size()) == 0;
  }

  // Moves past `terminator`, which must follow.
  void SkipPast(std::string_view terminator, const char *what) {
    const char *found = std::search(p_, end_, terminator.begin(), terminator.end());
    if (found == end_) Fail(std::string("the document ends inside ") + what);
    p_ = found + terminator.size();
  }

  std::string_view ReadName() {
    const char *start = p_;
    while (p_ < end_ && !IsSpace(*p_) && *p_ != '>' && *p_ != '/') ++p_;
    if (p_ == start) Fail("a tag without a name");
    return std::string_view(start, static_cast<std::size_t>(p_ - start));
  }

  // Finds the next start or end tag. After a start tag the attributes follow
  // and must be read (ReadAttributes) or skipped.
  TNode NextTag(std::string_view &name) {
    for (;;) {
      const auto *open =
          static_cast<const char *>(std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_)));
      if (!open) {
        p_ = end_;
        return TNode::Finished;
      }
      p_ = open;
      if (StartsWith("<!--")) {
        p_ += 4;
        SkipPast("-->", "a comment");
      } else if (StartsWith("<![CDATA[")) {
        p_ += 9;
        SkipPast("]]>", "a CDATA section");
      } else if (StartsWith("<?")) {
        p_ += 2;
        SkipPast("?>", "a declaration");
      } else if (StartsWith("<!")) {
        p_ += 2;
        SkipDeclaration();
      } else if (StartsWith("</")) {
        p_ += 2;
        name = ReadName();
        SkipSpace();
        if (p_ == end_ || *p_ != '>') Fail("a broken end tag </" + std::string(name));
        ++p_;
        return TNode::End;
      } else {
        ++p_;
        name = ReadName();
        return TNode::Start;
      }
    }
  }

  // "<!DOCTYPE ...>", possibly with an internal subset in brackets.
  void SkipDeclaration() {
    for (; p_ < end_; ++p_) {
      if (*p_ == '[') SkipPast("]", "a declaration");
      if (p_ < end_ && *p_ == '>') {
        ++p_;
        return;
      }
    }
    Fail("the document ends inside a declaration");
  }

  // Reads the attributes of the start tag just found, calling
  // handler(name, raw value) for each. Returns true for an empty element ("/>").
  template <typename Handler> bool ReadAttributes(Handler &&handler) {
    for (;;) {
      SkipSpace();
      if (p_ == end_) Fail("the document ends inside a tag");
      if (*p_ == '/') {
        if (++p_ == end_ || *p_ != '>') Fail("a broken tag");
        ++p_;
        return true;
      }
      if (*p_ == '>') {
        ++p_;
        return false;
      }
      const char *nameStart = p_;
      while (p_ < end_ && !IsSpace(*p_) && *p_ != '=' && *p_ != '>' && *p_ != '/') ++p_;
      const std::string_view name(nameStart, static_cast<std::size_t>(p_ - nameStart));
      if (name.empty()) Fail("a broken attribute");
      SkipSpace();
      if (p_ == end_) Fail("the document ends inside a tag");
      if (*p_ != '=') Fail("the attribute " + std::string(name) + " has no value");
      ++p_;
      SkipSpace();
      if (p_ == end_) Fail("the document ends inside a tag");
      if (*p_ != '"' && *p_ != '\'')
        Fail("the attribute " + std::string(name) + " has no quoted value");
      const char quote = *p_++;
      const auto *close =
          static_cast<const char *>(std::memchr(p_, quote, static_cast<std::size_t>(end_ - p_)));
      if (!close) Fail("the document ends inside the value of " + std::string(name));
      handler(name, std::string_view(p_, static_cast<std::size_t>(close - p_)));
      p_ = close + 1;
    }
  }

  bool SkipAttributes() {
    return ReadAttributes([](std::string_view, std::string_view) {});
  }

  // Passes over an element whose start tag `name` was just found.
  void SkipElement(std::string_view name) {
    if (SkipAttributes()) return;
    SkipContent(name);
  }

  // Passes over the rest of the element `name` whose start tag has been read.
  // Nesting is followed on a list, not by recursion, so that no depth of
  // elements can exhaust the stack.
  void SkipContent(std::string_view name) {
    std::vector<std::string_view> open{name};
    while (!open.empty()) {
      std::string_view tag;
      const TNode node = NextTag(tag);
      if (node == TNode::Finished) Fail("the document ends inside " + std::string(open.back()));
      if (node == TNode::End) {
        ExpectEnd(tag, open.back());
        open.pop_back();
      } else if (!SkipAttributes()) {
        open.push_back(tag);
      }
    }
  }

  TAttributes ReadAttributeList(bool &empty) {
    TAttributes list;
    empty = ReadAttributes([&](std::string_view name, std::string_view raw) {
      list.emplace_back(std::string(name), Decoded(raw));
    });
    return list;
  }

  void ReadMetadata() {
    if (SkipAttributes()) Fail("METADATA holds no FIELDS");
    std::string_view name;
    if (NextTag(name) != TNode::Start || name != "FIELDS")
      Fail("METADATA does not begin with FIELDS");
    if (!SkipAttributes()) {
      for (;;) {
        const TNode node = NextTag(name);
        if (node == TNode::Finished) Fail("the document ends inside FIELDS");
        if (node == TNode::End) {
          ExpectEnd(name, "FIELDS");
          break;
        }
        if (name == "FIELD")
          ReadField();
        else
          SkipElement(name);
      }
    }
    for (;;) {
      const TNode node = NextTag(name);
      if (node == TNode::Finished) Fail("the document ends inside METADATA");
      if (node == TNode::End) {
        ExpectEnd(name, "METADATA");
        break;
      }
      if (name == "PARAMS")
        ReadParams();
      else
        SkipElement(name);
    }
  }

  void ReadField() {
    bool empty = false;
    const TAttributes attributes = ReadAttributeList(empty);
    if (!empty) SkipContent("FIELD");
    const auto find = [&](std::string_view key) -> const std::string * {
      for (const auto &[name, value] : attributes)
        if (name == key) return &value;
      return nullptr;
    };
    const std::string *name = find("attrname");
    if (!name) name = find("tagname");
    if (!name || name->empty()) Fail("a FIELD names no column");
    for (const TColumnDef &column : content_.Columns)
      if (column.Def.Name == *name) Fail("the column " + *name + " is defined twice");

    TColumnDef column;
    column.Def.Name = *name;
    const std::string *type = find("fieldtype");
    const std::string *subtype = find("SUBTYPE");
    if (type && EqualsNoCase(*type, "string")) {
      column.Def.Type = TFieldType::String;
    } else if (type && EqualsNoCase(*type, "i4")) {
      const bool autoInc = subtype && EqualsNoCase(*subtype, "Autoinc");
      if (autoInc && content_.AutoIncColumn() >= 0)
        Fail("the column " + *name + " is a second auto-increment column");
      column.Def.Type = autoInc ? TFieldType::AutoInc : TFieldType::Integer;
    } else if (type && EqualsNoCase(*type, "dateTime")) {
      column.Def.Type = TFieldType::DateTime;
    } else {
      Fail("the column " + *name + " has the unknown type \"" + (type ? *type : std::string()) +
           "\"");
    }
    if (column.Def.Type == TFieldType::String) {
      const std::string *width = find("WIDTH");
      if (!width || !TryParseInt32(*width, column.Def.Width) || column.Def.Width <= 0)
        Fail("the text column " + *name + " has no valid WIDTH");
    }
    const std::string *readOnly = find("readonly");
    column.ReadOnly =
        column.Def.Type == TFieldType::AutoInc || (readOnly && EqualsNoCase(*readOnly, "true"));
    content_.Columns.push_back(std::move(column));
  }

  void ReadParams() {
    const bool hasAutoInc = content_.AutoIncColumn() >= 0;
    bool empty = false;
    for (auto &[name, value] : ReadAttributeList(empty)) {
      if (name == "CHANGE_LOG") {
        ReadChangeLog(value);
      } else if (name == "AUTOINCVALUE" && hasAutoInc) {
        const auto result =
            std::from_chars(value.data(), value.data() + value.size(), content_.AutoIncValue);
        if (result.ec != std::errc() || result.ptr != value.data() + value.size())
          Fail("AUTOINCVALUE \"" + value + "\" is not a number");
        autoIncValueRead_ = true;
      } else {
        content_.OtherParams.emplace_back(std::move(name), std::move(value));
      }
    }
    if (empty) return;
    std::string_view name;
    for (;;) {
      const TNode node = NextTag(name);
      if (node == TNode::Finished) Fail("the document ends inside PARAMS");
      if (node == TNode::End) return ExpectEnd(name, "PARAMS");
      if (name == "PARAM") {
        content_.ParamElements.push_back(ReadAttributeList(empty));
        if (!empty) SkipContent(name);
      } else {
        SkipElement(name);
      }
    }
  }

  void ReadChangeLog(std::string_view text) {
    const char *p = text.data();
    const char *end = p + text.size();
    content_.ChangeLog.reserve(text.size() /
                               2); // each number takes at least two bytes with its space
    for (;;) {
      while (p < end && IsSpace(*p)) ++p;
      if (p == end) break;
      std::uint32_t number = 0;
      const auto result = std::from_chars(p, end, number);
      if (result.ec != std::errc() || (result.ptr < end && !IsSpace(*result.ptr)))
        Fail("CHANGE_LOG holds something that is not a number");
      content_.ChangeLog.push_back(number);
      p = result.ptr;
    }
    if (content_.ChangeLog.size() % 3 != 0) Fail("CHANGE_LOG does not hold whole entries");
  }

  void ReadRowData() {
    if (SkipAttributes()) return;
    std::string_view name;
    for (;;) {
      const TNode node = NextTag(name);
      if (node == TNode::Finished) Fail("the document ends inside ROWDATA");
      if (node == TNode::End) return ExpectEnd(name, "ROWDATA");
      if (name.starts_with("ROW"))
        ReadRow(name);
      else
        SkipElement(name);
    }
  }

  int FindColumn(std::string_view name) {
    const std::size_t count = content_.Columns.size();
    // Values are nearly always in column order: try the one after the last.
    if (nextColumn_ < count && content_.Columns[nextColumn_].Def.Name == name)
      return static_cast<int>(nextColumn_++);
    for (std::size_t i = 0; i < count; ++i) {
      if (content_.Columns[i].Def.Name == name) {
        nextColumn_ = i + 1;
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  void ReadRow(std::string_view rowName) {
    const std::size_t row = content_.RowStates.size();
    const std::size_t columns = content_.Columns.size();
    content_.RowStates.push_back(0);
    content_.Cells.resize(content_.Cells.size() + columns);
    nextColumn_ = 0;
    const bool empty = ReadAttributes([&](std::string_view name, std::string_view raw) {
      if (name == "RowState") {
        const std::string text = Decoded(raw);
        std::uint32_t state = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), state);
        if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
          Fail("row " + std::to_string(row + 1) + " has the RowState \"" + text + "\"");
        content_.RowStates[row] = state;
        return;
      }
      // A value for no column is a damaged name: dropping it would lose the
      // value at the next save.
      const int column = FindColumn(name);
      if (column < 0)
        Fail("row " + std::to_string(row + 1) + " holds a value for \"" + std::string(name) +
             "\", which is no column");
      TCellRef &cell = content_.Cells[row * columns + static_cast<std::size_t>(column)];
      const TFieldDef &def = content_.Columns[static_cast<std::size_t>(column)].Def;
      // The value is decoded where it stands: the document is the store of values.
      char *value = content_.Bytes.data() + (raw.data() - content_.Bytes.data());
      std::size_t length = DecodeInPlace(value, raw.size());
      const std::string_view text(value, length);
      if (def.Type == TFieldType::DateTime) {
        TDateTimeValue dateTime;
        if (!ParseDateTime(text, dateTime))
          Fail("row " + std::to_string(row + 1) + " holds \"" + std::string(text) +
               "\" in the date-time column " + def.Name);
        const std::string canonical = FormatDateTime(dateTime); // never longer than the text read
        std::memcpy(value, canonical.data(), canonical.size());
        length = canonical.size();
      } else if (def.Type != TFieldType::String) {
        int number = 0;
        if (!TryParseInt32(text, number))
          Fail("row " + std::to_string(row + 1) + " holds \"" + std::string(text) +
               "\" in the integer column " + def.Name);
        length = static_cast<std::size_t>(std::to_chars(value, value + length, number).ptr - value);
      }
      cell = TCellRef{static_cast<std::size_t>(value - content_.Bytes.data()),
                      static_cast<std::uint32_t>(length), false};
    });
    if (!empty) SkipContent(rowName);
  }

  // The auto-increment column is read-only once loaded, and its counter never
  // falls back to a value that a stored row already holds.
  void Finish() {
    const int autoInc = content_.AutoIncColumn();
    if (autoInc < 0) return;
    std::int64_t next = autoIncValueRead_ ? content_.AutoIncValue : 1;
    for (std::size_t row = 0; row < content_.RowCount(); ++row) {
      const TCellRef &cell = content_.Cell(row, static_cast<std::size_t>(autoInc));
      int id = 0;
      if (!cell.Null && TryParseInt32(content_.Text(cell), id))
        next = std::max<std::int64_t>(next, std::int64_t(id) + 1);
    }
    content_.AutoIncValue = next;
  }

  const char *p_;
  const char *end_;
  TDatasetContent &content_;
  std::size_t nextColumn_ = 0;
  bool autoIncValueRead_ = false;
};

} // namespace

bool ReadDatasetXml(std::string document, TDatasetContent &content, std::string &error) {
  content = TDatasetContent{};
  content.Bytes = std::move(document);
  try {
    TDocumentReader(content).Read();
    return true;
  } catch (const TFormatError &failure) {
    error = failure.Message;
    content = TDatasetContent{};
    return false;
  }
}

std::string DecodeDatasetValue(std::string_view raw) { return Decoded(raw); }

} // namespace sonabox
