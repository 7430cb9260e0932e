#pragma once
// Answers the modal message boxes that a handler under test opens: every few
// milliseconds it looks for an open QMessageBox, records its text and icon, and
// presses the chosen button. The handler's real QMessageBox code runs unchanged.
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace sonabox::test {

class ModalWatcher : public QObject {
  Q_OBJECT
public:
  struct Seen {
    QString Text;
    QMessageBox::Icon Icon;
  };

  // `answer` is the button pressed on every box (OK for information and errors).
  explicit ModalWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok);

  const std::vector<Seen> &Boxes() const { return boxes_; }
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }

private:
  void Poll();
  QTimer timer_;
  QMessageBox::StandardButton answer_;
  std::vector<Seen> boxes_;
};

} // namespace sonabox::test
