#pragma once
// TdSettings, "dSettings": what the user may set without editing the store by
// hand. The three service addresses (with a test that says which of them
// answered), the proxy, the share sender's name and e-mail, the desktop
// notification of the next video, and the play mode.
//
// The dialog reads the store when it opens and writes it when OK is pressed;
// the window then passes the play mode on to the Play page.
#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace sonabox {

class TSettings;

class TdSettings : public QDialog {
  Q_OBJECT
public:
  // `settings` keeps the share sender and must outlive the dialog.
  TdSettings(TSettings &settings, QWidget *parent);

  QLineEdit *edVideoDataHost, *edVideoWebHost, *edServiceHost;
  QPushButton *btnTest;
  QLabel *lbTestResult; // which service answered
  QLineEdit *edProxyAddr;
  QSpinBox *sbProxyPort; // 0: no port given
  QLineEdit *edShareName, *edShareEmail;
  QCheckBox *cbNotify;
  QComboBox *cbPlayMode;

  // Asks each address typed in the dialog (not yet saved) whether it answers;
  // the result shows in lbTestResult when all have answered or given up.
  void TestServices();
  bool Testing() const { return testing_; }

  // Checks the values and writes them into the store; a value that cannot be
  // used is said, and nothing is written.
  void accept() override;

private:
  TSettings &settings_;
  bool testing_ = false;
};

} // namespace sonabox
