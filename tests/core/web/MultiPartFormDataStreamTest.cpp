#include "core/web/MultiPartFormDataStream.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <string>
#include <utility>
#include <vector>

using namespace sonabox;

namespace {
// 14:05:09.007 on 3 February 2009, local time.
QDateTime KnownTime() { return QDateTime(QDate(2009, 2, 3), QTime(14, 5, 9, 7)); }
const std::string kBoundary = "---------------------------020309140509007";

std::string Disposition(const std::string &name) {
  return "Content-Disposition: form-data; name=\"" + name + "\"";
}
} // namespace

TEST(TMsMultiPartFormDataStream, BoundaryAndContentTypeFromTheClock) {
  const TMsMultiPartFormDataStream known(KnownTime());
  EXPECT_EQ(known.Boundary(), kBoundary);
  EXPECT_EQ(known.ContentType(), "multipart/form-data; boundary=" + kBoundary);

  // A body made now: 27 hyphens and 15 digits.
  const TMsMultiPartFormDataStream now;
  ASSERT_EQ(now.Boundary().size(), 42u);
  EXPECT_EQ(now.Boundary().substr(0, 27), std::string(27, '-'));
  EXPECT_EQ(now.Boundary().find_first_not_of("0123456789", 27), std::string::npos);
  EXPECT_EQ(now.Size(), 0u);
}

TEST(TMsMultiPartFormDataStream, FinishedBodiesByteForByte) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const std::string open = "--" + kBoundary + "\r\n";
  const std::string close = "\r\n--" + kBoundary + "--\r\n";
  const struct {
    Fields fields;
    std::string expected;
  } cases[] = {
      {{}, close},
      {{{"share_key", "ABC"}}, open + Disposition("share_key") + "\r\n\r\nABC" + close},
      {{{"a", "1"}, {"b", "2"}},
       open + Disposition("a") + "\r\n\r\n1\r\n" + open + Disposition("b") + "\r\n\r\n2" + close},
      // An empty value: the blank line runs straight into the next delimiter.
      {{{"receipt", ""}, {"note", "x"}},
       open + Disposition("receipt") + "\r\n\r\n\r\n" + open + Disposition("note") + "\r\n\r\nx" +
           close},
      // Per-cent signs, quotes, line breaks and NUL bytes are written unchanged.
      {{{"title", std::string("100% \"q\"\r\nline\n\0end", 20)}},
       open + Disposition("title") + "\r\n\r\n" + std::string("100% \"q\"\r\nline\n\0end", 20) +
           close},
  };
  for (const auto &c : cases) {
    TMsMultiPartFormDataStream body(KnownTime());
    for (const auto &[name, value] : c.fields) body.AddField(name, value);
    body.Finish();
    EXPECT_EQ(body.Bytes(), c.expected);
    EXPECT_EQ(body.Position(), 0u);
  }
}

TEST(TMsMultiPartFormDataStream, ReadsBackFromThePosition) {
  TMsMultiPartFormDataStream body(KnownTime());
  body.AddField("share_key", "ABC");
  body.Finish();
  std::string read;
  char buffer[7];
  while (const std::size_t n = body.Read(buffer, sizeof buffer)) read.append(buffer, n);
  EXPECT_EQ(read, body.Bytes());
  EXPECT_EQ(body.Position(), body.Size());

  body.SetPosition(body.Size() + 10); // clamped
  EXPECT_EQ(body.Read(buffer, sizeof buffer), 0u);
}
