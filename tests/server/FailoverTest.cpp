// Two sonabox-server programs on one PostgreSQL database behind HAProxy with
// the configuration in deploy/: one is killed while clients share, and every
// share that was answered is still there.
#include "PostgresCluster.h"
#include "ShareRequests.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

namespace sonabox::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A program started with its output in `log` and the environment given added;
// killed (if still running) and waited for when the object goes.
class TProcess {
public:
  TProcess(std::vector<std::string> arguments, const fs::path &log,
           const std::vector<std::pair<std::string, std::string>> &environment = {}) {
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      for (const auto &[name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char *> argv;
      for (std::string &argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
  }
  ~TProcess() { Kill(SIGTERM); }
  TProcess(const TProcess &) = delete;
  TProcess &operator=(const TProcess &) = delete;

  void Kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    pid_ = 0;
  }

private:
  pid_t pid_ = 0;
};

struct TPorts {
  int Feed = UnusedPort(), Web = UnusedPort(), Service = UnusedPort();
};

// Whether GET /healthz on the port answers 200 within the time given.
bool Healthy(int port, std::chrono::seconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1);
  do {
    const auto answer = client.Get("/healthz");
    if (answer && answer->status == 200) return true;
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

TEST(FailoverTest, KillingOneServerUnderShareLoadLosesNoAnsweredShare) {
  TestFolders folders;
  const fs::path root = folders.Root();
  fs::create_directories(root / "library");
  const std::string database = TPostgresCluster::Shared().NewDatabase();

  const TPorts one, two, front;
  auto server = [&](const char *name, const TPorts &ports) {
    return std::make_unique<TProcess>(
        std::vector<std::string>{
            SONABOX_SERVER_PROGRAM, "--database", database, "--library",
            (root / "library").string(), "--data", (root / name).string(), "--thumbnails",
            (root / "thumbnails").string(), "--feed-port", std::to_string(ports.Feed), "--web-port",
            std::to_string(ports.Web), "--service-port", std::to_string(ports.Service),
            "--shares-per-hour", "100000", "--max-shares", "100000"},
        root / (std::string(name) + ".log"));
  };
  auto first = server("one", one);
  auto second = server("two", two);
  ASSERT_TRUE(Healthy(one.Service, 20s) && Healthy(two.Service, 20s)) << "the servers start";
  const std::vector<std::pair<std::string, std::string>> environment{
      {"SONABOX_BIND", "127.0.0.1"},
      {"SONABOX_FEED_PORT", std::to_string(front.Feed)},
      {"SONABOX_WEB_PORT", std::to_string(front.Web)},
      {"SONABOX_SERVICE_PORT", std::to_string(front.Service)},
      {"SONABOX_ONE", "127.0.0.1"},
      {"SONABOX_ONE_FEED", std::to_string(one.Feed)},
      {"SONABOX_ONE_WEB", std::to_string(one.Web)},
      {"SONABOX_ONE_SERVICE", std::to_string(one.Service)},
      {"SONABOX_TWO", "127.0.0.1"},
      {"SONABOX_TWO_FEED", std::to_string(two.Feed)},
      {"SONABOX_TWO_WEB", std::to_string(two.Web)},
      {"SONABOX_TWO_SERVICE", std::to_string(two.Service)}};
  TProcess balancer({"haproxy", "-db", "-f", SONABOX_DEPLOY_FOLDER "/haproxy.cfg"},
                    root / "haproxy.log", environment);
  ASSERT_TRUE(Healthy(front.Service, 20s)) << ReadFileBytes((root / "haproxy.log").string());

  // Clients share through the balancer, each trying a share up to five
  // times; the first server is killed once shares flow.
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> answered; // code, title
  std::atomic<int> failedTries{0}, unserved{0}, sent{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c)
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", front.Service);
      client.set_read_timeout(10, 0);
      for (int i = 0; !stop; ++i) {
        TShareInput share;
        share.Title = "Share " + std::to_string(c) + "-" + std::to_string(i);
        const auto fields = Multipart(ShareFields(share));
        bool served = false;
        for (int attempt = 0; attempt < 5 && !served; ++attempt) {
          const auto answer = client.Post("/interface/share.php?1", fields);
          served = answer && answer->status == 200;
          if (served) {
            std::lock_guard lock(mutex);
            answered.emplace_back(answer->body, share.Title);
          } else {
            ++failedTries;
            std::this_thread::sleep_for(100ms);
          }
        }
        ++sent;
        unserved += !served;
      }
    });
  while (sent < 100) std::this_thread::sleep_for(10ms);
  first->Kill(SIGKILL);
  const int beforeKill = sent;
  std::this_thread::sleep_for(3s);
  stop = true;
  for (std::thread &client : clients) client.join();

  EXPECT_EQ(unserved, 0) << "every share was served within its five tries";
  EXPECT_GT(sent - beforeKill, 20) << "shares went on after the kill";
  RecordProperty("failed_tries", failedTries.load());
  httplib::Client reader("127.0.0.1", front.Service);
  int missing = 0;
  for (const auto &[code, title] : answered) {
    const auto fetched = reader.Post("/interface/getshare.php?1", Multipart({{"share_key", code}}));
    missing += !fetched || fetched->status != 200 ||
               Base64Decode(fetched->body).rfind(title + "\r\n", 0) != 0;
  }
  EXPECT_EQ(missing, 0) << "of " << answered.size() << " answered shares";
}

} // namespace
} // namespace sonabox::test
