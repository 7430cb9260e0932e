#pragma once
// The remote picture control: a widget that is given the address of a picture
// on the web, fetches it in the background and shows it when it has arrived.
//
// TWebPicture holds the picture and does the fetching (libcurl in a
// TDownLoadThread on a pool of threads) and the decoding (Qt's image readers). TWebImage is the
// widget that owns one TWebPicture and paints it.
#include <QByteArray>
#include <QImage>
#include <QRunnable>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sonabox {

class TWebPicture;
struct TFetchLink; // what a running fetch shares with its picture

// Decodes picture bytes (JPEG, PNG, GIF, BMP, icons: whatever Qt's image
// readers know). Throws std::runtime_error with the user-facing message on
// failure. A GIF gives its first image.
QImage DecodePicture(const QByteArray &bytes);

class TWebPicture {
public:
  // The largest picture accepted, from the web or from a file.
  static constexpr int64_t MaxPictureBytes = 16 * 1024 * 1024;

  // `changed` runs on the UI thread each time the shown picture has changed.
  explicit TWebPicture(std::function<void()> changed = {});
  // Detaches a fetch still under way: it is cancelled and its outcome dropped.
  ~TWebPicture();
  TWebPicture(const TWebPicture &) = delete;
  TWebPicture &operator=(const TWebPicture &) = delete;

  // "RES://name": the embedded resource of that name (case ignored).
  // "FILE://path": a regular local file of at most MaxPictureBytes.
  // Anything else: fetched in the background unless a fetch is already under
  // way, in which case the address is ignored.
  // Resource and file loads that fail leave the picture as it was, except
  // that data which cannot be decoded empties it. Never throws.
  void LoadFromURL(const std::string &address);

  bool Empty() const { return image_.isNull(); }
  bool Busy() const { return link_ != nullptr; }
  const QImage &Image() const { return image_; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  const QByteArray &Bytes() const { return bytes_; } // as received
  const std::string &URL() const { return url_; }    // the last address fetched

  // With this on, an answer without a usable content length is refused with
  // "Image size is 0". Off unless set.
  bool CheckContentLength = false;

  // Notifications. Progress, cancel, complete and error run on the fetching
  // thread, one at a time, and never after the picture has been freed; a
  // handler must not wait for the UI thread. Frame change runs on the UI
  // thread after the shown picture changed.
  std::function<void(TWebPicture *, int64_t received, int64_t total)> OnDownLoadProgress;
  std::function<void(TWebPicture *, bool &cancel)> OnDownLoadCancel;
  std::function<void(TWebPicture *)> OnDownLoadComplete;
  std::function<void(TWebPicture *, const std::string &message)> OnDownLoadError;
  std::function<void(TWebPicture *)> OnFrameChange;

private:
  friend class TDownLoadThread;
  void LoadFromBytes(const QByteArray &bytes);
  // Ends the busy state. When the fetch brought bytes they replace the
  // picture (`image` is null when they could not be decoded).
  void FetchEnded(bool arrived, const QByteArray &bytes, const QImage &image);
  void Changed();

  QByteArray bytes_;
  QImage image_;
  std::string url_;
  std::function<void()> changed_;
  std::shared_ptr<TFetchLink> link_; // set while busy
};

// One background fetch of a picture, run by a pool of threads: at most four
// fetches run at once; the others wait for their turn. The pool frees it once
// it has run; its outcome goes to the picture on the UI thread.
class TDownLoadThread : public QRunnable {
public:
  TDownLoadThread(std::shared_ptr<TFetchLink> link, std::string url, bool checkContentLength);

  // Fetches whose outcome has not yet been handed to their picture. The
  // program never waits for them; tests do.
  static int Running();

  void run() override;

private:
  std::shared_ptr<TFetchLink> link_;
  std::string url_;
  bool checkContentLength_;
};

enum TBitmapPosition {
  bpTopLeft,
  bpTopRight,
  bpBottomLeft,
  bpBottomRight,
  bpCenter,
  bpTiled,
  bpStretched
};

// The control: paints its picture at its natural size (clipped to the
// control), nothing while the picture is empty.
class TWebImage : public QWidget {
  Q_OBJECT
public:
  explicit TWebImage(QWidget *parent = nullptr);
  ~TWebImage() override;

  TWebPicture &WebPicture() { return *picture_; }
  TBitmapPosition PicturePosition() const { return position_; }
  void SetPicturePosition(TBitmapPosition position);

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  std::unique_ptr<TWebPicture> picture_;
  TBitmapPosition position_ = bpTopLeft;
};

} // namespace sonabox
