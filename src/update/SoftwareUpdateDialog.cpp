#include "update/SoftwareUpdateDialog.h"

#include "app/ImageButtons.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace sonabox {

TdSoftwareUpdate *dSoftwareUpdate = nullptr;

TdSoftwareUpdate::TdSoftwareUpdate(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
  InitArtwork();
  setObjectName("dSoftwareUpdate");
  setWindowTitle("Software Update");
  setFixedSize(367, 207);

  auto label = [this](const char *name, const char *text, QRect where) {
    auto *l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(name);
    l->setGeometry(where);
    return l;
  };
  lbUpdateHeader = label("lbUpdateHeader", "Sonabox Software Update", {14, 14, 340, 18});
  QFont bold = lbUpdateHeader->font();
  bold.setBold(true);
  lbUpdateHeader->setFont(bold);
  lbNewVersion = label("lbNewVersion",
                       "A new version of Sonabox has been detected and is downloading now. Once "
                       "downloaded the software will automatically close and the installer will begin.",
                       {14, 36, 340, 62});
  lbNewVersion->setWordWrap(true);
  lbNewVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1 = label("Label1", "Download progress", {14, 104, 200, 18});
  Label1->setFont(bold);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(14, 124, 339, 18);
  Label1->setBuddy(ProgressBar1);
  lbPercentDone = label("lbPercentDone", "0%", {253, 144, 100, 18});
  lbPercentDone->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbCurrentBuild = label("lbCurrentBuild", "", {14, 176, 200, 18});
  btnAbort = new QPushButton(QIcon(":/images/ABORT.png"), "Abort", this);
  btnAbort->setObjectName("btnAbort");
  btnAbort->setGeometry(263, 170, 90, 28);

  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  dSoftwareUpdate = this;
}

TdSoftwareUpdate::~TdSoftwareUpdate() {
  if (dSoftwareUpdate == this) dSoftwareUpdate = nullptr;
}

void TdSoftwareUpdate::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.drawPixmap(rect(), QPixmap(":/images/SOFTWAREUPDATE_BACK.png"));
}

} // namespace sonabox
