#include "ui/widgets/Guarded.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace sonabox {

namespace {

QString &Title() {
  static QString title = QStringLiteral("Sonabox");
  return title;
}

void ShowBox(QWidget *parent, QMessageBox::Icon icon, const std::string &message) {
  QMessageBox box(icon, ProgramTitle(), QString::fromStdString(message), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

} // namespace

QString ProgramTitle() { return Title(); }

void SetProgramTitle(const QString &title) { Title() = title; }

void ShowError(QWidget *parent, const std::string &message) {
  ShowBox(parent, QMessageBox::Critical, message);
}

void ShowInformation(QWidget *parent, const std::string &message) {
  ShowBox(parent, QMessageBox::Information, message);
}

} // namespace sonabox
