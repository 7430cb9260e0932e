#pragma once
// TdSoftwareUpdate: the window of the update road. Its creation starts the
// update check; when a newer build exists the user is asked, unless that
// build or a newer one was declined at an earlier start (the store's
// "declinedBuild" keeps the build of the last No). On Yes the dialog stands in
// for the main window while the installer downloads. A downloaded installer
// runs only when it is the one the update service signed for the announced
// build with the key the program trusts; then the application ends. Any other
// end of the download (a failed transfer, an installer that fails the check
// or cannot be started, a leftover file that cannot be deleted) is told in its
// own words, then the dialog closes with an empty bar and "0%" and the main
// window is shown again.
#include "core/update/UpdateVerifier.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sonabox {

class TDownloadUpdate;
class TUpdateCheck;

class TdSoftwareUpdate : public QDialog {
  Q_OBJECT
public:
  // A dialog of `window`, which it hides while an installer downloads and shows
  // again when it closes. The installer is downloaded into `tempPath` (ending
  // in "/"). Installers must be signed with the key in `trustedKeyPem`: the key
  // built into the program, unless a test brings its own. Runs FormCreate,
  // which starts the update check.
  TdSoftwareUpdate(QWidget *window, std::string tempPath,
                   std::string trustedKeyPem = BuiltInUpdatePublicKey());
  ~TdSoftwareUpdate() override;

  QLabel *lbUpdateHeader;
  QLabel *lbNewVersion;
  QLabel *Label1;
  QProgressBar *ProgressBar1;
  QLabel *lbPercentDone;
  QLabel *lbCurrentBuild;
  QPushButton *btnAbort;

  QPointer<TDownloadUpdate> Download; // the running download, if any
  std::string InstallerName;          // "Sonabox.run"
  QPointer<TUpdateCheck> Check;       // the running update check, if any

  void FormCreate();
  void StartUpdateCheck();
  // The user asked: the answer is said even when no update is offered, and a
  // build declined before is offered again.
  void CheckNow();
  void UpdateCheckFinished();
  void StartDownload();
  void DownloadProgress(TDownloadUpdate &sender, int64_t total, const std::string &percent);
  void DownloadFinished();
  void btnAbortClick();
  // Stops what runs, empties the bar and the percentage and brings the main
  // window back; runs whenever the dialog closes (Abort, the close box,
  // Escape, the end of a failed download).
  void FormClose();

  // The temporary folder's installer file.
  std::string InstallerPath() const;

protected:
  void done(int result) override;
  void paintEvent(QPaintEvent *event) override;

private:
  enum class TInstallerStart { Started, NotVerified, NotStarted };

  // Verifies the downloaded installer, makes it executable and starts it. An
  // installer that fails the check is deleted.
  TInstallerStart StartInstaller();

  // Shows `message` as an error, then closes the dialog (FormClose).
  void FailUpdate(const char *message);

  // Whether `build` is to be offered: true unless the store names a declined
  // build and `build` is not above it. A stored value that is not a number
  // declines nothing.
  static bool AboveDeclinedBuild(const std::string &build);

  std::string tempPath_;
  std::string trustedKeyPem_;
  // From the answer that offered the update: the build of its first line and
  // its second line (digest and signature).
  std::string announcedBuild_, announcedSignature_;
  bool asked_ = false; // the running check was asked for by the user
};

// Ends the application at once: the event loop returns, the main window's
// close steps do not run.
void EndApplication();

// The instance that exists, or null: set by the constructor, cleared by the
// destructor of that instance.
extern TdSoftwareUpdate *dSoftwareUpdate;

} // namespace sonabox
