// Feed queries per second and their median latency on loopback, over a
// synthetic catalogue of 100,000 videos, beside a floor: an HTTP server set up
// the same way that answers the very same bytes from memory.
#include "Feed.h"
#include "SonaboxServer.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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

} // namespace

int main() {
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

  floor.stop();
  floorThread.join();
  server.Stop();
  fs::remove_all(root);
  return 0;
}
