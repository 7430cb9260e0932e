#include "core/update/Updaters.h"

#include "core/common/Random.h"
#include "core/common/TextHelpers.h"

#include <exception>

namespace sonabox {

TBaseUpdater::TBaseUpdater() : web_(std::make_unique<TWebStuff>()) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TBaseUpdater::~TBaseUpdater() = default;

void TBaseUpdater::SetOnFinish(QObject *context, std::function<void()> handler) {
  finishContext_ = context;
  onFinish_ = std::move(handler);
}

void TBaseUpdater::Synchronize(const std::function<void()> &call) {
  // This object belongs to the creating thread, so the call runs there.
  QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

void TBaseUpdater::run() {
  try {
    Work();
  } catch (const std::exception &) {
    // The worker keeps its failure result (usFailed, Failed).
  }
  Synchronize([this] {
    if (!finishContext_ || !onFinish_) return;
    const auto handler = onFinish_; // the handler may clear itself
    handler();
  });
}

void TUpdateCheck::Work() {
  SeedRandom();
  msleep(static_cast<unsigned long>(RandomInt(100)));
  // The query names the running build as fixed text. The installer's
  // download has no overall limit (it may be large); the check has.
  Web().SetDeadline(kExchangeDeadline);
  const std::string answer =
      Web().GetText(serviceUrl_ + "?v=40&c=" + std::to_string(RandomInt(5000)));
  const std::vector<std::string> lines = SplitLines(answer);
  if (lines.size() < 2) {
    state_ = usFailed;
    return;
  }
  latestBuild_ = lines[0];
  details_ = lines[1];
  int current = 0, latest = 0;
  if (!TryParseInt32(currentBuild_, current)) current = 0;
  if (!TryParseInt32(latestBuild_, latest)) latest = 0;
  state_ = current < latest ? usNewer : usCurrent;
}

TDownloadUpdate::TDownloadUpdate() {
  Web().SetOnWorkBegin([this](TWorkMode mode, int64_t size) { TransferBegins(mode, size); });
  Web().SetOnWork([this](TWorkMode mode, int64_t count) { TransferProgress(mode, count); });
}

void TDownloadUpdate::SetOnProgress(QObject *context, TProgressEvent handler) {
  progressContext_ = context;
  onProgress_ = std::move(handler);
}

void TDownloadUpdate::Work() {
  failed_ = !Web().DownloadToFile(fileUrl_ + "?" + std::to_string(RandomInt(5000)), destFile_);
}

void TDownloadUpdate::TransferBegins(TWorkMode mode, int64_t size) {
  if (mode != TWorkMode::Read) return;
  total_ = size;
  percent_ = "0";
  NotifyProgress();
}

void TDownloadUpdate::TransferProgress(TWorkMode mode, int64_t count) {
  if (mode != TWorkMode::Read) return;
  percent_ = ProgressPercent(count, total_);
  if (IsTerminated()) Web().Disconnect();
  NotifyProgress();
}

void TDownloadUpdate::NotifyProgress() {
  Synchronize([this] {
    if (!progressContext_ || !onProgress_) return;
    const auto handler = onProgress_; // the handler may clear itself
    handler(*this, total_, percent_);
  });
}

std::string ProgressPercent(int64_t count, int64_t total) {
  if (count == 0 || total == 0) return "0";
  // Exact integer arithmetic, so that halves are recognised as halves.
  const int64_t scaled = count * 100;
  int64_t quotient = scaled / total;
  const int64_t twiceRest = 2 * (scaled % total);
  if (twiceRest > total || (twiceRest == total && quotient % 2 != 0)) ++quotient;
  return std::to_string(quotient);
}

} // namespace sonabox
