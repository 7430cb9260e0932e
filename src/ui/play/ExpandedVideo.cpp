#include "ui/play/ExpandedVideo.h"

#include "core/playback/Playback.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/HtmlView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace sonabox {

TdExpandedVideo::TdExpandedVideo(QWidget &owner, TPlayback &playback)
    : QWidget(&owner, Qt::Window), wbExpandedVideo(new THtmlView(this)), playback_(playback) {
  setObjectName("dExpandedVideo");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Currently Playing: ");
  setFont(QFont("Tahoma", 8));
  // The moves over any widget of the window, which need not track the mouse;
  // the video itself is a window of its own and tells them through the views.
  qApp->installEventFilter(this);
  wbExpandedVideo->setObjectName("wbExpandedVideo");
  wbExpandedVideo->setAccessibleName("Expanded player");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(wbExpandedVideo, 1);
  CreateControls();
  layout->addWidget(pControls);
  // Larger than the page's video: three quarters of the screen the main
  // window is on, centred on that window as far as the screen allows.
  const QRect screen = owner.screen()->availableGeometry();
  resize(std::max(624, screen.width() * 3 / 4), std::max(409, screen.height() * 3 / 4));
  QRect place(QPoint(), size());
  place.moveCenter(owner.frameGeometry().center());
  place.moveLeft(std::clamp(place.left(), screen.left(),
                            std::max(screen.left(), screen.right() + 1 - place.width())));
  place.moveTop(std::clamp(place.top(), screen.top(),
                           std::max(screen.top(), screen.bottom() + 1 - place.height())));
  move(place.topLeft());
  FormCreate();
}

void TdExpandedVideo::CreateControls() {
  pControls = Panel("pControls", this);
  Paint(pControls, kNightPanel, kAmberText);
  btnPause = new QToolButton(pControls);
  btnPause->setObjectName("btnPause");
  btnPause->setText("Pause");
  btnPause->setAccessibleName("Pause");
  btnPause->setCheckable(true);
  btnNext = new QToolButton(pControls);
  btnNext->setObjectName("btnNext");
  btnNext->setText("Next");
  btnNext->setAccessibleName("Next");
  tbPosition = new QSlider(Qt::Horizontal, pControls);
  tbPosition->setObjectName("tbPosition");
  tbPosition->setAccessibleName("Position");
  tbPosition->setTracking(false); // a drag seeks once, when it is let go
  tbPosition->setFocusPolicy(Qt::NoFocus);
  JumpToClick(tbPosition);
  tbVolume = new QSlider(Qt::Horizontal, pControls);
  tbVolume->setObjectName("tbVolume");
  tbVolume->setAccessibleName("Volume");
  tbVolume->setRange(0, 100);
  tbVolume->setFocusPolicy(Qt::NoFocus);
  tbVolume->setFixedWidth(90);
  JumpToClick(tbVolume);
  auto *row = new QHBoxLayout(pControls);
  row->setContentsMargins(8, 4, 8, 4);
  row->addWidget(btnPause);
  row->addWidget(btnNext);
  row->addWidget(tbPosition, 1);
  row->addWidget(tbVolume);
  pControls->hide();

  tHideControls = new QTimer(this);
  tHideControls->setObjectName("tHideControls");
  tHideControls->setSingleShot(true);
  tHideControls->setInterval(2000);
  connect(tHideControls, &QTimer::timeout, this, [this] {
    if (pControls->underMouse())
      tHideControls->start(); // resting on the controls: they stay
    else {
      pControls->hide();
      tPosition_->stop();
    }
  });
  tPosition_ = new QTimer(this);
  tPosition_->setInterval(250);
  connect(tPosition_, &QTimer::timeout, this, &TdExpandedVideo::ShowState);

  connect(btnPause, &QToolButton::toggled, this, [this](bool paused) {
    if (paused != playback_.Paused()) RunGuarded(this, [&] { playback_.SetPaused(paused); });
  });
  connect(btnNext, &QToolButton::clicked, this,
          [this] { RunGuarded(this, [this] { playback_.Next(); }); });
  connect(tbPosition, &QSlider::valueChanged, this,
          [this](int seconds) { playback_.SetPosition(seconds); });
  connect(tbVolume, &QSlider::valueChanged, this,
          [this](int percent) { playback_.SetVolume(percent); });
  for (auto signal :
       {&TPlayback::StateChanged, &TPlayback::VolumeChanged, &TPlayback::VideoChanged})
    connect(&playback_, signal, this, &TdExpandedVideo::ShowState);
}

void TdExpandedVideo::ShowState() {
  const QSignalBlocker quietPause(btnPause), quietVolume(tbVolume);
  btnPause->setChecked(playback_.Paused());
  btnPause->setText(playback_.Paused() ? "Resume" : "Pause");
  btnPause->setEnabled(playback_.Actions().Pause);
  btnNext->setEnabled(playback_.Actions().Next);
  tbVolume->setValue(playback_.Volume());
  const double duration = playback_.Running() ? playback_.Duration() : 0;
  if (!tbPosition->isSliderDown()) {
    const QSignalBlocker quiet(tbPosition);
    tbPosition->setRange(0, static_cast<int>(duration));
    tbPosition->setValue(static_cast<int>(std::min(playback_.Position(), duration)));
  }
  tbPosition->setEnabled(duration > 0);
}

void TdExpandedVideo::MouseMoved() {
  if (!pControls->isVisible()) {
    ShowState();
    pControls->show();
    tPosition_->start();
  }
  tHideControls->start();
}

bool TdExpandedVideo::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::MouseMove && watched->isWidgetType() &&
      static_cast<QWidget *>(watched)->window() == this)
    MouseMoved();
  return false;
}

void TdExpandedVideo::FormCreate() { wbExpandedVideo->Navigate("about:blank"); }

void TdExpandedVideo::ToggleFullScreen() {
  if (isFullScreen())
    showNormal();
  else
    showFullScreen();
}

void TdExpandedVideo::mouseDoubleClickEvent(QMouseEvent *) { ToggleFullScreen(); }

void TdExpandedVideo::closeEvent(QCloseEvent *event) {
  emit Closed();
  event->accept(); // the window deletes itself once the close has completed
}

} // namespace sonabox
