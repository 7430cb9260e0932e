#include "SonaboxServer.h"

#include "Feed.h"
#include "core/common/TextHelpers.h"

#include <httplib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <regex>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

constexpr const char *kUsage =
    "usage: sonabox-server --library DIR [--data DIR] [--assets DIR]\n"
    "                      [--update-key FILE] [--latest-build N]\n"
    "                      [--feed-port N] [--web-port N] [--service-port N]\n"
    "                      [--bind ADDR] [--web-host HOST:PORT]\n"
    "\n"
    "Serves the videos of a library folder to Sonabox: a searchable video feed,\n"
    "the videos and thumbnails, and the share and update service.\n"
    "\n"
    "  --library DIR       the video folder; its first-level folders are categories\n"
    "  --data DIR          catalogue, thumbnails and outbox (default\n"
    "                      $XDG_DATA_HOME/Tarnwell/sonabox-server)\n"
    "  --assets DIR        files served under /assets/, among them the installer\n"
    "                      \"Sonabox.run\" (default DATA/assets)\n"
    "  --update-key FILE   Ed25519 private key (PEM) that signs the update answer\n"
    "  --latest-build N    the newest build offered (default 40: no update)\n"
    "  --feed-port N       video data feed (default 8471; 0 picks a free port)\n"
    "  --web-port N        videos, thumbnails and watch pages (default 8472)\n"
    "  --service-port N    share and update service (default 8473)\n"
    "  --bind ADDR         the address listened on (default 127.0.0.1)\n"
    "  --web-host HOST:PORT  the web host written into feed entries, as the\n"
    "                      program is configured to reach it (default ADDR:web-port)\n"
    "  --help              this text\n"
    "\n"
    "A rescan of the library runs at start, every minute and on SIGHUP.\n";

std::optional<int64_t> ReadNumber(const std::string &text, int64_t low, int64_t high) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    return std::nullopt;
  return value;
}

// A log line shows what arrived, with control bytes made visible as "?".
std::string Printable(std::string_view text) {
  std::string out(text.substr(0, 300));
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  if (text.size() > 300) out += "...";
  return out;
}

bool IsAssetName(const std::string &name) {
  static const std::regex pattern("[A-Za-z0-9][A-Za-z0-9._-]{0,127}");
  return std::regex_match(name, pattern) && name.find("..") == std::string::npos;
}

// Whether `file` resolves (through every link) to a place below `folder`.
bool InsideFolder(const fs::path &folder, const fs::path &file) {
  std::error_code error;
  const fs::path base = fs::canonical(folder, error);
  if (error) return false;
  const fs::path target = fs::canonical(file, error);
  if (error) return false;
  const auto [end, rest] = std::mismatch(base.begin(), base.end(), target.begin(), target.end());
  return end == base.end() && rest != target.end();
}

void Refuse(httplib::Response &res, int status) {
  res.status = status;
  res.set_content("ERROR", "text/plain");
}

class TFileHandle {
public:
  explicit TFileHandle(int fd) : fd_(fd) {}
  ~TFileHandle() { ::close(fd_); }
  TFileHandle(const TFileHandle &) = delete;
  TFileHandle &operator=(const TFileHandle &) = delete;
  int Get() const { return fd_; }

private:
  int fd_;
};

// Answers a regular file with byte ranges: one range is answered 206 with
// Content-Range, a range past the end 416; several ranges are answered with
// the whole file. Returns the first byte sent, or -1 when nothing is sent.
int64_t ServeFile(const httplib::Request &req, httplib::Response &res, const fs::path &file,
                  const std::string &mediaType) {
  // The HTTP library would apply the request's ranges again to whatever is
  // answered, and it trusts ranges that lie beyond the end of the content;
  // the ranges are answered here instead.
  const httplib::Ranges ranges = req.ranges;
  const_cast<httplib::Request &>(req).ranges.clear();

  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    Refuse(res, 404);
    return -1;
  }
  auto handle = std::make_shared<TFileHandle>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Refuse(res, 404);
    return -1;
  }
  const int64_t size = info.st_size;
  int64_t first = 0, last = size - 1;
  res.set_header("Accept-Ranges", "bytes");
  if (ranges.size() == 1) {
    const auto [from, to] = ranges.front();
    bool satisfiable = true;
    if (from < 0) { // the last `to` bytes
      satisfiable = to > 0 && size > 0;
      first = std::max<int64_t>(0, size - to);
    } else {
      satisfiable = from < size;
      first = from;
      if (to >= 0) last = std::min<int64_t>(to, size - 1);
    }
    if (!satisfiable) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      return -1;
    }
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                        "/" + std::to_string(size));
  }
  const int64_t length = last - first + 1;
  if (length <= 0) {
    res.set_content("", mediaType);
    return 0;
  }
  res.set_content_provider(
      static_cast<std::size_t>(length), mediaType,
      [handle, first](std::size_t offset, std::size_t want, httplib::DataSink &sink) {
        char buffer[1 << 16];
        const ssize_t got = ::pread(handle->Get(), buffer, std::min(want, sizeof buffer),
                                    static_cast<off_t>(first + static_cast<int64_t>(offset)));
        if (got <= 0) return false; // the file shrank: end the answer
        return sink.write(buffer, static_cast<std::size_t>(got));
      });
  return first;
}

std::string HostText(const std::string &address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

} // namespace

fs::path DefaultDataFolder() {
  const char *data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data && *data) {
    base = data;
  } else {
    const char *home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".local" / "share";
  }
  return base / "Tarnwell" / "sonabox-server";
}

TCommandLine ParseCommandLine(const std::vector<std::string> &arguments) {
  TCommandLine result;
  TServerOptions options;
  bool dataGiven = false, assetsGiven = false;
  auto fail = [&](const std::string &message) {
    result.Message = "sonabox-server: " + message + "\n" + kUsage;
    return result;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i], value;
    if (name == "--help" || name == "-h") {
      result.Help = true;
      result.Message = kUsage;
      return result;
    }
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return fail(name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name);
    }
    auto port = [&](int &target) {
      const auto number = ReadNumber(value, 0, 65535);
      if (number) target = static_cast<int>(*number);
      return number.has_value();
    };
    if (name == "--library") {
      options.Library = value;
    } else if (name == "--data") {
      options.Data = value;
      dataGiven = true;
    } else if (name == "--assets") {
      options.Assets = value;
      assetsGiven = true;
    } else if (name == "--update-key") {
      options.UpdateKey = value;
    } else if (name == "--latest-build") {
      const auto number = ReadNumber(value, 0, std::numeric_limits<int32_t>::max());
      if (!number) return fail("--latest-build wants a whole number");
      options.LatestBuild = *number;
    } else if (name == "--feed-port") {
      if (!port(options.FeedPort)) return fail("--feed-port wants a port number");
    } else if (name == "--web-port") {
      if (!port(options.WebPort)) return fail("--web-port wants a port number");
    } else if (name == "--service-port") {
      if (!port(options.ServicePort)) return fail("--service-port wants a port number");
    } else if (name == "--bind") {
      options.Bind = value;
    } else if (name == "--web-host") {
      options.WebHost = value;
    } else {
      return fail("unknown option " + name);
    }
  }
  if (options.Library.empty()) return fail("--library is required");
  if (!dataGiven) options.Data = DefaultDataFolder();
  if (!assetsGiven) options.Assets = options.Data / "assets";
  result.Options = std::move(options);
  return result;
}

namespace {
TServerOptions WithDataFolder(TServerOptions options) {
  fs::create_directories(options.Data / "thumbnails");
  return options;
}
} // namespace

TSonaboxServer::TSonaboxServer(TServerOptions options)
    : options_(WithDataFolder(std::move(options))),
      database_((options_.Data / "sonabox-server.db").string()), catalogue_(database_),
      shares_(database_),
      updates_(options_.LatestBuild, options_.Assets / "Sonabox.run",
               options_.UpdateKey.empty() ? nullptr
                                          : std::make_unique<TUpdateSigner>(options_.UpdateKey)) {}

TSonaboxServer::~TSonaboxServer() { Stop(); }

void TSonaboxServer::Log(const std::string &line) {
  if (!options_.Log) return;
  std::lock_guard lock(logMutex_);
  options_.Log(line);
}

TScanReport TSonaboxServer::Rescan() {
  std::lock_guard lock(scanMutex_);
  return ScanLibrary(catalogue_, options_.Library, options_.Data / "thumbnails",
                     options_.Log ? TLogLine([this](const std::string &line) { Log(line); })
                                  : TLogLine());
}

void TSonaboxServer::Configure(httplib::Server &server, const char *role) {
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(kMaxRequestBody);
  server.set_keep_alive_max_count(100);
  server.set_exception_handler(
      [this, role](const httplib::Request &req, httplib::Response &res, std::exception_ptr error) {
        std::string what = "unknown error";
        try {
          std::rethrow_exception(error);
        } catch (const std::exception &e) {
          what = e.what();
        } catch (...) {}
        Log(std::string(role) + " error on " + Printable(req.target) + ": " + what);
        res.status = 500;
        res.set_content("ERROR", "text/plain");
      });
  if (options_.Log)
    server.set_logger([this, role](const httplib::Request &req, const httplib::Response &res) {
      const std::string length = res.get_header_value("Content-Length");
      Log(std::string(role) + " " + req.remote_addr + " \"" + req.method + " " +
          Printable(req.target) + "\" " + std::to_string(res.status) + " " +
          (length.empty() ? std::to_string(res.body.size()) : length));
    });
}

void TSonaboxServer::RouteFeed(httplib::Server &server) {
  server.Get(R"(/feeds/api/videos(?:/-/([^/]+))?)", [this](const httplib::Request &req,
                                                           httplib::Response &res) {
    const std::optional<TFeedQuery> query = ParseFeedQuery(req.target);
    if (!query) {
      res.status = 400;
      res.set_content("start-index and max-results are whole numbers from 1\n", "text/plain");
      return;
    }
    const TFeedPage page = catalogue_.Search(req.matches[1].str(), query->Keywords,
                                             query->StartIndex, query->MaxResults);
    res.set_content(WriteFeed(page, *query, webHost_), "application/atom+xml; charset=UTF-8");
  });
}

void TSonaboxServer::RouteWeb(httplib::Server &server) {
  server.Get(R"(/t/([A-Za-z0-9_-]{1,16})\.jpg)",
             [this](const httplib::Request &req, httplib::Response &res) {
               ServeFile(req, res, options_.Data / "thumbnails" / (req.matches[1].str() + ".jpg"),
                         "image/jpeg");
             });

  // The player address is "/v/ID&autoplay=1": a path, not a query.
  server.Get(R"(/v/([A-Za-z0-9_-]{1,16})(&[^/]*)?)",
             [this](const httplib::Request &req, httplib::Response &res) {
               const auto video = catalogue_.Find(req.matches[1].str());
               const fs::path file = video ? options_.Library / video->RelPath : fs::path();
               if (!video || !InsideFolder(options_.Library, file)) {
                 const_cast<httplib::Request &>(req).ranges.clear();
                 Refuse(res, 404);
                 return;
               }
               // A play is counted when the stream starts, not at every seek.
               if (ServeFile(req, res, file, MediaTypeFor(file)) == 0 && req.method == "GET")
                 catalogue_.AddView(video->Id);
             });

  server.Get("/watch", [this](const httplib::Request &req, httplib::Response &res) {
    const auto video = catalogue_.Find(req.get_param_value("v"));
    if (!video) {
      res.status = 404;
      res.set_content("<!DOCTYPE html><html><body><p>No such video.</p></body></html>\n",
                      "text/html; charset=UTF-8");
      return;
    }
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    AppendXmlEscaped(page, video->Title);
    page += "</title></head>\n<body style=\"font-family: sans-serif\"><h1>";
    AppendXmlEscaped(page, video->Title);
    page += "</h1>\n<video src=\"/v/" + video->Id +
            "\" controls autoplay width=\"640\" height=\"480\"></video>\n<p>";
    AppendXmlEscaped(page, video->Description);
    page += "</p>\n<p>" + SecondsToText(std::to_string(video->Seconds)) + ", " +
            std::to_string(video->Views) + " views";
    if (!video->Category.empty()) {
      page += ", ";
      AppendXmlEscaped(page, video->Category);
    }
    page += "</p>\n</body></html>\n";
    res.set_content(page, "text/html; charset=UTF-8");
  });
}

void TSonaboxServer::RouteService(httplib::Server &server) {
  // Form fields arrive as multipart parts or, from other clients, URL-encoded.
  auto field = [](const httplib::Request &req) {
    return [&req](std::string_view name) -> std::optional<std::string> {
      const std::string key(name);
      if (req.has_file(key)) return req.get_file_value(key).content;
      if (req.has_param(key)) return req.get_param_value(key);
      return std::nullopt;
    };
  };

  server.Post(
      "/interface/share.php", [this, field](const httplib::Request &req, httplib::Response &res) {
        const TShareReading reading = ReadShare(field(req));
        switch (reading.Verdict) {
        case TShareVerdict::Accepted: break;
        case TShareVerdict::TooLong: Refuse(res, 413); break;
        case TShareVerdict::HashMismatch: Refuse(res, 403); break;
        case TShareVerdict::Malformed: Refuse(res, 400); break;
        }
        if (reading.Verdict != TShareVerdict::Accepted) {
          Log("service refused a share: " + reading.Reason);
          return;
        }
        const std::string code = shares_.Store(reading.Share);
        try {
          const fs::path mail = WriteShareMail(options_.Data / "outbox", reading.Share, code);
          Log("service stored share " + code + ", notification " + mail.string());
        } catch (const std::exception &e) {
          // The share is kept: the code still reaches the sender.
          Log("service stored share " + code + " but wrote no notification: " + e.what());
        }
        res.set_content(code, "text/plain");
      });

  server.Post("/interface/getshare.php",
              [this, field](const httplib::Request &req, httplib::Response &res) {
                const std::optional<std::string> code = field(req)("share_key");
                if (!code) {
                  Refuse(res, 400);
                  return;
                }
                const std::optional<TShare> share = shares_.Find(*code);
                if (!share) {
                  Refuse(res, 404);
                  return;
                }
                res.set_content(Base64Encode(ShareAnswerText(*share)), "text/plain");
              });

  server.Get("/interface/updates.php", [this](const httplib::Request &, httplib::Response &res) {
    res.set_content(updates_.Answer(), "text/plain");
  });

  server.Get(R"(/assets/([^/]+))", [this](const httplib::Request &req, httplib::Response &res) {
    const std::string name = req.matches[1].str();
    const fs::path file = options_.Assets / name;
    if (!IsAssetName(name) || !InsideFolder(options_.Assets, file)) {
      const_cast<httplib::Request &>(req).ranges.clear();
      Refuse(res, 404);
      return;
    }
    ServeFile(req, res, file,
              IsVideoFileName(file) ? MediaTypeFor(file) : "application/octet-stream");
  });
}

void TSonaboxServer::Start() {
  struct TRole {
    std::unique_ptr<httplib::Server> &Server;
    int Wanted;
    int &Port;
    const char *Name;
    void (TSonaboxServer::*Route)(httplib::Server &);
  };
  TRole roles[] = {
      {feed_, options_.FeedPort, feedPort_, "feed", &TSonaboxServer::RouteFeed},
      {web_, options_.WebPort, webPort_, "web", &TSonaboxServer::RouteWeb},
      {service_, options_.ServicePort, servicePort_, "service", &TSonaboxServer::RouteService}};
  for (TRole &role : roles) {
    role.Server = std::make_unique<httplib::Server>();
    Configure(*role.Server, role.Name);
    (this->*role.Route)(*role.Server);
    if (role.Wanted == 0)
      role.Port = role.Server->bind_to_any_port(options_.Bind);
    else
      role.Port = role.Server->bind_to_port(options_.Bind, role.Wanted) ? role.Wanted : -1;
    if (role.Port <= 0)
      throw std::runtime_error(std::string("cannot listen for the ") + role.Name + " on " +
                               options_.Bind + ":" + std::to_string(role.Wanted));
  }
  webHost_ = options_.WebHost.empty() ? HostText(options_.Bind) + ":" + std::to_string(webPort_)
                                      : options_.WebHost;
  // Stop only ends a server that runs: wait until each runs (or has ended).
  for (TRole &role : roles) {
    httplib::Server *server = role.Server.get();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    threads_.emplace_back([server, ended] {
      server->listen_after_bind();
      *ended = true;
    });
    while (!server->is_running() && !*ended) std::this_thread::yield();
  }
}

void TSonaboxServer::Stop() {
  for (auto *server : {feed_.get(), web_.get(), service_.get()})
    if (server) server->stop();
  for (std::thread &thread : threads_) thread.join();
  threads_.clear();
}

} // namespace sonabox::server
