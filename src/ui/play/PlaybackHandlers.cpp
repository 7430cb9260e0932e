// The play sequencer of the main window: the player controls, the one-second
// count-down with its phases, the pick of the next video and the choice of the
// view that shows the player page.
//
// The player tells the program nothing; each video gets a lead-in, its stored
// length and a lead-out counted here, then another row of the open playlist is
// drawn at random, until Stop.
#include "ui/widgets/ImageButtons.h"
#include "ui/app/MainWindow.h"
#include "core/common/Random.h"
#include "core/common/TextHelpers.h"
#include "ui/play/ExpandedVideo.h"
#include "ui/widgets/HtmlView.h"
#include "core/playback/PlayerDocument.h"
#include "core/playback/VideoDetails.h"
#include "core/playlists/DataTable.h"
#include "ui/widgets/DataTableModel.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTimer>

#include <string>

namespace sonabox {

namespace {

// When every visible row holds the video that was just playing, no draw can
// find another one: after this many draws the row last drawn is taken.
constexpr int kMaxDraws = 100;

} // namespace

void TfMain::ConnectPlayback() {
  connect(aControlsPrev, &QAction::triggered, this, Guarded(&TfMain::aControlsPrevExecute));
  connect(aControlsPlay, &QAction::triggered, this, Guarded(&TfMain::aControlsPlayExecute));
  connect(aControlsStop, &QAction::triggered, this, Guarded(&TfMain::aControlsStopExecute));
  connect(aControlsNext, &QAction::triggered, this, Guarded(&TfMain::aControlsNextExecute));
  connect(iControlPrev, &TImageButton::clicked, this, Guarded(&TfMain::aControlsPrevExecute));
  connect(iControlPlay, &TImageButton::clicked, this, Guarded(&TfMain::aControlsPlayExecute));
  connect(iControlStop, &TImageButton::clicked, this, Guarded(&TfMain::aControlsStopExecute));
  connect(iControlNext, &TImageButton::clicked, this, Guarded(&TfMain::aControlsNextExecute));
  connect(tShuffle, &QTimer::timeout, this, Guarded(&TfMain::tShuffleTimer));
  // A title is the feed's or a sharer's text: shown as it is, never as markup.
  lbNowPlayingTitle->setTextFormat(Qt::PlainText);
  connect(lbExpand, &QLabel::linkActivated, this, Guarded(&TfMain::lbExpandClick));
  // Grid row 0 is the header row; the rows of the playlist follow from 1.
  connect(sgPlayList, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
    RunGuarded([&] { sgPlayListDblClickCell(index.row() + 1, index.column()); });
  });
  connect(sgPlayList->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
          [this](int column) { RunGuarded([&] { sgPlayListDblClickCell(0, column); }); });
}

void TfMain::aControlsNextExecute() {
  PlayPhase = 2;
  Advance();
}

void TfMain::aControlsPlayExecute() {
  const std::string url = cdsPlayList->FieldByName("Url").AsString();
  if (CurrentVideo->Url != url && CurrentVideo->Url != PreviousVideo->Url)
    CurrentVideo->LoadFromRow(*cdsPlayList);
  PlayPhase = 3;
  Advance();
}

void TfMain::aControlsPrevExecute() {
  CurrentVideo->AssignFrom(*PreviousVideo);
  PreviousVideo->Url.clear();
  aControlsPlayExecute();
}

void TfMain::aControlsStopExecute() {
  tShuffle->stop();
  wbPlayer->Navigate("about:blank");
}

void TfMain::sgPlayListDblClickCell(int row, int column) {
  if (row < 1 || !cdsPlayList->Active()) return;
  if (ds->data(ds->index(row - 1, column)).toString().isEmpty()) return;
  cdsPlayList->SetRecNo(row);
  CurrentVideo->LoadFromRow(*cdsPlayList);
  aControlsPlayExecute();
}

void TfMain::Advance() {
  tShuffle->stop();
  std::string line;
  switch (PlayPhase) {
  case 2: // next video
    PreviousVideo->AssignFrom(*CurrentVideo);
    PickNextRow();
    sgPlayList->setCurrentIndex(ds->index(cdsPlayList->RecNo() - 1, 0)); // the grid shows it
    CurrentVideo->LoadFromRow(*cdsPlayList);
    ShowCurrentVideo(true);
    PlayPhase = 0;
    CountDownLength = 5;
    line = "Next - 5 " + CurrentVideo->Url;
    break;
  case 3: // restart
    ShowCurrentVideo(true);
    PlayPhase = 0;
    CountDownLength = 3;
    line = "Restart - 3 " + CurrentVideo->Url;
    break;
  case 0: // lead-in over
    PlayPhase = 4;
    CountDownLength = CurrentVideo->DurationSeconds;
    line = "Lead In - " + std::to_string(CountDownLength);
    break;
  case 4: // video over
    PlayPhase = 1;
    CountDownLength = 5;
    line = "Lead Out - 5";
    break;
  case 1: // lead-out over
    PlayPhase = 2;
    CountDownLength = 0;
    line = "Lead Out - 0";
    break;
  }
  AddLogLine(line);
  TickCount = 0;
  tShuffle->start();
}

void TfMain::PickNextRow() {
  cdsPlayList->First();
  const int rows = cdsPlayList->RecordCount();
  if (rows <= 1) return;
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    cdsPlayList->SetRecNo(RandomInt(rows) + 1);
    if (cdsPlayList->FieldByName("Url").AsString() != PreviousVideo->Url) return;
  }
}

void TfMain::tShuffleTimer() {
  ++TickCount;
  if (TickCount < CountDownLength) {
    lbCountDown->setText(QString::fromStdString(
        "Timer: " + SecondsToText(std::to_string(CountDownLength - TickCount))));
    return;
  }
  tShuffle->stop();
  Advance();
}

void TfMain::ShowCurrentVideo(bool forced) {
  if (!forced && !tShuffle->isActive()) return;
  lbNowPlayingTitle->setText(QString::fromStdString("Now playing: " + CurrentVideo->Title));
  if (dExpandedVideo) {
    dExpandedVideo->setWindowTitle(QString::fromStdString("Now Playing:: " + CurrentVideo->Title));
    ShowPlayer(CurrentVideo->Url, *dExpandedVideo->wbExpandedVideo);
    wbPlayer->Navigate("about:blank");
  } else {
    ShowPlayer(CurrentVideo->Url, *wbPlayer);
  }
}

void TfMain::lbExpandClick() {
  if (!dExpandedVideo) {
    dExpandedVideo = new TdExpandedVideo(*this);
    if (tShuffle->isActive()) {
      PlayPhase = 3;
      Advance();
    }
  }
  dExpandedVideo->show();
  dExpandedVideo->raise();
  dExpandedVideo->activateWindow();
}

} // namespace sonabox
