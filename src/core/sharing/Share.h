#pragma once
// TShare: the client side of the share service. One object serves one
// exchange, sending a share or fetching one by its code, on the calling thread
// (which the request blocks).
#include "core/search/Video.h"
#include "core/web/WebStuff.h"

#include <string>

class QDateTime;

namespace sonabox {

class TShare {
public:
  void SetFrom(const std::string &name, const std::string &email);
  void SetTo(const std::string &name, const std::string &email);
  void SetNote(const std::string &note) { shareNote_ = note; }
  void SetTitle(const std::string &title) { shareTitle_ = title; }
  void SetReceipt(const std::string &receipt) { receipt_ = receipt; }
  // Appends one share entry (TVideoDetails::ToShareEntry) to the payload.
  void AddEntry(const std::string &entry) { payload_ += entry; }

  // Posts the share; the new share code, or empty text when the service
  // refused the share or could not be reached.
  std::string SendShare();

  // Fetches the share behind a code (blanks around it do not count) into
  // ShareTitle, ShareNote and SharedVideos; true when at least one video came.
  bool FetchShare(const std::string &code);

  // How the last exchange's request ended: a share code that found nothing
  // was answered; one that could not be looked up was not.
  TWebOutcome Outcome() const { return outcome_; }

  int VideoCount() const { return static_cast<int>(sharedVideos_.size()); }
  const TVideos &SharedVideos() const { return sharedVideos_; }
  const std::string &ShareTitle() const { return shareTitle_; }
  const std::string &ShareNote() const { return shareNote_; }
  const std::string &Payload() const { return payload_; }

private:
  std::string fromEmail_, fromName_, shareNote_, shareTitle_, receipt_, toEmail_, toName_;
  std::string payload_;
  TVideos sharedVideos_;
  TWebOutcome outcome_ = TWebOutcome::Failed;
};

// The stamp of a share sent at this local time: the locale's short date, a
// blank and its long time; the time is left out at exactly midnight.
std::string ShareStamp(const QDateTime &localTime);

} // namespace sonabox
