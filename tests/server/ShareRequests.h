#pragma once
// Share requests as the program posts them, for tests of the share service.
#include "core/common/TextHelpers.h"

#include <httplib.h>

#include <string>
#include <utility>
#include <vector>

namespace sonabox::test {

struct TShareInput {
  std::string Title = "Summer Mix";
  std::string Note = "For the road trip";
  std::string Payload;
  std::string FromName = "Ann";
  std::string FromEmail = "ann@example.org";
  std::string ToName = "Bob";
  std::string ToEmail = "bob@example.org";
  std::string Receipt;
};

// The ten fields in the order the program posts them, token and request hash
// made as the program makes them (the token digests the sender's clock text).
inline std::vector<std::pair<std::string, std::string>> ShareFields(const TShareInput &in) {
  const std::string token = Sha1Hex("03/04/2024 10:11:12" + in.Payload).substr(0, 20);
  const std::string hash = Sha1Hex(token + in.Payload + in.FromEmail + in.ToEmail + "QWWQ") +
                           Sha1Hex(token + in.FromName + in.ToName + "GHHG") +
                           Sha1Hex(token + in.Title + in.Note + "UYYU");
  return {{"hash", hash},
          {"token", token},
          {"receipt", Base64Encode(in.Receipt)},
          {"payload", Base64Encode(in.Payload)},
          {"note", Base64Encode(in.Note)},
          {"toName", in.ToName},
          {"toEmail", in.ToEmail},
          {"fromName", in.FromName},
          {"fromEmail", in.FromEmail},
          {"title", Base64Encode(in.Title)}};
}

inline httplib::MultipartFormDataItems
Multipart(const std::vector<std::pair<std::string, std::string>> &fields) {
  httplib::MultipartFormDataItems items;
  for (const auto &[name, value] : fields) items.push_back({name, value, "", ""});
  return items;
}

} // namespace sonabox::test
