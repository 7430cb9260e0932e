#include "support/TestFolders.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sonabox::test {

namespace {
void Remember(const char *name, std::string &old, bool &had) {
  const char *value = std::getenv(name);
  had = value != nullptr;
  if (had) old = value;
}
void Restore(const char *name, const std::string &old, bool had) {
  if (had)
    setenv(name, old.c_str(), 1);
  else
    unsetenv(name);
}
} // namespace

TestFolders::TestFolders() {
  Remember("XDG_CONFIG_HOME", oldConfig_, hadConfig_);
  Remember("XDG_DATA_HOME", oldData_, hadData_);
  setenv("XDG_CONFIG_HOME", (Root() + "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (Root() + "data").c_str(), 1);
}

TestFolders::~TestFolders() {
  Restore("XDG_CONFIG_HOME", oldConfig_, hadConfig_);
  Restore("XDG_DATA_HOME", oldData_, hadData_);
}

std::string TestFolders::Root() const { return dir_.path().toStdString() + "/"; }
std::string TestFolders::DataPath() const { return Root() + "data/Tarnwell/Sonabox/"; }
std::string TestFolders::ConfigFile() const { return Root() + "config/Tarnwell/Sonabox.ini"; }

std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

DiskFull::DiskFull(rlim_t bytes) {
  old_ = std::signal(SIGXFSZ, SIG_IGN);
  getrlimit(RLIMIT_FSIZE, &limit_);
  rlimit small = limit_;
  small.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &small);
}

DiskFull::~DiskFull() {
  setrlimit(RLIMIT_FSIZE, &limit_);
  std::signal(SIGXFSZ, old_);
}

} // namespace sonabox::test
