#include "core/playback/PlaySequencer.h"

#include "core/common/Random.h"
#include "core/playlists/VideoRow.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace sonabox {

namespace {

// When every visible row holds the video that was just playing, no draw can
// find another one: after this many draws the row last drawn is taken.
constexpr int kMaxDraws = 100;

// The history keeps this many videos; the oldest go first.
constexpr std::size_t kHistoryLength = 1000;

const struct {
  TPlayMode Mode;
  const char *Name;
} kPlayModes[] = {{TPlayMode::Shuffle, "Shuffle"},
                  {TPlayMode::ShuffleAll, "Shuffle all"},
                  {TPlayMode::InOrder, "In order"},
                  {TPlayMode::RepeatOne, "Repeat one"}};

} // namespace

const char *PlayModeName(TPlayMode mode) {
  for (const auto &m : kPlayModes)
    if (m.Mode == mode) return m.Name;
  return kPlayModes[0].Name;
}

TPlayMode PlayModeFromName(const std::string &name) {
  for (const auto &m : kPlayModes)
    if (name == m.Name) return m.Mode;
  return TPlayMode::Shuffle;
}

TPlaySequencer::TPlaySequencer(TDataTable &playList, QObject *parent)
    : QObject(parent), playList_(playList) {
  tShuffle_.setObjectName("tShuffle");
  tShuffle_.setInterval(1000);
}

void TPlaySequencer::Next(TSkip skip) {
  if (!HasRows() && upNext_.empty()) return;
  skipping_ = true;
  ForgetNext(); // in Repeat one, Next goes on where the end would not
  if (!Running() && skip == TSkip::KeepState) {
    chosen_ = ChooseNextVideo();
    return;
  }
  phase_ = TPlayPhase::NextVideo;
  Advance();
}

void TPlaySequencer::SetPlayMode(TPlayMode mode) {
  mode_ = mode;
  played_.clear();
  ForgetNext();
}

void TPlaySequencer::SetPlaysOnce(bool once) {
  once_ = once;
  ForgetNext();
}

void TPlaySequencer::Play() {
  if (chosen_) { // chosen by Next or Previous while stopped
    phase_ = TPlayPhase::Restart;
    Advance();
    return;
  }
  if (!HasRows()) return;
  const std::string url = playList_.FieldByName(VideoColumn::Url).AsString();
  // With no video chosen yet, the highlighted row is the one to play.
  if (current_.Url.empty() || (current_.Url != url && current_.Url != previous_.Url)) {
    current_ = VideoFromRow(playList_);
    place_ = current_;
    queuedBy_.clear();
  }
  phase_ = TPlayPhase::Restart;
  Advance();
}

void TPlaySequencer::Previous(TSkip skip) {
  if (!HasPrevious() || !HasRows()) return;
  WalkTo(at_ - 1);
  if (!Running() && skip == TSkip::KeepState) {
    chosen_ = true;
    return;
  }
  phase_ = TPlayPhase::Restart;
  Advance();
}

void TPlaySequencer::Stop() {
  tShuffle_.stop();
  paused_ = false;
  emit Stopped();
}

void TPlaySequencer::Hold() {
  Stop();
  chosen_ = !current_.Url.empty();
}

void TPlaySequencer::PlayRow(int recNo) {
  if (recNo < 1 || !playList_.Active() || recNo > playList_.RecordCount()) return;
  playList_.SetRecNo(recNo);
  current_ = VideoFromRow(playList_);
  place_ = current_;
  queuedBy_.clear();
  Play();
}

void TPlaySequencer::Tick() {
  ++tickCount_;
  if (tickCount_ < countDownLength_) {
    emit CountDown(countDownLength_ - tickCount_);
    return;
  }
  tShuffle_.stop();
  Advance();
}

void TPlaySequencer::Enqueue(const TVideoDetails &video, const std::string &queuedBy) {
  upNext_.push_back({video, queuedBy});
}

void TPlaySequencer::PlayNow(const TVideoDetails &video, const std::string &queuedBy) {
  upNext_.push_front({video, queuedBy});
  phase_ = TPlayPhase::NextVideo;
  Advance();
}

void TPlaySequencer::UpdateCurrentVideo(const TVideoDetails &video) {
  if (Running() && video.Url == current_.Url) current_ = video;
}

void TPlaySequencer::VideoEnded() {
  if (!Running()) return;
  while (phase_ != TPlayPhase::NextVideo) Advance(); // lead-in, video and lead-out end now
  Advance();                                         // the next video
}

void TPlaySequencer::FollowPlayer(int position, int length) {
  if (!Running() || (phase_ != TPlayPhase::LeadIn && phase_ != TPlayPhase::Video)) return;
  const bool paused = paused_;
  if (phase_ == TPlayPhase::LeadIn) Advance(); // "Lead In - <stored length>"
  if (length > 0) countDownLength_ = length;
  tickCount_ = std::clamp(position, 0, std::max(countDownLength_ - 1, 0));
  SetPaused(paused);
}

void TPlaySequencer::SetPaused(bool paused) {
  if (!Running() || paused == paused_) return;
  paused_ = paused;
  if (paused)
    tShuffle_.stop();
  else
    tShuffle_.start();
}

// The video decided ahead, when it still holds, else the first queued video
// (which leaves the place where it was), else the mode's row of the playlist;
// false when there is neither.
bool TPlaySequencer::ChooseNextVideo() {
  // A party guest's entry is asked for only now, when it is about to play, so
  // that the server never hears of it playing before it does.
  if (upNext_.empty() && nextSource_)
    if (std::optional<TQueuedVideo> offered = nextSource_()) upNext_.push_back(std::move(*offered));
  if (!NextStillHolds()) Decide(skipping_);
  skipping_ = false;
  const TDecision next = std::exchange(next_, TDecision());
  if (next.Queued) {
    previous_ = current_;
    current_ = upNext_.front().Video;
    queuedBy_ = upNext_.front().QueuedBy;
    upNext_.pop_front();
    Remember();
    return true;
  }
  if (next.Walked) {
    WalkTo(at_ + 1);
    return true;
  }
  if (mode_ == TPlayMode::ShuffleAll) { // the round goes on, or a new one begins
    if (playList_.FileName() != playedFile_) {
      played_.clear();
      playedFile_ = playList_.FileName();
    }
    if (next.NewRound)
      played_.clear();
    else if (!place_.Url.empty())
      played_.insert(place_.Url);
  }
  if (next.RecNo == 0) return false;
  previous_ = current_;
  playList_.SetRecNo(next.RecNo);
  emit RowChosen(next.RecNo);
  current_ = VideoFromRow(playList_);
  place_ = current_;
  queuedBy_.clear();
  Remember();
  return true;
}

const TVideoDetails &TPlaySequencer::NextVideo() {
  if (!NextStillHolds()) Decide(false);
  return next_.Video;
}

void TPlaySequencer::ForgetNext() { next_ = TDecision(); }

void TPlaySequencer::Decide(bool skipped) {
  next_ = TDecision();
  next_.Made = true;
  next_.Current = current_.Url;
  next_.At = at_;
  next_.History = history_.size();
  if (!upNext_.empty()) {
    next_.Queued = true;
    next_.Video = upNext_.front().Video;
    next_.QueuedBy = upNext_.front().QueuedBy;
    return;
  }
  next_.File = playList_.Active() ? playList_.FileName() : std::string();
  next_.Rows = playList_.Active() ? playList_.RecordCount() : -1;
  if (!HasRows()) return;
  next_.PlaceRow = RowOfPlace();
  // Walked back through the history, Next and the end of a video walk forward
  // again (Repeat one repeats at the end of a video all the same).
  if (at_ + 1 < history_.size() && (mode_ != TPlayMode::RepeatOne || skipped)) {
    next_.Walked = true;
    next_.Video = history_[at_ + 1];
    return;
  }
  next_.RecNo = PickNextRow(skipped, next_.NewRound);
  if (next_.RecNo > 0) { // read where it is: the table stays on its row
    next_.Video.Url = playList_.DisplayText(next_.RecNo, VideoColumn::Url);
    next_.Video.Title = playList_.DisplayText(next_.RecNo, VideoColumn::Title);
  }
}

// What a decision was made on is unchanged: the same video plays, the queue
// has the same first video (or none), and the open playlist has the same rows
// with the place and the row chosen where they were.
bool TPlaySequencer::NextStillHolds() const {
  if (!next_.Made || next_.Current != current_.Url || next_.At != at_ ||
      next_.History != history_.size())
    return false;
  if (next_.Queued)
    return !upNext_.empty() && upNext_.front().Video.Url == next_.Video.Url &&
           upNext_.front().QueuedBy == next_.QueuedBy;
  if (!upNext_.empty()) return false;
  if (next_.Rows != (playList_.Active() ? playList_.RecordCount() : -1)) return false;
  if (!HasRows()) return true;
  return next_.File == playList_.FileName() && next_.PlaceRow == RowOfPlace() &&
         (next_.RecNo == 0 ||
          playList_.DisplayText(next_.RecNo, VideoColumn::Url) == next_.Video.Url);
}

void TPlaySequencer::Remember() {
  if (current_.Url.empty()) return;
  if (!history_.empty()) {
    if (history_[at_].Url == current_.Url) return; // the same video again
    history_.resize(at_ + 1);                      // chosen anew while walked back
  }
  history_.push_back(current_);
  if (history_.size() > kHistoryLength) history_.erase(history_.begin());
  at_ = history_.size() - 1;
}

void TPlaySequencer::WalkTo(std::size_t at) {
  at_ = at;
  previous_ = current_;
  current_ = history_[at_];
  queuedBy_.clear();
  if (MoveToRowOf(current_.Url)) place_ = current_;
}

void TPlaySequencer::Advance() {
  tShuffle_.stop();
  paused_ = false;
  chosen_ = false;
  std::string line;
  switch (phase_) {
  case TPlayPhase::NextVideo:
    if (!ChooseNextVideo()) { // the playlist was closed or emptied under playback
      Stop();
      return;
    }
    emit ShowVideo();
    phase_ = TPlayPhase::LeadIn;
    countDownLength_ = 5;
    line = "Next - 5 " + current_.Url;
    break;
  case TPlayPhase::Restart:
    Remember(); // a row chosen by Play
    emit ShowVideo();
    phase_ = TPlayPhase::LeadIn;
    countDownLength_ = 3;
    line = "Restart - 3 " + current_.Url;
    break;
  case TPlayPhase::LeadIn:
    phase_ = TPlayPhase::Video;
    countDownLength_ = current_.DurationSeconds;
    line = "Lead In - " + std::to_string(countDownLength_);
    break;
  case TPlayPhase::Video:
    phase_ = TPlayPhase::LeadOut;
    countDownLength_ = 5;
    line = "Lead Out - 5";
    break;
  case TPlayPhase::LeadOut:
    phase_ = TPlayPhase::NextVideo;
    countDownLength_ = 0;
    line = "Lead Out - 0";
    break;
  }
  emit LogLine(line);
  tickCount_ = 0;
  tShuffle_.start();
}

bool TPlaySequencer::HasRows() const { return playList_.Active() && playList_.RecordCount() > 0; }

bool TPlaySequencer::MoveToRowOf(const std::string &url) {
  if (!playList_.Active()) return false;
  const int rows = playList_.RecordCount();
  for (int recNo = 1; recNo <= rows; ++recNo) {
    if (playList_.DisplayText(recNo, VideoColumn::Url) != url) continue;
    playList_.SetRecNo(recNo);
    emit RowChosen(recNo);
    return true;
  }
  return false;
}

// The row that comes after the current video by the play mode; 0 when
// playback stops there (played once to the end). The table does not move.
int TPlaySequencer::PickNextRow(bool skipped, bool &newRound) const {
  const int rows = playList_.RecordCount();
  switch (mode_) {
  case TPlayMode::Shuffle: return PickRandomRow();
  case TPlayMode::ShuffleAll: return PickUnplayedRow(newRound);
  case TPlayMode::InOrder:
    if (once_ && RowOfPlace() == rows) return 0;
    return RowOfPlace() % rows + 1;
  case TPlayMode::RepeatOne: {
    const int row = RowOfPlace();
    return skipped ? row % rows + 1 : std::max(row, 1);
  }
  }
  return 0;
}

// The visible row of the place: the table's row when it holds that video
// (the grid stands on the row that played), else the first row that holds
// it; 0 when none does.
int TPlaySequencer::RowOfPlace() const {
  if (place_.Url.empty()) return 0;
  const int current = playList_.RecNo();
  if (current > 0 && playList_.DisplayText(current, VideoColumn::Url) == place_.Url) return current;
  for (int recNo = 1; recNo <= playList_.RecordCount(); ++recNo)
    if (playList_.DisplayText(recNo, VideoColumn::Url) == place_.Url) return recNo;
  return 0;
}

// A row whose video is not the one playing now.
int TPlaySequencer::PickRandomRow() const {
  const int rows = playList_.RecordCount();
  if (rows <= 1) return 1;
  int recNo = 1;
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    recNo = RandomInt(rows) + 1;
    if (playList_.DisplayText(recNo, VideoColumn::Url) != current_.Url) break;
  }
  return recNo;
}

// A row whose video has not had its turn in this round (the place counts as
// played); when every one has, a new round begins (newRound), with another
// video than the one just played.
int TPlaySequencer::PickUnplayedRow(bool &newRound) const {
  const bool sameRound = playList_.FileName() == playedFile_; // another playlist: a new round
  const auto played = [&](const std::string &url) {
    return url == place_.Url || (sameRound && played_.count(url) > 0);
  };
  const int rows = playList_.RecordCount();
  const auto candidates = [&](const auto &wanted) {
    std::vector<int> found;
    for (int recNo = 1; recNo <= rows; ++recNo)
      if (wanted(playList_.DisplayText(recNo, VideoColumn::Url))) found.push_back(recNo);
    return found;
  };
  std::vector<int> fresh = candidates([&](const std::string &url) { return !played(url); });
  newRound = fresh.empty();
  if (newRound) {
    if (once_) return 0;
    fresh = candidates([&](const std::string &url) { return url != place_.Url; });
  }
  if (fresh.empty()) fresh = candidates([](const std::string &) { return true; });
  return fresh[static_cast<std::size_t>(RandomInt(static_cast<int>(fresh.size())))];
}

} // namespace sonabox
