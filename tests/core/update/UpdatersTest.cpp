#include "core/update/Updaters.h"

#include "core/common/TextHelpers.h"
#include "support/EventLoop.h"
#include "support/LocalHttpServer.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <filesystem>
#include <mutex>

using namespace sonabox;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool OnMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// The number after a query's "?" (or after "&c=") is drawn from 0 to 4999.
bool EndsInRequestNumber(const std::string &target, const std::string &prefix) {
  int number = -1;
  return target.rfind(prefix, 0) == 0 && TryParseInt32(target.substr(prefix.size()), number) &&
         number >= 0 && number < 5000;
}

// Starts the worker and runs the event loop until it has released itself.
template <typename Worker> bool RunToRelease(Worker *worker) {
  QPointer<Worker> alive(worker);
  worker->start();
  return test::ProcessEventsUntil([&] { return alive.isNull(); });
}

class UpdatersTest : public ::testing::Test {
protected:
  test::TestFolders folders;
  test::LocalHttpServer server;
  std::mutex mutex;
};

} // namespace

TEST(ProgressPercent, NearestWithHalvesToEven) {
  const struct {
    int64_t count, total;
    const char *percent;
  } cases[] = {
      {0, 0, "0"},       {5, 0, "0"},
      {0, 10, "0"},      {10, 10, "100"},
      {1, 3, "33"},      {2, 3, "67"},
      {1, 8, "12"},      {3, 8, "38"},
      {1, 200, "0"},     {3, 200, "2"},
      {5, 200, "2"},     {197, 200, "98"},
      {199, 200, "100"}, {4999999999, 10000000000, "50"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ProgressPercent(c.count, c.total), c.percent) << c.count << "/" << c.total;
}

TEST_F(UpdatersTest, CheckReadsTheNewestBuild) {
  const struct {
    int status;
    std::string answer;
    TUpdateState state;
    std::string latest, details;
  } cases[] = {
      {200, "41\r\nBuild 41 is out", usNewer, "41", "Build 41 is out"},
      {200, "40\r\ntext\r\nmore", usCurrent, "40", "text"},
      {200, "39\ntext", usCurrent, "39", "text"},
      {200, "abc\r\ntext", usCurrent, "abc", "text"}, // a first line that is no number counts as 0
      {200, "41", usFailed, "", ""},
      {404, "41\r\ntext", usFailed, "", ""},
  };
  std::size_t index = 0;
  std::string target;
  server.Http().Get("/interface/updates.php",
                    [&](const httplib::Request &req, httplib::Response &res) {
                      const std::lock_guard lock(mutex);
                      target = req.target;
                      res.status = cases[index].status;
                      res.set_content(cases[index].answer, "text/plain");
                    });
  server.Start();

  for (index = 0; index < std::size(cases); ++index) {
    QObject dialog;
    int finishes = 0;
    auto *check = new TUpdateCheck;
    check->SetCurrentBuild("40");
    check->SetServiceUrl(server.Url("/interface/updates.php"));
    check->SetOnFinish(&dialog, [&] {
      ++finishes;
      EXPECT_TRUE(OnMainThread());
      EXPECT_TRUE(check->isRunning()); // the worker waits for its notification
      EXPECT_EQ(check->State(), cases[index].state) << index;
      EXPECT_EQ(check->LatestBuild(), cases[index].latest) << index;
      EXPECT_EQ(check->Details(), cases[index].details) << index;
    });
    ASSERT_TRUE(RunToRelease(check));
    EXPECT_EQ(finishes, 1);
    const std::lock_guard lock(mutex);
    EXPECT_TRUE(EndsInRequestNumber(target, "/interface/updates.php?v=40&c=")) << target;
  }
}

TEST_F(UpdatersTest, DownloadReportsProgressAndWritesTheInstaller) {
  std::string installer;
  for (int i = 0; i < 200000; ++i) installer += static_cast<char>(i % 251);
  std::string target;
  server.Http().Get("/assets/Sonabox.exe",
                    [&](const httplib::Request &req, httplib::Response &res) {
                      {
                        const std::lock_guard lock(mutex);
                        target = req.target;
                      }
                      res.set_content(installer, "application/octet-stream");
                    });
  // The same bytes without an announced size.
  server.Http().Get("/assets/Unsized.exe", [&](const httplib::Request &, httplib::Response &res) {
    res.set_chunked_content_provider(
        "application/octet-stream",
        [&, sent = false](std::size_t, httplib::DataSink &sink) mutable {
          if (sent) {
            sink.done();
            return true;
          }
          sent = true;
          return sink.write(installer.data(), installer.size());
        });
  });
  server.Start();

  for (const bool sized : {true, false}) {
    const std::string file = folders.Root() + (sized ? "Sonabox.exe" : "Unsized.exe");
    QObject dialog;
    std::vector<std::pair<int64_t, std::string>> progress;
    bool failed = true;
    auto *download = new TDownloadUpdate;
    download->SetFileUrl(server.Url(sized ? "/assets/Sonabox.exe" : "/assets/Unsized.exe"));
    download->SetDestFile(file);
    download->SetOnProgress(
        &dialog, [&](TDownloadUpdate &sender, int64_t total, const std::string &percent) {
          EXPECT_TRUE(OnMainThread());
          EXPECT_EQ(&sender, download);
          progress.emplace_back(total, percent);
        });
    download->SetOnFinish(&dialog, [&] {
      EXPECT_FALSE(download->IsTerminated());
      failed = download->Failed();
    });
    ASSERT_TRUE(RunToRelease(download));
    EXPECT_FALSE(failed);
    EXPECT_EQ(test::ReadFileBytes(file), installer);
    ASSERT_GE(progress.size(), 2u);
    // The transfer's beginning first, with the announced size and "0".
    EXPECT_EQ(progress.front(),
              std::make_pair(sized ? int64_t(200000) : int64_t(0), std::string("0")));
    if (sized) {
      EXPECT_EQ(progress.back().second, "100");
      for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(std::stoi(progress[i - 1].second), std::stoi(progress[i].second));
    } else {
      for (const auto &[total, percent] : progress) EXPECT_EQ(percent, "0");
    }
  }
  const std::lock_guard lock(mutex);
  EXPECT_TRUE(EndsInRequestNumber(target, "/assets/Sonabox.exe?")) << target;
}

TEST_F(UpdatersTest, AStopRequestEndsTheDownloadAtTheNextProgress) {
  // 100 pieces of 1000 bytes, 20 ms apart: about two seconds in all.
  server.Http().Get("/assets/Sonabox.exe", [](const httplib::Request &, httplib::Response &res) {
    res.set_content_provider(100000, "application/octet-stream",
                             [](std::size_t offset, std::size_t, httplib::DataSink &sink) {
                               if (offset > 0) std::this_thread::sleep_for(20ms);
                               const std::string piece(1000, 'x');
                               return sink.write(piece.data(), piece.size());
                             });
  });
  server.Start();

  // Stopped while the download runs, finish notification kept; and the way
  // the update dialog stops it: both notifications cleared first.
  for (const bool clearFirst : {false, true}) {
    const std::string file = folders.Root() + "Sonabox.exe";
    QObject dialog;
    int progressAfterStop = 0, finishes = 0;
    bool underWay = false, stopped = false, terminated = false, failed = false;
    auto *download = new TDownloadUpdate;
    download->SetFileUrl(server.Url("/assets/Sonabox.exe"));
    download->SetDestFile(file);
    download->SetOnProgress(&dialog, [&](TDownloadUpdate &, int64_t, const std::string &) {
      if (stopped) ++progressAfterStop;
      underWay = fs::exists(file) && fs::file_size(file) >= 2000;
    });
    download->SetOnFinish(&dialog, [&] {
      ++finishes;
      terminated = download->IsTerminated();
      failed = download->Failed();
    });
    QPointer<TDownloadUpdate> alive(download);
    download->start();
    // The user stops it from the main thread once a part has arrived.
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return underWay || alive.isNull(); }));
    ASSERT_FALSE(alive.isNull());
    const auto start = std::chrono::steady_clock::now();
    if (clearFirst) {
      download->SetOnProgress(nullptr, {});
      download->SetOnFinish(nullptr, {});
    }
    stopped = true;
    download->requestInterruption();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return alive.isNull(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_LT(fs::file_size(file), 100000u);
    if (clearFirst) {
      EXPECT_EQ(finishes, 0);
      EXPECT_EQ(progressAfterStop, 0);
    } else {
      EXPECT_EQ(finishes, 1);
      EXPECT_TRUE(terminated);
      EXPECT_TRUE(failed);
      EXPECT_LE(progressAfterStop, 1); // the progress event that broke the transfer off
    }
  }
}

TEST_F(UpdatersTest, ADownloadThatCannotBeWrittenFails) {
  std::atomic<int> hits{0};
  server.Http().Get("/assets/Sonabox.exe", [&](const httplib::Request &, httplib::Response &res) {
    ++hits;
    res.set_content("installer", "application/octet-stream");
  });
  server.Start();
  const std::string urls[] = {
      server.Url("/assets/Sonabox.exe"), // into a folder that does not exist
      "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/assets/Sonabox.exe",
  };
  for (const std::string &url : urls) {
    const bool unwritable = url == urls[0];
    QObject dialog;
    bool failed = false;
    auto *download = new TDownloadUpdate;
    download->SetFileUrl(url);
    download->SetDestFile(folders.Root() + (unwritable ? "missing/Sonabox.exe" : "Sonabox.exe"));
    download->SetOnFinish(&dialog, [&] { failed = download->Failed(); });
    ASSERT_TRUE(RunToRelease(download));
    EXPECT_TRUE(failed) << url;
  }
  EXPECT_EQ(hits, 0);
}
