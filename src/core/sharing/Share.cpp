#include "core/sharing/Share.h"

#include "core/common/Random.h"
#include "core/common/TextHelpers.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <QDateTime>

#include <ctime>

namespace sonabox {

namespace {
std::string ServiceUrl(const char *script) {
  return "http://" + ServiceHost() + "/interface/" + script + "?" + std::to_string(RandomInt(5000));
}

std::string Formatted(const std::tm &time, const char *format) {
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, format, &time);
  return std::string(text, length);
}
} // namespace

std::string ShareStamp(const QDateTime &localTime) {
  const QDate date = localTime.date();
  const QTime time = localTime.time();
  std::tm parts{};
  parts.tm_year = date.year() - 1900;
  parts.tm_mon = date.month() - 1;
  parts.tm_mday = date.day();
  parts.tm_wday = date.dayOfWeek() % 7;
  parts.tm_yday = date.dayOfYear() - 1;
  parts.tm_hour = time.hour();
  parts.tm_min = time.minute();
  parts.tm_sec = time.second();
  parts.tm_isdst = -1;
  std::string stamp = Formatted(parts, "%x");
  if (time != QTime(0, 0)) stamp += " " + Formatted(parts, "%X");
  return stamp;
}

void TShare::SetFrom(const std::string &name, const std::string &email) {
  fromName_ = name;
  fromEmail_ = email;
}

void TShare::SetTo(const std::string &name, const std::string &email) {
  toName_ = name;
  toEmail_ = email;
}

std::string TShare::SendShare() {
  const std::string stamp = ShareStamp(QDateTime::currentDateTime());
  const std::string token = Sha1Hex(stamp + payload_).substr(0, 20);
  // The salts are fixed constants of the service protocol.
  const std::string hash = Sha1Hex(token + payload_ + fromEmail_ + toEmail_ + "QWWQ") +
                           Sha1Hex(token + fromName_ + toName_ + "GHHG") +
                           Sha1Hex(token + shareTitle_ + shareNote_ + "UYYU");
  TWebStuff web;
  web.AddField("hash", hash);
  web.AddField("token", token);
  web.AddField("receipt", Base64Encode(receipt_));
  web.AddField("payload", Base64Encode(payload_));
  web.AddField("note", Base64Encode(shareNote_));
  web.AddField("toName", toName_);
  web.AddField("toEmail", toEmail_);
  web.AddField("fromName", fromName_);
  web.AddField("fromEmail", fromEmail_);
  web.AddField("title", Base64Encode(shareTitle_));
  web.SetDeadline(kExchangeDeadline);
  const std::string answer = web.PostForm(ServiceUrl("share.php"));
  outcome_ = web.LastOutcome();
  return answer == "ERROR" ? std::string() : answer;
}

bool TShare::FetchShare(const std::string &code) {
  std::string text;
  {
    TWebStuff web;
    web.AddField("share_key", TrimControl(code));
    web.SetDeadline(kExchangeDeadline);
    text = web.PostForm(ServiceUrl("getshare.php"));
    outcome_ = web.LastOutcome();
  }
  // Short answers (such as "ERROR") are not base64.
  if (text.size() > 20) text = Base64Decode(text);

  // The title and the note come first, when the answer has more than two lines.
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() > 2) {
    shareTitle_ = lines[0];
    shareNote_ = lines[1];
    text.clear();
    for (std::size_t i = 2; i < lines.size(); ++i) text += lines[i] + "\r\n";
  }

  sharedVideos_ = ParseFeedEntries(text, VideoWebHost(), TEntryTexts::AsTyped).Videos;
  return !sharedVideos_.empty();
}

} // namespace sonabox
