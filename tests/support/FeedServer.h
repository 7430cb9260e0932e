#pragma once
// A video feed on 127.0.0.1 for the Find page tests: pages of 25 entries in
// the feed's own form, thumbnails, and a gate that holds answers back.
#include "support/TestHttp.h"

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sonabox::test {

inline QByteArray Jpeg(QColor color) {
  QImage image(130, 97, QImage::Format_RGB32);
  image.fill(color);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG");
  return bytes;
}

inline const std::string kLongDescription =
    "A long walk through the hills at dawn with a band that plays every song twice and then once "
    "more for luck while the sun comes up over the water and nobody wants to go home";

// A video feed: `available` videos of which the feed claims `total`, pages of
// 25 from the start index asked for. Requests are recorded.
class FeedServer {
public:
  FeedServer() : jpeg_(Jpeg(Qt::darkCyan)), http_([this](httplib::Server &s) { Routes(s); }) {}
  ~FeedServer() { OpenGate(); }

  std::string Host() const { return http_.Host(); }

  void Set(int available, int total) {
    std::lock_guard lock(mutex_);
    available_ = available;
    total_ = total;
  }
  // The answer to "/feeds/api/categories"; without one it is 404. Held back
  // by the gate as the feed pages are.
  void SetCategories(std::optional<std::string> answer) {
    std::lock_guard lock(mutex_);
    categories_ = std::move(answer);
  }
  void SetFailing(bool failing) {
    std::lock_guard lock(mutex_);
    failing_ = failing;
  }
  void CloseGate() {
    std::lock_guard lock(mutex_);
    gateOpen_ = false;
  }
  void OpenGate() {
    {
      std::lock_guard lock(mutex_);
      gateOpen_ = true;
    }
    changed_.notify_all();
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

private:
  void Routes(httplib::Server &s) {
    s.Get("/feeds/api/videos.*", [this](const httplib::Request &req, httplib::Response &res) {
      std::unique_lock lock(mutex_);
      requests_.push_back(req.target);
      changed_.wait(lock, [this] { return gateOpen_; });
      if (failing_) {
        res.status = 500;
        res.set_content("gone fishing", "text/plain");
        return;
      }
      const int start = std::stoi(req.get_param_value("start-index"));
      std::string page =
          "<feed><openSearch:totalResults>" + std::to_string(total_) + "</openSearch:totalResults>";
      for (int i = start; i <= available_ && i < start + 25; ++i) page += Entry(i);
      page += "</feed>";
      res.set_content(page, "application/atom+xml");
    });
    s.Get("/feeds/api/categories", [this](const httplib::Request &, httplib::Response &res) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return gateOpen_; });
      res.status = categories_ ? 200 : 404;
      res.set_content(categories_.value_or("no categories here"), "application/xml");
    });
    // Thumbnail 3 is missing, thumbnail 4 is a web page; the rest are pictures.
    s.Get(R"(/thumb/(\d+)\.jpg)", [this](const httplib::Request &req, httplib::Response &res) {
      const int n = std::stoi(req.matches[1]);
      if (n == 3) {
        res.status = 404;
        res.set_content(jpeg_.toStdString(), "image/jpeg");
      } else if (n == 4) {
        res.set_content(jpeg_.toStdString(), "text/html");
      } else {
        res.set_content(jpeg_.toStdString(), "image/jpeg");
      }
    });
  }

  std::string Entry(int i) const {
    const std::string host = http_.Host();
    return "<entry>" +
           std::string(i == 5 ? "<author><name>Zo&#235; &amp; &lt;b&gt;Co&lt;/b&gt;</name></author>"
                              : "") +
           "<media:group><media:title type='plain'>Song " + std::to_string(i) +
           (i == 2 ? " with a title far too long to fit into the title line of its panel" : "") +
           "</media:title><media:description type='plain'>" +
           (i == 2 ? kLongDescription : "Short " + std::to_string(i)) +
           "</media:description><media:player url='http://" + host + "/watch?v=id" +
           std::to_string(i) + "'/><media:thumbnail url='http://" + host + "/thumb/" +
           std::to_string(i) + ".jpg' height='97' width='130'/><yt:duration seconds='" +
           std::to_string(60 + i) + "'/></media:group><gd:rating average='4.5' max='5' min='1'/>" +
           "<yt:statistics viewCount='" + std::to_string(1000 + i) + "'/></entry>";
  }

  QByteArray jpeg_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int available_ = 25, total_ = 25;
  bool failing_ = false, gateOpen_ = true;
  std::optional<std::string> categories_;
  std::vector<std::string> requests_;
  TestHttpServer http_;
};

} // namespace sonabox::test
