#pragma once
// TMsMultiPartFormDataStream: the body of every post the program sends, an
// in-memory byte stream of text fields in the "multipart/form-data" format.
// It knows text fields only: no file parts, no headers beyond the field name.
#include <cstddef>
#include <string>
#include <string_view>

class QDateTime;

namespace sonabox {

class TMsMultiPartFormDataStream {
public:
  // The boundary is made from the current local time.
  TMsMultiPartFormDataStream();
  // The boundary is made from the given local time.
  explicit TMsMultiPartFormDataStream(const QDateTime &localTime);

  // 27 hyphens and the time as "mmddyyhhnnsszzz" (month, day, two-digit year,
  // hour 00-23, minutes, seconds, milliseconds): 42 characters.
  const std::string &Boundary() const { return boundary_; }
  // "multipart/form-data; boundary=" and the boundary.
  const std::string &ContentType() const { return contentType_; }

  // Writes one field at the current position. The name goes between the quotes
  // of the disposition line unescaped; the value is written byte for byte.
  void AddField(std::string_view name, std::string_view value);
  // Writes the closing delimiter and rewinds to the start for reading.
  void Finish();

  // The stream: a growable buffer with a current position.
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position);             // clamped to the size
  std::size_t Read(char *buffer, std::size_t count);  // from the position; returns the count read
  const std::string &Bytes() const { return bytes_; } // the whole buffer

private:
  void Write(std::string_view bytes); // overwrites from the position, growing as needed

  std::string boundary_;
  std::string contentType_;
  std::string bytes_;
  std::size_t position_ = 0;
  bool firstField_ = true;
};

} // namespace sonabox
