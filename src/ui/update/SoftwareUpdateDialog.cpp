#include "ui/update/SoftwareUpdateDialog.h"

#include "core/common/TextHelpers.h"
#include "core/settings/Settings.h"
#include "core/update/Updaters.h"
#include "core/web/ServiceHosts.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/ImageButtons.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>

namespace sonabox {

namespace fs = std::filesystem;

TdSoftwareUpdate *dSoftwareUpdate = nullptr;

namespace {

// The running build, written as fixed text in the request, the comparison and
// the label.
const char *const kCurrentBuild = "40";

QString Caption() { return ProgramTitle(); }

} // namespace

void EndApplication() { QCoreApplication::exit(0); }

TdSoftwareUpdate::TdSoftwareUpdate(QWidget *window, std::string tempPath, std::string trustedKeyPem)
    : QDialog(window, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      tempPath_(std::move(tempPath)), trustedKeyPem_(std::move(trustedKeyPem)) {
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
  lbNewVersion =
      label("lbNewVersion",
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
  connect(btnAbort, &QPushButton::clicked, this, &TdSoftwareUpdate::btnAbortClick);

  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  dSoftwareUpdate = this;
  FormCreate();
}

TdSoftwareUpdate::~TdSoftwareUpdate() {
  if (dSoftwareUpdate == this) dSoftwareUpdate = nullptr;
}

void TdSoftwareUpdate::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.drawPixmap(rect(), QPixmap(":/images/SOFTWAREUPDATE_BACK.png"));
}

void TdSoftwareUpdate::FormCreate() {
  InstallerName = "Sonabox.run";
  StartUpdateCheck();
  lbCurrentBuild->setText(QStringLiteral("Current Build: %1").arg(kCurrentBuild));
}

std::string TdSoftwareUpdate::InstallerPath() const { return tempPath_ + InstallerName; }

void TdSoftwareUpdate::StartUpdateCheck() {
  if (Check || Download) return;
  auto *check = new TUpdateCheck;
  check->SetCurrentBuild(kCurrentBuild);
  check->SetServiceUrl("http://" + ServiceHost() + "/interface/updates.php");
  check->SetOnFinish(this, [this] { UpdateCheckFinished(); });
  Check = check;
  check->start();
}

void TdSoftwareUpdate::CheckNow() {
  if (Check || Download) return;
  asked_ = true;
  StartUpdateCheck();
}

void TdSoftwareUpdate::UpdateCheckFinished() {
  const TUpdateCheck *check = Check;
  Check = nullptr; // the worker releases itself after this notification
  const bool asked = std::exchange(asked_, false);
  if (!check) return;
  if (check->State() != usNewer) {
    if (!asked) return;
    if (check->State() == usCurrent)
      QMessageBox::information(parentWidget(), Caption(), "Sonabox is up to date.");
    else
      QMessageBox::warning(parentWidget(), Caption(),
                           "The update service could not be asked. Please check your connection "
                           "and try again.");
    return;
  }
  announcedBuild_ = check->LatestBuild();
  announcedSignature_ = check->Details();
  if (!asked && !AboveDeclinedBuild(announcedBuild_)) return;
  QMessageBox ask(QMessageBox::Information, Caption(),
                  "A new update has been found, do you want to download now?",
                  QMessageBox::Yes | QMessageBox::No, parentWidget());
  ask.setInformativeText(QString::fromStdString(
      "Sonabox build " + announcedBuild_ + " is offered; this is build " + kCurrentBuild + "."));
  ask.setTextFormat(Qt::PlainText);
  const auto answer = ask.exec();
  if (answer != QMessageBox::Yes) {
    try {
      StoreWriteString(store_key::kDeclinedBuild, announcedBuild_);
    } catch (const std::runtime_error &) {
      // A store that cannot be written only forgets the answer: the offer
      // comes again at the next start.
    }
    return;
  }
  show();
  StartDownload();
  if (QWidget *window = parentWidget(); window && Download) window->hide();
}

void TdSoftwareUpdate::StartDownload() {
  if (Download) return;
  ProgressBar1->setValue(0);
  const std::string path = InstallerPath();
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) {
    fs::remove(path, error);
    if (error) {
      FailUpdate("Unable to delete temp file, please restart your computer.");
      return;
    }
  }
  auto *download = new TDownloadUpdate;
  download->SetFileUrl("http://" + ServiceHost() + "/assets/" + InstallerName);
  download->SetDestFile(path);
  download->SetOnFinish(this, [this] { DownloadFinished(); });
  download->SetOnProgress(
      this, [this](TDownloadUpdate &sender, int64_t total, const std::string &percent) {
        DownloadProgress(sender, total, percent);
      });
  Download = download;
  download->start();
}

void TdSoftwareUpdate::DownloadProgress(TDownloadUpdate &, int64_t, const std::string &percent) {
  show();
  if (QWidget *window = parentWidget(); window && window->isVisible()) window->hide();
  lbPercentDone->setText(QString::fromStdString(percent) + "%");
  int value = 0;
  if (!TryParseInt32(percent, value)) value = 0;
  ProgressBar1->setValue(value);
}

void TdSoftwareUpdate::DownloadFinished() {
  const TDownloadUpdate *download = Download;
  Download = nullptr;
  if (!download || download->IsTerminated()) return;
  if (download->Failed()) {
    FailUpdate("Error downloading update\rPlease check your connection and try again");
    return;
  }
  switch (StartInstaller()) {
  case TInstallerStart::Started: EndApplication(); break;
  case TInstallerStart::NotVerified:
    FailUpdate("The update could not be verified and was not installed.");
    break;
  case TInstallerStart::NotStarted:
    FailUpdate("The update was downloaded but its installer could not be started.");
    break;
  }
}

void TdSoftwareUpdate::FailUpdate(const char *message) {
  QMessageBox::critical(this, Caption(), message);
  reject(); // runs FormClose, which brings the main window back
}

TdSoftwareUpdate::TInstallerStart TdSoftwareUpdate::StartInstaller() {
  const std::string path = InstallerPath();
  std::error_code error;
  if (!VerifyInstaller(trustedKeyPem_, announcedBuild_, announcedSignature_, path)) {
    // Bytes that are not the signed installer are never started, and not kept.
    fs::remove(path, error);
    return TInstallerStart::NotVerified;
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, error);
  if (error || !QProcess::startDetached(QString::fromStdString(path), {}))
    return TInstallerStart::NotStarted;
  return TInstallerStart::Started;
}

void TdSoftwareUpdate::btnAbortClick() { close(); }

void TdSoftwareUpdate::done(int result) {
  QDialog::done(result);
  FormClose();
}

void TdSoftwareUpdate::FormClose() {
  if (Check) Check->requestInterruption();
  if (Download) {
    // Cleared before the stop, so that a stopped download reports nothing.
    Download->SetOnFinish(this, {});
    Download->SetOnProgress(this, {});
    Download->requestInterruption();
    Download = nullptr;
  }
  // The next download starts from an empty bar.
  ProgressBar1->setValue(0);
  lbPercentDone->setText("0%");
  if (QWidget *window = parentWidget()) window->show();
}

bool TdSoftwareUpdate::AboveDeclinedBuild(const std::string &build) {
  const std::optional<std::string> declined = StoreReadString(store_key::kDeclinedBuild);
  int declinedNumber = 0, buildNumber = 0;
  if (!declined || !TryParseInt32(*declined, declinedNumber)) return true;
  return TryParseInt32(build, buildNumber) && buildNumber > declinedNumber;
}

} // namespace sonabox
