#include "ui/widgets/Guarded.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace sonabox {

namespace {

void ShowBox(QWidget *parent, QMessageBox::Icon icon, const std::string &message) {
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(message),
                  QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

} // namespace

void ShowError(QWidget *parent, const std::string &message) {
  ShowBox(parent, QMessageBox::Critical, message);
}

void ShowInformation(QWidget *parent, const std::string &message) {
  ShowBox(parent, QMessageBox::Information, message);
}

} // namespace sonabox
