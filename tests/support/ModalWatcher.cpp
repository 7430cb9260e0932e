#include "support/ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>

namespace sonabox::test {

ModalWatcher::ModalWatcher(QMessageBox::StandardButton answer) : answer_(answer) {
  connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
  timer_.start(5);
}

void ModalWatcher::Poll() {
  for (QWidget *widget : QApplication::topLevelWidgets()) {
    auto *box = qobject_cast<QMessageBox *>(widget);
    if (!box || !box->isVisible()) continue;
    boxes_.push_back({box->text(), box->icon()});
    QAbstractButton *button = box->button(answer_);
    if (!button) button = box->buttons().isEmpty() ? nullptr : box->buttons().first();
    if (button)
      button->click();
    else
      box->reject();
  }
}

} // namespace sonabox::test
