#pragma once
// TTubeSearch: one keyword search of the video feed on a worker thread. It asks
// for one page of at most 25 videos and reads them into video records; its
// completion handler then runs on the thread that created it.
#include "core/search/Video.h"
#include "core/web/WebStuff.h"

#include <QPointer>
#include <QThread>

#include <cstdint>
#include <functional>
#include <string>

namespace sonabox {

class TTubeSearch : public QThread {
  Q_OBJECT
public:
  // Created suspended: nothing runs until start(). The keywords are
  // percent-encoded for the address (a space becomes "%20"). The object
  // releases itself once its work and its completion handler are over, so it
  // is always made with new and never deleted by its starter.
  TTubeSearch(const std::string &keywords, const std::string &category);

  const std::string &Keywords() const { return keywords_; }
  const std::string &Category() const { return category_; }
  int32_t StartIndex() const { return startIndex_; }
  void SetStartIndex(int32_t index) { startIndex_ = index; } // before start()
  int32_t TotalResults() const { return totalResults_; }     // 0 until read
  const TVideos &Videos() const { return videos_; }
  // How the request ended (its HTTP status when the service refused it), and
  // whether the answer was a feed page: with those, "nothing found" and "the
  // service could not be reached" can be told apart.
  TWebOutcome Outcome() const { return outcome_; }
  long Status() const { return status_; }
  bool PageRead() const { return pageRead_; }

  // The address of the feed page this search asks for.
  std::string FeedUrl() const;

  // The handler runs once, after the work, whether it succeeded or failed, on
  // the thread that created the search, while the worker waits. It never runs
  // once `context` (an object of that thread, such as the main window) is gone.
  void SetOnTerminate(QObject *context, std::function<void(TTubeSearch &)> handler);

protected:
  void run() override;

private:
  void Search();

  std::string keywords_;
  std::string category_;
  int32_t startIndex_ = 1;
  int32_t totalResults_ = 0;
  TVideos videos_;
  TWebOutcome outcome_ = TWebOutcome::Failed;
  long status_ = 0;
  bool pageRead_ = false;
  QPointer<QObject> context_;
  std::function<void(TTubeSearch &)> onTerminate_;
};

} // namespace sonabox
