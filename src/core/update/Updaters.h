#pragma once
// The update workers: TUpdateCheck asks the update service for the newest
// build, TDownloadUpdate downloads the installer. Each is a thread created
// suspended (nothing runs until start()), with its own web client made on the
// creating thread. Its notifications run on the creating thread (the
// user-interface thread) while the worker waits, and once the finish
// notification has run the object releases itself: make it with new and
// never delete it.
#include "core/web/WebStuff.h"

#include <QPointer>
#include <QThread>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sonabox {

class TBaseUpdater : public QThread {
  Q_OBJECT
public:
  TBaseUpdater();
  ~TBaseUpdater() override;

  // Whether stopping has been requested (requestInterruption()).
  bool IsTerminated() const { return isInterruptionRequested(); }

  // The finish notification: runs once after the work, while the object still
  // exists. It never runs once `context` is gone; an empty handler clears it.
  // Set and cleared on the creating thread only.
  void SetOnFinish(QObject *context, std::function<void()> handler);

protected:
  // The work itself, on the worker thread. An error raised here ends the work
  // with the failure result the worker started with; it never ends the program.
  virtual void Work() = 0;

  // Runs `call` on the creating thread while the worker waits.
  void Synchronize(const std::function<void()> &call);

  TWebStuff &Web() { return *web_; }

private:
  void run() final;

  std::unique_ptr<TWebStuff> web_;
  QPointer<QObject> finishContext_;
  std::function<void()> onFinish_;
};

enum TUpdateState : uint8_t { usNewer = 0, usCurrent = 1, usFailed = 2 };

class TUpdateCheck : public TBaseUpdater {
  Q_OBJECT
public:
  const std::string &CurrentBuild() const { return currentBuild_; }
  void SetCurrentBuild(const std::string &build) { currentBuild_ = build; }
  const std::string &ServiceUrl() const { return serviceUrl_; }
  void SetServiceUrl(const std::string &url) { serviceUrl_ = url; }

  // The answer: its first line, the newest build; and its second line, which
  // the service fills as it likes.
  const std::string &LatestBuild() const { return latestBuild_; }
  const std::string &Details() const { return details_; }
  TUpdateState State() const { return state_; }

protected:
  void Work() override;

private:
  std::string currentBuild_;
  std::string latestBuild_;
  std::string details_;
  TUpdateState state_ = usFailed;
  std::string serviceUrl_;
};

class TDownloadUpdate : public TBaseUpdater {
  Q_OBJECT
public:
  using TProgressEvent =
      std::function<void(TDownloadUpdate &sender, int64_t total, const std::string &percent)>;

  // Installs the worker's own transfer-begin and transfer-progress handlers on
  // its web client.
  TDownloadUpdate();

  const std::string &FileUrl() const { return fileUrl_; }
  void SetFileUrl(const std::string &url) { fileUrl_ = url; }
  const std::string &DestFile() const { return destFile_; }
  void SetDestFile(const std::string &path) { destFile_ = path; }

  int64_t Total() const { return total_; }                // announced size; 0 when not announced
  const std::string &Percent() const { return percent_; } // "0" to "100"
  bool Failed() const { return failed_; }                 // false once the download succeeded

  // The progress notification, run on the creating thread while the worker
  // waits; as SetOnFinish for the context and for clearing.
  void SetOnProgress(QObject *context, TProgressEvent handler);

protected:
  void Work() override;

private:
  void TransferBegins(TWorkMode mode, int64_t size);
  void TransferProgress(TWorkMode mode, int64_t count);
  void NotifyProgress();

  int64_t total_ = 0;
  QPointer<QObject> progressContext_;
  TProgressEvent onProgress_;
  std::string fileUrl_;
  std::string destFile_;
  std::string percent_ = "0";
  bool failed_ = true;
};

// count / total * 100 to the nearest integer, halves to the even neighbour;
// "0" when either is 0.
std::string ProgressPercent(int64_t count, int64_t total);

} // namespace sonabox
