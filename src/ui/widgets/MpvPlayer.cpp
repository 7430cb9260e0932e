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
#include <vector>

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
  TMpvVideoWindow(mpv_handle *mpv, std::function<void()> ready, std::function<void()> doubleClicked,
                  std::function<void(bool pressed)> pointer)
      : mpv_(mpv), ready_(std::move(ready)), doubleClicked_(std::move(doubleClicked)),
        pointer_(std::move(pointer)) {
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
  void mousePressEvent(QMouseEvent *) override { pointer_(true); }
  void mouseMoveEvent(QMouseEvent *) override { pointer_(false); }

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
  std::function<void(bool pressed)> pointer_; // a press, or a move of the mouse
  mpv_render_context *render_ = nullptr;
};

namespace {
// The core's answers carry the kind of command and its number.
constexpr std::uint64_t kLoadReply = 1, kAppendReply = 2, kOtherReply = 3;
std::uint64_t Reply(std::uint64_t kind, std::uint64_t number) { return number << 2 | kind; }
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
  // The next video is opened while the last one plays, and the sound output
  // stays open from one to the next.
  SetOption(mpv_, "prefetch-playlist", "yes");
  SetOption(mpv_, "gapless-audio", "yes");
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
  // Read from the events, never asked for while the window waits: while the
  // core opens a file, a question would hold the window (and the video it
  // draws) until the file is open.
  mpv_observe_property(mpv_, 0, "time-pos", MPV_FORMAT_DOUBLE);
  mpv_observe_property(mpv_, 0, "duration", MPV_FORMAT_DOUBLE);
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
        },
        [this](bool pressed) {
          if (pressed)
            emit Pressed();
          else
            emit MouseMoved();
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
  // The entry given ahead, unless the core went on to it by itself and it has
  // ended meanwhile (it failed while the end of the one before was looked
  // into): then it is loaded afresh, so that its end is told for it.
  const bool next = startSeconds <= 0 && renderReady_ && pending_.empty() &&
                    address == nextAddress_ && nextEntry_ >= 0 &&
                    !(coreEntry_ == nextEntry_ && coreEnded_);
  nextAddress_.clear();
  if (next) {
    GoOnToNext();
    return;
  }
  start_ = startSeconds;
  if (renderReady_)
    Load(address);
  else
    pending_ = address;
}

void TMpvPlayer::SetNext(const std::string &address) {
  if (!mpv_ || address == nextAddress_) return;
  nextAddress_ = address;
  nextEntry_ = kNoEntry;
  appended_ = false;
  if (!pending_.empty() || current_ == kNoEntry) return; // appended after the load
  if (otherEntries_) {                                   // the entry given before, and those played
    Command(Reply(kOtherReply, 0), {"playlist-clear"});
    otherEntries_ = false;
  }
  if (!address.empty()) Append();
}

void TMpvPlayer::Stop() {
  pending_.clear();
  nextAddress_.clear();
  nextEntry_ = kNoEntry;
  appended_ = otherEntries_ = false;
  heldEnd_ = TReport::None;
  if (video_) video_->hide();
  if (!mpv_) return;
  current_ = kNoEntry; // an end already queued belongs to no video any more
  timePosition_ = duration_ = std::nullopt;
  const char *command[] = {"stop", nullptr};
  mpv_command(mpv_, command);
}

// Named arguments: the position of the per-file options among loadfile's
// arguments differs between versions of the core, their names do not. A start
// is given only when there is one: an explicit start at 0 costs a seek.
//
// Asked for without waiting, as every command here: when a video has just
// ended, the core may first let the sound still buffered play out, and a
// waiting call would hold the whole window for that long. A load the core
// refuses comes back as a failed reply.
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
  current_ = mpv_command_node_async(mpv_, Reply(kLoadReply, ++loads_), &command) >= 0 ? kLoading
                                                                                      : kNoEntry;
  toldStarted_ = false;
  heldEnd_ = TReport::None;
  timePosition_ = duration_ = std::nullopt;
  otherEntries_ = false; // a load replaces the whole playlist
  nextEntry_ = kNoEntry;
  appended_ = false;
  if (!nextAddress_.empty() && current_ != kNoEntry) Append();
}

void TMpvPlayer::Append() {
  Command(Reply(kAppendReply, ++appends_), {"loadfile", nextAddress_.c_str(), "append"});
  appended_ = otherEntries_ = true;
}

// The core goes on to the entry given ahead: it already has when the end of
// the one before was told; else (Next, or a count-down that ran out first)
// it is asked to now.
void TMpvPlayer::GoOnToNext() {
  current_ = std::exchange(nextEntry_, kNoEntry);
  appended_ = false;
  toldStarted_ = false;
  heldEnd_ = TReport::None;
  if (coreEntry_ != current_) {
    // "weak": at the end of the playlist (the core has just gone on to this
    // entry by itself) it does nothing.
    Command(Reply(kOtherReply, 0), {"playlist-next", "weak"});
  } else if (coreShowing_) {
    toldStarted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, entry = current_] {
          if (current_ == entry) emit PlaybackStarted();
        },
        Qt::QueuedConnection);
  }
}

void TMpvPlayer::Command(std::uint64_t reply, std::initializer_list<const char *> arguments) {
  std::vector<const char *> command(arguments);
  command.push_back(nullptr);
  mpv_command_async(mpv_, reply, command.data());
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

std::optional<double> TMpvPlayer::TimePosition() const { return timePosition_; }

std::optional<double> TMpvPlayer::Duration() const { return duration_; }

bool TMpvPlayer::Idle() const {
  int idle = 1;
  if (mpv_) mpv_get_property(mpv_, "idle-active", MPV_FORMAT_FLAG, &idle);
  return idle != 0;
}

// One event at a time, each told before the next is read: a receiver of
// the end of a video shows the next one (or stops, or deletes the player),
// and what follows in the core's events is read in that light.
void TMpvPlayer::HandleEvents() {
  const QPointer<TMpvPlayer> self(this);
  while (self && mpv_) {
    const mpv_event *event = mpv_wait_event(mpv_, 0);
    if (event->event_id == MPV_EVENT_NONE) break;
    const TReport report = Follow(*event);
    if (report != TReport::None) Tell(report);
  }
}

TMpvPlayer::TReport TMpvPlayer::Follow(const mpv_event &event) {
  switch (event.event_id) {
  case MPV_EVENT_COMMAND_REPLY: {
    const std::uint64_t kind = event.reply_userdata & 3, number = event.reply_userdata >> 2;
    const mpv_node &result = static_cast<const mpv_event_command *>(event.data)->result;
    std::int64_t entry = kNoEntry;
    if (event.error >= 0 && result.format == MPV_FORMAT_NODE_MAP)
      for (int i = 0; i < result.u.list->num; ++i)
        if (std::string(result.u.list->keys[i]) == "playlist_entry_id" &&
            result.u.list->values[i].format == MPV_FORMAT_INT64)
          entry = result.u.list->values[i].u.int64;
    if (kind == kLoadReply && number == loads_ && current_ == kLoading) {
      current_ = entry; // kNoEntry when refused: nothing starts for it
      if (current_ != kNoEntry && coreEntry_ == current_ && coreShowing_) {
        toldStarted_ = true;
        return TReport::Started;
      }
    } else if (kind == kAppendReply && number == appends_ && appended_) {
      nextEntry_ = entry;
      appended_ = entry != kNoEntry;
    }
    return TReport::None;
  }
  case MPV_EVENT_START_FILE:
    coreEntry_ = static_cast<const mpv_event_start_file *>(event.data)->playlist_entry_id;
    coreShowing_ = coreEnded_ = false;
    // The core went on from the video that ended to the next entry.
    if (heldEnd_ != TReport::None && coreEntry_ != current_) return std::exchange(heldEnd_, {});
    return TReport::None;
  case MPV_EVENT_PLAYBACK_RESTART: // the first frame, or the first after a seek
    coreShowing_ = true;
    if (coreEntry_ != current_ || current_ < 0 || toldStarted_) return TReport::None;
    toldStarted_ = true;
    return TReport::Started;
  case MPV_EVENT_END_FILE: {
    // A stream that cannot be opened or decoded ends here too.
    const auto *end = static_cast<const mpv_event_end_file *>(event.data);
    if (end->playlist_entry_id == coreEntry_) {
      coreShowing_ = false;
      coreEnded_ = true;
    }
    if (end->playlist_entry_id != current_ || current_ < 0) return TReport::None;
    TReport report = TReport::None;
    if (end->reason == MPV_END_FILE_REASON_EOF)
      report = TReport::Ended;
    else if (end->reason == MPV_END_FILE_REASON_ERROR)
      report = TReport::Failed;
    if (report == TReport::None || !appended_) return report;
    heldEnd_ = report; // told when the core has gone on to the next entry
    return TReport::None;
  }
  case MPV_EVENT_PROPERTY_CHANGE: {
    const auto *property = static_cast<const mpv_event_property *>(event.data);
    std::optional<double> value;
    if (property->format == MPV_FORMAT_DOUBLE) value = *static_cast<const double *>(property->data);
    if (std::string(property->name) == "time-pos") timePosition_ = value;
    if (std::string(property->name) == "duration") duration_ = value;
    return TReport::None;
  }
  case MPV_EVENT_IDLE: // nothing followed after all
    return std::exchange(heldEnd_, {});
  default: return TReport::None;
  }
}

void TMpvPlayer::Tell(TReport report) {
  switch (report) {
  case TReport::Started: emit PlaybackStarted(); break;
  case TReport::Ended: emit PlaybackEnded(); break;
  case TReport::Failed: emit PlaybackFailed(); break;
  case TReport::None: break;
  }
}

} // namespace sonabox
