// Feed queries per second and their median latency on loopback, over a
// synthetic catalogue of 100,000 videos, beside a floor: an HTTP server that
// answers the very same bytes from memory. Then 64 clients at once (the 99th
// percentile of their latency, and any request that failed or timed out), and
// a 100 MB video streamed to curl in ranges of 4 MiB, beside curl reading the
// same file from disk. Then wrk with 64 connections on the feed while crowds
// of sockets trickle request heads that never end (200 from wrk's own
// address, 1,100 from 12 other addresses, 100 within every limit), each
// beside wrk alone just before it and the 50 ms target for the 99th
// percentile, with the longest that any trickling socket stayed open beside
// the head deadline.
// Last, 150 addresses flood the share store, and an address that has sent
// nothing shares, beside a share into the empty store.
#include "Feed.h"
#include "Shares.h"
#include "SonaboxServer.h"
#include "core/common/TextHelpers.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace sonabox::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVideos = 100000;
constexpr int kWords = 5000;
constexpr int kQueries = 400; // distinct feed addresses, asked round robin
constexpr int kClientThreads = 2;
constexpr int kRequestsPerThread = 3000;

const char *kCategories[] = {"Animals", "Autos", "Comedy", "Education", "Film",   "Games",
                             "Howto",   "Music", "News",   "Nonprofit", "People", "Shortmov",
                             "Sports",  "Tech",  "Travel", "Videoblog"};

std::string Word(int index) {
  static const char *kSyllables[] = {"ka", "lo", "mi", "ne", "su", "ta", "ri", "vo",
                                     "ze", "pa", "du", "go", "he", "ji", "bo", "ra"};
  std::string word;
  for (int i = 0; i < 3 || index > 0; ++i) {
    word += kSyllables[index % 16];
    index /= 16;
  }
  return word;
}

std::string Words(std::mt19937 &random, int count) {
  // Word frequencies fall off like those of a language: a few are common.
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::string text;
  for (int i = 0; i < count; ++i) {
    const int index = static_cast<int>(std::pow(uniform(random), 2.0) * kWords);
    if (!text.empty()) text += ' ';
    text += Word(index);
  }
  return text;
}

void FillCatalogue(TCatalogue &catalogue) {
  std::mt19937 random(7);
  std::vector<TCatalogueVideo> videos;
  for (int i = 0; i < kVideos; ++i) {
    TCatalogueVideo video;
    video.Category = kCategories[i % 16];
    video.RelPath = video.Category + "/video" + std::to_string(i) + ".webm";
    video.Title = Words(random, 3 + i % 4);
    video.Description = Words(random, 10 + i % 11);
    video.Seconds = 30 + i % 300;
    video.Size = 1;
    videos.push_back(std::move(video));
  }
  catalogue.Apply(videos, {});
}

std::vector<std::string> FeedTargets() {
  std::mt19937 random(11);
  std::vector<std::string> targets;
  for (int i = 0; i < kQueries; ++i) {
    std::string category, keywords;
    switch (i % 10) {
    case 0:
    case 1:
    case 2:
    case 3: keywords = Words(random, 1); break;
    case 4:
    case 5:
    case 6: keywords = Words(random, 2); break;
    case 7:
    case 8: category = kCategories[i % 16]; break;
    case 9:
      category = kCategories[i % 16];
      keywords = Words(random, 1);
      break;
    }
    std::string escaped;
    for (char c : keywords) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    targets.push_back(
        "/feeds/api/videos" + (category.empty() ? "" : "/-/" + category) + "?vq=" + escaped +
        "&orderby=relevance&start-index=" + (i % 3 == 2 ? "26" : "1") + "&max-results=25");
  }
  return targets;
}

struct TFigures {
  double PerSecond;
  double MedianMicroseconds;
};

constexpr int kCrowdClients = 64;
constexpr int kCrowdRequests = 100; // each
constexpr int64_t kStreamBytes = 100 << 20;
constexpr int64_t kRangeBytes = 4 << 20;

struct TCrowdFigures {
  double PerSecond;
  double P99Milliseconds;
  int Failures;
};

// 64 clients, each with its own keep-alive connection opened at the same
// moment, asking round robin; every request must be answered within 10 s.
TCrowdFigures MeasureCrowd(int port, const std::vector<std::string> &targets) {
  std::vector<std::vector<double>> latencies(kCrowdClients);
  std::atomic<int> failures{0}, ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kCrowdClients; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_connection_timeout(10, 0);
      client.set_read_timeout(10, 0);
      ++ready;
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kCrowdRequests; ++i) {
        const std::string &target = targets[(i * kCrowdClients + t) % targets.size()];
        const auto before = Clock::now();
        const auto result = client.Get(target.c_str());
        if (!result || result->status != 200) ++failures;
        latencies[t].push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - before).count());
      }
    });
  }
  while (ready < kCrowdClients) std::this_thread::yield();
  const auto start = Clock::now();
  go = true;
  for (std::thread &thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  for (const auto &list : latencies) all.insert(all.end(), list.begin(), list.end());
  std::sort(all.begin(), all.end());
  return {all.size() / seconds, all[all.size() * 99 / 100], failures.load()};
}

// MB/s of the video fetched by curl in ranges from the web host, one after
// the other on one connection (as a player does when it seeks little).
double StreamRanges(int port, const std::string &target) {
  std::string command = "curl -s --fail";
  for (int64_t first = 0; first < kStreamBytes; first += kRangeBytes) {
    if (first > 0) command += " --next -s --fail";
    command += " -o /dev/null -r " + std::to_string(first) + "-" +
               std::to_string(std::min(first + kRangeBytes, kStreamBytes) - 1) +
               " 'http://127.0.0.1:" + std::to_string(port) + target + "'";
  }
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the ranges were not all answered\n");
    return 0;
  }
  return kStreamBytes / 1e6 / std::chrono::duration<double>(Clock::now() - start).count();
}

// MB/s of curl reading the file from disk (from the page cache, as the server does).
double CurlFromDisk(const fs::path &file) {
  const std::string command = "curl -s -o /dev/null 'file://" + file.string() + "'";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return 0;
  return kStreamBytes / 1e6 / std::chrono::duration<double>(Clock::now() - start).count();
}

TFigures Measure(int port, const std::vector<std::string> &targets) {
  std::vector<std::vector<double>> latencies(kClientThreads);
  std::atomic<int> failures{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kClientThreads; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (int i = 0; i < kRequestsPerThread; ++i) {
        const std::string &target = targets[(i * kClientThreads + t) % targets.size()];
        const auto before = Clock::now();
        const auto result = client.Get(target.c_str());
        const auto after = Clock::now();
        if (!result || result->status != 200) ++failures;
        latencies[t].push_back(std::chrono::duration<double, std::micro>(after - before).count());
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  for (const auto &list : latencies) all.insert(all.end(), list.begin(), list.end());
  std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
  if (failures) std::fprintf(stderr, "%d requests failed\n", failures.load());
  return {all.size() / seconds, all[all.size() / 2]};
}

// A crowd of sockets from the given loopback addresses that each send a
// request head one byte a second and never finish it; a socket the server
// closes is opened again at the next second. Notes how long each socket
// stayed open.
class TTricklers {
public:
  TTricklers(int port, int count, std::vector<std::string> from) : port_(port) {
    for (int i = 0; i < count; ++i) sockets_.push_back({-1, from[i % from.size()], {}, 0});
    for (TSocket &socket : sockets_) Open(socket);
    thread_ = std::thread([this] { Run(); });
  }
  ~TTricklers() {
    stop_ = true;
    thread_.join();
    for (TSocket &socket : sockets_)
      if (socket.Fd >= 0) ::close(socket.Fd);
  }

  // The longest that a socket stayed open, closed or still open now.
  double LongestSeconds() {
    std::lock_guard lock(mutex_);
    double longest = longestClosed_;
    for (const TSocket &socket : sockets_)
      if (socket.Fd >= 0) longest = std::max(longest, Age(socket));
    return longest;
  }
  int Reopened() {
    std::lock_guard lock(mutex_);
    return reopened_;
  }

private:
  struct TSocket {
    int Fd;
    std::string From;
    Clock::time_point Opened;
    std::size_t Sent;
  };

  static double Age(const TSocket &socket) {
    return std::chrono::duration<double>(Clock::now() - socket.Opened).count();
  }

  void Open(TSocket &socket) {
    socket.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, remote{};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, socket.From.c_str(), &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    remote.sin_port = htons(static_cast<uint16_t>(port_));
    if (::bind(socket.Fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(socket.Fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
      ::close(socket.Fd);
      socket.Fd = -1;
    }
    socket.Opened = Clock::now();
    socket.Sent = 0;
  }

  void Run() {
    static const std::string kHead = "GET /feeds/api/videos HTTP/1.1\r\nHost: x\r\n";
    static const std::string kLine = "X-Trickle: a\r\n";
    auto nextByte = Clock::now();
    while (!stop_) {
      std::vector<pollfd> ready;
      for (const TSocket &socket : sockets_) ready.push_back({socket.Fd, POLLIN, 0});
      // A socket waiting to be opened again is ignored by poll (fd -1).
      ::poll(ready.data(), ready.size(), 100);
      const bool send = Clock::now() >= nextByte;
      if (send) nextByte += std::chrono::seconds(1);
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < sockets_.size(); ++i) {
        TSocket &socket = sockets_[i];
        char byte;
        bool closed = socket.Fd < 0;
        if (closed && !send) continue;
        if (!closed && (ready[i].revents & (POLLIN | POLLHUP | POLLERR)))
          closed = ::recv(socket.Fd, &byte, 1, MSG_DONTWAIT) <= 0;
        if (!closed && send) {
          const char next = socket.Sent < kHead.size()
                                ? kHead[socket.Sent]
                                : kLine[(socket.Sent - kHead.size()) % kLine.size()];
          closed = ::send(socket.Fd, &next, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1;
          ++socket.Sent;
        }
        if (!closed) continue;
        if (socket.Fd >= 0) {
          longestClosed_ = std::max(longestClosed_, Age(socket));
          ::close(socket.Fd);
          socket.Fd = -1;
          ++reopened_;
        }
        if (send) Open(socket);
      }
    }
  }

  int port_;
  std::vector<TSocket> sockets_;
  std::mutex mutex_;
  double longestClosed_ = 0;
  int reopened_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct TWrkFigures {
  double PerSecond = 0;
  double P99Milliseconds = -1;
  std::string Errors; // wrk's lines on failed requests, if any
};

// wrk with 64 connections on one feed address for `seconds`.
TWrkFigures RunWrk(int port, const std::string &target, int seconds) {
  const std::string command = "wrk -t2 -c64 -d" + std::to_string(seconds) +
                              "s --latency 'http://127.0.0.1:" + std::to_string(port) + target +
                              "' 2>&1";
  std::FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {};
  TWrkFigures figures;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    double value = 0;
    char unit[8] = "";
    if (std::sscanf(line, " 99%% %lf%7s", &value, unit) == 2)
      figures.P99Milliseconds = std::string(unit) == "us"  ? value / 1000
                                : std::string(unit) == "s" ? value * 1000
                                                           : value;
    std::sscanf(line, "Requests/sec: %lf", &figures.PerSecond);
    if (std::strstr(line, "Socket errors") || std::strstr(line, "Non-2xx")) figures.Errors += line;
  }
  ::pclose(pipe);
  return figures;
}

// The median of a few figures, and their range.
std::string Spread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.1f (%.1f-%.1f)", values[values.size() / 2], values.front(),
                values.back());
  return text;
}

// wrk with 64 connections on the feed beside each crowd of tricklers, each
// run right after wrk alone, so that both sides meet the same load of the
// machine (the crowd's own work counts as the attack's); a few rounds of each,
// since the machine may be shared. wrk under attack starts once the crowd
// churns and runs past the moment its first sockets meet the head deadline.
void MeasureUnderAttack(int port, const std::string &target) {
  if (std::system("command -v wrk >/dev/null") != 0) {
    std::printf("wrk is missing: no figures under attack\n");
    return;
  }
  constexpr int kRounds = 3;
  constexpr int kSeconds = 8;
  constexpr auto kWarmUp = std::chrono::milliseconds(2500);
  constexpr double kTargetMs = 50;
  std::vector<std::string> others;
  for (int i = 2; i <= 13; ++i) others.push_back("127.0.0." + std::to_string(i));
  struct TAttack {
    const char *What;
    int Count;
    std::vector<std::string> From;
  };
  const std::vector<TAttack> attacks{
      {"200 trickling sockets from wrk's address", 200, {"127.0.0.1"}},
      {"1,100 trickling sockets from 12 addresses", 1100, others},
      {"100 trickling sockets, within every limit", 100, {"127.0.0.14"}},
  };
  std::printf("wrk, 64 connections, %d s on one feed address, alone and then beside a crowd "
              "of sockets trickling request heads, %d rounds:\n",
              kSeconds, kRounds);
  std::printf("(longest: the longest a trickling socket stayed open; closed: trickling sockets "
              "that the server closed)\n");
  std::printf("%-44s %10s %10s %10s %10s %12s %8s\n", "", "alone q/s", "p99 (ms)", "attack q/s",
              "p99 (ms)", "longest (s)", "closed");
  RunWrk(port, target, 2); // warm up
  for (const TAttack &attack : attacks) {
    std::vector<double> alone, attacked, longest;
    for (int round = 1; round <= kRounds; ++round) {
      const TWrkFigures before = RunWrk(port, target, kSeconds);
      TWrkFigures during;
      double open = 0;
      int closed = 0;
      {
        const auto start = Clock::now();
        TTricklers crowd(port, attack.Count, attack.From);
        std::this_thread::sleep_until(start + kWarmUp);
        during = RunWrk(port, target, kSeconds);
        // Every first socket has met the head deadline by now.
        std::this_thread::sleep_until(start + std::chrono::seconds(kHeadDeadlineSeconds + 1));
        open = crowd.LongestSeconds();
        closed = crowd.Reopened();
      }
      // The server closes the crowd's sockets before wrk runs alone again.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      alone.push_back(before.P99Milliseconds);
      attacked.push_back(during.P99Milliseconds);
      longest.push_back(open);
      std::printf("%-44s %10.0f %10.1f %10.0f %10.1f %12.1f %8d\n", round == 1 ? attack.What : "",
                  before.PerSecond, before.P99Milliseconds, during.PerSecond,
                  during.P99Milliseconds, open, closed);
      if (!before.Errors.empty()) std::printf("  wrk alone: %s", before.Errors.c_str());
      if (!during.Errors.empty()) std::printf("  wrk under attack: %s", during.Errors.c_str());
    }
    const int held = static_cast<int>(std::count_if(
        attacked.begin(), attacked.end(), [](double ms) { return ms >= 0 && ms < kTargetMs; }));
    std::printf("  p99 under attack %s ms beside wrk alone %s ms (median, range); target under "
                "%.0f ms: held in %d of %d rounds\n",
                Spread(attacked).c_str(), Spread(alone).c_str(), kTargetMs, held, kRounds);
    std::printf("  longest a trickling socket stayed open: %.1f s beside the head deadline "
                "of %u s\n",
                *std::max_element(longest.begin(), longest.end()), kHeadDeadlineSeconds);
  }
}

// One share posted from the given loopback address on a connection of its
// own; the whole answer, or nothing when the connection failed.
std::string PostShare(int port, const std::string &from, const std::string &title) {
  TShare share;
  share.Token = sonabox::Sha1Hex(title).substr(0, 20);
  share.Payload = "<entry><media:title type='plain'>" + title + "</media:title></entry>";
  share.FromName = "Ann";
  share.FromEmail = "ann@example.org";
  share.ToName = "Bob";
  share.ToEmail = "bob@example.org";
  share.Title = title;
  auto encoded = [](const std::string &text) {
    std::string out;
    for (const unsigned char c : text) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escape);
    }
    return out;
  };
  const std::string body = "hash=" + ShareRequestHash(share) + "&token=" + share.Token +
                           "&receipt=&payload=" + encoded(sonabox::Base64Encode(share.Payload)) +
                           "&note=&toName=Bob&toEmail=" + encoded(share.ToEmail) +
                           "&fromName=Ann&fromEmail=" + encoded(share.FromEmail) +
                           "&title=" + encoded(sonabox::Base64Encode(title));
  const std::string request =
      "POST /interface/share.php?1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(static_cast<uint16_t>(port));
  std::string answer;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  ::close(fd);
  return answer;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// 150 addresses share as fast as the service lets them until the store is
// full; then an address that has sent nothing shares.
void MeasureShareFlood(int port) {
  auto before = Clock::now();
  const bool first =
      PostShare(port, "127.0.3.1", "Into the empty store").starts_with("HTTP/1.1 200");
  const double emptyMs = MillisecondsSince(before);
  int stored = 0, refused = 0, withoutRetryAfter = 0;
  before = Clock::now();
  for (int round = 0; round < 30; ++round)
    for (int address = 1; address <= 150; ++address) {
      const std::string answer =
          PostShare(port, "127.0.1." + std::to_string(address), "Flood " + std::to_string(round));
      if (answer.starts_with("HTTP/1.1 200")) {
        ++stored;
      } else {
        ++refused;
        if (answer.find("\r\nRetry-After: ") == std::string::npos) ++withoutRetryAfter;
      }
    }
  const double floodSeconds = MillisecondsSince(before) / 1000;
  before = Clock::now();
  const std::string newcomer = PostShare(port, "127.0.2.1", "After the flood");
  const double newcomerMs = MillisecondsSince(before);
  std::printf("share flood from 150 addresses, 30 each: %d stored, %d refused (%d without "
              "Retry-After) in %.1f s\n",
              stored, refused, withoutRetryAfter, floodSeconds);
  std::printf("then a share from an address that sent nothing: %s in %.1f ms; baseline, a share "
              "into the empty store: %s in %.1f ms\n",
              newcomer.substr(0, 12).c_str(), newcomerMs, first ? "HTTP/1.1 200" : "failed",
              emptyMs);
}

} // namespace

int main() {
  // The crowds of trickling sockets and the server's ends of them.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  char pattern[] = "/tmp/sonabox-server-bench-XXXXXX";
  const char *made = mkdtemp(pattern);
  if (!made) return 1;
  const fs::path root = made;
  fs::create_directories(root / "library");

  TServerOptions options;
  options.Library = root / "library";
  options.Data = root / "data";
  options.FeedPort = options.WebPort = options.ServicePort = 0;
  TSonaboxServer server(options);

  auto begin = Clock::now();
  FillCatalogue(server.Catalogue());
  std::printf("catalogue of %d videos made in %.1f s\n", kVideos,
              std::chrono::duration<double>(Clock::now() - begin).count());
  server.Start();

  // The floor answers each address with the bytes the real server gave it.
  const std::vector<std::string> targets = FeedTargets();
  // Asking each query for the first time, one at a time, also shows the cost
  // of a search whose ranking is not kept yet.
  std::map<std::string, std::string> answers;
  long entries = 0;
  std::vector<double> firstTimes;
  const auto firstStart = Clock::now();
  {
    httplib::Client client("127.0.0.1", server.FeedPort());
    for (const std::string &target : targets) {
      const auto before = Clock::now();
      const auto result = client.Get(target.c_str());
      firstTimes.push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - before).count());
      if (!result || result->status != 200) {
        std::fprintf(stderr, "the feed did not answer %s\n", target.c_str());
        return 1;
      }
      for (std::size_t at = result->body.find("<entry>"); at != std::string::npos;
           at = result->body.find("<entry>", at + 1))
        ++entries;
      answers[target] = result->body;
    }
  }
  const double firstSeconds = std::chrono::duration<double>(Clock::now() - firstStart).count();
  std::sort(firstTimes.begin(), firstTimes.end());
  std::printf("%zu distinct queries, %.1f entries per answer on average\n", targets.size(),
              static_cast<double>(entries) / targets.size());
  std::printf("first asking, one client: %.0f queries/s, median %.0f us, slowest %.0f us\n",
              targets.size() / firstSeconds, firstTimes[firstTimes.size() / 2], firstTimes.back());

  httplib::Server floor;
  floor.set_tcp_nodelay(true);
  floor.set_payload_max_length(kMaxRequestBody);
  floor.set_keep_alive_max_count(100);
  floor.Get(".*", [&](const httplib::Request &req, httplib::Response &res) {
    res.set_content(answers.at(req.target), "application/atom+xml; charset=UTF-8");
  });
  const int floorPort = floor.bind_to_any_port("127.0.0.1");
  std::thread floorThread([&] { floor.listen_after_bind(); });
  while (!floor.is_running()) std::this_thread::yield();

  Measure(server.FeedPort(), targets); // warm both up once
  Measure(floorPort, targets);
  const TFigures feed = Measure(server.FeedPort(), targets);
  const TFigures memory = Measure(floorPort, targets);

  std::printf("repeated queries, %d clients:\n", kClientThreads);
  std::printf("%-34s %10s %14s\n", "", "queries/s", "median (us)");
  std::printf("%-34s %10.0f %14.0f\n", "sonabox-server feed (SQLite FTS5)", feed.PerSecond,
              feed.MedianMicroseconds);
  std::printf("%-34s %10.0f %14.0f\n", "floor: same bytes from memory", memory.PerSecond,
              memory.MedianMicroseconds);
  std::printf("ratio (feed / floor): %.2f of the rate, %.2fx the median latency\n",
              feed.PerSecond / memory.PerSecond,
              feed.MedianMicroseconds / memory.MedianMicroseconds);

  const TCrowdFigures crowd = MeasureCrowd(server.FeedPort(), targets);
  const TCrowdFigures crowdFloor = MeasureCrowd(floorPort, targets);
  std::printf("%d clients at once, %d requests each:\n", kCrowdClients, kCrowdRequests);
  std::printf("%-34s %10s %14s %10s\n", "", "queries/s", "p99 (ms)", "failed");
  std::printf("%-34s %10.0f %14.1f %10d\n", "sonabox-server feed", crowd.PerSecond,
              crowd.P99Milliseconds, crowd.Failures);
  std::printf("%-34s %10.0f %14.1f %10d\n", "floor: same bytes from memory", crowdFloor.PerSecond,
              crowdFloor.P99Milliseconds, crowdFloor.Failures);
  std::printf("ratio (feed / floor): %.2f of the rate, %.2fx the p99 latency\n",
              crowd.PerSecond / crowdFloor.PerSecond,
              crowd.P99Milliseconds / crowdFloor.P99Milliseconds);

  floor.stop();
  floorThread.join();

  // A 100 MB video, read once so that both readers find it in the page cache.
  const fs::path movie = root / "library" / "big.webm";
  {
    std::FILE *file = std::fopen(movie.c_str(), "wb");
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    for (int64_t written = 0; written < kStreamBytes; written += block.size())
      std::fwrite(block.data(), 1, block.size(), file);
    std::fclose(file);
  }
  std::vector<TCatalogueVideo> big(1);
  big[0].RelPath = "big.webm";
  big[0].Title = "Big";
  big[0].Size = kStreamBytes;
  server.Catalogue().Apply(big, {});
  const std::string target = "/v/" + big[0].Id;
  CurlFromDisk(movie);
  const double disk = CurlFromDisk(movie);
  const double stream = StreamRanges(server.WebPort(), target);
  std::printf("100 MB video in ranges of 4 MiB: %.0f MB/s; floor, curl from disk: %.0f MB/s; "
              "ratio %.2f\n",
              stream, disk, stream / disk);
  MeasureUnderAttack(server.FeedPort(), targets[0]);
  MeasureShareFlood(server.ServicePort());
  server.Stop();
  fs::remove_all(root);
  return 0;
}
