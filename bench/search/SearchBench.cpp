// A search on the Find page against a local sonabox-server, each figure beside
// a floor measured in the same run with plain libcurl:
//   panels:     from Enter in the keywords edit to all 25 result panels on
//               show; floor: one fetch of the same feed address
//   thumbnails: from Enter to all 25 thumbnails decoded and shown; floor: the
//               feed fetch, then the 25 thumbnails fetched side by side on one
//               libcurl multi handle
// Each also has a second floor that tells the cost of Qt's widgets from that
// of our own code: the same fetches, the same 200 widgets built bare (plain
// labels with the page's texts, in a hidden area then shown) and, for the
// thumbnails, the pictures decoded and shown, all on one thread.
// Each figure is the median of several rounds, taken in turns with its floor.
// Target: at most 1.5x the (first) floor.
//
// Run: build/bench/search/bench_search   (offscreen unless QT_QPA_PLATFORM says otherwise)
#include "SonaboxServer.h"
#include "core/playback/PlaySequencer.h"
#include "core/search/TubeSearch.h"
#include "core/settings/Settings.h"
#include "ui/app/MainWindow.h"
#include "ui/find/FindPage.h"
#include "ui/find/ResultPanels.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
#include "ui/widgets/WebImage.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace sonabox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVideos = 200;
constexpr int kRounds = 15;
const char *const kKeywords = "night";

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A thumbnail such as the server makes: 130x97 JPEG of a picture with detail.
QByteArray Thumbnail(std::mt19937 &random) {
  QImage image(130, 97, QImage::Format_RGB32);
  const int base = static_cast<int>(random() & 0xFFFFFF);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, (base + x * 0x010203 + y * 0x030201 + (random() & 0x0F0F0F)) & 0xFFFFFF);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG", 85);
  return bytes;
}

// A catalogue in which the keywords match many videos, with a thumbnail each.
void FillLibrary(server::TSonaboxServer &server) {
  std::mt19937 random(5);
  const char *words[] = {"night", "drive", "summer", "rain", "city", "lights", "ocean", "blue"};
  std::vector<server::TCatalogueVideo> videos;
  for (int i = 0; i < kVideos; ++i) {
    server::TCatalogueVideo video;
    video.Category = "Music";
    video.RelPath = "Music/clip" + std::to_string(i) + ".webm";
    video.Title = std::string(words[i % 8]) + " " + words[(i / 8) % 8] + " " + std::to_string(i);
    video.Description = "A clip for a " + std::string(words[(i + 3) % 8]) + " " +
                        words[(i + 5) % 8] + ", number " + std::to_string(i) +
                        " of the collection, with a description long enough to be cut.";
    video.Seconds = 120 + i;
    video.Size = 1;
    videos.push_back(std::move(video));
  }
  server.Catalogue().Apply(videos, {});
  const fs::path thumbnails = server.Options().Data / "thumbnails";
  fs::create_directories(thumbnails);
  for (const auto &video : videos) {
    const QByteArray jpeg = Thumbnail(random);
    std::ofstream(thumbnails / (video.Id + ".jpg"), std::ios::binary)
        .write(jpeg.data(), jpeg.size());
  }
}

size_t Collect(char *data, size_t size, size_t count, void *user) {
  static_cast<std::string *>(user)->append(data, size * count);
  return size * count;
}

std::string CurlGet(const std::string &url) {
  std::string body;
  CURL *curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body;
}

std::vector<std::string> CurlGetAll(const std::vector<std::string> &urls) {
  CURLM *multi = curl_multi_init();
  // A few connections, each kept alive for several pictures.
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, 4L);
  std::vector<std::string> bodies(urls.size());
  std::vector<CURL *> handles;
  for (size_t i = 0; i < urls.size(); ++i) {
    CURL *curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, urls[i].c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bodies[i]);
    curl_multi_add_handle(multi, curl);
    handles.push_back(curl);
  }
  int running = 1;
  while (running) {
    curl_multi_perform(multi, &running);
    if (running) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  for (CURL *curl : handles) {
    curl_multi_remove_handle(multi, curl);
    curl_easy_cleanup(curl);
  }
  curl_multi_cleanup(multi);
  return bodies;
}

// The thumbnail addresses of a feed page, read as the program reads them.
std::vector<std::string> ThumbnailUrls(const std::string &feed) {
  std::vector<std::string> urls;
  for (size_t at = feed.find("<media:thumbnail url='"); at != std::string::npos;
       at = feed.find("<media:thumbnail url='", at + 1)) {
    const size_t start = at + 22;
    urls.push_back(feed.substr(start, feed.find('\'', start) - start));
  }
  return urls;
}

// The widgets of 25 result panels built bare, as plain Qt widgets with the
// page's texts and the panels' geometry, in a hidden area that is then shown.
// Answers the thumbnail labels.
std::vector<QLabel *> BuildBarePanels(QScrollArea &area, const std::vector<TVideo> &videos,
                                      const QPixmap &add) {
  std::vector<QLabel *> thumbnails;
  area.hide();
  QWidget *page = area.widget();
  const int width = area.width();
  for (std::size_t i = 0; i < videos.size(); ++i) {
    const TVideo &video = videos[i];
    auto *panel = new QWidget(page);
    panel->setAutoFillBackground(true);
    panel->setGeometry(0, static_cast<int>(i) * ResultPanelPitch, width - 20, ResultPanelHeight);
    auto label = [panel](const QString &text, int top) {
      auto *l = new QLabel(text, panel);
      l->move(144, top);
      l->adjustSize();
      return l;
    };
    QLabel *title = label(QString::fromStdString(video.Title), 5);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    label("Views: " + QString::fromStdString(video.ViewCount), 32);
    label("Rating: " + QString::fromStdString(video.Rating), 51);
    label("Duration: " + QString::fromStdString(video.Duration), 70);
    label("Description: " + QString::fromStdString(video.Description), 89)->resize(width - 165, 17);
    auto *select = new QLabel(panel);
    select->setPixmap(add);
    select->setGeometry(width - add.width() - 25, 8, add.width(), add.height());
    thumbnails.push_back(new QLabel(panel));
    thumbnails.back()->setGeometry(8, 5, 130, 97);
  }
  page->setMinimumHeight(static_cast<int>(videos.size()) * ResultPanelPitch);
  area.show();
  return thumbnails;
}

// Serves the event loop, sleeping until something arrives, until `done`.
void Turn(const std::function<bool()> &done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  curl_global_init(CURL_GLOBAL_DEFAULT);

  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());

  server::TServerOptions options;
  options.Library = fs::path(home.path().toStdString()) / "library";
  options.Data = fs::path(home.path().toStdString()) / "server";
  options.Assets = fs::path(home.path().toStdString()) / "assets";
  options.FeedPort = options.WebPort = options.ServicePort = 0;
  fs::create_directories(options.Library);
  fs::create_directories(options.Assets);
  server::TSonaboxServer server(options);
  FillLibrary(server);
  server.Start();
  const std::string feedHost = "127.0.0.1:" + std::to_string(server.FeedPort());
  StoreWriteString("VideoDataHost", feedHost);
  StoreWriteString("VideoWebHost", server.WebHost());

  Settings = new TSettings();
  auto window = std::make_unique<TfMain>();
  window->pMain->setCurrentWidget(window->pFind);
  window->show();
  window->pFind->edTubeSearch->setText(kKeywords);
  QCoreApplication::processEvents();

  TTubeSearch probe(kKeywords, "Music");
  const std::string feedUrl = probe.FeedUrl();
  const std::string firstPage = CurlGet(feedUrl);
  const std::vector<std::string> thumbnails = ThumbnailUrls(firstPage);
  if (thumbnails.size() != 25) {
    std::fprintf(stderr, "the feed gave %zu entries, not 25\n", thumbnails.size());
    return 1;
  }

  // The bare widgets go into an area of the result area's size, in a window of its own.
  QWidget bareWindow;
  QScrollArea bare(&bareWindow);
  bare.setWidget(new QWidget);
  bare.resize(window->pFind->sbResults->size());
  bareWindow.resize(bare.size());
  bareWindow.show();

  std::vector<double> panels, pictures, feedFloor, allFloor, widgetFloor, bareFloor;
  for (int round = 0; round < kRounds + 1; ++round) {
    // The program: Enter, then wait for the panels and their thumbnails.
    const auto start = Clock::now();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(window->pFind->edTubeSearch, &enter);
    Turn([&] {
      return window->pFind->TubeSearch == nullptr && window->pFind->sbResults->isVisible();
    });
    const auto shown = Clock::now();
    Turn([&] {
      return std::all_of(window->pFind->VisualResults.begin(), window->pFind->VisualResults.end(),
                         [](TVisualResult *r) { return !r->ThumbnailImage->WebPicture().Empty(); });
    });
    const auto decoded = Clock::now();
    if (window->pFind->VisualResults.size() != 25) {
      std::fprintf(stderr, "the search showed %zu panels\n", window->pFind->VisualResults.size());
      return 1;
    }

    // The floor: the same addresses with plain libcurl.
    const auto floorStart = Clock::now();
    const std::string page = CurlGet(feedUrl);
    const auto pageDone = Clock::now();
    CurlGetAll(ThumbnailUrls(page));
    const auto floorDone = Clock::now();

    std::vector<TVideo> videos;
    for (const TVisualResult *result : window->pFind->VisualResults)
      videos.push_back(result->Video);
    const QPixmap add = window->pFind->iFindAdd->pixmap();
    delete bare.takeWidget();
    bare.setWidget(new QWidget);
    const auto widgetsStart = Clock::now();
    const std::vector<QLabel *> bareThumbnails = BuildBarePanels(bare, videos, add);
    const auto widgetsDone = Clock::now();
    // The thumbnails fetched, decoded and shown on this one thread.
    const std::vector<std::string> jpegs = CurlGetAll(ThumbnailUrls(page));
    for (std::size_t i = 0; i < jpegs.size() && i < bareThumbnails.size(); ++i)
      bareThumbnails[i]->setPixmap(QPixmap::fromImage(QImage::fromData(
          reinterpret_cast<const uchar *>(jpegs[i].data()), static_cast<int>(jpegs[i].size()))));
    const auto picturesDone = Clock::now();

    if (round == 0) continue; // warming up
    panels.push_back(Ms(start, shown));
    pictures.push_back(Ms(start, decoded));
    feedFloor.push_back(Ms(floorStart, pageDone));
    allFloor.push_back(Ms(floorStart, floorDone));
    widgetFloor.push_back(Ms(floorStart, pageDone) + Ms(widgetsStart, widgetsDone));
    bareFloor.push_back(Ms(floorStart, pageDone) + Ms(widgetsStart, picturesDone));
  }
  Turn([] { return TDownLoadThread::Running() == 0; });

  const double p = Median(panels), pf = Median(feedFloor);
  const double t = Median(pictures), tf = Median(allFloor), pw = Median(widgetFloor),
               tw = Median(bareFloor);
  std::printf("search of %d-video catalogue, 25 results, median of %d rounds\n", kVideos, kRounds);
  const auto line = [](const char *what, double ms, double ratio) {
    std::printf("    %-64s %8.2f ms   ratio %.2f\n", what, ms, ratio);
  };
  std::printf("  Enter to 25 panels shown:     %8.2f ms\n", p);
  line("floor: the feed fetched", pf, p / pf);
  line("second floor: the feed fetched, the same widgets built bare", pw, p / pw);
  std::printf("  Enter to 25 thumbnails shown: %8.2f ms\n", t);
  line("floor: the feed and the 25 thumbnails fetched", tf, t / tf);
  line("second floor: the same, bare widgets, pictures decoded, 1 thread", tw, t / tw);
  std::printf("  target: ratio <= 1.5 (to each first floor)\n");

  window.reset();
  server.Stop();
  return 0;
}
