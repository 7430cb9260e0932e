#include "ui/app/FileHandOver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <memory>

namespace sonabox {

namespace {

constexpr int kWaitMs = 3000;
constexpr qint64 kMaxBytes = 1024 * 1024; // far more than any list of paths

} // namespace

QString HandOverName(const std::string &storePath) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(storePath), QCryptographicHash::Sha1);
  // In the user's runtime folder, which no other user may enter.
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/sonabox-" +
         QString::fromLatin1(digest.toHex().left(16));
}

QStringList FilesOfCommandLine(const QStringList &arguments) {
  QStringList files;
  for (const QString &argument : arguments)
    files << QDir::cleanPath(QDir::current().absoluteFilePath(argument));
  return files;
}

bool HandFilesOver(const QString &name, const QStringList &files) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(kWaitMs)) return false;
  QByteArray bytes;
  for (const QString &file : files) bytes += file.toUtf8() + '\0';
  socket.write(bytes);
  // The program answers with one byte once it has the whole list.
  if (!socket.waitForBytesWritten(kWaitMs) || !socket.waitForReadyRead(kWaitMs)) return false;
  return true;
}

TFileHandOver::TFileHandOver(const QString &name, QObject *parent) : QObject(parent) {
  if (!server_.listen(name)) {
    QLocalSocket other;
    other.connectToServer(name);
    if (other.waitForConnected(kWaitMs)) return; // another program takes the files
    QLocalServer::removeServer(name);
    server_.listen(name);
  }
  connect(&server_, &QLocalServer::newConnection, this, &TFileHandOver::Connected);
}

void TFileHandOver::Connected() {
  while (QLocalSocket *socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto received = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
      *received += socket->readAll();
      if (received->size() > kMaxBytes) {
        socket->abort();
        return;
      }
      // The list is whole once it ends with the NUL of its last path.
      if (received->isEmpty() || !received->endsWith('\0')) return;
      QStringList files;
      for (const QByteArray &path : received->chopped(1).split('\0'))
        files << QString::fromUtf8(path);
      received->clear();
      socket->write("1");
      socket->flush();
      emit FilesHandedOver(files);
    });
  }
}

} // namespace sonabox
