#include "core/common/Files.h"

#include "core/common/TextHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace sonabox {

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string &path) {
  throw std::system_error(error, std::generic_category(), path);
}

std::string FolderOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void SyncFolder(const std::string &folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void WriteFileAtomically(const std::string &path, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) ThrowErrno(errno, path);

  const auto fail = [&](int error) {
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    ThrowErrno(error, path);
  };
  const char *p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    p += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(fd) != 0) fail(errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) fail(errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno);
  SyncFolder(FolderOf(path));
}

void MoveFileDurably(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
    ThrowErrno(errno, from);
  SyncFolder(FolderOf(to));
  if (FolderOf(from) != FolderOf(to)) SyncFolder(FolderOf(from));
}

std::string ReadWholeFile(const std::string &path) {
  // O_NONBLOCK so that a pipe under the name cannot hang the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) ThrowErrno(errno, path);
  struct stat info {};
  const int error = ::fstat(fd, &info) != 0  ? errno
                    : S_ISDIR(info.st_mode)  ? EISDIR
                    : !S_ISREG(info.st_mode) ? EINVAL
                                             : 0;
  if (error != 0) {
    ::close(fd);
    ThrowErrno(error, path);
  }
  // One byte more than the file holds, so that the read that meets its end
  // needs no growth.
  std::string bytes;
  bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t done = 0;
  for (;;) {
    if (done == bytes.size()) bytes.resize(2 * bytes.size()); // the file grew meanwhile
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      ThrowErrno(error, path);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(done);
  return bytes;
}

pid_t TemporaryWriter(const std::string &name, const std::string &target) {
  const std::size_t mark = name.rfind(".tmp-");
  if (mark == std::string::npos || mark == 0 || (!target.empty() && name.substr(0, mark) != target))
    return 0;
  const std::string tail = name.substr(mark + 5);
  const std::size_t dash = tail.find('-');
  const auto digits = [](const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  };
  int pid = 0;
  if (dash == std::string::npos || !digits(tail.substr(0, dash)) ||
      !digits(tail.substr(dash + 1)) || !TryParseInt32(tail.substr(0, dash), pid) || pid <= 0)
    return 0;
  return pid;
}

} // namespace sonabox
