#include "ui/play/PlayerViews.h"

#include "core/playback/PlayerDocument.h"
#include "core/web/ServiceHosts.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/HtmlView.h"
#include "ui/widgets/MpvPlayer.h"

#include <QEvent>

#include <functional>

#include <utility>

namespace sonabox {

namespace {

// Tells when the expanded window enters or leaves full screen.
class TFullScreenWatch : public QObject {
public:
  TFullScreenWatch(QWidget &window, std::function<void()> changed)
      : QObject(&window), changed_(std::move(changed)) {
    window.installEventFilter(this);
  }

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::WindowStateChange) changed_();
    return false;
  }

private:
  std::function<void()> changed_;
};

} // namespace

TPlayerViews::TPlayerViews(TPlayback &playback, THtmlView &small, QWidget &page)
    : QObject(&small), playback_(playback), small_(small), owner_(page) {
  connect(&small_, &THtmlView::PlayerMade, this, &TPlayerViews::Adopt);
  playback_.SetPlayer(this);
}

TPlayerViews::~TPlayerViews() {
  playback_.SetPlayer(nullptr);
  // The expanded window belongs to the main window; it goes before the
  // playback it shows.
  delete expanded_;
}

THtmlView &TPlayerViews::PlayingView() const {
  return expanded_ ? *expanded_->wbExpandedVideo : small_;
}

TMpvPlayer *TPlayerViews::ActivePlayer() const { return PlayingView().Player(); }

std::vector<TMpvPlayer *> TPlayerViews::Players() const {
  std::vector<TMpvPlayer *> players;
  for (THtmlView *view : {&small_, expanded_ ? expanded_->wbExpandedVideo : nullptr})
    if (view && view->Player()) players.push_back(view->Player());
  return players;
}

void TPlayerViews::Adopt(TMpvPlayer *player) {
  player->SetVolume(playback_.Volume());
  player->SetMuted(playback_.Muted());
  player->SetEvenLoudness(playback_.EvenLoudness());
  QWidget *guard = &owner_;
  connect(player, &TMpvPlayer::PlaybackStarted, this, [this, player, guard] {
    if (player == ActivePlayer()) RunGuarded(guard, [this] { playback_.PlayerStarted(); });
  });
  connect(player, &TMpvPlayer::PlaybackEnded, this, [this, player, guard] {
    if (player == ActivePlayer()) RunGuarded(guard, [this] { playback_.PlayerEnded(); });
  });
  connect(player, &TMpvPlayer::PlaybackFailed, this, [this, player, guard] {
    if (player == ActivePlayer()) RunGuarded(guard, [this] { playback_.PlayerFailed(); });
  });
  connect(player, &TMpvPlayer::DoubleClicked, this, &TPlayerViews::ToggleFullScreen);
  // A click on the video takes the keys from wherever they were (the grid).
  connect(player, &TMpvPlayer::Pressed, this, [player] {
    if (QWidget *video = player->VideoWidget())
      video->parentWidget()->setFocus(Qt::MouseFocusReason);
  });
  connect(player, &TMpvPlayer::MouseMoved, this, [this, player] {
    if (expanded_ && player == expanded_->wbExpandedVideo->Player()) expanded_->MouseMoved();
  });
}

void TPlayerViews::Show(const TVideoDetails &video) {
  if (expanded_)
    expanded_->setWindowTitle(QString::fromStdString("Now Playing: " + ShownTitle(video)));
  resumeAt_ = 0;
  next_.clear();
  ShowPlayer(video.Url, PlayingView());
  if (expanded_) small_.Navigate("about:blank");
}

// Only an address the view would play is opened ahead.
void TPlayerViews::SetNext(const TVideoDetails &video) {
  const std::string address = video.Url.empty() ? std::string() : PlayerAddress(video.Url);
  next_ = IsPlayableMovieAddress(address, VideoWebHost()) ? address : std::string();
  if (TMpvPlayer *player = ActivePlayer()) player->SetNext(next_);
}

void TPlayerViews::MoveVideo() {
  if (!playback_.Running()) return;
  const TVideoDetails &video = playback_.CurrentVideo();
  THtmlView &view = PlayingView();
  if (expanded_)
    expanded_->setWindowTitle(QString::fromStdString("Now Playing: " + ShownTitle(video)));
  view.StartNextAt(std::exchange(resumeAt_, 0.0)); // moved, not restarted
  ShowPlayer(video.Url, view);
  if (expanded_) small_.Navigate("about:blank");
  if (TMpvPlayer *player = ActivePlayer()) {
    player->SetPaused(playback_.Paused());
    player->SetNext(next_);
  }
}

void TPlayerViews::Blank() {
  next_.clear();
  small_.Navigate("about:blank");
  if (expanded_) expanded_->wbExpandedVideo->Navigate("about:blank");
}

void TPlayerViews::SetPaused(bool paused) {
  if (TMpvPlayer *player = ActivePlayer()) player->SetPaused(paused);
}

void TPlayerViews::SeekTo(double seconds) {
  if (TMpvPlayer *player = ActivePlayer()) player->SeekTo(seconds);
}

double TPlayerViews::Position() const {
  TMpvPlayer *player = ActivePlayer();
  return player ? player->TimePosition().value_or(0) : 0;
}

double TPlayerViews::Duration() const {
  TMpvPlayer *player = ActivePlayer();
  return player ? player->Duration().value_or(0) : 0;
}

void TPlayerViews::SetVolume(int percent) {
  for (TMpvPlayer *player : Players()) player->SetVolume(percent);
}

void TPlayerViews::SetMuted(bool muted) {
  for (TMpvPlayer *player : Players()) player->SetMuted(muted);
}

void TPlayerViews::SetEvenLoudness(bool on) {
  for (TMpvPlayer *player : Players()) player->SetEvenLoudness(on);
}

// ------------------------------------------------------------ the window

void TPlayerViews::Expand() {
  if (!expanded_) {
    resumeAt_ = Position();
    expanded_ = new TdExpandedVideo(*owner_.window(), playback_);
    connect(expanded_, &TdExpandedVideo::Closed, this, &TPlayerViews::ExpandedClosed);
    connect(expanded_->wbExpandedVideo, &THtmlView::PlayerMade, this, &TPlayerViews::Adopt);
    new TFullScreenWatch(*expanded_, [this] { emit FullScreenChanged(); });
    emit ExpandedChanged(expanded_);
    MoveVideo();
  }
  expanded_->show();
  expanded_->raise();
  expanded_->activateWindow();
}

void TPlayerViews::ExpandedClosed() {
  resumeAt_ = Position(); // the expanded view still plays
  expanded_ = nullptr;
  emit ExpandedChanged(nullptr);
  MoveVideo();
  emit FullScreenChanged();
}

void TPlayerViews::ToggleFullScreen() {
  if (!expanded_) Expand();
  expanded_->ToggleFullScreen();
}

bool TPlayerViews::FullScreen() const { return expanded_ && expanded_->isFullScreen(); }

} // namespace sonabox
