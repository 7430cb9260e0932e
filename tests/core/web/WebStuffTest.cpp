#include "core/web/WebStuff.h"

#include "core/settings/Settings.h"
#include "support/LocalHttpServer.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace sonabox;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Headers that cpp-httplib adds to a request by itself.
bool AddedByServer(const std::string &name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// A chunked answer that sends `pieces` pieces of `size` bytes, `pause` apart.
void SendPieces(httplib::Response &res, int pieces, std::size_t size,
                std::chrono::milliseconds pause) {
  res.set_chunked_content_provider(
      "application/octet-stream",
      [pieces, size, pause, sent = 0](std::size_t, httplib::DataSink &sink) mutable {
        if (sent == pieces) {
          sink.done();
          return true;
        }
        if (sent > 0) std::this_thread::sleep_for(pause);
        const std::string piece(size, 'a');
        ++sent;
        return sink.write(piece.data(), piece.size());
      });
}

class WebStuffTest : public ::testing::Test {
protected:
  test::TestFolders folders; // a private store: no proxy unless a test sets one
  test::LocalHttpServer server;
};

} // namespace

TEST_F(WebStuffTest, GetTextNormalisesLinesAndTrims) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\nb", "a\r\nb"},
      {"  word  \r\n", "word"},
      {"x\ry\r\nz\n", "x\r\ny\r\nz"},
      {"a\n\nb", "a\r\n\r\nb"},
      {std::string("cut\0here", 8), "cut"},
      {"\t\x01 text \x1f", "text"},
      {"  \r\n \t ", "ERROR"}, // only blanks
      {"", "ERROR"},
  };
  std::size_t index = 0;
  server.Http().Get("/body", [&](const httplib::Request &, httplib::Response &res) {
    res.set_content(cases[index].first, "text/plain");
  });
  server.Start();
  for (index = 0; index < std::size(cases); ++index) {
    TWebStuff web;
    EXPECT_EQ(web.GetText(server.Url("/body")), cases[index].second) << "case " << index;
  }
}

TEST_F(WebStuffTest, GetTextFailuresAnswerError) {
  server.Http().Get("/status/(\\d+)", [](const httplib::Request &req, httplib::Response &res) {
    res.status = std::stoi(req.matches[1]);
    res.set_content("some body", "text/plain");
  });
  // A redirect that leaves http and https behind.
  server.Http().Get("/to-file", [](const httplib::Request &, httplib::Response &res) {
    res.set_redirect("file:///etc/hostname");
  });
  server.Start();
  const struct {
    std::string url;
    TWebOutcome outcome;
    long status;
  } cases[] = {
      {server.Url("/status/404"), TWebOutcome::Refused, 404},
      {server.Url("/status/500"), TWebOutcome::Refused, 500},
      {server.Url("/status/304"), TWebOutcome::Refused, 304}, // a 3xx without an address to follow
      {server.Url("/to-file"), TWebOutcome::Refused, 302},
      {"file:///etc/hostname", TWebOutcome::Failed, 0},
      {"http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/", TWebOutcome::Unreachable, 0},
  };
  for (const auto &c : cases) {
    TWebStuff web;
    EXPECT_EQ(web.GetText(c.url), "ERROR") << c.url;
    EXPECT_EQ(web.LastOutcome(), c.outcome) << c.url;
    EXPECT_EQ(web.LastStatus(), c.status) << c.url;
  }
}

TEST_F(WebStuffTest, GetTextFollowsUpToFourteenRedirects) {
  server.Http().Get("/hop/(\\d+)", [this](const httplib::Request &req, httplib::Response &res) {
    const int left = std::stoi(req.matches[1]);
    if (left == 0)
      res.set_content("final page", "text/plain");
    else
      res.set_redirect(server.Url("/hop/" + std::to_string(left - 1)));
  });
  server.Start();
  const std::pair<int, std::string> cases[] = {
      {2, "final page"}, {14, "final page"}, {15, "ERROR"}};
  for (const auto &[hops, expected] : cases) {
    TWebStuff web;
    EXPECT_EQ(web.GetText(server.Url("/hop/" + std::to_string(hops))), expected) << hops;
  }
}

TEST_F(WebStuffTest, RequestsCarryOnlyTheirOwnHeaders) {
  std::mutex mutex;
  httplib::Request seenGet, seenPost;
  server.Http().Get("/get", [&](const httplib::Request &req, httplib::Response &res) {
    const std::lock_guard lock(mutex);
    seenGet = req;
    res.set_content("ok", "text/plain");
  });
  test::FormFields fields;
  server.Http().Post("/post", [&](const httplib::Request &req, httplib::Response &res,
                                  const httplib::ContentReader &read) {
    const std::lock_guard lock(mutex);
    seenPost = req;
    fields = test::ReadFormFields(read);
    res.set_content("  posted\r\nanswer \r\n", "text/plain");
  });
  server.Start();

  TWebStuff getter;
  EXPECT_EQ(getter.GetText(server.Url("/get")), "ok");
  TWebStuff poster;
  poster.AddField("share_key", "ABC");
  poster.AddField("note", "a \"quoted\" note");
  // A post is only trimmed: its inner line break stays as it came.
  EXPECT_EQ(poster.PostForm(server.Url("/post?123")), "posted\r\nanswer");

  const std::lock_guard lock(mutex);
  EXPECT_EQ(seenGet.version, "HTTP/1.1");
  EXPECT_EQ(seenPost.version, "HTTP/1.0");
  for (const httplib::Request *req : {&seenGet, &seenPost}) {
    EXPECT_EQ(req->get_header_value("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(req->get_header_value("Accept"), "text/html, */*");
    for (const auto &[name, value] : req->headers) {
      if (AddedByServer(name)) continue;
      const bool allowed =
          name == "Host" || name == "User-Agent" || name == "Accept" ||
          (req == &seenPost && (name == "Content-Type" || name == "Content-Length"));
      EXPECT_TRUE(allowed) << req->method << " sent " << name << ": " << value;
    }
  }

  // The post's body is the multipart form with the boundary of its Content-Type.
  const std::string contentType = seenPost.get_header_value("Content-Type");
  const std::string prefix = "multipart/form-data; boundary=";
  ASSERT_EQ(contentType.substr(0, prefix.size()), prefix);
  const std::string boundary = contentType.substr(prefix.size());
  EXPECT_EQ(boundary.size(), 42u);
  const std::string expected = "--" + boundary +
                               "\r\nContent-Disposition: form-data; name=\"share_key\"\r\n\r\nABC"
                               "\r\n--" +
                               boundary +
                               "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\n"
                               "a \"quoted\" note\r\n--" +
                               boundary + "--\r\n";
  EXPECT_EQ(seenPost.get_header_value("Content-Length"), std::to_string(expected.size()));
  EXPECT_EQ(fields, (test::FormFields{{"share_key", "ABC"}, {"note", "a \"quoted\" note"}}));
  EXPECT_EQ(seenPost.target, "/post?123");
}

TEST_F(WebStuffTest, PostFormFailures) {
  std::atomic<int> finalHits{0};
  server.Http().Post("/moved", [this](const httplib::Request &, httplib::Response &res) {
    res.set_redirect(server.Url("/final"));
  });
  server.Http().Post("/final", [&](const httplib::Request &, httplib::Response &res) {
    ++finalHits;
    res.set_content("final", "text/plain");
  });
  server.Http().Post("/blank", [](const httplib::Request &, httplib::Response &res) {
    res.set_content(" \r\n ", "text/plain");
  });
  server.Http().Post("/refused", [](const httplib::Request &, httplib::Response &res) {
    res.status = 403;
    res.set_content("refused", "text/plain");
  });
  server.Start();
  for (const char *path : {"/moved", "/blank", "/refused"}) {
    TWebStuff web;
    web.AddField("share_key", "ABC");
    EXPECT_EQ(web.PostForm(server.Url(path)), "ERROR") << path;
  }
  EXPECT_EQ(finalHits, 0); // the redirect was not followed
}

TEST_F(WebStuffTest, RedirectFollowingStaysOnAfterGetText) {
  server.Http().Get("/page", [](const httplib::Request &, httplib::Response &res) {
    res.set_content("page", "text/plain");
  });
  server.Http().Get("/moved", [this](const httplib::Request &, httplib::Response &res) {
    res.set_redirect(server.Url("/page"));
  });
  server.Start();
  const std::string file = folders.Root() + "moved.bin";
  {
    TWebStuff fresh;
    EXPECT_FALSE(fresh.DownloadToFile(server.Url("/moved"), file));
  }
  TWebStuff web;
  EXPECT_EQ(web.GetText(server.Url("/page")), "page");
  EXPECT_TRUE(web.DownloadToFile(server.Url("/moved"), file));
  EXPECT_EQ(test::ReadFileBytes(file), "page");
}

TEST_F(WebStuffTest, AStalledReadGivesUpButASlowOneDoesNot) {
  std::atomic<bool> released{false};
  server.Http().Get("/stalled", [&](const httplib::Request &, httplib::Response &res) {
    res.set_chunked_content_provider(
        "text/plain", [&, sent = false](std::size_t, httplib::DataSink &sink) mutable {
          if (!sent) {
            sent = true;
            return sink.write("partial", 7);
          }
          // Nothing more until the test is over.
          for (int i = 0; i < 1000 && !released; ++i) std::this_thread::sleep_for(10ms);
          return false;
        });
  });
  // Eight pieces 150 ms apart: longer than the time-out in all, never silent that long.
  server.Http().Get("/slow", [](const httplib::Request &, httplib::Response &res) {
    SendPieces(res, 8, 10, 150ms);
  });
  server.Start();

  TWebStuff stalled;
  stalled.SetReadTimeout(500ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(stalled.GetText(server.Url("/stalled")), "ERROR");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(stalled.LastOutcome(), TWebOutcome::TimedOut);
  released = true;

  TWebStuff slow;
  slow.SetReadTimeout(500ms);
  EXPECT_EQ(slow.GetText(server.Url("/slow")), std::string(80, 'a'));
  EXPECT_EQ(slow.LastOutcome(), TWebOutcome::Answered);
}

// A service that drips a byte every 100 ms never trips the read time-out: only
// the overall deadline ends the exchange, for a GET and a POST alike.
TEST_F(WebStuffTest, ADeadlineEndsAnExchangeThatDripsForEver) {
  server.Http().Get("/drip", [](const httplib::Request &, httplib::Response &res) {
    SendPieces(res, 30, 1, 100ms);
  });
  server.Http().Post("/drip", [](const httplib::Request &, httplib::Response &res) {
    SendPieces(res, 30, 1, 100ms);
  });
  server.Start();

  for (const bool post : {false, true}) {
    SCOPED_TRACE(post ? "POST" : "GET");
    TWebStuff web;
    web.SetReadTimeout(500ms);
    web.SetDeadline(1s);
    web.AddField("a", "b");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(post ? web.PostForm(server.Url("/drip")) : web.GetText(server.Url("/drip")), "ERROR");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2500ms) << "three seconds of dripping were not waited for";
  }
  // Without a deadline the same drip is read to its end.
  TWebStuff patient;
  patient.SetReadTimeout(500ms);
  EXPECT_EQ(patient.GetText(server.Url("/drip")), std::string(30, 'a'));
}

TEST_F(WebStuffTest, TextAnswersAreLimitedTo32MiB) {
  constexpr std::size_t kLimit = std::size_t{32} << 20;
  server.Http().Get("/big/(\\d+)", [](const httplib::Request &req, httplib::Response &res) {
    const std::size_t total = std::stoull(req.matches[1]);
    res.set_chunked_content_provider(
        "text/plain", [total, sent = std::size_t{0}](std::size_t, httplib::DataSink &sink) mutable {
          if (sent == total) {
            sink.done();
            return true;
          }
          const std::string piece(std::min<std::size_t>(total - sent, 1 << 20), 'z');
          sent += piece.size();
          return sink.write(piece.data(), piece.size());
        });
  });
  server.Http().Post("/big", [](const httplib::Request &, httplib::Response &res) {
    SendPieces(res, 33, 1 << 20, 0ms);
  });
  server.Start();
  TWebStuff atLimit;
  EXPECT_EQ(atLimit.GetText(server.Url("/big/" + std::to_string(kLimit))).size(), kLimit);
  TWebStuff over;
  EXPECT_EQ(over.GetText(server.Url("/big/" + std::to_string(kLimit + 1))), "ERROR");
  TWebStuff post; // the same limit for a post's answer
  EXPECT_EQ(post.PostForm(server.Url("/big")), "ERROR");
}

TEST_F(WebStuffTest, DownloadWritesTheWholeBody) {
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload += static_cast<char>(i * 7 % 256); // NULs included
  server.Http().Get("/file", [&](const httplib::Request &, httplib::Response &res) {
    res.set_content(payload, "application/octet-stream");
  });
  server.Start();
  const std::string file = folders.Root() + "file.bin";
  test::WriteFileBytes(file, "old content that must go");

  TWebStuff web;
  std::vector<std::pair<TWorkMode, int64_t>> begins;
  int64_t lastCount = 0;
  web.SetOnWorkBegin([&](TWorkMode mode, int64_t count) { begins.emplace_back(mode, count); });
  web.SetOnWork([&](TWorkMode mode, int64_t count) {
    EXPECT_EQ(mode, TWorkMode::Read);
    EXPECT_GT(count, lastCount);
    lastCount = count;
  });
  EXPECT_TRUE(web.DownloadToFile(server.Url("/file?17"), file));
  EXPECT_EQ(test::ReadFileBytes(file), payload);
  ASSERT_EQ(begins.size(), 1u);
  EXPECT_EQ(begins[0].first, TWorkMode::Read);
  EXPECT_EQ(begins[0].second, static_cast<int64_t>(payload.size()));
  EXPECT_EQ(lastCount, static_cast<int64_t>(payload.size()));
}

TEST_F(WebStuffTest, FailedDownloadsLeaveTheFile) {
  server.Http().Get("/missing", [](const httplib::Request &, httplib::Response &res) {
    res.status = 404;
    res.set_content("not here", "text/plain");
  });
  // Announces 1000 bytes, sends 10 and hangs up.
  server.Http().Get("/short", [](const httplib::Request &, httplib::Response &res) {
    res.set_content_provider(1000, "application/octet-stream",
                             [](std::size_t offset, std::size_t, httplib::DataSink &sink) {
                               if (offset > 0) return false;
                               return sink.write("0123456789", 10);
                             });
  });
  server.Start();
  const std::string urls[] = {
      "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/Sonabox.exe",
      server.Url("/missing"),
      server.Url("/short"),
  };
  for (const std::string &url : urls) {
    const std::string file = folders.Root() + "failed.bin";
    test::WriteFileBytes(file, "old content");
    TWebStuff web;
    EXPECT_FALSE(web.DownloadToFile(url, file)) << url;
    EXPECT_TRUE(fs::exists(file)) << url;
    EXPECT_NE(test::ReadFileBytes(file), "old content") << url;
  }
  EXPECT_EQ(test::ReadFileBytes(folders.Root() + "failed.bin"), "0123456789");
}

TEST_F(WebStuffTest, DisconnectFromAProgressHandlerBreaksTheDownloadOff) {
  server.Http().Get("/slow", [](const httplib::Request &, httplib::Response &res) {
    SendPieces(res, 50, 1000, 20ms);
  });
  server.Start();
  const std::string file = folders.Root() + "stopped.bin";
  TWebStuff web;
  int works = 0;
  bool stop = true;
  web.SetOnWork([&](TWorkMode, int64_t count) {
    ++works;
    if (stop && count >= 2000) web.Disconnect();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(web.DownloadToFile(server.Url("/slow"), file));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms); // the whole answer takes ~1 s
  EXPECT_GT(works, 0);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_LT(test::ReadFileBytes(file).size(), 50000u);

  // Outside a transfer there is nothing to break off: the next request runs.
  web.Disconnect();
  stop = false;
  EXPECT_TRUE(web.DownloadToFile(server.Url("/slow"), file));
  EXPECT_EQ(test::ReadFileBytes(file).size(), 50000u);
}

TEST_F(WebStuffTest, ADownloadFileThatCannotBeCreatedSendsNoRequest) {
  std::atomic<int> hits{0};
  server.Http().Get("/file", [&](const httplib::Request &, httplib::Response &res) {
    ++hits;
    res.set_content("x", "text/plain");
  });
  server.Start();
  TWebStuff web;
  EXPECT_THROW(web.DownloadToFile(server.Url("/file"), folders.Root() + "no/such/folder/f.bin"),
               std::runtime_error);
  EXPECT_EQ(hits, 0);
}

// The proxy path, through a real tinyproxy on a port of its own.
class WebStuffProxyTest : public WebStuffTest {
protected:
  void SetUp() override {
    proxyPort = test::UnusedPort();
    const std::string config = folders.Root() + "tinyproxy.conf";
    test::WriteFileBytes(config, "Port " + std::to_string(proxyPort) +
                                     "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
                                     "LogLevel Critical\nMaxClients 16\n");
    proxy.setProcessChannelMode(QProcess::ForwardedChannels);
    proxy.start("tinyproxy", {"-d", "-c", QString::fromStdString(config)});
    ASSERT_TRUE(proxy.waitForStarted(5000)) << "tinyproxy cannot be started";
    // Ready once it accepts connections.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!httplib::Client("127.0.0.1", proxyPort).Get("/")) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "tinyproxy does not listen";
      std::this_thread::sleep_for(10ms);
    }
    // Answers the Via header that a proxy on the way adds.
    const auto via = [](const httplib::Request &req, httplib::Response &res) {
      res.set_content(req.get_header_value("Via") + "|", "text/plain");
    };
    server.Http().Get("/via", via);
    server.Http().Post("/via", via);
    server.Start();
  }
  void TearDown() override {
    proxy.kill();
    proxy.waitForFinished(5000);
  }

  QProcess proxy;
  int proxyPort = 0;
};

TEST_F(WebStuffProxyTest, BothValuesSendEveryRequestThroughTheProxy) {
  StoreWriteString("ProxyAddr", "127.0.0.1");
  StoreWriteString("ProxyPort", std::to_string(proxyPort));
  {
    TWebStuff web;
    EXPECT_NE(web.GetText(server.Url("/via")).find("tinyproxy"), std::string::npos);
  }
  {
    TWebStuff web;
    web.AddField("share_key", "ABC");
    EXPECT_NE(web.PostForm(server.Url("/via")).find("tinyproxy"), std::string::npos);
  }
  {
    TWebStuff web;
    const std::string file = folders.Root() + "via.txt";
    EXPECT_TRUE(web.DownloadToFile(server.Url("/via"), file));
    EXPECT_NE(test::ReadFileBytes(file).find("tinyproxy"), std::string::npos);
  }
}

TEST_F(WebStuffProxyTest, WithoutBothValuesRequestsGoDirect) {
  const std::string port = std::to_string(proxyPort);
  const struct {
    const char *addr;
    const char *port;
  } cases[] = {
      {"127.0.0.1", nullptr}, {nullptr, port.c_str()}, {"127.0.0.1", "0"},
      {"127.0.0.1", "-1"},    {"", port.c_str()},      {"127.0.0.1", "next door"},
  };
  // The environment's proxy never applies either.
  setenv("http_proxy", ("http://127.0.0.1:" + port).c_str(), 1);
  for (const auto &c : cases) {
    test::TestFolders own; // a fresh store
    if (c.addr) StoreWriteString("ProxyAddr", c.addr);
    if (c.port) StoreWriteString("ProxyPort", c.port);
    TWebStuff web;
    EXPECT_EQ(web.GetText(server.Url("/via")), "|")
        << (c.addr ? c.addr : "(none)") << " " << (c.port ? c.port : "(none)");
  }
  unsetenv("http_proxy");
}
