#include "core/web/WebStuff.h"

#include "core/common/TextHelpers.h"
#include "core/settings/Settings.h"

#include <curl/curl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace sonabox {

namespace {
const std::string kError = "ERROR";
constexpr std::size_t kTextLimit = std::size_t{32} << 20;
constexpr long kMaxRedirects = 14;
constexpr long kConnectTimeoutSeconds = 15;

class THeaderList {
public:
  ~THeaderList() { curl_slist_free_all(list_); }
  void Add(const std::string &line) { list_ = curl_slist_append(list_, line.c_str()); }
  curl_slist *Get() const { return list_; }

private:
  curl_slist *list_ = nullptr;
};

bool StartsWithCaseless(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// The body's lines joined again with CR LF after every line; a NUL ends the text.
std::string NormaliseLines(std::string_view body) {
  body = body.substr(0, body.find('\0'));
  std::string out;
  out.reserve(body.size() + 2);
  for (const std::string &line : SplitLines(body)) {
    out += line;
    out += "\r\n";
  }
  return out;
}

// Collects a text answer; a text over 32 MiB breaks the transfer off (the cap
// must be kept here: the transport's own size limit lets chunked bodies pass).
std::function<bool(const char *, std::size_t)> TextSink(std::string &body) {
  return [&body](const char *data, std::size_t size) {
    if (body.size() + size > kTextLimit) return false;
    body.append(data, size);
    return true;
  };
}

std::string TrimmedOrError(std::string_view text) {
  std::string trimmed = TrimControl(text);
  return trimmed.empty() ? kError : trimmed;
}
} // namespace

TWebStuff::TWebStuff() {
  const std::optional<std::string> host = StoreReadString(store_key::kProxyAddr);
  const std::optional<int> port = StoreReadInt(store_key::kProxyPort);
  if (host && port) {
    proxyHost_ = *host;
    proxyPort_ = *port;
  }
}

TWebStuff::~TWebStuff() {
  if (curl_) curl_easy_cleanup(curl_);
}

void TWebStuff::AddField(const std::string &name, const std::string &value) {
  form_.AddField(name, value);
}

std::string TWebStuff::GetText(const std::string &url) {
  handleRedirects_ = true;
  std::string body;
  if (!Perform(url, TMethod::Get, TextSink(body))) return kError;
  return TrimmedOrError(NormaliseLines(body));
}

std::string TWebStuff::PostForm(const std::string &url) {
  std::string body;
  if (!Perform(url, TMethod::Post, TextSink(body))) return kError;
  return TrimmedOrError(body);
}

bool TWebStuff::DownloadToFile(const std::string &url, const std::string &fileName) {
  std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(fileName.c_str(), "wb"), &std::fclose);
  if (!file) {
    throw std::runtime_error("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
  }
  const TSink sink = [&file](const char *data, std::size_t size) {
    return std::fwrite(data, 1, size, file.get()) == size;
  };
  const bool complete = Perform(url, TMethod::Get, sink);
  const bool closed = std::fclose(file.release()) == 0;
  return complete && closed;
}

void TWebStuff::Disconnect() {
  if (transferring_) disconnecting_ = true;
}

bool TWebStuff::Perform(const std::string &url, TMethod method, const TSink &sink) {
  // The transport is made on the first request, on the thread that makes it:
  // a client that is created but never used costs no network set-up.
  if (!curl_) {
    curl_ = curl_easy_init();
    if (!curl_) throw std::runtime_error("Cannot create the HTTP transport");
  }
  CURL *curl = curl_;
  curl_easy_reset(curl);

  THeaderList headers;
  headers.Add("Accept: text/html, */*");
  headers.Add("Expect:");
  if (method == TMethod::Post) headers.Add("Content-Type: " + form_.ContentType());
  for (const std::string &line : extraHeaders_) headers.Add(line);
  THeaderList proxyHeaders;
  proxyHeaders.Add("Proxy-Connection:");

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.Get());
  curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.Get());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, handleRedirects_ ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(deadline_.count()));
  // A client keeps no connection open once its request is over.
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);

  // The proxy from the store, or none; the environment's proxy settings never apply.
  if (!proxyHost_.empty() && proxyPort_ > 0) {
    curl_easy_setopt(curl, CURLOPT_PROXY, proxyHost_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxyPort_));
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  } else {
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
  }

  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &TWebStuff::OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &TWebStuff::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TWebStuff::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &TWebStuff::OnConnected);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);

  if (method == TMethod::Post) {
    form_.Finish();
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form_.Size()));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &TWebStuff::OnUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }

  sink_ = &sink;
  transferring_ = true;
  disconnecting_ = false;
  timedOut_ = false;
  expected_ = lastDown_ = lastUp_ = 0;
  lastActivity_ = std::chrono::steady_clock::now();
  if (method == TMethod::Post && onWorkBegin_) {
    onWorkBegin_(TWorkMode::Write, static_cast<int64_t>(form_.Size()));
  }
  const CURLcode result = curl_easy_perform(curl);
  transferring_ = false;
  disconnecting_ = false;
  sink_ = nullptr;

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  lastStatus_ = status;
  // A redirect that was not followed is no answer.
  if (status >= 300)
    lastOutcome_ = TWebOutcome::Refused;
  else if (result == CURLE_OK && status >= 200)
    lastOutcome_ = TWebOutcome::Answered;
  else if (timedOut_ || result == CURLE_OPERATION_TIMEDOUT)
    lastOutcome_ = TWebOutcome::TimedOut;
  else if (result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_HOST ||
           result == CURLE_COULDNT_RESOLVE_PROXY)
    lastOutcome_ = TWebOutcome::Unreachable;
  else
    lastOutcome_ = TWebOutcome::Failed;
  return lastOutcome_ == TWebOutcome::Answered;
}

std::size_t TWebStuff::OnBody(char *data, std::size_t size, std::size_t count, void *self) {
  auto *web = static_cast<TWebStuff *>(self);
  const std::size_t bytes = size * count;
  web->lastActivity_ = std::chrono::steady_clock::now();
  if (web->disconnecting_ || !(*web->sink_)(data, bytes)) return 0; // breaks the transfer off
  return bytes;
}

std::size_t TWebStuff::OnHeader(char *data, std::size_t size, std::size_t count, void *self) {
  auto *web = static_cast<TWebStuff *>(self);
  const std::size_t bytes = size * count;
  const std::string_view line(data, bytes);
  web->lastActivity_ = std::chrono::steady_clock::now();
  if (StartsWithCaseless(line, "HTTP/")) {
    web->expected_ = 0; // a new response (after a redirect) starts counting afresh
  } else if (StartsWithCaseless(line, "Content-Length:")) {
    int64_t length = 0;
    const std::string value = TrimControl(line.substr(15));
    if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
        value.size() < 19)
      length = std::stoll(value);
    web->expected_ = length;
  } else if (line == "\r\n" || line == "\n") {
    // The headers are over: the body's transfer begins.
    web->lastDown_ = 0;
    if (web->onWorkBegin_) web->onWorkBegin_(TWorkMode::Read, web->expected_);
  }
  return web->disconnecting_ ? 0 : bytes;
}

std::size_t TWebStuff::OnUpload(char *buffer, std::size_t size, std::size_t count, void *self) {
  auto *web = static_cast<TWebStuff *>(self);
  if (web->disconnecting_) return CURL_READFUNC_ABORT;
  return web->form_.Read(buffer, size * count);
}

int TWebStuff::OnConnected(void *self, char *, char *, int, int) {
  static_cast<TWebStuff *>(self)->lastActivity_ = std::chrono::steady_clock::now();
  return CURL_PREREQFUNC_OK;
}

// Runs often during a transfer, and at least once a second while it waits:
// the progress handlers and the read time-out live here.
int TWebStuff::OnProgress(void *self, int64_t, int64_t downNow, int64_t, int64_t upNow) {
  auto *web = static_cast<TWebStuff *>(self);
  const auto now = std::chrono::steady_clock::now();
  if (upNow != web->lastUp_ || downNow != web->lastDown_)
    web->lastActivity_ = now;
  else if (now - web->lastActivity_ > web->readTimeout_) {
    web->timedOut_ = true;
    return 1;
  }
  if (upNow != web->lastUp_) {
    web->lastUp_ = upNow;
    if (web->onWork_) web->onWork_(TWorkMode::Write, upNow);
  }
  if (downNow != web->lastDown_) {
    web->lastDown_ = downNow;
    if (web->onWork_) web->onWork_(TWorkMode::Read, downNow);
  }
  return web->disconnecting_ || (web->cancel_ && web->cancel_->load()) ? 1 : 0;
}

} // namespace sonabox
