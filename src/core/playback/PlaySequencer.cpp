#include "core/playback/PlaySequencer.h"

#include "core/common/Random.h"
#include "core/playlists/DataTable.h"

#include <algorithm>

namespace sonabox {

namespace {

// When every visible row holds the video that was just playing, no draw can
// find another one: after this many draws the row last drawn is taken.
constexpr int kMaxDraws = 100;

} // namespace

TPlaySequencer::TPlaySequencer(TDataTable &playList, QObject *parent)
    : QObject(parent), playList_(playList) {
  tShuffle_.setObjectName("tShuffle");
  tShuffle_.setInterval(1000);
}

void TPlaySequencer::Next() {
  if (!HasRows()) return;
  phase_ = 2;
  Advance();
}

void TPlaySequencer::Play() {
  if (!HasRows()) return;
  const std::string url = playList_.FieldByName("Url").AsString();
  // With no video chosen yet, the highlighted row is the one to play.
  if (current_.Url.empty() || (current_.Url != url && current_.Url != previous_.Url))
    current_.LoadFromRow(playList_);
  phase_ = 3;
  Advance();
}

void TPlaySequencer::Previous() {
  if (previous_.Url.empty() || !HasRows()) return;
  current_.AssignFrom(previous_);
  previous_.Url.clear();
  MoveToRowOf(current_.Url);
  phase_ = 3;
  Advance();
}

void TPlaySequencer::Stop() {
  tShuffle_.stop();
  paused_ = false;
  emit Stopped();
}

void TPlaySequencer::PlayRow(int recNo) {
  if (recNo < 1 || !playList_.Active() || recNo > playList_.RecordCount()) return;
  playList_.SetRecNo(recNo);
  current_.LoadFromRow(playList_);
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

void TPlaySequencer::VideoEnded() {
  if (!Running()) return;
  while (phase_ != 2) Advance(); // lead-in, video and lead-out end now
  Advance();                     // the next video
}

void TPlaySequencer::FollowPlayer(int position, int length) {
  if (!Running() || (phase_ != 0 && phase_ != 4)) return;
  const bool paused = paused_;
  if (phase_ == 0) Advance(); // "Lead In - <stored length>"
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

void TPlaySequencer::Advance() {
  tShuffle_.stop();
  paused_ = false;
  std::string line;
  switch (phase_) {
  case 2:             // next video
    if (!HasRows()) { // the playlist was closed or emptied under playback
      Stop();
      return;
    }
    previous_.AssignFrom(current_);
    PickNextRow();
    emit RowChosen(playList_.RecNo());
    current_.LoadFromRow(playList_);
    emit ShowVideo();
    phase_ = 0;
    countDownLength_ = 5;
    line = "Next - 5 " + current_.Url;
    break;
  case 3: // restart
    emit ShowVideo();
    phase_ = 0;
    countDownLength_ = 3;
    line = "Restart - 3 " + current_.Url;
    break;
  case 0: // lead-in over
    phase_ = 4;
    countDownLength_ = current_.DurationSeconds;
    line = "Lead In - " + std::to_string(countDownLength_);
    break;
  case 4: // video over
    phase_ = 1;
    countDownLength_ = 5;
    line = "Lead Out - 5";
    break;
  case 1: // lead-out over
    phase_ = 2;
    countDownLength_ = 0;
    line = "Lead Out - 0";
    break;
  }
  emit LogLine(line);
  tickCount_ = 0;
  tShuffle_.start();
}

bool TPlaySequencer::HasRows() const { return playList_.Active() && playList_.RecordCount() > 0; }

void TPlaySequencer::MoveToRowOf(const std::string &url) {
  if (!playList_.Active()) return;
  const int rows = playList_.RecordCount();
  for (int recNo = 1; recNo <= rows; ++recNo) {
    if (playList_.DisplayText(recNo, "Url") != url) continue;
    playList_.SetRecNo(recNo);
    emit RowChosen(recNo);
    return;
  }
}

void TPlaySequencer::PickNextRow() {
  playList_.First();
  const int rows = playList_.RecordCount();
  if (rows <= 1) return;
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    playList_.SetRecNo(RandomInt(rows) + 1);
    if (playList_.FieldByName("Url").AsString() != previous_.Url) return;
  }
}

} // namespace sonabox
