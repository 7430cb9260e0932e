#include "core/playlists/PlayListManager.h"

#include "core/common/Files.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/DatasetXml.h"

#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace sonabox {

namespace {

const char kIndexFile[] = "playlists.xml";
const char kLockFile[] = "playlists.lock";
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
  if (fs::is_directory(path, ignored)) return {};
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
    throw EDataFolderError("The " + what + " \"" + folder + "\" could not be created or written: " +
                           problem + ".");
}

// A playlist file's name as the store makes them: 40 upper-case hexadecimal
// digits and ".xml".
bool IsPlayListFileName(const std::string &name) {
  return name.size() == 44 && name.compare(40, 4, ".xml") == 0 &&
         name.find_first_not_of("0123456789ABCDEF") == 40;
}

TPlayListManager::TStamp StampOf(const std::string &path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {static_cast<std::uint64_t>(info.st_ino), static_cast<std::uint64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// The index's and the playlist table's columns.
std::vector<TFieldDef> IndexColumns() {
  return {{"id", TFieldType::AutoInc, 0},
          {"Name", TFieldType::String, kNameWidth},
          {"FileName", TFieldType::String, 50}};
}

// Whether a loaded table has exactly these columns: a file whose columns
// differ (a damaged name, type or width) would lose data when written back.
std::string ColumnsProblem(const TDataTable &table, const std::vector<TFieldDef> &expected) {
  const std::vector<TFieldDef> &columns = table.Columns();
  const auto describe = [](const std::vector<TFieldDef> &defs) {
    std::string text;
    for (const TFieldDef &def : defs) text += (text.empty() ? "" : ", ") + def.Name;
    return text;
  };
  bool same = columns.size() == expected.size();
  for (std::size_t i = 0; same && i < columns.size(); ++i)
    same = columns[i].Name == expected[i].Name && columns[i].Type == expected[i].Type &&
           columns[i].Width == expected[i].Width;
  if (same) return {};
  return "its columns (" + describe(columns) + ") are not the expected " + describe(expected);
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

// The store's lock, held by one writer at a time. flock locks belong to the
// open file, so two stores of one process exclude each other as two
// processes do.
class TStoreLock {
public:
  explicit TStoreLock(const std::string &dataFolder) {
    fd_ = ::open((dataFolder + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) Fail(dataFolder, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      const int error = errno;
      if (error == EINTR) continue;
      ::close(fd_);
      Fail(dataFolder, error);
    }
  }
  ~TStoreLock() { ::close(fd_); } // closing lets go
  TStoreLock(const TStoreLock &) = delete;
  TStoreLock &operator=(const TStoreLock &) = delete;

private:
  [[noreturn]] static void Fail(const std::string &folder, int error) {
    throw EDataFolderError("The playlists cannot be changed: the data folder \"" + folder +
                           "\" cannot be written (" + std::strerror(error) + ").");
  }
  int fd_ = -1;
};

// The names that a damaged index still gives its files: for each file name,
// the name of the last row that names it and is not deleted. Rows are read
// one by one, loosely: a damaged row gives nothing, the others still count.
std::map<std::string, std::string> NamesStillReadable(const std::string &document) {
  std::map<std::string, std::string> names;
  const auto value = [](std::string_view row, std::string_view key) -> std::optional<std::string> {
    const std::string marker = " " + std::string(key) + "=\"";
    const std::size_t start = row.find(marker);
    if (start == std::string_view::npos) return std::nullopt;
    const std::size_t from = start + marker.size();
    const std::size_t end = row.find('"', from);
    if (end == std::string_view::npos) return std::nullopt;
    return DecodeDatasetValue(row.substr(from, end - from));
  };
  std::size_t at = 0;
  while ((at = document.find("<ROW ", at)) != std::string::npos) {
    const std::size_t end = document.find('>', at);
    if (end == std::string::npos) break;
    const std::string_view row = std::string_view(document).substr(at, end - at);
    at = end;
    const auto state = value(row, "RowState");
    int flags = 0;
    if (state && (!TryParseInt32(*state, flags) || (flags & 2))) continue;
    const auto name = value(row, "Name");
    const auto file = value(row, "FileName");
    if (name && file && IsPlayListFileName(*file)) names[*file] = *name;
  }
  return names;
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
    : index_(std::make_unique<TDataTable>()), dataFolder_(dataPath), playListFolder_(playListPath),
      trashFolder_(dataPath + kTrashFolder) {
  CheckFolder("data folder", dataPath);
  CheckFolder("playlists folder", playListPath);
  index_->SetFileName(dataPath + kIndexFile);
  std::optional<TStoreLock> lock;
  try {
    lock.emplace(dataFolder_);
  } catch (const EDataFolderError &) {
    // A folder that cannot be written: the playlists can still be read.
    if (!PathTaken(index_->FileName())) throw;
  }
  if (!PathTaken(index_->FileName())) {
    index_->DefineColumns(IndexColumns());
    index_->CreateEmpty();
    SaveIndex();
  }
  LoadIndex();
  if (lock) Tidy();
  // The files as they are now: what others change from here on is reported.
  std::error_code error;
  for (fs::directory_iterator it(playListFolder_, error), end; !error && it != end;
       it.increment(error))
    if (IsPlayListFileName(it->path().filename().string())) NoteFile(it->path().string());
}

void TPlayListManager::Tidy() {
  RemoveStaleTemporaries(dataFolder_, kIndexFile);
  RemoveStaleTemporaries(playListFolder_, {});
  EmptyOldTrash(trashFolder_);
  // A creation cut short leaves a file that no row names yet, a deletion cut
  // short one whose row is deleted: the trash keeps them for a week.
  std::set<std::string> named;
  for (int row = 1; row <= index_->RecordCount(); ++row)
    named.insert(index_->DisplayText(row, "FileName"));
  std::error_code error;
  for (fs::directory_iterator it(playListFolder_, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code ignored;
    if (!IsPlayListFileName(name) || named.count(name) || !it->is_regular_file(ignored) ||
        it->is_symlink(ignored))
      continue;
    fs::create_directories(trashFolder_, ignored);
    try {
      MoveFileDurably(it->path().string(), trashFolder_ + name);
    } catch (const std::system_error &) {
      // one of that name in the trash already: it stays, and is tried again next time
    }
  }
}

void TPlayListManager::LoadIndex() {
  // The stamp before the read: a change in between is seen again later.
  const TStamp stamp = StampOf(index_->FileName());
  auto table = std::make_unique<TDataTable>();
  table->SetFileName(index_->FileName());
  try {
    table->LoadFromFile();
    const std::string problem = ColumnsProblem(*table, IndexColumns());
    if (!problem.empty())
      throw EDataTableError("File \"" + table->FileName() + "\" is damaged: " + problem + ".");
    table->AddIndex("ididx", "id", false);
    table->AddIndex("nameidx", "Name", true);
    table->SetIndexName("ididx");
  } catch (const EDataTableError &error) {
    throw EIndexDamaged(error.what());
  }
  index_ = std::move(table);
  indexStamp_ = stamp;
}

void TPlayListManager::SaveIndex() {
  index_->SaveToFile(index_->FileName());
  indexStamp_ = StampOf(index_->FileName());
}

void TPlayListManager::NoteFile(const std::string &path) {
  const TStamp stamp = StampOf(path);
  if (stamp == TStamp{})
    fileStamps_.erase(path);
  else
    fileStamps_[path] = stamp;
}

TPlayListManager::TOutsideChanges TPlayListManager::TakeOutsideChanges() {
  TOutsideChanges changes;
  if (StampOf(index_->FileName()) != indexStamp_) {
    try {
      LoadIndex();
      changes.Index = true;
    } catch (const EIndexDamaged &) {
      // kept as it was; the next change says what is wrong
    }
  }
  std::map<std::string, TStamp> now;
  std::error_code error;
  for (fs::directory_iterator it(playListFolder_, error), end; !error && it != end;
       it.increment(error)) {
    const std::string path = it->path().string();
    if (IsPlayListFileName(it->path().filename().string())) now[path] = StampOf(path);
  }
  for (const auto &[path, stamp] : now) {
    const auto seen = fileStamps_.find(path);
    if (seen == fileStamps_.end() || seen->second != stamp) changes.PlayListFiles.push_back(path);
  }
  for (const auto &[path, stamp] : fileStamps_)
    if (!now.count(path)) changes.PlayListFiles.push_back(path);
  fileStamps_ = std::move(now);
  return changes;
}

std::string TPlayListManager::NewFileName() {
  return NewPlayListFileName(ClockText(), [this](const std::string &candidate) {
    for (int row = 1; row <= index_->RecordCount(); ++row)
      if (index_->DisplayText(row, "FileName") == candidate) return true;
    return PathTaken(playListFolder_ + candidate) || PathTaken(trashFolder_ + candidate);
  });
}

void TPlayListManager::CreatePlayList(TDataTable &table, const std::string &name,
                                      const TFill &fill) {
  const std::string kept = TrimPlayListName(name);
  if (kept.empty()) throw EDataTableError("A playlist needs a name.");
  const TStoreLock lock(dataFolder_);
  LoadIndex();
  if (HasPlayList(kept)) throw EPlayListExists(kept);
  const std::string fileName = NewFileName();
  const std::string path = playListFolder_ + fileName;
  // The playlist file, whole, before the index row, so that the index never
  // names a file that was not written. A failure here has changed nothing
  // else.
  table.DefineColumns(PlayListColumns());
  table.SetFileName(path);
  table.CreateEmpty();
  try {
    if (fill) fill(table);
    table.SaveToFile(path);
  } catch (...) {
    table.Close();
    throw;
  }
  try {
    AddIndexRow(kept, fileName);
  } catch (...) {
    // The index goes back to what its file holds (the row takes no id), and
    // the new file, which nothing names, goes.
    table.Close();
    std::error_code ignored;
    fs::remove(path, ignored);
    LoadIndex();
    throw;
  }
  NoteFile(path);
}

std::string TPlayListManager::FileOf(const std::string &name) {
  UseNameIndex();
  if (!index_->FindKey(name)) return {};
  const std::string fileName = index_->FieldByName("FileName").AsString();
  if (!IsPlainFileName(fileName))
    throw EDataTableError("The playlist \"" + name + "\" names the file \"" + fileName +
                          "\", which is not in the playlists folder");
  return playListFolder_ + fileName;
}

void TPlayListManager::LoadPlayList(TDataTable &table, const std::string &name,
                                    const std::string &path) {
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
  const std::string problem = ColumnsProblem(table, PlayListColumns());
  if (!problem.empty()) {
    table.Close();
    throw EDataTableError(cannot + "its file \"" + path + "\" is damaged: " + problem + ".");
  }
}

bool TPlayListManager::OpenPlayList(TDataTable &table, const std::string &name) {
  table.Close();
  const std::string path = FileOf(name);
  if (path.empty()) return false;
  LoadPlayList(table, name, path);
  return true;
}

void TPlayListManager::ChangePlayList(TDataTable &table, const std::string &name,
                                      const TFill &change) {
  table.Close();
  const TStoreLock lock(dataFolder_);
  LoadIndex();
  const std::string path = FileOf(name);
  if (path.empty()) throw ENoPlayList(name);
  LoadPlayList(table, name, path);
  try {
    change(table);
    table.SaveToFile(path);
  } catch (...) {
    // The file is as it was, and so is the table: it shows what the file holds.
    try {
      table.LoadFromFile(path);
    } catch (const EDataTableError &) {}
    throw;
  }
  NoteFile(path);
}

TPlayListManager::TDeleted TPlayListManager::DeletePlayList(const std::string &name) {
  const TStoreLock lock(dataFolder_);
  LoadIndex();
  UseNameIndex();
  TDeleted deleted;
  if (index_->FindKey(name)) {
    deleted.Name = index_->FieldByName("Name").AsString();
    deleted.RowNumber = index_->RowNumber(index_->RecNo());
    deleted.FileName = index_->FieldByName("FileName").AsString();
    index_->Delete();
  }
  try {
    SaveIndex();
  } catch (const EDataTableError &) {
    LoadIndex(); // the playlist stays, in memory as in the file
    throw;
  }
  // Only now that the saved index no longer names it: a crash before this
  // line leaves a file that nothing names (moved to the trash at the next
  // start), never a name without its file.
  if (IsPlainFileName(deleted.FileName)) {
    std::error_code ignored; // a file already gone or locked does not keep the row
    fs::create_directories(trashFolder_, ignored);
    const std::string trashed = trashFolder_ + deleted.FileName;
    try {
      MoveFileDurably(playListFolder_ + deleted.FileName, trashed);
      // The week in the trash counts from now.
      fs::last_write_time(trashed, fs::file_time_type::clock::now(), ignored);
    } catch (const std::system_error &) {}
    NoteFile(playListFolder_ + deleted.FileName);
  }
  return deleted;
}

void TPlayListManager::RestorePlayList(const TDeleted &deleted) {
  const std::string cannot = "The playlist \"" + deleted.Name + "\" cannot be restored: ";
  const TStoreLock lock(dataFolder_);
  LoadIndex();
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
    if (!index_->Undelete(deleted.RowNumber)) throw EDataTableError(cannot + "it was not deleted.");
    SaveIndex();
  } catch (...) {
    try {
      MoveFileDurably(path, trashed);
    } catch (const std::system_error &) {}
    LoadIndex();
    throw;
  }
  NoteFile(path);
}

std::string TPlayListManager::RenamePlayList(const std::string &name, const std::string &newName) {
  const std::string kept = TrimPlayListName(newName);
  if (kept.empty()) throw EDataTableError("A playlist needs a name.");
  const TStoreLock lock(dataFolder_);
  LoadIndex();
  if (!HasPlayList(name)) throw ENoPlayList(name);
  const std::string oldName = index_->FieldByName("Name").AsString();
  if (kept == oldName) return kept;
  if (HasPlayList(kept)) throw EPlayListExists(kept);
  HasPlayList(oldName); // back on the renamed row
  const std::string fileName = index_->FieldByName("FileName").AsString();
  try {
    index_->Delete();
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
  if (index_->IndexName() != "nameidx") index_->SetIndexName("nameidx");
}

bool TPlayListManager::HasPlayList(const std::string &name) {
  UseNameIndex();
  return index_->FindKey(name);
}

std::string TPlayListManager::PlayListNameOf(const std::string &path) {
  if (path.compare(0, playListFolder_.size(), playListFolder_) != 0) return {};
  const std::string fileName = path.substr(playListFolder_.size());
  for (int row = 1; row <= index_->RecordCount(); ++row)
    if (index_->DisplayText(row, "FileName") == fileName) return index_->DisplayText(row, "Name");
  return {};
}

const std::vector<std::string> &TPlayListManager::PlayListNames() {
  struct TEntry {
    QString Key;
    std::string Name;
  };
  std::vector<TEntry> entries;
  for (int row = 1; row <= index_->RecordCount(); ++row) {
    std::string name = index_->DisplayText(row, "Name");
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

void TPlayListManager::AddIndexRow(const std::string &name, const std::string &fileName) {
  index_->Insert();
  index_->FieldByName("Name").SetAsString(name);
  index_->FieldByName("FileName").SetAsString(fileName);
  index_->Post();
  SaveIndex();
}

TRebuiltIndex RebuildIndex(const std::string &dataPath, const std::string &playListPath) {
  const TStoreLock lock(dataPath);
  const std::string index = dataPath + kIndexFile;
  std::string damaged;
  try {
    damaged = ReadWholeFile(index);
  } catch (const std::system_error &error) {
    throw EDataTableError("Cannot open file \"" + index + "\". " + error.code().message());
  }
  const std::map<std::string, std::string> names = NamesStillReadable(damaged);

  TDataTable table;
  table.DefineColumns(IndexColumns());
  table.CreateEmpty();
  table.AddIndex("nameidx", "Name", true);
  table.SetIndexName("nameidx");
  std::vector<std::string> files;
  std::error_code error;
  for (fs::directory_iterator it(playListPath, error), end; !error && it != end;
       it.increment(error))
    if (IsPlayListFileName(it->path().filename().string()))
      files.push_back(it->path().filename().string());
  std::sort(files.begin(), files.end());
  TRebuiltIndex rebuilt;
  int recovered = 0;
  for (const std::string &file : files) {
    TDataTable playList;
    try {
      playList.LoadFromFile(playListPath + file);
    } catch (const EDataTableError &) {
      ++rebuilt.LeftOut;
      continue;
    }
    if (!ColumnsProblem(playList, PlayListColumns()).empty()) {
      ++rebuilt.LeftOut;
      continue;
    }
    const auto named = names.find(file);
    std::string name = named == names.end() ? std::string() : TrimPlayListName(named->second);
    if (name.empty() || table.FindKey(name)) {
      do name = "Recovered " + std::to_string(++recovered);
      while (table.FindKey(name));
      ++rebuilt.Recovered;
    }
    table.Insert();
    table.FieldByName("Name").SetAsString(name);
    table.FieldByName("FileName").SetAsString(file);
    table.Post();
    ++rebuilt.PlayLists;
  }

  // The damaged file keeps its bytes under a new name (a second link to
  // them, so that a full disk does not stop it), then the new index takes
  // its place.
  const std::string stamp = LocalTime("%Y%m%d-%H%M%S");
  for (int counter = 1; rebuilt.KeptAs.empty(); ++counter) {
    const std::string aside =
        index + ".damaged-" + stamp + (counter > 1 ? "-" + std::to_string(counter) : "");
    if (::link(index.c_str(), aside.c_str()) == 0) {
      rebuilt.KeptAs = aside;
    } else if (errno != EEXIST || counter >= 1000) {
      throw EDataTableError("Cannot keep the damaged playlist index \"" + index + "\" aside. " +
                            std::strerror(errno));
    }
  }
  try {
    table.SaveToFile(index);
  } catch (...) {
    ::unlink(rebuilt.KeptAs.c_str());
    throw;
  }
  return rebuilt;
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
  const auto append = [&](TDataTable &playList) {
    for (const TVideo &video : videos) {
      playList.Insert();
      StoreVideoInRow(video, playList);
      playList.Post();
    }
  };
  TDataTable playList;
  if (create)
    store.CreatePlayList(playList, name, append);
  else
    store.ChangePlayList(playList, name, append);
  return playList.FileName();
}

int FindPlayListRow(const TDataTable &table, int rowNumber, const std::string &url) {
  for (int recNo = 1; recNo <= table.RecordCount(); ++recNo)
    if (table.RowNumber(recNo) == rowNumber && table.DisplayText(recNo, VideoColumn::Url) == url)
      return recNo;
  for (int recNo = 1; recNo <= table.RecordCount(); ++recNo)
    if (table.DisplayText(recNo, VideoColumn::Url) == url) return recNo;
  return 0;
}

std::string VideosAddedText(size_t count, const std::string &name) {
  return std::to_string(count) + (count == 1 ? " video" : " videos") + " added to \"" + name + "\"";
}

} // namespace sonabox
