#include "core/playlists/PlayListManager.h"

#include "core/common/TextHelpers.h"
#include "core/search/Video.h"

#include <QString>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace sonabox {

namespace {

const char kIndexFile[] = "playlists.xml";

std::string LocalTime(const char *format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

// A file name the index may name: one entry of the playlists folder, never a
// path that leads out of it.
bool IsPlainFileName(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool PathTaken(const std::string &path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

} // namespace

std::vector<TFieldDef> PlayListColumns() {
  return {{"Added", TFieldType::DateTime, 0},          {"Duration", TFieldType::String, 10},
          {"DurationSeconds", TFieldType::Integer, 0}, {"Description", TFieldType::String, 210},
          {"Rating", TFieldType::String, 5},           {"Thumbnail", TFieldType::String, 50},
          {"Title", TFieldType::String, 100},          {"Url", TFieldType::String, 16}};
}

std::string ClockText() { return LocalTime("%x %X"); }

std::string NewPlayListFileName(const std::string &clockText,
                                const std::function<bool(const std::string &)> &taken) {
  std::string name = Sha1Hex(clockText) + ".xml";
  for (int counter = 2; taken(name); ++counter)
    name = Sha1Hex(clockText + " " + std::to_string(counter)) + ".xml";
  return name;
}

TPlayListManager::TPlayListManager(const std::string &dataPath, const std::string &playListPath)
    : playListFolder_(playListPath) {
  indexTable_.SetFileName(dataPath + kIndexFile);
  if (!PathTaken(indexTable_.FileName())) {
    indexTable_.DefineColumns({{"id", TFieldType::AutoInc, 0},
                               {"Name", TFieldType::String, 70},
                               {"FileName", TFieldType::String, 50}});
    indexTable_.CreateEmpty();
    SaveIndex();
  }
  indexTable_.LoadFromFile();
  indexTable_.AddIndex("ididx", "id", false);
  indexTable_.AddIndex("nameidx", "Name", true);
  indexTable_.SetIndexName("ididx");
}

std::string TPlayListManager::NewFileName() {
  return NewPlayListFileName(ClockText(), [this](const std::string &candidate) {
    for (int row = 1; row <= indexTable_.RecordCount(); ++row)
      if (indexTable_.DisplayText(row, "FileName") == candidate) return true;
    return PathTaken(playListFolder_ + candidate);
  });
}

void TPlayListManager::CreatePlayList(TDataTable &table, const std::string &name) {
  const std::string fileName = NewFileName();
  // The index row first: a name already in use fails here, and the refused
  // row is dropped so that it cannot get in the way of later operations.
  indexTable_.Insert();
  try {
    indexTable_.FieldByName("Name").SetAsString(name);
    indexTable_.FieldByName("FileName").SetAsString(fileName);
    indexTable_.Post();
  } catch (...) {
    indexTable_.Cancel();
    throw;
  }
  // The playlist file before the index, so that the index never names a file
  // that was not written.
  try {
    table.DefineColumns(PlayListColumns());
    table.SetFileName(playListFolder_ + fileName);
    table.CreateEmpty();
    table.SaveToFile(table.FileName());
  } catch (...) {
    indexTable_.Delete(); // the row just posted is the current one
    throw;
  }
  SaveIndex();
}

bool TPlayListManager::OpenPlayList(TDataTable &table, const std::string &name) {
  table.Close();
  indexTable_.SetIndexName("nameidx");
  if (!indexTable_.FindKey(name)) return false;
  const std::string fileName = indexTable_.FieldByName("FileName").AsString();
  if (!IsPlainFileName(fileName))
    throw EDataTableError("The playlist \"" + name + "\" names the file \"" + fileName +
                          "\", which is not in the playlists folder");
  table.SetFileName(playListFolder_ + fileName);
  table.Open();
  return true;
}

void TPlayListManager::DeletePlayList(const std::string &name) {
  indexTable_.SetIndexName("nameidx");
  if (indexTable_.FindKey(name)) {
    try {
      const std::string fileName = indexTable_.FieldByName("FileName").AsString();
      std::error_code ignored; // a file already gone or locked does not keep the row
      if (IsPlainFileName(fileName)) fs::remove(playListFolder_ + fileName, ignored);
    } catch (const EDataTableError &) {
      // an index without file names: there is no file to remove
    }
    indexTable_.Delete();
  }
  SaveIndex();
}

bool TPlayListManager::HasPlayList(const std::string &name) {
  indexTable_.SetIndexName("nameidx");
  return indexTable_.FindKey(name);
}

const std::vector<std::string> &TPlayListManager::PlayListNames() {
  struct TEntry {
    QString Key;
    std::string Name;
  };
  std::vector<TEntry> entries;
  for (int row = 1; row <= indexTable_.RecordCount(); ++row) {
    std::string name = indexTable_.DisplayText(row, "Name");
    entries.push_back({QString::fromStdString(name).toCaseFolded(), std::move(name)});
  }
  std::sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) {
    const int order = a.Key.compare(b.Key);
    return order != 0 ? order < 0 : a.Name < b.Name;
  });
  names_.clear();
  for (TEntry &entry : entries) names_.push_back(std::move(entry.Name));
  return names_;
}

void TPlayListManager::SaveIndex() { indexTable_.SaveToFile(indexTable_.FileName()); }

std::string RecoverDamagedIndex(const std::string &dataPath) {
  const std::string index = dataPath + kIndexFile;
  const std::string stamp = LocalTime("%Y%m%d-%H%M%S");
  for (int counter = 1;; ++counter) {
    const std::string aside =
        index + ".damaged-" + stamp + (counter > 1 ? "-" + std::to_string(counter) : "");
    // Never replaces a file of that name.
    if (::renameat2(AT_FDCWD, index.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0)
      return aside;
    const int error = errno;
    if (error != EEXIST || counter >= 1000)
      throw EDataTableError("Cannot move the damaged playlist index \"" + index + "\" aside. " +
                            std::strerror(error));
  }
}

ENoPlayList::ENoPlayList(const std::string &name)
    : EDataTableError("No playlist is named \"" + name + "\"") {}

std::string AddVideosToPlayList(TPlayListManager &store, const std::string &name, bool create,
                                const std::vector<TVideo> &videos) {
  TDataTable playList;
  if (create)
    store.CreatePlayList(playList, name);
  else if (!store.OpenPlayList(playList, name))
    throw ENoPlayList(name);
  for (const TVideo &video : videos) {
    playList.Insert();
    StoreVideoInRow(video, playList);
    playList.Post();
  }
  playList.SaveToFile();
  return playList.FileName();
}

} // namespace sonabox
