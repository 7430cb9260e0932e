// The server against hostile or broken clients, over raw loopback sockets: a
// flood of request headers, crowds of connections that trickle from one
// address or fill the port from many, a request head that never ends, and a
// client that spams shares. Another client, from the same loopback address or
// another one (127.0.0.x), is still served.
#include "ServerFixture.h"
#include "core/common/TextHelpers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace sonabox::test {
namespace {

// A TCP connection to 127.0.0.1:port from the given loopback address.
class TRawConnection {
public:
  TRawConnection(int port, const char *from = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    connected_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
                 ::connect(fd_, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0;
  }
  ~TRawConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  TRawConnection(const TRawConnection &) = delete;
  TRawConnection &operator=(const TRawConnection &) = delete;

  bool Connected() const { return connected_; }

  // False once the peer no longer takes bytes.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  // Whether the peer closes the connection within `wait`.
  bool ClosedByPeer(std::chrono::milliseconds wait) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return false;
    char byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
  }

  // Everything until the peer closes, an error, or `wait` without a byte.
  std::string ReadAll(std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    std::string out;
    char buffer[65536];
    for (;;) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) break;
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }

private:
  int fd_ = -1;
  bool connected_ = false;
};

// One request with "Connection: close", the whole answer as text.
std::string Exchange(int port, const char *from, const std::string &request) {
  TRawConnection connection(port, from);
  if (!connection.Connected() || !connection.Send(request)) return {};
  return connection.ReadAll();
}

std::string Get(int port, const char *from, const std::string &target) {
  return Exchange(port, from,
                  "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

int Status(const std::string &answer) {
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
  return std::atoi(answer.substr(9, 3).c_str());
}

std::string Body(const std::string &answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Whether the loopback answers from 127.0.0.2 (every Linux does; some
// sandboxes do not).
bool SecondLoopbackAddress(int port) {
  TRawConnection probe(port, "127.0.0.2");
  return probe.Connected();
}

TEST(HostileClientTest, AFloodOfHeadersIsCutOffAndMemoryStaysFlat) {
  TRunningServer running;
  const int port = running.Server().FeedPort();
  const int64_t before = ResidentBytes();

  TRawConnection flood(port);
  ASSERT_TRUE(flood.Connected());
  const std::string line = "X-Padding: " + std::string(1000, 'a') + "\r\n";
  std::string block = "GET /feeds/api/videos HTTP/1.1\r\nHost: x\r\n";
  while (block.size() < (64 << 10)) block += line;
  constexpr int64_t kFlood = int64_t{320} << 20;
  int64_t sent = 0;
  while (sent < kFlood && flood.Send(block)) sent += static_cast<int64_t>(block.size());
  EXPECT_LT(sent, kFlood) << "the server kept taking headers";
  const std::string answer = flood.ReadAll(std::chrono::milliseconds(2000));
  if (!answer.empty()) {
    EXPECT_EQ(Status(answer), 431) << answer.substr(0, 200);
  }

  EXPECT_LT(ResidentBytes() - before, int64_t{16} << 20) << "the headers were kept in memory";
  EXPECT_EQ(Status(Get(port, "127.0.0.1", "/feeds/api/videos")), 200) << "the server still answers";
}

// Room for `count` more descriptors: the soft limit raised toward the hard one.
bool RoomForDescriptors(rlim_t count) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur < count + 256) {
    limit.rlim_cur = std::min(limit.rlim_max, count + 256);
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur >= count + 256;
}

const std::string kUnfinishedRequest = "GET /feeds/api/videos HTTP/1.1\r\nHost: x\r\n";

TEST(HostileClientTest, TricklingConnectionsDoNotHoldUpAnotherClient) {
  TRunningServer running;
  std::vector<server::TCatalogueVideo> videos(1);
  videos[0].RelPath = "a.webm";
  videos[0].Title = "Answered";
  videos[0].Size = 1;
  running.Server().Catalogue().Apply(videos, {});
  const int port = running.Server().FeedPort();
  if (!SecondLoopbackAddress(port)) GTEST_SKIP() << "no second loopback address";

  // 200 requests begun and never finished, a byte at a time, from the
  // address that the program itself connects from: past the limit per
  // address, the sockets that waited longest make room, and clients from
  // that address and from another one are served.
  std::vector<std::unique_ptr<TRawConnection>> crowd;
  for (int i = 0; i < 200; ++i) crowd.push_back(std::make_unique<TRawConnection>(port));
  for (std::size_t byte = 0; byte < 3; ++byte) {
    for (auto &connection : crowd) connection->Send(kUnfinishedRequest.substr(byte, 1));
    for (const char *from : {"127.0.0.1", "127.0.0.2"}) {
      const std::string answer = Get(port, from, "/feeds/api/videos?vq=answered");
      EXPECT_EQ(Status(answer), 200) << "round " << byte << " from " << from;
      EXPECT_NE(answer.find("Answered"), std::string::npos);
    }
  }
  EXPECT_TRUE(crowd.front()->ClosedByPeer(std::chrono::seconds(2)))
      << "the socket that waited longest made room";
  EXPECT_FALSE(crowd.back()->ClosedByPeer(std::chrono::milliseconds(0)))
      << "the newest trickler is left alone while under the deadline";
  // The web and service ports are untouched by the crowd on the feed port.
  EXPECT_EQ(Status(Get(running.Server().ServicePort(), "127.0.0.1", "/interface/updates.php")),
            200);
}

TEST(HostileClientTest, AKeepAliveClientBetweenTwoRequestsKeepsItsConnection) {
  TRunningServer running;
  const int port = running.Server().FeedPort();
  const std::string request = "GET /feeds/api/videos HTTP/1.1\r\nHost: x\r\n\r\n";
  TRawConnection client(port);
  ASSERT_TRUE(client.Send(request));
  ASSERT_EQ(Status(client.ReadAll(std::chrono::milliseconds(500))), 200);
  // Sockets from the same address opened just after the answer, as many as
  // the address may hold: the client has waited longest for its next head,
  // yet within its grace, so the newest of the crowd make room among
  // themselves.
  std::vector<std::unique_ptr<TRawConnection>> crowd;
  for (unsigned i = 0; i < server::kConnectionsPerAddress; ++i)
    crowd.push_back(std::make_unique<TRawConnection>(port));
  // The room is made once the server has taken the whole crowd in, and only
  // then does the client ask again (asking earlier, it would be busy and
  // could not be the one closed).
  EXPECT_TRUE(crowd.front()->ClosedByPeer(std::chrono::seconds(2)));
  ASSERT_TRUE(client.Send(request));
  EXPECT_EQ(Status(client.ReadAll(std::chrono::milliseconds(500))), 200);
}

TEST(HostileClientTest, ThePortFilledFromTwelveAddressesStillTakesANewClient) {
  TRunningServer running;
  const int port = running.Server().FeedPort();
  if (!SecondLoopbackAddress(port)) GTEST_SKIP() << "no second loopback address";
  constexpr int kCrowd = 1100;
  // The crowd's sockets and the server's ends of them live in this process.
  if (!RoomForDescriptors(2 * kCrowd)) GTEST_SKIP() << "too few file descriptors allowed";

  std::vector<std::unique_ptr<TRawConnection>> crowd;
  for (int i = 0; i < kCrowd; ++i) {
    const std::string from = "127.0.0." + std::to_string(2 + i % 12);
    crowd.push_back(std::make_unique<TRawConnection>(port, from.c_str()));
    crowd.back()->Send(kUnfinishedRequest.substr(0, 1));
  }
  for (const char *from : {"127.0.0.1", "127.0.0.2"}) {
    EXPECT_EQ(Status(Get(port, from, "/feeds/api/videos")), 200) << from;
  }
  // The sockets that waited longest made room.
  int closed = 0;
  for (auto &connection : crowd) closed += connection->ClosedByPeer(std::chrono::milliseconds(0));
  EXPECT_GE(closed, kCrowd - static_cast<int>(server::kConnectionsPerPort));
  EXPECT_TRUE(crowd.front()->ClosedByPeer(std::chrono::seconds(2)));
}

TEST(HostileClientTest, ARequestHeadThatNeverEndsIsCutOffAtItsDeadline) {
  TRunningServer running;
  const int port = running.Server().FeedPort();
  TRawConnection slow(port);
  ASSERT_TRUE(slow.Connected());
  ASSERT_TRUE(slow.Send(kUnfinishedRequest));
  // A header line every second restarts the idle clock each time, never the
  // head's deadline.
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (int line = 0; !closed && line < int(server::kHeadDeadlineSeconds) + 5; ++line) {
    slow.Send("X-Line-" + std::to_string(line) + ": a\r\n");
    closed = slow.ClosedByPeer(std::chrono::seconds(1));
  }
  EXPECT_TRUE(closed) << "the head was still read after the deadline";
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::seconds(server::kHeadDeadlineSeconds - 1));
  EXPECT_EQ(Status(Get(port, "127.0.0.1", "/feeds/api/videos")), 200);
}

// A share as a URL-encoded form, its token and hash made as the program makes them.
std::string ShareForm(const std::string &title) {
  const std::string payload =
      "<entry><media:title type='plain'>" + title + "</media:title></entry>";
  const std::string from = "ann@example.org", to = "bob@example.org", note;
  const std::string token = Sha1Hex("01/02/2024 03:04:05" + title).substr(0, 20);
  const std::string hash = Sha1Hex(token + payload + from + to + "QWWQ") +
                           Sha1Hex(token + "Ann" + "Bob" + "GHHG") +
                           Sha1Hex(token + title + note + "UYYU");
  auto encoded = [](const std::string &text) {
    std::string out;
    for (const unsigned char c : text) {
      if (std::isalnum(c)) {
        out += static_cast<char>(c);
      } else {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        out += escape;
      }
    }
    return out;
  };
  return "hash=" + hash + "&token=" + token +
         "&receipt=&payload=" + encoded(Base64Encode(payload)) +
         "&note=&toName=Bob&toEmail=" + encoded(to) + "&fromName=Ann&fromEmail=" + encoded(from) +
         "&title=" + encoded(Base64Encode(title));
}

std::string PostShare(int port, const char *from, const std::string &title) {
  const std::string body = ShareForm(title);
  return Exchange(port, from,
                  "POST /interface/share.php?1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body);
}

// The seconds of an answer's Retry-After, or -1 without one.
int RetryAfter(const std::string &answer) {
  const std::size_t at = answer.find("\r\nRetry-After: ");
  return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + 15);
}

TEST(HostileClientTest, ShareSpamMeetsItsQuotaAndAnotherAddressStillShares) {
  TRunningServer running([](server::TServerOptions &options) {
    options.SharesPerHour = 3;
    options.MaxShares = 4;
    options.OutboxMax = 10;
  });
  const int port = running.Server().ServicePort();
  if (!SecondLoopbackAddress(port)) GTEST_SKIP() << "no second loopback address";

  struct TPost {
    const char *From;
    int Status;
    bool Kept; // the share is still there at the end
  };
  const std::vector<TPost> posts{
      {"127.0.0.1", 200, false}, // made room for 127.0.0.2's second share
      {"127.0.0.1", 200, false}, // made room for 127.0.0.3's share
      {"127.0.0.1", 200, true},  {"127.0.0.1", 429, false}, // its hour's quota
      {"127.0.0.2", 200, true},                             // the store is full from here on
      {"127.0.0.2", 200, true},                             // 1 held, fewer than 127.0.0.1's 3
      {"127.0.0.3", 200, true},                             // none held
      {"127.0.0.2", 429, false},                            // 2 held, as many as anyone
  };
  std::vector<std::string> codes;
  for (std::size_t i = 0; i < posts.size(); ++i) {
    SCOPED_TRACE(std::to_string(i) + " from " + posts[i].From);
    const std::string answer = PostShare(port, posts[i].From, "Spam " + std::to_string(i));
    ASSERT_EQ(Status(answer), posts[i].Status) << answer;
    if (posts[i].Status == 200) {
      codes.push_back(Body(answer));
      EXPECT_EQ(running.Server().Shares().Find(codes.back()).has_value(), true);
    } else {
      codes.emplace_back();
      EXPECT_GT(RetryAfter(answer), 0) << answer;
      EXPECT_LE(RetryAfter(answer), 3600) << answer;
    }
  }
  // Every share kept is whole; the refused ones left nothing behind; the
  // outbox holds the notifications of the kept shares only: none names a
  // share that made room.
  std::set<std::string> kept, mailed;
  for (std::size_t i = 0; i < posts.size(); ++i) {
    if (codes[i].empty()) continue;
    EXPECT_EQ(running.Server().Shares().Find(codes[i]).has_value(), posts[i].Kept) << i;
    if (posts[i].Kept) kept.insert(codes[i]);
  }
  for (const auto &entry : fs::directory_iterator(running.Root() / "data" / "outbox")) {
    const std::string name = entry.path().stem().string(); // "YYYYMMDD-HHMMSS-CODE"
    mailed.insert(name.substr(16));
  }
  EXPECT_EQ(mailed, kept);
}

TEST(HostileClientTest, OversizedAndBrokenRequestsAreRefusedAndNothingStops) {
  TRunningServer running;
  const int port = running.Server().ServicePort();
  struct TCase {
    std::string What, Request;
    int Status; // 0: the connection may close without an answer
  };
  const std::vector<TCase> cases{
      {"a body declared far beyond the limit",
       "POST /interface/share.php HTTP/1.1\r\nHost: x\r\nContent-Length: 999999999999\r\n\r\n",
       413},
      {"a request line that is no HTTP", "HELLO\r\n\r\n", 0},
      {"a target of 100 KiB", "GET /" + std::string(100 << 10, 'a') + " HTTP/1.1\r\n\r\n", 0},
      {"an unknown method",
       "BREW /interface/updates.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 404},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.What);
    const std::string answer = Exchange(port, "127.0.0.1", c.Request);
    if (c.Status) {
      EXPECT_EQ(Status(answer), c.Status) << answer.substr(0, 200);
    } else if (!answer.empty()) {
      EXPECT_GE(Status(answer), 400) << answer.substr(0, 200);
    }
  }
  EXPECT_EQ(Status(Get(port, "127.0.0.1", "/interface/updates.php")), 200);
}

} // namespace
} // namespace sonabox::test
