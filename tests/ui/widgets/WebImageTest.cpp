#include "ui/widgets/WebImage.h"
#include "support/EventLoop.h"
#include "support/TestFolders.h"
#include "support/TestHttp.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPixmap>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

using namespace sonabox;
using sonabox::test::ProcessEventsUntil;
namespace fs = std::filesystem;

namespace {

QByteArray Encode(const QImage &image, const char *format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes;
}

QByteArray SolidJpeg(QColor color, int width = 130, int height = 97) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(color);
  return Encode(image, "JPG");
}

// A picture big enough to arrive in many blocks.
QByteArray NoiseJpeg() {
  QImage image(400, 300, QImage::Format_RGB32);
  std::mt19937 random(7);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, random() & 0xFFFFFF);
  return Encode(image, "JPG");
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
         std::abs(a.blue() - b.blue()) < 24;
}

QColor PixelOf(QWidget &widget, int x, int y) { return widget.grab().toImage().pixelColor(x, y); }

// An address on 127.0.0.1 where nothing listens.
std::string ClosedAddress() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.jpg";
}

// What the fetch notifications saw; they run on the fetching thread.
struct Seen {
  std::mutex mutex;
  std::vector<std::pair<int64_t, int64_t>> progress;
  std::vector<std::string> errors;
  int completes = 0;

  void Attach(TWebPicture &picture) {
    picture.OnDownLoadProgress = [this](TWebPicture *, int64_t received, int64_t total) {
      std::lock_guard lock(mutex);
      progress.emplace_back(received, total);
    };
    picture.OnDownLoadError = [this](TWebPicture *, const std::string &message) {
      std::lock_guard lock(mutex);
      errors.push_back(message);
    };
    picture.OnDownLoadComplete = [this](TWebPicture *) {
      std::lock_guard lock(mutex);
      ++completes;
    };
  }
};

class WebImageTest : public ::testing::Test {
protected:
  WebImageTest()
      : red_(SolidJpeg(Qt::red)), blue_(SolidJpeg(Qt::blue)), noise_(NoiseJpeg()),
        server_([this](httplib::Server &s) { Routes(s); }) {}

  ~WebImageTest() override {
    {
      std::lock_guard lock(mutex_);
      gateOpen_ = true;
      stopping_ = true;
    }
    changed_.notify_all();
  }

  void Routes(httplib::Server &s) {
    auto image = [](const QByteArray &bytes, const char *type) {
      return [bytes, type](const httplib::Request &, httplib::Response &res) {
        res.set_content(bytes.toStdString(), type);
      };
    };
    s.Get("/red.jpg", [this](const httplib::Request &, httplib::Response &res) {
      ++redHits_;
      res.set_content(red_.toStdString(), "image/jpeg");
    });
    s.Get("/blue.jpg", image(blue_, "image/jpeg"));
    s.Get("/noise.jpg", image(noise_, "image/jpeg"));
    s.Get("/upper.jpg", image(blue_, "IMAGE/JPEG"));
    s.Get("/garbage.jpg", image("this is no picture at all", "image/jpeg"));
    s.Get("/page.html", image(red_, "text/html"));
    s.Get("/missing.jpg", [this](const httplib::Request &, httplib::Response &res) {
      res.status = 404;
      res.set_content(red_.toStdString(), "image/jpeg");
    });
    s.Get("/untyped.jpg", [this](const httplib::Request &, httplib::Response &res) {
      res.body = red_.toStdString();
    });
    s.Get("/huge.jpg", [](const httplib::Request &, httplib::Response &res) {
      res.set_content(std::string(TWebPicture::MaxPictureBytes + 1, 'x'), "image/jpeg");
    });
    s.Get("/to-blue.jpg",
          [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/blue.jpg"); });
    s.Get("/to-ftp.jpg", [](const httplib::Request &, httplib::Response &res) {
      res.set_redirect("ftp://127.0.0.1/blue.jpg");
    });
    // No Content-Length: the body comes in chunks.
    s.Get("/chunked.jpg", [this](const httplib::Request &, httplib::Response &res) {
      res.set_chunked_content_provider(
          "image/jpeg", [this](size_t offset, httplib::DataSink &sink) {
            const size_t n = std::min<size_t>(1000, blue_.size() - offset);
            if (n > 0)
              sink.write(blue_.constData() + offset, n);
            else
              sink.done();
            return true;
          });
    });
    // Answers once the test opens the gate.
    s.Get("/gate.jpg", [this](const httplib::Request &, httplib::Response &res) {
      std::unique_lock lock(mutex_);
      ++atGate_;
      mostAtGate_ = std::max(mostAtGate_, atGate_);
      changed_.wait(lock, [this] { return gateOpen_; });
      --atGate_;
      res.set_content(blue_.toStdString(), "image/jpeg");
    });
    // Trickles bytes until the client hangs up or the test ends.
    s.Get("/slow.jpg", [this](const httplib::Request &, httplib::Response &res) {
      ++slowStarted_;
      res.set_chunked_content_provider("image/jpeg", [this](size_t, httplib::DataSink &sink) {
        while (true) {
          {
            std::lock_guard lock(mutex_);
            if (stopping_) {
              sink.done();
              return true;
            }
          }
          if (!sink.write("x", 1)) {
            ++slowClientGone_;
            return false;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
      });
    });
  }

  void OpenGate() {
    {
      std::lock_guard lock(mutex_);
      gateOpen_ = true;
    }
    changed_.notify_all();
  }

  static bool Settle(TWebPicture &picture) {
    return ProcessEventsUntil([&] { return !picture.Busy(); });
  }

  // A control that already shows the blue picture.
  std::unique_ptr<TWebImage> ShowingBlue() {
    auto control = std::make_unique<TWebImage>();
    control->WebPicture().LoadFromURL(server_.Url("/blue.jpg"));
    EXPECT_TRUE(Settle(control->WebPicture()));
    EXPECT_FALSE(control->WebPicture().Empty());
    return control;
  }

  QByteArray red_, blue_, noise_;
  std::atomic<int> redHits_{0}, slowStarted_{0}, slowClientGone_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool gateOpen_ = false, stopping_ = false;
  int atGate_ = 0, mostAtGate_ = 0; // requests waiting at the gate: now, at most
  test::TestHttpServer server_;
};

TEST_F(WebImageTest, FetchedPictureIsShownAtItsNaturalSize) {
  TWebImage control;
  control.resize(130, 97);
  EXPECT_EQ(TWebImage().size(), QSize(100, 100));
  EXPECT_EQ(control.PicturePosition(), bpTopLeft);
  const QColor empty = PixelOf(control, 0, 0);
  Seen seen;
  seen.Attach(control.WebPicture());
  int frames = 0;
  control.WebPicture().OnFrameChange = [&](TWebPicture *) { ++frames; };

  control.WebPicture().LoadFromURL(server_.Url("/red.jpg"));
  EXPECT_TRUE(control.WebPicture().Busy());
  ASSERT_TRUE(Settle(control.WebPicture()));

  TWebPicture &picture = control.WebPicture();
  EXPECT_FALSE(picture.Empty());
  EXPECT_EQ(picture.Width(), 130);
  EXPECT_EQ(picture.Height(), 97);
  EXPECT_EQ(picture.Bytes(), red_);
  EXPECT_EQ(picture.URL(), server_.Url("/red.jpg"));
  EXPECT_FALSE(Near(empty, Qt::red));
  EXPECT_TRUE(Near(PixelOf(control, 0, 0), Qt::red));
  EXPECT_TRUE(Near(PixelOf(control, 129, 96), Qt::red));
  EXPECT_EQ(seen.completes, 1);
  EXPECT_TRUE(seen.errors.empty());
  EXPECT_EQ(frames, 1);
}

TEST_F(WebImageTest, AcceptedAnswers) {
  // Each of these brings the blue picture.
  for (const char *path : {"/blue.jpg", "/chunked.jpg", "/upper.jpg", "/to-blue.jpg"}) {
    SCOPED_TRACE(path);
    TWebImage control;
    Seen seen;
    seen.Attach(control.WebPicture());
    control.WebPicture().LoadFromURL(server_.Url(path));
    ASSERT_TRUE(Settle(control.WebPicture()));
    EXPECT_EQ(control.WebPicture().Bytes(), blue_);
    EXPECT_TRUE(Near(PixelOf(control, 50, 50), Qt::blue));
    EXPECT_TRUE(seen.errors.empty());
    ASSERT_FALSE(seen.progress.empty());
    const int64_t total = std::string(path) == "/chunked.jpg" ? 0 : blue_.size();
    EXPECT_EQ(seen.progress.front(), std::make_pair(int64_t{0}, total));
    EXPECT_EQ(seen.progress.back(), std::make_pair(int64_t{blue_.size()}, total));
  }
}

TEST_F(WebImageTest, RefusedAnswersChangeNothing) {
  struct Case {
    std::string address;
    std::string error;
  };
  const std::string closed = ClosedAddress();
  const std::vector<Case> cases = {
      {server_.Url("/missing.jpg"), "Cannot open URL " + server_.Url("/missing.jpg")},
      {server_.Url("/page.html"), "Resource is not of image type : " + server_.Url("/page.html")},
      {server_.Url("/untyped.jpg"),
       "Resource is not of image type : " + server_.Url("/untyped.jpg")},
      {server_.Url("/to-ftp.jpg"), "Cannot open http connection"},
      {closed, "Cannot open http connection"},
      {"ftp://" + server_.Host() + "/blue.jpg", "Cannot open http connection"},
      {server_.Url("/huge.jpg"), "Image too large : " + server_.Url("/huge.jpg")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    // A new control stays empty.
    TWebImage fresh;
    Seen seen;
    seen.Attach(fresh.WebPicture());
    fresh.WebPicture().LoadFromURL(c.address);
    ASSERT_TRUE(Settle(fresh.WebPicture()));
    EXPECT_TRUE(fresh.WebPicture().Empty());
    EXPECT_TRUE(fresh.WebPicture().Bytes().isEmpty());
    EXPECT_EQ(seen.errors, std::vector<std::string>{c.error});
    EXPECT_EQ(seen.completes, 0);

    // A control that shows a picture keeps it.
    auto shown = ShowingBlue();
    shown->WebPicture().LoadFromURL(c.address);
    ASSERT_TRUE(Settle(shown->WebPicture()));
    EXPECT_EQ(shown->WebPicture().Bytes(), blue_);
    EXPECT_TRUE(Near(PixelOf(*shown, 50, 50), Qt::blue));
  }
}

TEST_F(WebImageTest, ContentLengthCheckRefusesAnAnswerWithoutOne) {
  TWebImage control;
  control.WebPicture().CheckContentLength = true;
  Seen seen;
  seen.Attach(control.WebPicture());
  control.WebPicture().LoadFromURL(server_.Url("/chunked.jpg"));
  ASSERT_TRUE(Settle(control.WebPicture()));
  EXPECT_TRUE(control.WebPicture().Empty());
  EXPECT_EQ(seen.errors, std::vector<std::string>{"Image size is 0"});

  control.WebPicture().LoadFromURL(server_.Url("/blue.jpg"));
  ASSERT_TRUE(Settle(control.WebPicture()));
  EXPECT_FALSE(control.WebPicture().Empty());
}

TEST_F(WebImageTest, ProgressComesInBlocksAndCancelKeepsThePicture) {
  TWebImage control;
  Seen seen;
  seen.Attach(control.WebPicture());
  control.WebPicture().LoadFromURL(server_.Url("/noise.jpg"));
  ASSERT_TRUE(Settle(control.WebPicture()));
  ASSERT_FALSE(control.WebPicture().Empty());
  const int64_t total = noise_.size();
  ASSERT_GT(total, 5 * 4096);
  ASSERT_GE(seen.progress.size(), 6u);
  EXPECT_EQ(seen.progress.front(), std::make_pair(int64_t{0}, total));
  EXPECT_EQ(seen.progress.back(), std::make_pair(total, total));
  for (size_t i = 1; i < seen.progress.size(); ++i) {
    const int64_t step = seen.progress[i].first - seen.progress[i - 1].first;
    EXPECT_GT(step, 0);
    EXPECT_LE(step, 4096);
  }

  // A cancel asked after the first block drops what came.
  auto shown = ShowingBlue();
  Seen cancelled;
  cancelled.Attach(shown->WebPicture());
  int asked = 0;
  shown->WebPicture().OnDownLoadCancel = [&](TWebPicture *, bool &cancel) {
    ++asked;
    cancel = true;
  };
  shown->WebPicture().LoadFromURL(server_.Url("/noise.jpg"));
  ASSERT_TRUE(Settle(shown->WebPicture()));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(shown->WebPicture().Bytes(), blue_);
  EXPECT_EQ(cancelled.completes, 0);
  EXPECT_TRUE(cancelled.errors.empty());
}

TEST_F(WebImageTest, AnAddressGivenWhileBusyIsIgnored) {
  TWebImage control;
  control.WebPicture().LoadFromURL(server_.Url("/gate.jpg"));
  ASSERT_TRUE(control.WebPicture().Busy());
  control.WebPicture().LoadFromURL(server_.Url("/red.jpg"));
  EXPECT_EQ(control.WebPicture().URL(), server_.Url("/gate.jpg"));
  OpenGate();
  ASSERT_TRUE(Settle(control.WebPicture()));
  EXPECT_EQ(control.WebPicture().Bytes(), blue_);
  EXPECT_EQ(redHits_, 0);

  // Once the fetch has ended the next address is taken.
  control.WebPicture().LoadFromURL(server_.Url("/red.jpg"));
  ASSERT_TRUE(Settle(control.WebPicture()));
  EXPECT_EQ(control.WebPicture().Bytes(), red_);
}

TEST_F(WebImageTest, ManyPicturesAtOnceComeAFewAtATime) {
  std::vector<std::unique_ptr<TWebImage>> controls;
  for (int i = 0; i < 30; ++i) {
    controls.push_back(std::make_unique<TWebImage>());
    controls.back()->WebPicture().LoadFromURL(server_.Url("/gate.jpg"));
  }
  ASSERT_TRUE(ProcessEventsUntil([&] {
    std::lock_guard lock(mutex_);
    return atGate_ == 4;
  }));
  OpenGate();
  for (auto &control : controls) ASSERT_TRUE(Settle(control->WebPicture()));
  for (auto &control : controls) EXPECT_EQ(control->WebPicture().Bytes(), blue_);
  std::lock_guard lock(mutex_);
  EXPECT_EQ(mostAtGate_, 4);
}

TEST_F(WebImageTest, UndecodableAnswerEmptiesThePictureAndTheNextAddressWorks) {
  auto control = ShowingBlue();
  Seen seen;
  seen.Attach(control->WebPicture());
  control->WebPicture().LoadFromURL(server_.Url("/garbage.jpg"));
  ASSERT_TRUE(Settle(control->WebPicture()));
  EXPECT_TRUE(control->WebPicture().Empty());
  EXPECT_EQ(control->WebPicture().Bytes(), QByteArray("this is no picture at all"));
  EXPECT_TRUE(seen.errors.empty()); // silent
  EXPECT_EQ(seen.completes, 0);
  EXPECT_FALSE(Near(PixelOf(*control, 50, 50), Qt::blue));

  control->WebPicture().LoadFromURL(server_.Url("/red.jpg"));
  ASSERT_TRUE(Settle(control->WebPicture()));
  EXPECT_TRUE(Near(PixelOf(*control, 50, 50), Qt::red));
}

TEST(WebPicture, DecodeFailures) {
  QByteArray brokenPng("\x89PNG\r\n\x1a\n", 8);
  brokenPng += QByteArray(64, '\x07');
  const std::vector<std::pair<QByteArray, std::string>> cases = {
      {QByteArray(), "Empty image stream created"},
      {QByteArray("plain words, no picture"), "Could not load image. Invalid format"},
      {brokenPng, "Could not load image"},
  };
  for (const auto &[bytes, message] : cases) {
    SCOPED_TRACE(message);
    try {
      DecodePicture(bytes);
      ADD_FAILURE() << "decoded";
    } catch (const std::runtime_error &error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  // What the image readers know is decoded whatever its name.
  QImage image(3, 2, QImage::Format_RGB32);
  image.fill(Qt::green);
  for (const char *format : {"PNG", "BMP", "JPG"})
    EXPECT_EQ(DecodePicture(Encode(image, format)).size(), QSize(3, 2)) << format;
}

TEST(WebPicture, LocalFilesAndResources) {
  test::TestFolders folders;
  QImage image(20, 10, QImage::Format_RGB32);
  image.fill(Qt::red);
  const std::string path = folders.Root() + "pic.png";
  test::WriteFileBytes(path, Encode(image, "PNG").toStdString());

  for (const std::string prefix : {"FILE://", "file://", "File://"}) {
    TWebPicture picture;
    picture.LoadFromURL(prefix + path);
    EXPECT_FALSE(picture.Busy());
    EXPECT_EQ(picture.Image().size(), QSize(20, 10)) << prefix;
  }

  // Not a regular file of sane size: nothing is read, nothing changes.
  const std::string huge = folders.Root() + "huge.png";
  fs::resize_file((test::WriteFileBytes(huge, ""), huge), TWebPicture::MaxPictureBytes + 1);
  fs::create_directory(folders.Root() + "folder");
  for (const std::string &bad : {folders.Root() + "missing.png", folders.Root() + "folder", huge,
                                 std::string("/dev/zero")}) {
    TWebPicture fresh;
    fresh.LoadFromURL("FILE://" + bad);
    EXPECT_TRUE(fresh.Empty()) << bad;
    EXPECT_FALSE(fresh.Busy());

    TWebPicture shown;
    shown.LoadFromURL("FILE://" + path);
    shown.LoadFromURL("file://" + bad);
    EXPECT_EQ(shown.Image().size(), QSize(20, 10)) << bad;
  }

  // A file that is no picture empties the picture.
  const std::string text = folders.Root() + "words.png";
  test::WriteFileBytes(text, "words");
  TWebPicture shown;
  shown.LoadFromURL("FILE://" + path);
  shown.LoadFromURL("FILE://" + text);
  EXPECT_TRUE(shown.Empty());

  // Embedded resources, found without regard to case.
  for (const std::string address : {"RES://find/dot.png", "res://FIND/DOT.PNG", "Res://dot.png"}) {
    TWebPicture picture;
    picture.LoadFromURL(address);
    EXPECT_EQ(picture.Image().size(), QSize(4, 3)) << address;
  }
  for (const std::string address : {"RES://", "RES://no-such-picture"}) {
    TWebPicture picture;
    picture.LoadFromURL(address);
    EXPECT_TRUE(picture.Empty()) << address;
  }
}

TEST(WebImage, PicturePositions) {
  test::TestFolders folders;
  // Left half red, right half green.
  QImage halves(40, 30, QImage::Format_RGB32);
  halves.fill(Qt::green);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x) halves.setPixel(x, y, qRgb(255, 0, 0));
  QImage large(200, 150, QImage::Format_RGB32);
  large.fill(Qt::red);
  const std::string small = folders.Root() + "halves.png";
  const std::string big = folders.Root() + "large.png";
  test::WriteFileBytes(small, Encode(halves, "PNG").toStdString());
  test::WriteFileBytes(big, Encode(large, "PNG").toStdString());

  TWebImage blank;
  const QColor background = PixelOf(blank, 50, 50);
  const QColor none = QColor(); // stands for the control's background
  struct Probe {
    int x, y;
    QColor color;
  };
  struct Case {
    TBitmapPosition position;
    std::string file;
    std::vector<Probe> probes;
  };
  const std::vector<Case> cases = {
      {bpTopLeft, small, {{5, 5, Qt::red}, {25, 5, Qt::green}, {50, 50, none}}},
      {bpTopRight, small, {{65, 5, Qt::red}, {85, 5, Qt::green}, {5, 5, none}}},
      {bpBottomLeft, small, {{5, 75, Qt::red}, {25, 95, Qt::green}, {5, 5, none}}},
      {bpBottomRight, small, {{65, 75, Qt::red}, {95, 95, Qt::green}, {5, 5, none}}},
      {bpCenter, small, {{35, 40, Qt::red}, {55, 60, Qt::green}, {5, 5, none}, {95, 95, none}}},
      {bpTiled, small, {{5, 5, Qt::red}, {30, 5, Qt::green}, {45, 35, Qt::red}, {95, 95, Qt::red}}},
      {bpStretched, small, {{30, 5, Qt::red}, {60, 95, Qt::green}, {5, 95, Qt::red}}},
      // Larger than the control: starts at the top-left edge and is clipped.
      {bpBottomRight, big, {{0, 0, Qt::red}, {99, 99, Qt::red}}},
      {bpCenter, big, {{0, 0, Qt::red}, {99, 99, Qt::red}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.position);
    TWebImage control;
    control.SetPicturePosition(c.position);
    control.WebPicture().LoadFromURL("FILE://" + c.file);
    const QImage shot = control.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(100, 100));
    for (const Probe &p : c.probes) {
      const QColor want = p.color.isValid() ? p.color : background;
      EXPECT_TRUE(Near(shot.pixelColor(p.x, p.y), want)) << p.x << "," << p.y;
    }
  }
}

// Controls freed while their fetch runs: the fetch stops, nothing is written
// into the freed control and no thread is left behind.
TEST_F(WebImageTest, FreeingTheControlMidFetchIsSafe) {
  for (int round = 0; round < 24; ++round) {
    auto control = std::make_unique<TWebImage>();
    auto arrived = std::make_shared<std::atomic<bool>>(false);
    control->WebPicture().OnDownLoadProgress = [arrived](TWebPicture *, int64_t received, int64_t) {
      if (received > 0) *arrived = true;
    };
    control->WebPicture().LoadFromURL(server_.Url("/slow.jpg"));
    if (round % 2 == 1) { // while bytes flow; else before the request is out
      ASSERT_TRUE(ProcessEventsUntil([&] { return arrived->load(); }));
    }
    control.reset();
  }
  // And one that is freed just as its answer arrives in full.
  auto gated = std::make_unique<TWebImage>();
  gated->WebPicture().LoadFromURL(server_.Url("/gate.jpg"));
  OpenGate();
  gated.reset();

  EXPECT_TRUE(ProcessEventsUntil([] { return TDownLoadThread::Running() == 0; }));
  EXPECT_TRUE(ProcessEventsUntil([&] { return slowClientGone_ == slowStarted_; }));
  EXPECT_GE(slowStarted_, 12);
}

} // namespace
