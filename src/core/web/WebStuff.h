#pragma once
// TWebStuff: the one HTTP client of the program. Every request goes through
// it: the feed query, the share exchanges, the update check and the installer
// download. Each operation blocks the calling thread until it has finished.
//
// Text requests answer the trimmed body or "ERROR"; downloads answer a success
// flag. No network or HTTP failure is ever raised to the caller.
//
// A client serves one request (the update workers keep theirs for the one
// request of the thread) and is used by one thread at a time.
#include "core/web/MultiPartFormDataStream.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sonabox {

enum class TWorkMode { Read, Write };

// How the last request of a client ended, so that a failure can be told in
// the user's words.
enum class TWebOutcome {
  Answered,    // a 2xx answer
  Unreachable, // no connection (refused, no route, unknown host)
  TimedOut,    // connected, then nothing came in time, or the deadline passed
  Refused,     // an answer with a status of 300 or above (LastStatus())
  Failed,      // anything else: a broken transfer, an answer too large
};

// The overall limit of one share or update-check exchange: it ends by then
// whatever the service does, even one that sends a byte now and then.
inline constexpr std::chrono::seconds kExchangeDeadline{30};

// Progress of a transfer: work-begin carries the bytes expected (0 when not
// announced), work the bytes transferred so far in that transfer.
using TWorkEvent = std::function<void(TWorkMode mode, int64_t count)>;

class TWebStuff {
public:
  // Loads the proxy from the per-user store: "ProxyAddr" and "ProxyPort" are
  // used only when both exist; a port of 0 or less means no proxy.
  TWebStuff();
  ~TWebStuff();
  TWebStuff(const TWebStuff &) = delete;
  TWebStuff &operator=(const TWebStuff &) = delete;

  // Adds a request header line ("Name: value") to every request of this client.
  void AddHeader(const std::string &line) { extraHeaders_.push_back(line); }

  // While *cancel is true, the running transfer breaks off (within a second,
  // even when nothing arrives) and the operation ends with its failure result.
  void SetCancel(const std::atomic<bool> *cancel) { cancel_ = cancel; }

  // Appends a field to the form body that PostForm sends.
  void AddField(const std::string &name, const std::string &value);

  // GET, following up to 14 redirects (and from now on for this client). The
  // body's lines are rejoined with CR LF after every line, a NUL ends the text,
  // and blanks and control characters are trimmed from both ends. "ERROR" for
  // any failure, a status of 300 or above, an answer over 32 MiB, or nothing left.
  std::string GetText(const std::string &url);

  // POST (HTTP/1.0) of the form body, not following redirects unless GetText
  // switched them on. The body trimmed, or "ERROR" as for GetText.
  std::string PostForm(const std::string &url);

  // GET into the file, which is created or truncated first and stays in every
  // case. True only for a complete transfer answered with a 2xx status. Throws
  // std::runtime_error, before any request, when the file cannot be created.
  bool DownloadToFile(const std::string &url, const std::string &fileName);

  // Called from a progress handler: breaks the running transfer off, and the
  // operation ends with its failure result. Outside a transfer there is no open
  // connection (a client keeps none between requests) and nothing happens.
  void Disconnect();

  // How the last request ended, and its HTTP status (0 when none came).
  TWebOutcome LastOutcome() const { return lastOutcome_; }
  long LastStatus() const { return lastStatus_; }

  void SetOnWork(TWorkEvent handler) { onWork_ = std::move(handler); }
  void SetOnWorkBegin(TWorkEvent handler) { onWorkBegin_ = std::move(handler); }

  // A request that receives nothing for this long gives up (15 s). The clock
  // starts once the connection stands; connecting has its own 15 s limit.
  void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }

  // A request that has not finished this long after it began gives up,
  // however steadily bytes arrive; zero (the default) sets no such limit, as
  // for searches, pictures and downloads.
  void SetDeadline(std::chrono::milliseconds deadline) { deadline_ = deadline; }

private:
  enum class TMethod { Get, Post };
  using TSink = std::function<bool(const char *data, std::size_t size)>;

  // Runs one request; true when it completed with a 2xx status.
  bool Perform(const std::string &url, TMethod method, const TSink &sink);

  static std::size_t OnBody(char *data, std::size_t size, std::size_t count, void *self);
  static std::size_t OnHeader(char *data, std::size_t size, std::size_t count, void *self);
  static std::size_t OnUpload(char *buffer, std::size_t size, std::size_t count, void *self);
  static int OnConnected(void *self, char *, char *, int, int);
  static int OnProgress(void *self, int64_t downTotal, int64_t downNow, int64_t upTotal,
                        int64_t upNow);

  void *curl_ = nullptr;
  std::vector<std::string> extraHeaders_;
  const std::atomic<bool> *cancel_ = nullptr;
  TMsMultiPartFormDataStream form_;
  std::string proxyHost_;
  int proxyPort_ = 0;
  bool handleRedirects_ = false;
  std::chrono::milliseconds readTimeout_{15000};
  std::chrono::milliseconds deadline_{0};
  TWorkEvent onWork_, onWorkBegin_;

  TWebOutcome lastOutcome_ = TWebOutcome::Failed;
  long lastStatus_ = 0;
  bool timedOut_ = false; // the read time-out broke the running transfer off

  // State of the running transfer.
  const TSink *sink_ = nullptr;
  bool transferring_ = false;
  bool disconnecting_ = false;
  int64_t expected_ = 0; // Content-Length of the response being read
  int64_t lastDown_ = 0, lastUp_ = 0;
  std::chrono::steady_clock::time_point lastActivity_; // of the read time-out
};

} // namespace sonabox
