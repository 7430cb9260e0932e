#include "Outbox.h"

#include "core/common/Files.h"
#include "core/common/TextHelpers.h"

#include <algorithm>
#include <ctime>
#include <vector>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

// A header value: control characters and the given specials left out.
std::string HeaderSafe(std::string_view text, std::string_view specials) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || specials.find(c) != std::string_view::npos) continue;
    out += c;
  }
  return out;
}

// Plain ASCII as it is; anything else as one RFC 2047 encoded word.
std::string HeaderWord(std::string_view text) {
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; });
  if (ascii) return std::string(text);
  return "=?UTF-8?B?" + Base64Encode(text) + "?=";
}

std::string Mailbox(std::string_view name, std::string_view email) {
  const std::string address = HeaderSafe(email, " <>\"(),;:\\[]");
  const std::string display = HeaderSafe(name, "\"\\");
  if (display.empty()) return "<" + address + ">";
  const bool ascii =
      std::all_of(display.begin(), display.end(), [](unsigned char c) { return c < 0x80; });
  return (ascii ? "\"" + display + "\"" : HeaderWord(display)) + " <" + address + ">";
}

int CountEntries(std::string_view payload) {
  std::string upper(payload);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  int count = 0;
  for (std::size_t at = upper.find("<ENTRY>"); at != std::string::npos;
       at = upper.find("<ENTRY>", at + 1))
    ++count;
  return count;
}

// Lines of a body in CR LF form.
std::string MailLines(std::string_view text) {
  std::string out;
  for (const std::string &line : SplitLines(text)) out += line + "\r\n";
  return out;
}

} // namespace

fs::path WriteShareMail(const fs::path &outbox, const TShare &share, std::string_view code) {
  fs::create_directories(outbox);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[64], stamp[32];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S %z", &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);

  const int videos = CountEntries(share.Payload);
  const std::string sender = share.FromName.empty() ? share.FromEmail : share.FromName;
  std::string mail;
  mail += "From: " + Mailbox(share.FromName, share.FromEmail) + "\r\n";
  mail += "To: " + Mailbox(share.ToName, share.ToEmail) + "\r\n";
  mail += "Subject: " +
          HeaderWord(HeaderSafe(sender + " shared videos with you: " + OneLine(share.Title), "")) +
          "\r\n";
  mail += std::string("Date: ") + date + "\r\n";
  mail += "MIME-Version: 1.0\r\n";
  mail += "Content-Type: text/plain; charset=UTF-8\r\n";
  mail += "Content-Transfer-Encoding: 8bit\r\n\r\n";
  std::string body;
  body += "Hello " + share.ToName + ",\n\n";
  body += sender + " shared " + std::to_string(videos) + (videos == 1 ? " video" : " videos") +
          " with you: \"" + OneLine(share.Title) + "\".\n\n";
  if (!share.Note.empty()) body += share.Note + "\n\n";
  body += "To save them into a playlist, open Sonabox, go to the Share page and enter the "
          "share code\n\n    " +
          std::string(code) + "\n";
  mail += MailLines(body);

  const fs::path file = outbox / (std::string(stamp) + "-" + std::string(code) + ".eml");
  WriteFileAtomically(file.string(), mail);
  return file;
}

void RemoveShareMail(const fs::path &outbox, std::string_view code) {
  const std::string ending = "-" + std::string(code) + ".eml";
  std::error_code error;
  for (fs::directory_iterator it(outbox, error), end; !error && it != end; it.increment(error))
    if (it->path().filename().string().ends_with(ending)) fs::remove(it->path(), error);
}

int TrimOutbox(const fs::path &outbox, int64_t keep) {
  std::error_code error;
  std::vector<std::pair<fs::file_time_type, fs::path>> mails;
  for (fs::directory_iterator it(outbox, error), end; !error && it != end; it.increment(error))
    if (it->path().extension() == ".eml")
      mails.emplace_back(fs::last_write_time(it->path(), error), it->path());
  if (static_cast<int64_t>(mails.size()) <= keep) return 0;
  // Oldest first: by the time written, then by the name (which begins with it).
  std::sort(mails.begin(), mails.end());
  const std::size_t excess = mails.size() - static_cast<std::size_t>(keep);
  int removed = 0;
  for (std::size_t i = 0; i < excess; ++i)
    if (fs::remove(mails[i].second, error)) ++removed;
  return removed;
}

} // namespace sonabox::server
