#include "ui/widgets/Guarded.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace sonabox {

void ShowError(QWidget *parent, const std::string &message) {
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                  QString::fromStdString(message), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

} // namespace sonabox
