#pragma once
// Changes in the library folder as they happen (inotify), so that a file added,
// removed or renamed is in the catalogue a moment later instead of at the next
// scan. Every folder of the library is watched, hidden ones aside, and each
// new folder as it appears. What counts as a change: a file written and
// closed, moved in or out, deleted or given other attributes (permissions,
// a retag), and a folder created, moved or deleted. A file being written is
// not a change until it is closed, so that a copy is read once, whole.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace sonabox::server {

class TLibraryWatcher {
public:
  // Watches the folder and every folder below it. Throws std::runtime_error
  // when the system gives no watching at all; `log` hears of folders that
  // cannot be watched (the system's limit on watches reached).
  TLibraryWatcher(std::filesystem::path library, std::function<void(const std::string &)> log);
  ~TLibraryWatcher();
  TLibraryWatcher(const TLibraryWatcher &) = delete;
  TLibraryWatcher &operator=(const TLibraryWatcher &) = delete;

  // Blocks until something has changed and then nothing more for `quiet`, or
  // `longest` has passed since the first change, so that a burst of changes
  // (a folder copied in) is one. False once Stop was called.
  bool WaitForChange(std::chrono::milliseconds quiet, std::chrono::milliseconds longest);

  // From any thread: WaitForChange returns false, now and from then on.
  void Stop();

private:
  void WatchTree(const std::filesystem::path &folder);
  // Reads the waiting events; true when one of them is a change.
  bool ReadEvents();

  std::filesystem::path library_;
  std::function<void(const std::string &)> log_;
  int inotify_ = -1;
  int stop_ = -1;                                // an eventfd that Stop makes readable
  std::map<int, std::filesystem::path> folders_; // by watch descriptor
  bool limitTold_ = false;
};

} // namespace sonabox::server
