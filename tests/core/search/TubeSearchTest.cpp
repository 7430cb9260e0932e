#include "core/search/TubeSearch.h"

#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/LocalHttpServer.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>

#include <atomic>
#include <mutex>

using namespace sonabox;

namespace {

std::string Entry(const std::string &title, const std::string &id) {
  return "<entry><media:title type='plain'>" + title +
         "</media:title><media:player url='http://127.0.0.1:8472/watch?v=" + id +
         "'/><yt:duration seconds='75'/></entry>";
}

class TubeSearchTest : public ::testing::Test {
protected:
  void SetUp() override { StoreWriteString("VideoWebHost", "127.0.0.1:8472"); }
  // Points the feed host at the test server and starts it.
  void StartServer() {
    server.Start();
    StoreWriteString("VideoDataHost", server.Host());
  }

  test::TestFolders folders;
  test::LocalHttpServer server;
};

} // namespace

TEST_F(TubeSearchTest, FeedAddress) {
  StoreWriteString("VideoDataHost", "feed.example:8471");
  const std::string start = "http://feed.example:8471/feeds/api/videos";
  const struct {
    const char *keywords, *category;
    int32_t startIndex;
    std::string url;
  } cases[] = {
      {"blue sky", "Music", 1,
       start + "/-/Music?vq=blue%20sky&orderby=relevance&start-index=1&max-results=25"},
      {"blue sky", "Any", 1,
       start + "?vq=blue%20sky&orderby=relevance&start-index=1&max-results=25"},
      {"two  spaces", "Any", 26,
       start + "?vq=two%20%20spaces&orderby=relevance&start-index=26&max-results=25"},
      // Only "Any" exactly leaves the category out; the keywords are
      // percent-encoded, so that "&" and "<" reach the service as typed.
      {"rock & roll", "any", 51,
       start + "/-/any?vq=rock%20%26%20roll&orderby=relevance&start-index=51&max-results=25"},
      {"&", "Any", 1, start + "?vq=%26&orderby=relevance&start-index=1&max-results=25"},
      {"<b>+", "Any", 1, start + "?vq=%3Cb%3E%2B&orderby=relevance&start-index=1&max-results=25"},
      {"夜", "Any", 1, start + "?vq=%E5%A4%9C&orderby=relevance&start-index=1&max-results=25"},
      {"   ", "Music", 1,
       start + "/-/Music?vq=%20%20%20&orderby=relevance&start-index=1&max-results=25"},
      // A category is percent-encoded whole: a library folder may hold anything.
      {"x", "Hip Hop/R&B?", 1,
       start + "/-/Hip%20Hop%2FR%26B%3F?vq=x&orderby=relevance&start-index=1&max-results=25"},
      {"x", "Café", 1, start + "/-/Caf%C3%A9?vq=x&orderby=relevance&start-index=1&max-results=25"},
      {"c# 100%? yes", "Music", 1,
       start + "/-/Music?vq=c%23%20100%25%3F%20yes&orderby=relevance&start-index=1&max-results=25"},
  };
  for (const auto &c : cases) {
    TTubeSearch search(c.keywords, c.category);
    EXPECT_EQ(search.StartIndex(), 1);
    EXPECT_EQ(search.Category(), c.category);
    search.SetStartIndex(c.startIndex);
    EXPECT_EQ(search.FeedUrl(), c.url);
  }
}

TEST_F(TubeSearchTest, ReadsThePageAndHandsItOverOnTheMainThread) {
  std::mutex mutex;
  std::string target;
  server.Http().Get(
      "/feeds/api/videos/-/Music", [&](const httplib::Request &req, httplib::Response &res) {
        const std::lock_guard lock(mutex);
        target = req.target;
        res.set_content("<feed><openSearch:totalResults>57</openSearch:totalResults>\n" +
                            Entry("First", "aaa") + "\n" + Entry("Second", "bbb") + "</feed>",
                        "text/xml");
      });
  StartServer();

  QObject window;
  int calls = 0;
  auto *search = new TTubeSearch("blue sky", "Music");
  QPointer<TTubeSearch> alive(search);
  search->SetOnTerminate(&window, [&](TTubeSearch &done) {
    ++calls;
    EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
    EXPECT_TRUE(done.isRunning()); // the worker waits for the handler
    EXPECT_EQ(done.TotalResults(), 57);
    ASSERT_EQ(done.Videos().size(), 2u);
    EXPECT_EQ(done.Videos()[0].Title, "First");
    EXPECT_EQ(done.Videos()[0].Url, "aaa");
    EXPECT_EQ(done.Videos()[0].Duration, "1:15");
    EXPECT_EQ(done.Videos()[1].Url, "bbb");
  });
  search->start();
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return alive.isNull(); })); // released itself
  EXPECT_EQ(calls, 1);
  const std::lock_guard lock(mutex);
  EXPECT_EQ(target, "/feeds/api/videos/-/Music?vq=blue%20sky&orderby=relevance&start-index=1"
                    "&max-results=25");
}

TEST_F(TubeSearchTest, AnswersWithoutAUsableCountGiveNoRecords) {
  const struct {
    int status;
    std::string body;
    int32_t total;
    std::size_t records;
  } cases[] = {
      {404, "totalResults>3<" + Entry("x", "x"), 0, 0},           // failed request
      {200, "<html>not a feed</html>", 0, 0},                     // no count
      {200, "totalResults>99999999999<" + Entry("x", "x"), 0, 0}, // count too large
      {200, "totalResults>0<", 0, 0},                             // no matches
      {200, "totalResults>80<", 80, 0},                           // start index past the end
  };
  std::size_t index = 0;
  server.Http().Get("/feeds/api/videos", [&](const httplib::Request &, httplib::Response &res) {
    res.status = cases[index].status;
    res.set_content(cases[index].body, "text/xml");
  });
  StartServer();
  for (index = 0; index < std::size(cases); ++index) {
    QObject window;
    int calls = 0;
    auto *search = new TTubeSearch("x", "Any");
    QPointer<TTubeSearch> alive(search);
    search->SetOnTerminate(&window, [&](TTubeSearch &done) {
      ++calls;
      EXPECT_EQ(done.TotalResults(), cases[index].total) << index;
      EXPECT_EQ(done.Videos().size(), cases[index].records) << index;
    });
    search->start();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return alive.isNull(); }));
    EXPECT_EQ(calls, 1) << index;
  }
}

TEST_F(TubeSearchTest, NoHandlerOnceItsContextIsGone) {
  std::atomic<bool> contextGone{false};
  server.Http().Get("/feeds/api/videos", [&](const httplib::Request &, httplib::Response &res) {
    while (!contextGone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    res.set_content("totalResults>1<" + Entry("x", "x"), "text/xml");
  });
  StartServer();
  auto window = std::make_unique<QObject>();
  bool called = false;
  auto *search = new TTubeSearch("x", "Any");
  QPointer<TTubeSearch> alive(search);
  search->SetOnTerminate(window.get(), [&](TTubeSearch &) { called = true; });
  search->start();
  window.reset(); // the window closes while the search runs
  contextGone = true;
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return alive.isNull(); }));
  EXPECT_FALSE(called);
}
