#include "core/web/MultiPartFormDataStream.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace sonabox {

namespace {
constexpr std::string_view kCrLf = "\r\n";
} // namespace

TMsMultiPartFormDataStream::TMsMultiPartFormDataStream()
    : TMsMultiPartFormDataStream(QDateTime::currentDateTime()) {}

TMsMultiPartFormDataStream::TMsMultiPartFormDataStream(const QDateTime &localTime)
    : boundary_(std::string(27, '-') +
                localTime.toString(QStringLiteral("MMddyyHHmmsszzz")).toStdString()),
      contentType_("multipart/form-data; boundary=" + boundary_) {}

void TMsMultiPartFormDataStream::AddField(std::string_view name, std::string_view value) {
  std::string piece;
  if (!firstField_) piece += kCrLf;
  piece += "--";
  piece += boundary_;
  piece += kCrLf;
  piece += "Content-Disposition: form-data; name=\"";
  piece += name;
  piece += '"';
  piece += kCrLf;
  piece += kCrLf;
  piece += value;
  Write(piece);
  firstField_ = false;
}

void TMsMultiPartFormDataStream::Finish() {
  Write(std::string(kCrLf) + "--" + boundary_ + "--" + std::string(kCrLf));
  position_ = 0;
  firstField_ = true;
}

void TMsMultiPartFormDataStream::SetPosition(std::size_t position) {
  position_ = std::min(position, bytes_.size());
}

std::size_t TMsMultiPartFormDataStream::Read(char *buffer, std::size_t count) {
  const std::size_t n = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

void TMsMultiPartFormDataStream::Write(std::string_view bytes) {
  const std::size_t overlap = std::min(bytes.size(), bytes_.size() - position_);
  bytes_.replace(position_, overlap, bytes);
  position_ += bytes.size();
}

} // namespace sonabox
