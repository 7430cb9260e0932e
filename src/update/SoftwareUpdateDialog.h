#pragma once
// TdSoftwareUpdate: the window of the update road. Hidden until a download of
// a newer build starts; then it stands in for the main window and shows the
// download's progress.
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace sonabox {

class TdSoftwareUpdate : public QDialog {
  Q_OBJECT
public:
  explicit TdSoftwareUpdate(QWidget *parent = nullptr);
  ~TdSoftwareUpdate() override;

  QLabel *lbUpdateHeader;
  QLabel *lbNewVersion;
  QLabel *Label1;
  QProgressBar *ProgressBar1;
  QLabel *lbPercentDone;
  QLabel *lbCurrentBuild;
  QPushButton *btnAbort;

protected:
  void paintEvent(QPaintEvent *event) override;
};

// The instance that exists, or null: set by the constructor, cleared by the
// destructor of that instance.
extern TdSoftwareUpdate *dSoftwareUpdate;

} // namespace sonabox
