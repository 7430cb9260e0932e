#pragma once
// A private home for one test: XDG_CONFIG_HOME and XDG_DATA_HOME point into a
// fresh temporary folder for the life of the object, so that tests never touch
// the user's own settings or playlists.
#include <QTemporaryDir>

#include <sys/resource.h>

#include <string>

namespace sonabox::test {

class TestFolders {
public:
  TestFolders();
  ~TestFolders();
  TestFolders(const TestFolders &) = delete;
  TestFolders &operator=(const TestFolders &) = delete;

  std::string Root() const;       // the temporary folder, ending in "/"
  std::string DataPath() const;   // where TSettings puts the data folder
  std::string ConfigFile() const; // the per-user store

private:
  QTemporaryDir dir_;
  std::string oldConfig_, oldData_;
  bool hadConfig_ = false, hadData_ = false;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string &path);

// Writes bytes to a file, replacing it.
void WriteFileBytes(const std::string &path, const std::string &bytes);

// While it lives, no file of the process can grow past `bytes`: a write beyond
// fails as it would on a full disk.
class DiskFull {
public:
  explicit DiskFull(rlim_t bytes);
  ~DiskFull();
  DiskFull(const DiskFull &) = delete;
  DiskFull &operator=(const DiskFull &) = delete;

private:
  rlimit limit_{};
  void (*old_)(int) = nullptr;
};

} // namespace sonabox::test
