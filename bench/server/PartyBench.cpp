// The party's live updates: 200 guests keep a waiting request open on the web
// port (100 from each of two loopback addresses, within the per-address
// limit) while one of them queues a video; the time until all 200 have the
// change, over 30 changes, as its 99th percentile, beside a floor: the same
// 200 connections each asking for a small answer at the same moment. Then the
// server's memory for each waiting guest (beside each merely connected one) and
// its CPU while nothing changes (beside the idle server with no guest).
// Run: build/bench/server/bench_party
#include "SonaboxServer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace sonabox::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kGuests = 200;
constexpr int kChanges = 30;

int Connect(int port, const char *from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  return fd;
}

void Send(int fd, const std::string &bytes) {
  if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
    std::perror("send");
    std::exit(1);
  }
}

// Reads one whole answer (head and Content-Length body) from a blocking socket.
std::string ReadAnswer(int fd) {
  std::string data;
  char buffer[16384];
  for (;;) {
    const std::size_t head = data.find("\r\n\r\n");
    if (head != std::string::npos) {
      const std::size_t at = data.find("Content-Length: ");
      const std::size_t length = at < head ? std::strtoul(data.c_str() + at + 16, nullptr, 10) : 0;
      if (data.size() >= head + 4 + length) return data.substr(head + 4, length);
    }
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      std::fprintf(stderr, "the server closed a guest's connection\n");
      std::exit(1);
    }
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string Get(const std::string &target) {
  return "GET " + target + " HTTP/1.1\r\nHost: bench\r\n\r\n";
}

// Sends the request on every connection, then waits for every answer; the
// milliseconds from `start` until each answer was whole.
std::vector<double> AnswerTimes(const std::vector<int> &fds, Clock::time_point start) {
  const int poller = ::epoll_create1(EPOLL_CLOEXEC);
  for (std::size_t i = 0; i < fds.size(); ++i) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = i;
    ::epoll_ctl(poller, EPOLL_CTL_ADD, fds[i], &event);
  }
  std::vector<std::string> data(fds.size());
  std::vector<double> times;
  std::vector<bool> done(fds.size());
  while (times.size() < fds.size()) {
    epoll_event events[64];
    const int ready = ::epoll_wait(poller, events, 64, 30000);
    if (ready <= 0) {
      std::fprintf(stderr, "guests waited 30 s for the change\n");
      std::exit(1);
    }
    for (int e = 0; e < ready; ++e) {
      const std::size_t i = events[e].data.u64;
      char buffer[16384];
      const ssize_t got = ::recv(fds[i], buffer, sizeof buffer, 0);
      if (got <= 0) {
        std::fprintf(stderr, "the server closed a guest's connection\n");
        std::exit(1);
      }
      data[i].append(buffer, static_cast<std::size_t>(got));
      const std::size_t head = data[i].find("\r\n\r\n");
      if (head == std::string::npos || done[i]) continue;
      const std::size_t at = data[i].find("Content-Length: ");
      const std::size_t length =
          at < head ? std::strtoul(data[i].c_str() + at + 16, nullptr, 10) : 0;
      if (data[i].size() < head + 4 + length) continue;
      done[i] = true;
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  ::close(poller);
  return times;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's CPU (the server's threads; this one sleeps) over `seconds`, in percent of one core.
double CpuPercentOver(int seconds) {
  const double before = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return (CpuSeconds() - before) * 100.0 / seconds;
}

std::string Version(int port) {
  const int fd = Connect(port, "127.0.0.3");
  Send(fd, Get("/party/api/state"));
  const std::string body = ReadAnswer(fd);
  ::close(fd);
  return QString::number(int64_t(QJsonDocument::fromJson(QByteArray::fromStdString(body))
                                     .object()["version"]
                                     .toDouble()))
      .toStdString();
}

} // namespace

int main() {
  const fs::path root =
      fs::temp_directory_path() / ("sonabox-party-bench-" + std::to_string(getpid()));
  fs::create_directories(root / "library");
  TServerOptions options;
  options.Library = root / "library";
  options.Data = root / "data";
  options.Assets = root / "assets";
  options.FeedPort = options.WebPort = options.ServicePort = 0;
  options.Party = true;
  options.PartyLimits.RequestsPerMinute = 1000000; // one bench address queues every change
  TSonaboxServer server(options);
  std::vector<TCatalogueVideo> videos(kChanges);
  for (int i = 0; i < kChanges; ++i) {
    videos[i].RelPath = "v" + std::to_string(i) + ".webm";
    videos[i].Title = "Video " + std::to_string(i);
    videos[i].Seconds = 200;
    videos[i].Size = 1;
  }
  server.Catalogue().Apply(videos, {});
  server.Start();
  const int port = server.WebPort();
  std::vector<std::string> tokens;
  for (int i = 0; i < kChanges; ++i)
    tokens.push_back(server.Party().Join("Guest " + std::to_string(i)).Token);

  std::printf("idle server, no guest: CPU %.2f %% of a core over 5 s\n", CpuPercentOver(5));
  const int64_t bare = ResidentBytes();
  std::vector<int> guests;
  for (int i = 0; i < kGuests; ++i)
    guests.push_back(Connect(port, i % 2 ? "127.0.0.1" : "127.0.0.2"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int64_t connected = ResidentBytes();

  // The floor: each guest asks for a small answer at the same moment.
  std::vector<double> floor;
  for (int round = 0; round < kChanges; ++round) {
    const Clock::time_point start = Clock::now();
    for (int fd : guests) Send(fd, Get("/party/api/categories"));
    const std::vector<double> times = AnswerTimes(guests, start);
    floor.push_back(*std::max_element(times.begin(), times.end()));
  }

  // The changes: every guest waits, then one queues a video.
  std::vector<double> untilAll;
  int64_t waiting = 0;
  double idle = 0;
  for (int round = 0; round < kChanges; ++round) {
    const std::string version = Version(port);
    for (int fd : guests) Send(fd, Get("/party/api/state?since=" + version));
    std::this_thread::sleep_for(std::chrono::milliseconds(round == 0 ? 300 : 50));
    if (round == 0) {
      waiting = ResidentBytes();
      idle = CpuPercentOver(5);
    }
    const int queuer = Connect(port, "127.0.0.3");
    const std::string body = "video=" + videos[round].Id;
    const Clock::time_point start = Clock::now();
    Send(queuer,
         "POST /party/api/queue HTTP/1.1\r\nHost: bench\r\nX-Party-Guest: " + tokens[round] +
             "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body);
    const std::vector<double> times = AnswerTimes(guests, start);
    untilAll.push_back(*std::max_element(times.begin(), times.end()));
    ReadAnswer(queuer);
    ::close(queuer);
  }

  std::printf("%d guests waiting, %d changes: until all have the change p50 %.1f ms, p99 %.1f ms "
              "(target < 250 ms); floor, %d guests answered at once: p50 %.1f ms, p99 %.1f ms\n",
              kGuests, kChanges, Percentile(untilAll, 0.5), Percentile(untilAll, 0.99), kGuests,
              Percentile(floor, 0.5), Percentile(floor, 0.99));
  std::printf("server memory per waiting guest: %.1f KiB (per merely connected one: %.1f KiB)\n",
              double(waiting - bare) / kGuests / 1024.0,
              double(connected - bare) / kGuests / 1024.0);
  std::printf("%d guests waiting, nothing changes: CPU %.2f %% of a core over 5 s\n", kGuests,
              idle);

  for (int fd : guests) ::close(fd);
  server.Stop();
  fs::remove_all(root);
  return 0;
}
