#include "core/settings/Settings.h"

#include "core/common/Files.h"
#include "core/common/TextHelpers.h"

#include <QSettings>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace sonabox {

TSettings *Settings = nullptr;

namespace {

std::string EnvironmentValue(const char *name) {
  const char *value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else
// $HOME followed by the fallback, else nothing.
std::string XdgBase(const char *variable, const char *homeFallback) {
  std::string base = EnvironmentValue(variable);
  if (!base.empty() && base.front() == '/') return base;
  const std::string home = EnvironmentValue("HOME");
  if (home.empty()) return {};
  return home + homeFallback;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

void CreateFolder(const std::string &path) {
  std::error_code ignored; // a folder that cannot be created fails the first file operation in it
  fs::create_directories(path, ignored);
}

QSettings OpenStore() {
  return QSettings(QString::fromStdString(StoreFilePath()), QSettings::IniFormat);
}

} // namespace

std::string StoreFilePath() {
  std::string base = XdgBase("XDG_CONFIG_HOME", "/.config");
  if (base.empty()) base = fs::current_path().string();
  return WithSlash(base) + "Tarnwell/Sonabox.ini";
}

std::optional<std::string> StoreReadString(const std::string &name) {
  const QSettings store = OpenStore();
  const QString key = QString::fromStdString(name);
  if (!store.contains(key)) return std::nullopt;
  return store.value(key).toString().toStdString();
}

std::optional<int> StoreReadInt(const std::string &name) {
  const std::optional<std::string> text = StoreReadString(name);
  int value = 0;
  if (!text || !TryParseInt32(TrimControl(*text), value)) return std::nullopt;
  return value;
}

void StoreWriteString(const std::string &name, const std::string &value) {
  QSettings store = OpenStore();
  store.setValue(QString::fromStdString(name), QString::fromStdString(value));
  store.sync();
  if (store.status() != QSettings::NoError)
    throw std::runtime_error("Cannot write the value \"" + name + "\" to " + StoreFilePath());
  // QSettings replaces the file by a rename; the folder holds that rename.
  SyncFolder(fs::path(StoreFilePath()).parent_path().string());
}

TSettings::TSettings() {
  // The data folder sits below the user's data folder; when there is none that
  // can be used, the working folder takes its place, with no sub-folder added.
  std::string base = XdgBase("XDG_DATA_HOME", "/.local/share");
  std::error_code error;
  if (!base.empty()) fs::create_directories(base, error);
  if (!base.empty() && fs::is_directory(base, error))
    dataPath_ = WithSlash(base) + "Tarnwell/Sonabox/";
  else
    dataPath_ = WithSlash(fs::current_path().string());
  CreateFolder(dataPath_);
  tempPath_ = dataPath_ + "temp/";
  CreateFolder(tempPath_);
  playListPath_ = dataPath_ + "playlists/";
  CreateFolder(playListPath_);

  // The store exists after the first start, even before anything is written.
  const std::string store = StoreFilePath();
  if (!fs::exists(store, error)) {
    CreateFolder(fs::path(store).parent_path().string());
    std::FILE *file = std::fopen(store.c_str(), "a");
    if (file) std::fclose(file);
  }
  if (auto email = StoreReadString(store_key::kShareEmail)) shareEmail_ = *email;
  if (auto name = StoreReadString(store_key::kShareName)) shareName_ = *name;
}

void TSettings::SaveShareDetails(const std::string &name, const std::string &email) {
  StoreWriteString(store_key::kShareName, name);
  StoreWriteString(store_key::kShareEmail, email);
  shareName_ = name;
  shareEmail_ = email;
}

} // namespace sonabox
