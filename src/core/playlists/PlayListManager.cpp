#include "core/playlists/PlayListManager.h"

#include "core/common/Files.h"
#include "core/common/TextHelpers.h"

#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace sonabox {

namespace {

const char kIndexFile[] = "playlists.xml";
const char kTrashFolder[] = "trash/";
const int kNameWidth = 70; // the index's "Name" column
const auto kTrashKept = std::chrono::hours(24 * 7);

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

// Why the folder cannot hold the store's files, or "" when it can. A folder
// that is missing is created first (with the folders above it).
std::string FolderProblem(const std::string &folder) {
  std::error_code created, ignored;
  fs::create_directories(folder, created);
  fs::path path(folder);
  if (!path.has_filename()) path = path.parent_path();
  if (fs::is_directory(path, ignored))
    return ::access(path.c_str(), W_OK | X_OK) == 0 ? std::string() : std::strerror(errno);
  // Something other than a folder may stand in the way: at the folder's own
  // place or at one of the folders above it.
  fs::path blocker = path;
  while (!PathTaken(blocker.string()) && blocker.has_relative_path())
    blocker = blocker.parent_path();
  if (PathTaken(blocker.string()) && !fs::is_directory(blocker, ignored))
    return "\"" + blocker.string() + "\" is not a folder";
  return created ? created.message() : std::string("it is not a folder");
}

void CheckFolder(const std::string &what, const std::string &folder) {
  const std::string problem = FolderProblem(folder);
  if (!problem.empty())
    throw EDataFolderError("The " + what + " \"" + folder +
                           "\" could not be created or written: " + problem + ".");
}

bool ProcessRunning(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// Removes the temporary files of saves that a process which has ended left in
// `folder`: regular files only, nothing else.
void RemoveStaleTemporaries(const std::string &folder, const std::string &target) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const pid_t writer = TemporaryWriter(it->path().filename().string(), target);
    std::error_code ignored; // a file that cannot be removed is tried again at the next start
    if (writer > 0 && !ProcessRunning(writer) && it->is_regular_file(ignored) &&
        !it->is_symlink(ignored))
      fs::remove(it->path(), ignored);
  }
}

// Removes the playlist files that were put into the trash more than a week
// ago: regular files only.
void EmptyOldTrash(const std::string &folder) {
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
    const auto written = fs::last_write_time(it->path(), ignored);
    if (!ignored && now - written > kTrashKept) fs::remove(it->path(), ignored);
  }
}

} // namespace

std::string ClockText() { return LocalTime("%x %X"); }

std::string NewPlayListFileName(const std::string &clockText,
                                const std::function<bool(const std::string &)> &taken) {
  std::string name = Sha1Hex(clockText) + ".xml";
  for (int counter = 2; taken(name); ++counter)
    name = Sha1Hex(clockText + " " + std::to_string(counter)) + ".xml";
  return name;
}

TPlayListManager::TPlayListManager(const std::string &dataPath, const std::string &playListPath)
    : playListFolder_(playListPath), trashFolder_(dataPath + kTrashFolder) {
  CheckFolder("data folder", dataPath);
  CheckFolder("playlists folder", playListPath);
  RemoveStaleTemporaries(dataPath, kIndexFile);
  RemoveStaleTemporaries(playListPath, {});
  EmptyOldTrash(trashFolder_);
  indexTable_.SetFileName(dataPath + kIndexFile);
  if (!PathTaken(indexTable_.FileName())) {
    indexTable_.DefineColumns({{"id", TFieldType::AutoInc, 0},
                               {"Name", TFieldType::String, kNameWidth},
                               {"FileName", TFieldType::String, 50}});
    indexTable_.CreateEmpty();
    SaveIndex();
  }
  LoadIndex();
}

void TPlayListManager::LoadIndex() {
  try {
    indexTable_.LoadFromFile();
    indexTable_.AddIndex("ididx", "id", false);
    indexTable_.AddIndex("nameidx", "Name", true);
    indexTable_.SetIndexName("ididx");
  } catch (const EDataTableError &error) {
    indexTable_.Close();
    throw EIndexDamaged(error.what());
  }
}

std::string TPlayListManager::NewFileName() {
  return NewPlayListFileName(ClockText(), [this](const std::string &candidate) {
    for (int row = 1; row <= indexTable_.RecordCount(); ++row)
      if (indexTable_.DisplayText(row, "FileName") == candidate) return true;
    return PathTaken(playListFolder_ + candidate);
  });
}

void TPlayListManager::CreatePlayList(TDataTable &table, const std::string &name) {
  const std::string kept = TrimPlayListName(name);
  if (kept.empty()) throw EDataTableError("A playlist needs a name.");
  if (HasPlayList(kept)) throw EPlayListExists(kept);
  const std::string fileName = NewFileName();
  // The playlist file before the index row, so that the index never names a
  // file that was not written. A failure here has changed nothing else.
  table.DefineColumns(PlayListColumns());
  table.SetFileName(playListFolder_ + fileName);
  table.CreateEmpty();
  table.SaveToFile(table.FileName());
  try {
    AddIndexRow(kept, fileName);
  } catch (...) {
    // The index goes back to what its file holds (the row takes no id), and
    // the new file, which nothing names, goes.
    table.Close();
    std::error_code ignored;
    fs::remove(playListFolder_ + fileName, ignored);
    LoadIndex();
    throw;
  }
}

bool TPlayListManager::OpenPlayList(TDataTable &table, const std::string &name) {
  table.Close();
  UseNameIndex();
  if (!indexTable_.FindKey(name)) return false;
  const std::string fileName = indexTable_.FieldByName("FileName").AsString();
  if (!IsPlainFileName(fileName))
    throw EDataTableError("The playlist \"" + name + "\" names the file \"" + fileName +
                          "\", which is not in the playlists folder");
  const std::string path = playListFolder_ + fileName;
  const std::string cannot = "The playlist \"" + name + "\" cannot be opened: ";
  if (!PathTaken(path)) throw EDataTableError(cannot + "its file \"" + path + "\" is missing.");
  table.SetFileName(path);
  try {
    table.Open();
  } catch (const EDataTableError &error) {
    // The table's error names the file; its component name is left out.
    std::string detail = error.what();
    const std::string component = table.ComponentName() + ": ";
    if (!table.ComponentName().empty() && detail.rfind(component, 0) == 0)
      detail.erase(0, component.size());
    throw EDataTableError(cannot + detail);
  }
  return true;
}

TPlayListManager::TDeleted TPlayListManager::DeletePlayList(const std::string &name) {
  UseNameIndex();
  TDeleted deleted;
  if (indexTable_.FindKey(name)) {
    deleted.Name = indexTable_.FieldByName("Name").AsString();
    deleted.RowNumber = indexTable_.RowNumber(indexTable_.RecNo());
    try {
      deleted.FileName = indexTable_.FieldByName("FileName").AsString();
    } catch (const EDataTableError &) {
      // an index without file names: there is no file to keep
    }
    indexTable_.Delete();
  }
  try {
    SaveIndex();
  } catch (const EDataTableError &) {
    LoadIndex(); // the playlist stays, in memory as in the file
    throw;
  }
  // Only now that the saved index no longer names it: a crash before this
  // line leaves a file that nothing names, never a name without its file.
  if (IsPlainFileName(deleted.FileName)) {
    std::error_code ignored; // a file already gone or locked does not keep the row
    fs::create_directories(trashFolder_, ignored);
    const std::string trashed = trashFolder_ + deleted.FileName;
    try {
      MoveFileDurably(playListFolder_ + deleted.FileName, trashed);
      // The week in the trash counts from now.
      fs::last_write_time(trashed, fs::file_time_type::clock::now(), ignored);
    } catch (const std::system_error &) {}
  }
  return deleted;
}

void TPlayListManager::RestorePlayList(const TDeleted &deleted) {
  const std::string cannot = "The playlist \"" + deleted.Name + "\" cannot be restored: ";
  if (HasPlayList(deleted.Name)) throw EPlayListExists(deleted.Name);
  if (deleted.RowNumber < 1 || !IsPlainFileName(deleted.FileName))
    throw EDataTableError(cannot + "it was not deleted.");
  const std::string trashed = trashFolder_ + deleted.FileName;
  const std::string path = playListFolder_ + deleted.FileName;
  if (!PathTaken(trashed)) throw EDataTableError(cannot + "its file is no longer in the trash.");
  if (PathTaken(path)) throw EDataTableError(cannot + "another file stands in its place.");
  // The file before the index row, so that the index never names a file
  // that is not there.
  try {
    MoveFileDurably(trashed, path);
  } catch (const std::system_error &error) {
    throw EDataTableError(cannot + error.code().message() + ".");
  }
  try {
    if (!indexTable_.Undelete(deleted.RowNumber))
      throw EDataTableError(cannot + "it was not deleted.");
    SaveIndex();
  } catch (...) {
    try {
      MoveFileDurably(path, trashed);
    } catch (const std::system_error &) {}
    LoadIndex();
    throw;
  }
}

std::string TPlayListManager::RenamePlayList(const std::string &name, const std::string &newName) {
  const std::string kept = TrimPlayListName(newName);
  if (kept.empty()) throw EDataTableError("A playlist needs a name.");
  if (!HasPlayList(name)) throw ENoPlayList(name);
  const std::string oldName = indexTable_.FieldByName("Name").AsString();
  if (kept == oldName) return kept;
  if (HasPlayList(kept)) throw EPlayListExists(kept);
  HasPlayList(oldName); // back on the renamed row
  const std::string fileName = indexTable_.FieldByName("FileName").AsString();
  try {
    indexTable_.Delete();
    AddIndexRow(kept, fileName);
  } catch (...) {
    LoadIndex(); // the index goes back to what its file holds
    throw;
  }
  return kept;
}

void TPlayListManager::UseNameIndex() {
  // Posts and deletions keep the rows in the current index's order, so the
  // order is built once, not at every look-up.
  if (indexTable_.IndexName() != "nameidx") indexTable_.SetIndexName("nameidx");
}

bool TPlayListManager::HasPlayList(const std::string &name) {
  UseNameIndex();
  return indexTable_.FindKey(name);
}

std::string TPlayListManager::PlayListNameOf(const std::string &path) {
  if (path.compare(0, playListFolder_.size(), playListFolder_) != 0) return {};
  const std::string fileName = path.substr(playListFolder_.size());
  for (int row = 1; row <= indexTable_.RecordCount(); ++row)
    if (indexTable_.DisplayText(row, "FileName") == fileName)
      return indexTable_.DisplayText(row, "Name");
  return {};
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

void TPlayListManager::AddIndexRow(const std::string &name, const std::string &fileName) {
  indexTable_.Insert();
  indexTable_.FieldByName("Name").SetAsString(name);
  indexTable_.FieldByName("FileName").SetAsString(fileName);
  indexTable_.Post();
  SaveIndex();
}

std::string RecoverDamagedIndex(const std::string &dataPath) {
  const std::string index = dataPath + kIndexFile;
  const std::string stamp = LocalTime("%Y%m%d-%H%M%S");
  for (int counter = 1;; ++counter) {
    const std::string aside =
        index + ".damaged-" + stamp + (counter > 1 ? "-" + std::to_string(counter) : "");
    try {
      MoveFileDurably(index, aside); // never replaces a file of that name
      return aside;
    } catch (const std::system_error &error) {
      if (error.code() != std::errc::file_exists || counter >= 1000)
        throw EDataTableError("Cannot move the damaged playlist index \"" + index + "\" aside. " +
                              error.code().message());
    }
  }
}

ENoPlayList::ENoPlayList(const std::string &name)
    : EDataTableError("No playlist is named \"" + name + "\"") {}

EPlayListExists::EPlayListExists(const std::string &name)
    : EDataTableError("A playlist named \"" + name + "\" already exists.") {}

std::string TrimPlayListName(const std::string &name) {
  return TrimControl(Utf8Cut(TrimControl(name), kNameWidth));
}

std::vector<bool> VideosAlreadyIn(TPlayListManager &store, const std::string &name,
                                  const std::vector<TVideo> &videos) {
  std::vector<bool> already(videos.size(), false);
  TDataTable playList;
  if (!store.OpenPlayList(playList, name)) return already;
  std::set<std::string> held;
  for (int row = 1; row <= playList.RecordCount(); ++row)
    held.insert(playList.DisplayText(row, VideoColumn::Url));
  // An identifier as the playlist's "Url" column keeps it.
  const int width = PlayListColumns().back().Width;
  for (std::size_t i = 0; i < videos.size(); ++i) {
    std::string url = Utf8Cut(videos[i].Url, static_cast<std::size_t>(width));
    while (!url.empty() && url.back() == ' ') url.pop_back();
    already[i] = !held.insert(url).second;
  }
  return already;
}

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

std::string VideosAddedText(size_t count, const std::string &name) {
  return std::to_string(count) + (count == 1 ? " video" : " videos") + " added to \"" + name + "\"";
}

} // namespace sonabox
