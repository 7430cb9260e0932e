#pragma once
// The playlist store: the user's named playlists on disk. It owns the playlist
// index "playlists.xml" (in the data folder), which maps each name to the file
// in the playlists folder that holds the playlist's videos, and creates, opens,
// lists and deletes playlists by name. It never holds a playlist itself: the
// caller passes in the table that is to receive one.
//
// Names are compared exactly, letter case included: Rock and rock are two
// playlists. The index is saved after every change the store makes; a
// playlist table is saved by whoever changed it.
#include "core/playlists/VideoRow.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sonabox {

class TPlayListManager {
public:
  // Loads the index from dataPath + "playlists.xml", first creating an empty
  // one when there is none. Before that it makes sure that both folders exist
  // (EDataFolderError otherwise, with nothing changed). When the data folder
  // can be written it tidies up, under the store's lock: it removes the
  // temporary files that saves of ended processes left behind
  // ("playlists.xml.tmp-<pid>-<n>" in the data folder, "<file>.tmp-<pid>-<n>"
  // in the playlists folder, of no running process) and moves into the trash
  // the playlist files that no listed playlist names (a creation or deletion
  // that a crash cut short); no other file is touched. A data folder that
  // cannot be written still lets the playlists be listed, opened and
  // exported; every change then fails with EDataFolderError. An index that
  // exists but cannot be read fails with EIndexDamaged (see RebuildIndex).
  TPlayListManager(const std::string &dataPath, const std::string &playListPath);

  // Other programs (sonabox-cli, a second window) may change the same files
  // at any time. So every change below takes the store's lock (an advisory
  // lock on "playlists.lock" in the data folder, held by one writer at a
  // time), reads the index and the playlist file as they are on disk,
  // changes them and writes them back before it lets go: changes made by
  // others survive, and none is ever written back from a stale copy.

  // Fills a new playlist table before its file is first written.
  using TFill = std::function<void(TDataTable &)>;

  // Adds the name, as TrimPlayListName keeps it, to the index and makes
  // `table` a new saved playlist that stays open for rows; `fill` adds its
  // first rows before the file is written, so that the playlist appears with
  // them or not at all. A name that trims to nothing fails with "A playlist
  // needs a name.", one already in the index with EPlayListExists, both
  // before anything is written or the table touched. When a file cannot be
  // written, the index (in memory and on disk) stays as it was and no new
  // file is left behind.
  void CreatePlayList(TDataTable &table, const std::string &name, const TFill &fill = {});

  // Loads the named playlist into `table` (closed first). False, with the table
  // closed, when no playlist has that name. A listed playlist whose file is
  // missing or cannot be read, or whose columns are not a playlist's, fails
  // with a message that names the playlist and the file; the table stays
  // closed.
  bool OpenPlayList(TDataTable &table, const std::string &name);

  // Changes a playlist as it is on disk: under the lock, loads the playlist
  // `name` afresh into `table` (as OpenPlayList does), calls `change` and
  // saves the file. ENoPlayList when no playlist has that name. When `change`
  // or the save fails, the file stays as it was and the table shows it.
  void ChangePlayList(TDataTable &table, const std::string &name, const TFill &change);

  // What RestorePlayList needs to bring a deleted playlist back.
  struct TDeleted {
    std::string Name;
    std::string FileName; // in the trash folder while the playlist is deleted
    int RowNumber = 0;    // the index row's place among the index's stored rows; 0: none
  };

  // Marks the playlist's index row deleted, saves the index, and only then
  // moves the playlist's file into the trash folder (data folder + "trash/"),
  // so that the index never names a file that is gone; a file already missing
  // or that cannot be moved does not stop the deletion. The index is saved
  // even when no playlist has that name (the result then has no row). When
  // the index cannot be saved, the store and its files stay as they were.
  TDeleted DeletePlayList(const std::string &name);

  // Brings a playlist deleted by DeletePlayList back under its name, with its
  // file, its id and its videos: the file returns from the trash, then the
  // index row's deletion is taken back and the index saved. Fails, with
  // nothing changed, with EPlayListExists when another playlist has the name
  // by now, and with a message naming the playlist when its file is no longer
  // in the trash or the row is not a deleted one.
  void RestorePlayList(const TDeleted &deleted);

  // Gives the playlist a new name, under the rules of new names (trimmed as
  // TrimPlayListName keeps it, not empty, not another playlist's). The index
  // keeps naming the same file. In the index the old row is deleted and a
  // row with the new name added, so the file's change log holds only
  // insertions and deletions and the old row's id is never given again.
  // Returns the name as kept; a new name equal to the old one changes
  // nothing. ENoPlayList when no playlist has the old name. When the index
  // cannot be saved it stays as it was.
  std::string RenamePlayList(const std::string &name, const std::string &newName);

  // Whether a playlist has that name (compared as OpenPlayList does); cheap
  // enough for an enable rule.
  bool HasPlayList(const std::string &name);
  // The name of the playlist kept in this file (a path in the playlists
  // folder); empty when no playlist is.
  std::string PlayListNameOf(const std::string &path);

  // Every playlist name, sorted without regard to letter case; names that
  // differ only in case are all listed, in byte order among themselves. Valid
  // until the next call.
  const std::vector<std::string> &PlayListNames();

  // What other writers changed since the store last looked: whether the index
  // changed (it has been read again), and the paths of the playlist files
  // that were written, added or removed. The store's own changes are not
  // reported. A damaged index is not read; the next change reports it.
  struct TOutsideChanges {
    bool Index = false;
    std::vector<std::string> PlayListFiles;
  };
  TOutsideChanges TakeOutsideChanges();

  TDataTable &IndexTable() { return *index_; }
  const std::string &DataFolder() const { return dataFolder_; }
  const std::string &PlayListFolder() const { return playListFolder_; }
  // Deleted playlists' files, kept for a week (older ones are removed when a
  // store is created).
  const std::string &TrashFolder() const { return trashFolder_; }

  // Where a file's contents were last seen: changes when it is replaced.
  struct TStamp {
    std::uint64_t Inode = 0, Size = 0;
    std::int64_t Modified = 0; // nanoseconds
    bool operator==(const TStamp &) const = default;
  };

private:
  std::string NewFileName();
  // Reads the index file into the index table with its two indexes; fails with
  // EIndexDamaged. After a failed change it brings the index in memory back
  // to what the file holds.
  void LoadIndex();
  void SaveIndex();
  void UseNameIndex(); // makes "nameidx" the current index
  void AddIndexRow(const std::string &name, const std::string &fileName); // and saves the index
  // The named playlist's file, or "" when no playlist has the name.
  std::string FileOf(const std::string &name);
  void LoadPlayList(TDataTable &table, const std::string &name, const std::string &path);
  void Tidy();                            // the clean-up at start, under the lock
  void NoteFile(const std::string &path); // a playlist file the store wrote or removed

  std::unique_ptr<TDataTable> index_; // replaced whole by each reading of the file
  std::string dataFolder_;
  std::string playListFolder_;
  std::string trashFolder_;
  std::vector<std::string> names_;
  TStamp indexStamp_;
  std::map<std::string, TStamp> fileStamps_; // the playlist files as last seen
};

// No playlist has the name that an operation was given.
class ENoPlayList : public EDataTableError {
public:
  explicit ENoPlayList(const std::string &name);
};

// A playlist of that name exists already: "A playlist named "Rock" already
// exists."
class EPlayListExists : public EDataTableError {
public:
  explicit EPlayListExists(const std::string &name);
};

// The playlist index exists but cannot be read (a damaged or unreadable file).
// The message is the table's error, which names the file.
class EIndexDamaged : public EDataTableError {
public:
  using EDataTableError::EDataTableError;
};

// The data folder or the playlists folder cannot be created or written (for
// example a file stands where it should be). The message names the folder and
// what stands in the way.
class EDataFolderError : public EDataTableError {
public:
  using EDataTableError::EDataTableError;
};

// A playlist name as the store keeps it: blanks and control characters (bytes
// of code 32 or below) removed at both ends, cut to the index's 70 bytes
// without splitting a UTF-8 character, and trimmed again. Empty when nothing
// is left, a name the store refuses. Callers name a new playlist by it.
std::string TrimPlayListName(const std::string &name);

// Saving videos into a playlist, for every part of the program that does it:
// appends the videos as rows in their order to the playlist `name` as it is
// on disk (ChangePlayList), or, with `create`, makes a new playlist of them
// in one step under the store's rules for new names (CreatePlayList). Returns
// the playlist file's name. Throws ENoPlayList when the playlist to open does
// not exist, EPlayListExists when the name to create is taken, and the
// store's or the table's error when creating or saving fails; a failed
// creation leaves no playlist behind, empty or not.
std::string AddVideosToPlayList(TPlayListManager &store, const std::string &name, bool create,
                                const std::vector<TVideo> &videos);

// "1 video added to "Pop"", "3 videos added to "Pop"": what saving said.
std::string VideosAddedText(size_t count, const std::string &name);

// For each video, whether the playlist `name` already holds its identifier
// ("Url", among its visible rows) or a video before it in the list has it.
// All false when no playlist has that name.
std::vector<bool> VideosAlreadyIn(TPlayListManager &store, const std::string &name,
                                  const std::vector<TVideo> &videos);

// A row of a playlist as another copy of it knows the row: by its place among
// the stored rows (TDataTable::RowNumber) and its video's identifier ("Url").
// Returns the row's position among the visible rows of `table` (a copy read
// afresh), found by place and identifier, else, when another program moved
// rows, by identifier alone; 0 when it is no longer there.
int FindPlayListRow(const TDataTable &table, int rowNumber, const std::string &url);

// The local date and time in the system's default form ("%x %X").
std::string ClockText();

// The name of a new playlist file: Sha1Hex of the clock text and ".xml". When
// that name is taken (two playlists created within one second), the clock text
// with " 2", " 3", ... appended is hashed instead.
std::string NewPlayListFileName(const std::string &clockText,
                                const std::function<bool(const std::string &)> &taken);

// Rebuilds a damaged "playlists.xml" in dataPath from the playlist files in
// playListPath: every file there that holds a playlist gets an index row,
// named as the damaged index named it where that can still be read, else
// "Recovered 1", "Recovered 2", ... The damaged file is kept beside it as
// "playlists.xml.damaged-YYYYMMDD-HHMMSS" (with "-2", "-3", ... when that is
// taken; nothing is ever overwritten). All or nothing: when the new index
// cannot be written, the damaged one stays in place, untouched, and nothing
// else is left behind. Throws EDataTableError.
struct TRebuiltIndex {
  std::string KeptAs; // where the damaged file is kept
  int PlayLists = 0;  // rows of the new index
  int Recovered = 0;  // of them, named "Recovered N"
  int LeftOut = 0;    // files of the playlists folder that hold no playlist
};
TRebuiltIndex RebuildIndex(const std::string &dataPath, const std::string &playListPath);

} // namespace sonabox
