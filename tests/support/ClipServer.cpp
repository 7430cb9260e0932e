#include "support/ClipServer.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <chrono>

namespace sonabox::test {

std::string MakeClip(const std::string &folder, int seconds) {
  const std::string path = folder + "clip.mkv";
  const QString length = QString::number(seconds);
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                          "testsrc=size=160x120:rate=25:duration=" + length, "-f", "lavfi", "-i",
                          "sine=frequency=440:duration=" + length, "-c:v", "mpeg4", "-c:a", "mp2",
                          QString::fromStdString(path)});
  if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
      ffmpeg.exitCode() != 0)
    return {};
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

ClipServer::ClipServer() {
  server_.set_tcp_nodelay(true);
  server_.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
    std::lock_guard lock(mutex_);
    requested_.push_back(request.path);
    const auto file = files_.find(request.path);
    if (file == files_.end()) {
      response.status = 404;
      return;
    }
    response.set_content(file->second, "video/x-matroska"); // ranges are cut from it
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() only reaches a server that has begun to listen.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_.is_running() && std::chrono::steady_clock::now() < limit)
    std::this_thread::yield();
}

ClipServer::~ClipServer() {
  server_.stop();
  thread_.join();
}

std::string ClipServer::Host() const { return "127.0.0.1:" + std::to_string(port_); }

void ClipServer::Serve(const std::string &path, std::string bytes) {
  std::lock_guard lock(mutex_);
  files_[path] = std::move(bytes);
}

std::vector<std::string> ClipServer::RequestedPaths() const {
  std::lock_guard lock(mutex_);
  return requested_;
}

} // namespace sonabox::test
