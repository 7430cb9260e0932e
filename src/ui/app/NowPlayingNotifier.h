#pragma once
// A desktop notification (org.freedesktop.Notifications on the session bus)
// each time another video starts while the main window is not the active
// window: the video's title, with its thumbnail when that can be fetched.
// The store value "notifyNextVideo" = 0 turns it off.
//
// The thumbnail is fetched in the background; the notification goes out when
// it has arrived, or without a picture when it cannot be had (at the latest
// after two seconds). Each notification replaces the one before, so the
// desktop shows one at a time. Without a session bus, or without a
// notification service on it, nothing is shown and nothing else happens.
#include <QImage>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

namespace sonabox {

class TPlayback;
class TWebPicture;

class TNowPlayingNotifier : public QObject {
  Q_OBJECT
public:
  // `playback` and `window` must outlive the notifier.
  TNowPlayingNotifier(TPlayback &playback, QWidget &window);
  ~TNowPlayingNotifier() override;

private:
  void VideoShown();
  void Send(const QImage &picture); // the notification of the video waiting for it

  TPlayback &playback_;
  QWidget &window_;
  std::string lastVideo_;                // the identifier and title of the last video told about
  std::string title_;                    // the title waiting for its picture
  bool waiting_ = false;                 // a notification waits for its picture
  uint64_t generation_ = 0;              // counts the videos told about
  std::unique_ptr<TWebPicture> picture_; // the thumbnail of the video waiting
  QTimer giveUp_;                        // sends without a picture
  uint32_t shownId_ = 0;                 // the service's id of the last notification
};

} // namespace sonabox
