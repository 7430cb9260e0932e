#include "ui/widgets/WebImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QThreadPool>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace sonabox {

// What a running fetch shares with its picture. The picture's destructor sets
// `picture` to null (detaching); the fetching thread reads it only under the
// lock, so it never calls into a freed picture, and it stops at its next
// chance once detached.
struct TFetchLink {
  std::mutex mutex;
  TWebPicture *picture = nullptr;

  template <class F> bool Notify(F &&f) {
    std::lock_guard lock(mutex);
    if (!picture) return false;
    f(*picture);
    return true;
  }
  bool Detached() {
    std::lock_guard lock(mutex);
    return picture == nullptr;
  }
};

namespace {

constexpr long BlockBytes = 4096;
constexpr long TimeOutSeconds = 15;

std::atomic<int> runningFetches{0};

// The fetches run on a pool of at most four threads; the others wait their
// turn in its queue. A page of results asks for 25 pictures at the same moment,
// and a server's queue of connections waiting to be accepted can be as short
// as 5: past it, a connection attempt is dropped and retried only a second
// later. The pool is never freed, so that the program's end never waits for a
// fetch.
QThreadPool &FetchPool() {
  static QThreadPool *const pool = [] {
    auto *made = new QThreadPool;
    made->setMaxThreadCount(4);
    return made;
  }();
  return *pool;
}

bool StartsWithNoCase(const std::string &text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// Reads a regular file of at most MaxPictureBytes; false otherwise.
bool ReadPictureFile(const std::string &path, QByteArray &bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.resize(TWebPicture::MaxPictureBytes + 1);
  in.read(bytes.data(), bytes.size());
  if (in.bad() || in.gcount() > TWebPicture::MaxPictureBytes) return false;
  bytes.resize(in.gcount());
  return true;
}

// Finds an embedded resource by name without regard to case.
bool ReadPictureResource(const std::string &name, QByteArray &bytes) {
  const QString wanted = QString::fromStdString(name);
  QString found;
  if (QFile::exists(":/" + wanted)) {
    found = ":/" + wanted;
  } else {
    QDirIterator it(":/", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      if (path.mid(2).compare(wanted, Qt::CaseInsensitive) == 0 ||
          it.fileName().compare(wanted, Qt::CaseInsensitive) == 0) {
        found = path;
        break;
      }
    }
  }
  QFile file(found);
  if (found.isEmpty() || file.size() > TWebPicture::MaxPictureBytes ||
      !file.open(QIODevice::ReadOnly))
    return false;
  bytes = file.readAll();
  return true;
}

// The state of one transfer, seen by libcurl's callbacks.
struct TTransfer {
  CURL *curl = nullptr;
  TFetchLink *link = nullptr;
  const std::string *url = nullptr;
  bool checkContentLength = false;
  bool answerChecked = false;
  std::string error; // a failed check, reported once the transfer is over
  bool cancelled = false;
  int64_t total = 0;
  QByteArray body;
};

// Status, content type and length of the answer, once its headers are in.
// Reports progress 0 of the total when the answer is acceptable.
bool CheckAnswer(TTransfer &t) {
  t.answerChecked = true;
  long status = 0;
  curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    t.error = "Cannot open URL " + *t.url;
    return false;
  }
  const char *type = nullptr;
  curl_easy_getinfo(t.curl, CURLINFO_CONTENT_TYPE, &type);
  std::string upper = type ? type : "";
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (upper.find("IMAGE") == std::string::npos) {
    t.error = "Resource is not of image type : " + *t.url;
    return false;
  }
  curl_off_t length = -1;
  curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (length <= 0 && t.checkContentLength) {
    t.error = "Image size is 0";
    return false;
  }
  t.total = length > 0 ? length : 0;
  if (!t.link->Notify([&](TWebPicture &p) {
        if (p.OnDownLoadProgress) p.OnDownLoadProgress(&p, 0, t.total);
      }))
    t.cancelled = true;
  return !t.cancelled;
}

size_t WriteBlock(char *data, size_t size, size_t count, void *user) {
  auto &t = *static_cast<TTransfer *>(user);
  const size_t n = size * count;
  if (!t.answerChecked && !CheckAnswer(t)) return 0;
  if (t.body.size() + static_cast<int64_t>(n) > TWebPicture::MaxPictureBytes) {
    t.error = "Image too large : " + *t.url;
    return 0;
  }
  t.body.append(data, static_cast<qsizetype>(n));
  bool cancel = false;
  const bool attached = t.link->Notify([&](TWebPicture &p) {
    if (p.OnDownLoadProgress) p.OnDownLoadProgress(&p, t.body.size(), t.total);
    if (p.OnDownLoadCancel) p.OnDownLoadCancel(&p, cancel);
  });
  if (!attached || cancel) {
    t.cancelled = true;
    return 0;
  }
  return n;
}

// Called by libcurl about once a second even while nothing arrives, so a
// detached fetch stops soon after its picture has gone.
int CheckDetached(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<TTransfer *>(user)->link->Detached() ? 1 : 0;
}

// A fetch either brings bytes (whose picture is null when they cannot be
// decoded) or leaves the picture as it was.
struct TFetchResult {
  bool arrived = false;
  QByteArray bytes;
  QImage image;
};

TFetchResult Fetch(TFetchLink &link, const std::string &url, bool checkContentLength) {
  TFetchResult result;
  auto report = [&](const std::string &message) {
    link.Notify([&](TWebPicture &p) {
      if (p.OnDownLoadError) p.OnDownLoadError(&p, message);
    });
  };
  if (link.Detached()) // freed while waiting for its turn
    return result;
  CURL *curl = curl_easy_init();
  if (!curl) {
    report("Cannot open internet session");
    return result;
  }
  TTransfer t;
  t.curl = curl;
  t.link = &link;
  t.url = &url;
  t.checkContentLength = checkContentLength;

  curl_slist *headers = curl_slist_append(nullptr, "Pragma: no-cache");
  headers = curl_slist_append(headers, "Cache-Control: no-cache");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "WebImage");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, TimeOutSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, TimeOutSeconds);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, BlockBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBlock);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckDetached);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

  const CURLcode code = curl_easy_perform(curl);
  // An answer without a body never reached the write callback.
  if (code == CURLE_OK && !t.answerChecked) CheckAnswer(t);
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);

  if (t.cancelled || link.Detached()) return result;
  if (!t.error.empty()) {
    report(t.error);
    return result;
  }
  if (code != CURLE_OK) {
    // No answer at all, or one broken off: a partial picture is not shown.
    report("Cannot open http connection");
    return result;
  }
  result.arrived = true;
  result.bytes = std::move(t.body);
  try {
    result.image = DecodePicture(result.bytes);
  } catch (const std::exception &) {
    // A picture that cannot be decoded ends the fetch without a message.
    return result;
  }
  link.Notify([&](TWebPicture &p) {
    if (p.OnDownLoadComplete) p.OnDownLoadComplete(&p);
  });
  return result;
}

} // namespace

QImage DecodePicture(const QByteArray &bytes) {
  if (bytes.isEmpty()) throw std::runtime_error("Empty image stream created");
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  if (!reader.canRead()) throw std::runtime_error("Could not load image. Invalid format");
  QImage image = reader.read();
  if (image.isNull()) throw std::runtime_error("Could not load image");
  return image;
}

// TWebPicture

TWebPicture::TWebPicture(std::function<void()> changed) : changed_(std::move(changed)) {}

TWebPicture::~TWebPicture() {
  if (link_) {
    std::lock_guard lock(link_->mutex);
    link_->picture = nullptr;
  }
}

void TWebPicture::LoadFromURL(const std::string &address) {
  QByteArray bytes;
  if (StartsWithNoCase(address, "RES://")) {
    const std::string name = address.substr(6);
    if (!name.empty() && ReadPictureResource(name, bytes)) LoadFromBytes(bytes);
    return;
  }
  if (StartsWithNoCase(address, "FILE://")) {
    if (ReadPictureFile(address.substr(7), bytes)) LoadFromBytes(bytes);
    return;
  }
  if (Busy()) return;
  url_ = address;
  link_ = std::make_shared<TFetchLink>();
  link_->picture = this;
  FetchPool().start(new TDownLoadThread(link_, address, CheckContentLength));
}

void TWebPicture::LoadFromBytes(const QByteArray &bytes) {
  const bool wasEmpty = Empty();
  bytes_ = bytes;
  try {
    image_ = DecodePicture(bytes);
  } catch (const std::exception &) {
    image_ = QImage();
    if (wasEmpty) return;
  }
  Changed();
}

void TWebPicture::FetchEnded(bool arrived, const QByteArray &bytes, const QImage &image) {
  link_.reset();
  if (!arrived) return;
  const bool wasEmpty = Empty();
  bytes_ = bytes;
  image_ = image;
  if (!image_.isNull() || !wasEmpty) Changed();
}

void TWebPicture::Changed() {
  if (changed_) changed_();
  if (OnFrameChange) OnFrameChange(this);
}

// TDownLoadThread

TDownLoadThread::TDownLoadThread(std::shared_ptr<TFetchLink> link, std::string url,
                                 bool checkContentLength)
    : link_(std::move(link)), url_(std::move(url)), checkContentLength_(checkContentLength) {
  ++runningFetches;
}

int TDownLoadThread::Running() { return runningFetches; }

void TDownLoadThread::run() {
  TFetchResult result = Fetch(*link_, url_, checkContentLength_);
  // The picture is handed over on the UI thread, where the application object
  // lives; a detached picture gets nothing. The fetch counts as running until then.
  QCoreApplication *application = QCoreApplication::instance();
  if (!application) {
    --runningFetches;
    return;
  }
  QMetaObject::invokeMethod(
      application,
      [link = link_, result = std::move(result)] {
        --runningFetches;
        TWebPicture *picture = nullptr;
        {
          std::lock_guard lock(link->mutex);
          picture = link->picture;
        }
        if (picture) picture->FetchEnded(result.arrived, result.bytes, result.image);
      },
      Qt::QueuedConnection);
}

// TWebImage

TWebImage::TWebImage(QWidget *parent)
    : QWidget(parent), picture_(std::make_unique<TWebPicture>([this] { update(); })) {
  resize(100, 100);
}

TWebImage::~TWebImage() = default;

void TWebImage::SetPicturePosition(TBitmapPosition position) {
  position_ = position;
  update();
}

void TWebImage::paintEvent(QPaintEvent *) {
  const QImage &image = picture_->Image();
  if (image.isNull()) return;
  QPainter painter(this);
  const int spareX = std::max(0, width() - image.width());
  const int spareY = std::max(0, height() - image.height());
  switch (position_) {
  case bpTopLeft: painter.drawImage(0, 0, image); break;
  case bpTopRight: painter.drawImage(spareX, 0, image); break;
  case bpBottomLeft: painter.drawImage(0, spareY, image); break;
  case bpBottomRight: painter.drawImage(spareX, spareY, image); break;
  case bpCenter: painter.drawImage(spareX / 2, spareY / 2, image); break;
  case bpTiled: painter.fillRect(rect(), QBrush(image)); break;
  case bpStretched: painter.drawImage(rect(), image); break;
  }
}

} // namespace sonabox
