#include "core/playback/Playback.h"

#include "core/common/Background.h"
#include "core/playlists/PlayListExchange.h"
#include "core/playlists/VideoRow.h"
#include "core/search/VideoLookup.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <utility>

namespace sonabox {

namespace {

// A remembered value, or the fallback when there is none.
int StoredInt(const char *key, int fallback, int low, int high) {
  return std::clamp(StoreReadInt(key).value_or(fallback), low, high);
}

// The pause before the service is asked again: one second, doubled after
// each check that found it away, at most five.
int RetryPause(int retries) { return std::min(1000 << std::min(retries, 3), 5000); }

// How long one check of the service may take.
constexpr std::chrono::seconds kCheckDeadline{3};

} // namespace

TPlayback::TPlayback(QObject *parent) : QObject(parent) {
  playList_.SetFilterCaseInsensitive(true);
  volume_ = StoredInt(store_key::kVolume, 100, 0, 100);
  muted_ = StoredInt(store_key::kMuted, 0, 0, 1) != 0;
  evenLoudness_ = StoredInt(store_key::kEvenLoudness, 0, 0, 1) != 0;
  sequencer_.SetPlayMode(PlayModeFromName(StoreReadString(store_key::kPlayMode).value_or("")));
  connect(&sequencer_, &TPlaySequencer::ShowVideo, this, &TPlayback::VideoShown);
  connect(&sequencer_, &TPlaySequencer::Stopped, this, &TPlayback::Stopped);
  connect(&sequencer_, &TPlaySequencer::LogLine, this, &TPlayback::LogLine);
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, &TPlayback::CheckService);
}

TPlayback::~TPlayback() = default;

void TPlayback::SetPlayer(TVideoPlayer *player) {
  player_ = player;
  offered_.clear();
  if (!player_) return;
  player_->SetVolume(volume_);
  player_->SetMuted(muted_);
  player_->SetEvenLoudness(evenLoudness_);
}

// ------------------------------------------------------------------ controls

void TPlayback::Play() {
  if (Running()) {
    SetPaused(false);
    return;
  }
  sequencer_.Play();
  Changed();
}

void TPlayback::PlayPause() {
  if (!Running())
    Play();
  else
    SetPaused(!Paused());
}

void TPlayback::SetPaused(bool paused) {
  if (!Running() || paused == Paused()) return;
  sequencer_.SetPaused(paused);
  if (player_) player_->SetPaused(paused);
  Changed();
}

void TPlayback::Stop() {
  waiting_ = false;
  retry_.stop();
  ++serial_;
  sequencer_.Stop();
}

void TPlayback::Next(TSkip skip) {
  const bool paused = Paused();
  sequencer_.Next(skip);
  if (paused && skip == TSkip::KeepState) SetPaused(true);
  Changed();
}

void TPlayback::Previous(TSkip skip) {
  const bool paused = Paused();
  sequencer_.Previous(skip);
  if (paused && skip == TSkip::KeepState) SetPaused(true);
  Changed();
}

void TPlayback::PlayRow(int recNo) {
  sequencer_.PlayRow(recNo);
  Changed();
}

void TPlayback::Enqueue(const TVideoDetails &video, const std::string &queuedBy) {
  sequencer_.Enqueue(video, queuedBy);
  Changed();
}

void TPlayback::PlayNow(const TVideoDetails &video, const std::string &queuedBy) {
  sequencer_.PlayNow(video, queuedBy);
  Changed();
}

void TPlayback::Tick() {
  sequencer_.Tick();
  Changed();
}

bool TPlayback::PlayAddress(const std::string &address) {
  const std::string id = VideoIdFromAddress(address, VideoWebHost());
  if (id.empty()) return false;
  TVideoDetails video;
  video.Url = video.Title = id;
  bool inPlayList = false;
  if (playList_.Active())
    for (int recNo = 1; recNo <= playList_.RecordCount() && !inPlayList; ++recNo)
      if (playList_.DisplayText(recNo, VideoColumn::Url) == id) {
        const int at = playList_.RecNo();
        playList_.SetRecNo(recNo);
        video = VideoFromRow(playList_);
        if (at > 0) playList_.SetRecNo(at);
        inPlayList = true;
      }
  PlayNow(video);
  if (!inPlayList) LookUp(id);
  return true;
}

// The video plays meanwhile: a slow or absent service never holds it up.
void TPlayback::LookUp(const std::string &id) {
  auto asked = std::make_shared<TVideos>(1);
  asked->front().Url = id;
  auto notLookedUp = std::make_shared<std::string>("the lookup failed");
  RunInBackground(
      this, [asked, notLookedUp] { *notLookedUp = LookUpVideos(*asked, kExchangeDeadline); },
      [this, asked, notLookedUp, id] {
        if (!Running() || CurrentVideo().Url != id) return; // another video plays by now
        if (!notLookedUp->empty()) {
          emit LogLine("The title of " + id + " could not be looked up: " + *notLookedUp);
          return;
        }
        TVideoDetails found = asked->front();
        if (found.Title.empty() && found.Artist.empty()) return; // the service does not know it
        if (found.Title.empty()) found.Title = id;
        sequencer_.UpdateCurrentVideo(found);
        SetNowPlaying(NowPlayingText());
        emit VideoChanged();
      });
}

void TPlayback::SeekBy(double seconds) { SetPosition(Position() + seconds); }

void TPlayback::SetPosition(double seconds) {
  const double duration = Duration();
  if (!player_ || !Running() || duration <= 0) return;
  const double target = std::clamp(seconds, 0.0, duration);
  player_->SeekTo(target);
  sequencer_.FollowPlayer(static_cast<int>(target), static_cast<int>(duration + 0.5));
  emit Seeked(target);
}

void TPlayback::Remember(const char *key, int value) {
  try {
    StoreWriteString(key, std::to_string(value));
  } catch (const std::runtime_error &error) {
    emit LogLine(std::string("Could not remember ") + key + ": " + error.what());
  }
}

void TPlayback::SetVolume(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == volume_) return;
  volume_ = percent;
  if (player_) player_->SetVolume(percent);
  Remember(store_key::kVolume, percent);
  emit VolumeChanged();
}

void TPlayback::SetMuted(bool muted) {
  if (muted == muted_) return;
  muted_ = muted;
  if (player_) player_->SetMuted(muted);
  Remember(store_key::kMuted, muted ? 1 : 0);
  emit VolumeChanged();
}

void TPlayback::SetEvenLoudness(bool on) {
  if (on == evenLoudness_) return;
  evenLoudness_ = on;
  if (player_) player_->SetEvenLoudness(on);
  Remember(store_key::kEvenLoudness, on ? 1 : 0);
}

void TPlayback::SetPlayMode(TPlayMode mode) {
  if (mode == PlayMode() && !PlaysOnce()) return;
  sequencer_.SetPlaysOnce(false);
  if (mode != PlayMode()) {
    sequencer_.SetPlayMode(mode);
    StoreWriteString(store_key::kPlayMode, PlayModeName(mode));
  }
  OfferNext();
  emit PlayModeChanged();
}

void TPlayback::SetPlaysOnce(bool once) {
  if (once == PlaysOnce()) return;
  sequencer_.SetPlaysOnce(once);
  OfferNext();
  emit PlayModeChanged();
}

// ---------------------------------------------------------- the player says

void TPlayback::PlayerStarted() {
  failuresInARow_ = 0;
  sequencer_.FollowPlayer(static_cast<int>(Position()), static_cast<int>(Duration() + 0.5));
  Changed();
}

void TPlayback::PlayerEnded() {
  if (!Running()) return;
  sequencer_.VideoEnded();
  Changed();
}

void TPlayback::PlayerFailed() {
  if (!sequencer_.Running()) return;
  CheckService();
}

void TPlayback::CheckService() {
  auto outcome = std::make_shared<TWebOutcome>(TWebOutcome::Failed);
  const std::string url = "http://" + VideoWebHost() + "/";
  RunInBackground(
      this,
      [outcome, url] {
        TWebStuff web;
        web.SetDeadline(kCheckDeadline);
        web.GetText(url);
        *outcome = web.LastOutcome();
      },
      [this, outcome, serial = serial_] {
        // Any answer, even an error status, means that something answers there.
        if (serial == serial_)
          ServiceChecked(*outcome != TWebOutcome::Unreachable && *outcome != TWebOutcome::TimedOut);
      });
}

void TPlayback::ServiceChecked(bool answers) {
  if (!waiting_ && !sequencer_.Running()) return; // stopped meanwhile
  if (answers && waiting_) {                      // back: the video that waited plays
    waiting_ = false;
    retries_ = 0;
    sequencer_.Play();
    Changed();
  } else if (answers) {
    VideoFailed();
  } else {
    if (!waiting_) { // the video stays the current one, chosen for Play
      waiting_ = true;
      retries_ = 0;
      sequencer_.Hold();
    }
    SetNowPlaying("The video service cannot be reached: " + ShownTitle(CurrentVideo()) +
                  " plays as soon as it answers.");
    retry_.start(RetryPause(retries_++));
  }
}

void TPlayback::VideoFailed() {
  if (!sequencer_.Running()) return;
  failedTitle_ = ShownTitle(CurrentVideo());
  if (++failuresInARow_ >= std::max(playList_.Active() ? playList_.RecordCount() : 0, 1)) {
    Stop();
    SetNowPlaying("Could not play " + std::exchange(failedTitle_, std::string()) +
                  ", nor any other video of this playlist");
    return;
  }
  sequencer_.VideoEnded();
  Changed();
}

// ------------------------------------------------------------------ state

double TPlayback::Position() const { return player_ ? player_->Position() : 0; }

double TPlayback::Duration() const { return player_ ? player_->Duration() : 0; }

TPlaybackActions TPlayback::Actions() const {
  const bool rows = playList_.Active() && playList_.RecordCount() > 0;
  TPlaybackActions can;
  can.Play = rows;
  can.Next = rows || !sequencer_.UpNext().empty();
  can.Previous = rows && sequencer_.HasPrevious();
  can.Stop = Running();
  can.Pause = sequencer_.Running();
  can.Seek = Running() && Duration() > 0;
  return can;
}

void TPlayback::CheckActions() {
  OfferNext();
  const TPlaybackActions now = Actions();
  if (now == told_) return;
  told_ = now;
  emit ActionsChanged();
}

// A new video plays, not paused (Next and Previous pause it again after). The
// step that showed it tells what changed once it has ended.
void TPlayback::VideoShown() {
  waiting_ = false;
  retry_.stop();
  ++serial_;
  failedBefore_ = std::exchange(failedTitle_, std::string());
  offered_.clear(); // the player forgets its next video when it shows one
  if (player_) {
    player_->Show(CurrentVideo());
    player_->SetPaused(false);
  }
  SetNowPlaying(NowPlayingText());
  emit VideoChanged();
}

std::string TPlayback::NowPlayingText() const {
  std::string line = "Now playing: " + ShownTitle(CurrentVideo());
  if (!QueuedBy().empty()) line += " (queued by " + QueuedBy() + ")";
  if (!failedBefore_.empty()) line = "Could not play " + failedBefore_ + ". " + line;
  return line;
}

void TPlayback::Stopped() {
  failuresInARow_ = 0; // a new start counts its failures afresh
  offered_.clear();
  if (player_) player_->Blank();
  SetNowPlaying({}); // no video plays
  Changed();
}

// Also run when the window is idle, so that a playlist edited elsewhere
// (rows moved, deleted, filtered) gets the player a new next video. Nothing
// is offered while the player is blank, waiting for the service.
void TPlayback::OfferNext() {
  if (!player_ || !sequencer_.Running()) return;
  const TVideoDetails &next = sequencer_.NextVideo();
  if (next.Url == offered_) return;
  offered_ = next.Url;
  player_->SetNext(next);
}

void TPlayback::SetNowPlaying(const std::string &line) {
  if (line == nowPlaying_) return;
  nowPlaying_ = line;
  emit NowPlayingChanged();
}

void TPlayback::Changed() {
  if (Running() != wasRunning_ || Paused() != wasPaused_) {
    wasRunning_ = Running();
    wasPaused_ = Paused();
    emit StateChanged();
  }
  CheckActions();
}

} // namespace sonabox
