#pragma once
// The desktop's media controls: the program on the session bus as an MPRIS
// player (org.mpris.MediaPlayer2.sonabox, object /org/mpris/MediaPlayer2), so
// that media keys, the desktop's media panel and remote controls drive
// playback (TPlayback), as the Play page's own controls do.
//
// A call that playback cannot do now (Next with no playlist open, Stop while
// nothing plays, a seek with nothing loaded) does nothing; while a dialog
// waits for an answer the calls do nothing at all. Next and Previous leave a
// paused or stopped player paused or stopped. OpenUri plays a watch or stream
// address of the web host at once, before the playlist's next video, and
// refuses any other address with an error. LoopStatus "Track" is Repeat one,
// "Playlist" In order (or a Shuffle mode while Shuffle is on), "None" plays the
// playlist once and stops; Shuffle on is Shuffle or Shuffle all, off In order.
// A Rate of 0 pauses; videos play at their own speed only. Fullscreen is the
// expanded window's.
//
// The properties are read when asked for, and each change that the desktop
// shows (status, the video's metadata, what can be done, the loop and shuffle
// modes, full screen) is sent as org.freedesktop.DBus.Properties.PropertiesChanged.
//
// Without a session bus nothing is registered and the program works as ever.
// When another program already holds the name, this one takes
// org.mpris.MediaPlayer2.sonabox.instance<pid>.
#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <string>

namespace sonabox {

class TPlayback;
class TPlayerViews;

// The calls arrive through the adaptors, but their context (the call being
// answered) is this object's: the bus sets it on an adaptor's parent.
class TMediaControls : public QObject, protected QDBusContext {
  Q_OBJECT
public:
  static constexpr char kServiceName[] = "org.mpris.MediaPlayer2.sonabox";
  static constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
  static constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
  static constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

  // `playback`, `views` and `window` must outlive the controls.
  TMediaControls(TPlayback &playback, TPlayerViews &views, QWidget &window);
  ~TMediaControls() override;

  // Puts the player on the session bus, and says on one line of the
  // program's output (standard error) how that went: no session bus is one
  // such line, never an error.
  void Register();
  // The name taken on the bus; empty when not registered.
  const QString &ServiceName() const { return serviceName_; }

  // org.mpris.MediaPlayer2
  void Raise();
  void Quit();
  bool Fullscreen() const;
  void SetFullscreen(bool on);

  // org.mpris.MediaPlayer2.Player
  void Next();
  void Previous();
  void Play();
  void Pause();
  void PlayPause();
  void Stop();
  void Seek(qlonglong offset);
  void SetPosition(const QDBusObjectPath &trackId, qlonglong position);
  QString PlaybackStatus() const;
  QVariantMap Metadata() const;
  double Volume() const;
  void SetVolume(double volume);
  qlonglong Position() const;
  bool CanGoNext() const;
  bool CanGoPrevious() const;
  bool CanPlay() const;
  bool CanPause() const;
  bool CanSeek() const;
  // False, answered on the bus with an InvalidArgs error, for an address this
  // program does not play.
  bool OpenUri(const QString &uri);
  QString LoopStatus() const;
  void SetLoopStatus(const QString &status);
  bool Shuffle() const;
  void SetShuffle(bool on);
  void SetRate(double rate);

  // The track id of a video identifier: an object path below /org/sonabox/track.
  static QDBusObjectPath TrackId(const std::string &videoId);

private:
  bool Accepting() const; // no dialog waits for an answer
  QVariantMap ChangingProperties() const;
  // PropertiesChanged for what differs from the last sent, once the step that
  // changed something has ended (a video is shown before its timer runs).
  void PublishChanges();
  static void SendChanges(const char *interface, const QVariantMap &now, QVariantMap &published);

  QTimer publish_;

  TPlayback &playback_;
  TPlayerViews &views_;
  QWidget &window_;
  QString serviceName_;
  QVariantMap published_, publishedRoot_;
};

// org.mpris.MediaPlayer2: the program itself.
class TMprisRootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
  Q_PROPERTY(bool Fullscreen READ Fullscreen WRITE SetFullscreen)
  Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
public:
  explicit TMprisRootAdaptor(TMediaControls &controls);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return "Sonabox"; }
  QString DesktopEntry() const { return "sonabox"; }
  QStringList SupportedUriSchemes() const { return {"http"}; }
  QStringList SupportedMimeTypes() const { return {}; }
  bool Fullscreen() const { return controls_.Fullscreen(); }
  void SetFullscreen(bool on) { controls_.SetFullscreen(on); }
  bool CanSetFullscreen() const { return true; }

public slots:
  void Raise() { controls_.Raise(); }
  void Quit() { controls_.Quit(); }

private:
  TMediaControls &controls_;
};

// org.mpris.MediaPlayer2.Player: playback of the Play page.
class TMprisPlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)
public:
  explicit TMprisPlayerAdaptor(TMediaControls &controls);
  QString PlaybackStatus() const { return controls_.PlaybackStatus(); }
  double Rate() const { return 1.0; } // videos play at their own speed only
  void SetRate(double rate) { controls_.SetRate(rate); }
  QString LoopStatus() const { return controls_.LoopStatus(); }
  void SetLoopStatus(const QString &status) { controls_.SetLoopStatus(status); }
  bool Shuffle() const { return controls_.Shuffle(); }
  void SetShuffle(bool on) { controls_.SetShuffle(on); }
  QVariantMap Metadata() const { return controls_.Metadata(); }
  double Volume() const { return controls_.Volume(); }
  void SetVolume(double volume) { controls_.SetVolume(volume); }
  qlonglong Position() const { return controls_.Position(); }
  bool CanGoNext() const { return controls_.CanGoNext(); }
  bool CanGoPrevious() const { return controls_.CanGoPrevious(); }
  bool CanPlay() const { return controls_.CanPlay(); }
  bool CanPause() const { return controls_.CanPause(); }
  bool CanSeek() const { return controls_.CanSeek(); }
  bool CanControl() const { return true; }

public slots:
  void Next() { controls_.Next(); }
  void Previous() { controls_.Previous(); }
  void Pause() { controls_.Pause(); }
  void PlayPause() { controls_.PlayPause(); }
  void Stop() { controls_.Stop(); }
  void Play() { controls_.Play(); }
  void Seek(qlonglong Offset) { controls_.Seek(Offset); }
  void SetPosition(const QDBusObjectPath &TrackId, qlonglong Position) {
    controls_.SetPosition(TrackId, Position);
  }
  void OpenUri(const QString &Uri) { controls_.OpenUri(Uri); }

signals:
  void Seeked(qlonglong Position);

private:
  TMediaControls &controls_;
};

} // namespace sonabox
