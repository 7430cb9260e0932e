#include "ui/widgets/MpvPlayer.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWindow>
#include <QWidget>

#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <functional>
#include <utility>

namespace sonabox {

// Draws the core's video into its own native window: an OpenGL window shown
// through a window container, a native child of the view. The main window's
// own native window and its drawing are left alone: an OpenGL widget would
// switch the whole window to OpenGL composition, re-creating its native window
// on the first video, after which the window could no longer be closed while
// a video played. The render context is made with the window's OpenGL
// context, the first time the window is exposed; until then the core has no
// video output to open, which is why the player holds its first address back
// until RenderReady.
class TMpvVideoWindow : public QOpenGLWindow {
public:
  TMpvVideoWindow(mpv_handle *mpv, std::function<void()> ready, std::function<void()> doubleClicked)
      : mpv_(mpv), ready_(std::move(ready)), doubleClicked_(std::move(doubleClicked)) {
    // Keys stay with the widgets around: the video never takes the focus.
    setFlag(Qt::WindowDoesNotAcceptFocus);
  }

  ~TMpvVideoWindow() override {
    if (render_) {
      makeCurrent();
      FreeRenderContext();
      doneCurrent();
    }
  }

protected:
  void initializeGL() override {
    mpv_opengl_init_params glInit{&GetProcAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, mpv_, params) < 0) render_ = nullptr;
    if (render_) mpv_render_context_set_update_callback(render_, &OnUpdate, this);
    ready_();
  }

  void paintGL() override {
    const qreal ratio = devicePixelRatio();
    if (!render_) {
      QOpenGLFunctions *gl = context()->functions();
      gl->glClearColor(0, 0, 0, 1);
      gl->glClear(GL_COLOR_BUFFER_BIT);
      return;
    }
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                 {MPV_RENDER_PARAM_FLIP_Y, &flipY},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, params);
  }

  // The clicks on the video are the window's, not its container's.
  void mouseDoubleClickEvent(QMouseEvent *) override { doubleClicked_(); }

private:
  static void *GetProcAddress(void *, const char *name) {
    QOpenGLContext *context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void *>(context->getProcAddress(name)) : nullptr;
  }

  // Called on a core thread: only queue a repaint.
  static void OnUpdate(void *window) {
    QMetaObject::invokeMethod(static_cast<TMpvVideoWindow *>(window), "update",
                              Qt::QueuedConnection);
  }

  void FreeRenderContext() {
    if (!render_) return;
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
    render_ = nullptr;
  }

  mpv_handle *mpv_;
  std::function<void()> ready_, doubleClicked_;
  mpv_render_context *render_ = nullptr;
};

namespace {
constexpr std::uint64_t kLoadReply = 1; // marks the core's answers to loadfile
void SetOption(mpv_handle *mpv, const char *name, const char *value) {
  mpv_set_option_string(mpv, name, value); // an option this build lacks is simply left out
}
} // namespace

TMpvPlayer::TMpvPlayer(QWidget *videoParent) {
  mpv_ = mpv_create();
  if (!mpv_) return;
  const bool nullOutput = QGuiApplication::platformName() == QLatin1String("offscreen");
  SetOption(mpv_, "vo", nullOutput ? "null" : "libmpv");
  if (nullOutput) SetOption(mpv_, "ao", "null");
  SetOption(mpv_, "audio-fallback-to-null",
            "yes"); // no sound device: keep the clock, show the video
  SetOption(mpv_, "keep-open", "no");
  SetOption(mpv_, "idle", "yes");
  SetOption(mpv_, "hwdec", "auto-safe");
  SetOption(mpv_, "ytdl", "no");
  SetOption(mpv_, "load-scripts", "no");
  SetOption(mpv_, "osc", "no");
  SetOption(mpv_, "input-default-bindings", "no");
  SetOption(mpv_, "input-vo-keyboard", "no");
  SetOption(mpv_, "audio-client-name", "Sonabox");
  if (mpv_initialize(mpv_) < 0) {
    mpv_terminate_destroy(mpv_);
    mpv_ = nullptr;
    return;
  }
  mpv_set_wakeup_callback(
      mpv_,
      [](void *player) {
        // Called on a core thread: hand the events to the UI thread.
        auto *self = static_cast<TMpvPlayer *>(player);
        QMetaObject::invokeMethod(
            self, [self] { self->HandleEvents(); }, Qt::QueuedConnection);
      },
      this);
  if (nullOutput) {
    renderReady_ = true;
  } else {
    window_ = new TMpvVideoWindow(
        mpv_, [this] { RenderReady(); },
        [this] {
          QMetaObject::invokeMethod(this, &TMpvPlayer::DoubleClicked, Qt::QueuedConnection);
        });
    // The container owns the window; the native child is not made for its
    // ancestors, which stay drawn by the main window.
    video_ = QWidget::createWindowContainer(window_, videoParent);
    video_->setAttribute(Qt::WA_DontCreateNativeAncestors);
    video_->hide();
  }
}

TMpvPlayer::~TMpvPlayer() {
  if (!mpv_) return;
  mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
  delete video_; // with its window, whose render context must go before the core
  mpv_terminate_destroy(mpv_);
}

void TMpvPlayer::Play(const std::string &address, double startSeconds) {
  if (!mpv_) return;
  if (video_) video_->show();
  start_ = startSeconds;
  if (renderReady_)
    Load(address);
  else
    pending_ = address;
}

void TMpvPlayer::Stop() {
  pending_.clear();
  if (video_) video_->hide();
  if (!mpv_) return;
  entry_ = -1; // an end already queued belongs to no video any more
  const char *command[] = {"stop", nullptr};
  mpv_command(mpv_, command);
}

// Named arguments: the position of the per-file options among loadfile's
// arguments differs between versions of the core, their names do not. A start
// is given only when there is one: an explicit start at 0 costs a seek.
//
// Asked for without waiting: when a video has just ended, the core first lets
// the sound still buffered play out, and a waiting call would hold the whole
// window for that long. A load the core refuses comes back as a failed reply.
void TMpvPlayer::Load(const std::string &address) {
  const std::string options = "start=" + std::to_string(start_);
  const char *keys[] = {"name", "url", "flags", "options"};
  const char *values[] = {"loadfile", address.c_str(), "replace", options.c_str()};
  mpv_node nodes[4];
  for (int i = 0; i < 4; ++i) {
    nodes[i].format = MPV_FORMAT_STRING;
    nodes[i].u.string = const_cast<char *>(values[i]);
  }
  mpv_node_list list{start_ > 0 ? 4 : 3, nodes, const_cast<char **>(keys)};
  mpv_node command;
  command.format = MPV_FORMAT_NODE_MAP;
  command.u.list = &list;
  if (mpv_command_node_async(mpv_, kLoadReply, &command) >= 0) ++loadsPending_;
}

void TMpvPlayer::SetPaused(bool paused) {
  int flag = paused; // without waiting, as a load
  if (mpv_) mpv_set_property_async(mpv_, 0, "pause", MPV_FORMAT_FLAG, &flag);
}

void TMpvPlayer::SeekTo(double seconds) {
  if (!mpv_) return;
  const std::string target = std::to_string(seconds);
  const char *command[] = {"seek", target.c_str(), "absolute", nullptr};
  mpv_command(mpv_, command);
}

void TMpvPlayer::SetVolume(int percent) {
  if (mpv_) mpv_set_property_string(mpv_, "volume", std::to_string(percent).c_str());
}

void TMpvPlayer::SetMuted(bool muted) {
  if (mpv_) mpv_set_property_string(mpv_, "mute", muted ? "yes" : "no");
}

// EBU R128 loudness normalisation from the core's filter chain: quiet and loud
// videos come out at a like level.
void TMpvPlayer::SetEvenLoudness(bool on) {
  if (mpv_) mpv_set_property_string(mpv_, "af", on ? "lavfi=[loudnorm=I=-16:TP=-1.5]" : "");
}

void TMpvPlayer::RenderReady() {
  renderReady_ = true;
  if (pending_.empty()) return;
  Load(std::exchange(pending_, std::string()));
}

QWidget *TMpvPlayer::VideoWidget() const { return video_; }

std::string TMpvPlayer::Path() const { return Property("path"); }

std::string TMpvPlayer::Property(const char *name) const {
  if (!mpv_) return {};
  char *text = mpv_get_property_string(mpv_, name);
  if (!text) return {};
  std::string result(text);
  mpv_free(text);
  return result;
}

std::optional<double> TMpvPlayer::TimePosition() const {
  double seconds = 0;
  if (!mpv_ || mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &seconds) < 0)
    return std::nullopt;
  return seconds;
}

std::optional<double> TMpvPlayer::Duration() const {
  double seconds = 0;
  if (!mpv_ || mpv_get_property(mpv_, "duration", MPV_FORMAT_DOUBLE, &seconds) < 0)
    return std::nullopt;
  return seconds;
}

bool TMpvPlayer::Idle() const {
  int idle = 1;
  if (mpv_) mpv_get_property(mpv_, "idle-active", MPV_FORMAT_FLAG, &idle);
  return idle != 0;
}

void TMpvPlayer::HandleEvents() {
  enum class Report { kNone, kStarted, kEnded, kFailed } report = Report::kNone;
  while (mpv_) {
    const mpv_event *event = mpv_wait_event(mpv_, 0);
    if (event->event_id == MPV_EVENT_NONE) break;
    switch (event->event_id) {
    case MPV_EVENT_COMMAND_REPLY:
      if (event->reply_userdata == kLoadReply && event->error < 0 && loadsPending_ > 0)
        --loadsPending_; // refused: no file starts for it
      break;
    case MPV_EVENT_START_FILE:
      awaitingStart_ = true;
      if (loadsPending_ > 0) --loadsPending_;
      entry_ = static_cast<const mpv_event_start_file *>(event->data)->playlist_entry_id;
      break;
    case MPV_EVENT_PLAYBACK_RESTART:
      if (awaitingStart_) report = Report::kStarted;
      awaitingStart_ = false;
      break;
    case MPV_EVENT_END_FILE: {
      // A stream that cannot be opened or decoded ends here; the player stays idle.
      awaitingStart_ = false;
      const auto *end = static_cast<const mpv_event_end_file *>(event->data);
      // Only the end of the file last asked for is told: a file replaced or
      // stopped on purpose ends too.
      if (loadsPending_ > 0 || end->playlist_entry_id != entry_) break;
      if (end->reason == MPV_END_FILE_REASON_EOF)
        report = Report::kEnded;
      else if (end->reason == MPV_END_FILE_REASON_ERROR)
        report = Report::kFailed;
      break;
    }
    default: break;
    }
  }
  // Last, because a receiver may delete the player or load another video.
  switch (report) {
  case Report::kStarted: emit PlaybackStarted(); break;
  case Report::kEnded: emit PlaybackEnded(); break;
  case Report::kFailed: emit PlaybackFailed(); break;
  case Report::kNone: break;
  }
}

} // namespace sonabox
