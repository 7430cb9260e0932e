#include "LibraryWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace sonabox::server {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE |
                                   IN_CREATE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR | IN_DONT_FOLLOW;

bool IsHidden(const fs::path &path) { return path.filename().string().starts_with('.'); }

} // namespace

TLibraryWatcher::TLibraryWatcher(fs::path library, std::function<void(const std::string &)> log)
    : library_(std::move(library)), log_(std::move(log)) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  stop_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (inotify_ < 0 || stop_ < 0) {
    const std::string reason = std::strerror(errno);
    if (inotify_ >= 0) close(inotify_);
    if (stop_ >= 0) close(stop_);
    throw std::runtime_error("cannot watch the library: " + reason);
  }
  WatchTree(library_);
}

TLibraryWatcher::~TLibraryWatcher() {
  close(inotify_);
  close(stop_);
}

void TLibraryWatcher::WatchTree(const fs::path &folder) {
  const int watch = inotify_add_watch(inotify_, folder.c_str(), kFolderEvents);
  if (watch < 0) {
    // A folder gone again, or not a folder, is no news; a limit reached is.
    if ((errno == ENOSPC || errno == ENOMEM) && !limitTold_ && log_) {
      limitTold_ = true;
      log_("watch: " + folder.string() +
           " and folders after it are not watched (the system's limit on inotify watches, "
           "fs.inotify.max_user_watches, is reached); the scan every minute still finds their "
           "changes");
    }
    return;
  }
  folders_[watch] = folder;
  std::error_code error;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error))
    if (it->is_directory(error) && !it->is_symlink(error) && !IsHidden(it->path()))
      WatchTree(it->path());
}

bool TLibraryWatcher::ReadEvents() {
  alignas(inotify_event) char buffer[16384];
  bool changed = false;
  for (;;) {
    const ssize_t length = read(inotify_, buffer, sizeof buffer);
    if (length <= 0) return changed; // nothing more waiting (EAGAIN)
    for (ssize_t at = 0; at < length;) {
      const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        changed = true; // events were lost: the scan sees everything anyway
        continue;
      }
      if (event->mask & IN_IGNORED) {
        folders_.erase(event->wd);
        continue;
      }
      const auto folder = folders_.find(event->wd);
      if (folder == folders_.end()) continue;
      const fs::path name = event->len > 0 ? fs::path(event->name) : fs::path();
      const bool isFolder = event->mask & IN_ISDIR;
      // A file just created is read once its writer has closed it.
      if ((event->mask & IN_CREATE) && !isFolder) continue;
      if (!name.empty() && IsHidden(name)) continue;
      if (isFolder && (event->mask & (IN_CREATE | IN_MOVED_TO))) WatchTree(folder->second / name);
      changed = true;
    }
  }
}

bool TLibraryWatcher::WaitForChange(std::chrono::milliseconds quiet,
                                    std::chrono::milliseconds longest) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> first;
  for (;;) {
    int timeout = -1;
    if (first) {
      const auto left = std::min<Clock::duration>(quiet, *first + longest - Clock::now());
      if (left <= Clock::duration::zero()) return true;
      timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    pollfd waiting[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    const int ready = poll(waiting, 2, timeout);
    if (ready < 0 && errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "poll");
    if (waiting[1].revents) return false;
    if (ready == 0) return true; // quiet for long enough
    if (waiting[0].revents && ReadEvents() && !first) first = Clock::now();
  }
}

void TLibraryWatcher::Stop() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(stop_, &one, sizeof one);
}

} // namespace sonabox::server
