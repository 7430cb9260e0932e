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

#include <functional>
#include <string>
#include <vector>

namespace sonabox {

class TPlayListManager {
public:
  // Loads the index from dataPath + "playlists.xml", first creating an empty
  // one when there is none. Before that it makes sure that both folders exist
  // and can be written (EDataFolderError otherwise, with nothing changed), and
  // removes the temporary files that saves of ended processes left behind in
  // them ("playlists.xml.tmp-<pid>-<n>" in the data folder, "<file>.tmp-<pid>-
  // <n>" in the playlists folder, of no running process); no other file is
  // touched. An index that exists but cannot be read fails with
  // EIndexDamaged (see RecoverDamagedIndex); one that cannot be written, with
  // the table's error.
  TPlayListManager(const std::string &dataPath, const std::string &playListPath);

  // Adds the name, as TrimPlayListName keeps it, to the index and makes
  // `table` a new, empty, saved playlist that stays open for rows. A name
  // that trims to nothing fails with "A playlist needs a name.", one already
  // in the index with EPlayListExists, both before anything is written or the
  // table touched. When a file cannot be written, the index (in memory and on
  // disk) stays as it was and no new file is left behind.
  void CreatePlayList(TDataTable &table, const std::string &name);

  // Loads the named playlist into `table` (closed first). False, with the table
  // closed, when no playlist has that name. A listed playlist whose file is
  // missing or cannot be read fails with a message that names the playlist
  // and the file; the table stays closed.
  bool OpenPlayList(TDataTable &table, const std::string &name);

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

  void SaveIndex();

  TDataTable &IndexTable() { return indexTable_; }
  const std::string &PlayListFolder() const { return playListFolder_; }
  // Deleted playlists' files, kept for a week (older ones are removed when a
  // store is created).
  const std::string &TrashFolder() const { return trashFolder_; }

private:
  std::string NewFileName();
  // Reads the index file into the index table with its two indexes; fails with
  // EIndexDamaged. After a failed change it brings the index in memory back
  // to what the file holds.
  void LoadIndex();
  void UseNameIndex(); // makes "nameidx" the current index
  void AddIndexRow(const std::string &name, const std::string &fileName); // and saves the index

  TDataTable indexTable_;
  std::string playListFolder_;
  std::string trashFolder_;
  std::vector<std::string> names_;
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
// opens the playlist `name` (or, with `create`, creates it under the store's
// rules for new names, TrimPlayListName), appends the videos as rows in their
// order and saves the playlist file. Returns that file's name. Throws
// ENoPlayList when the playlist to open does not exist, EPlayListExists when
// the name to create is taken, and the store's or the table's error when
// creating or saving fails; a failed creation leaves no playlist behind.
std::string AddVideosToPlayList(TPlayListManager &store, const std::string &name, bool create,
                                const std::vector<TVideo> &videos);

// "1 video added to "Pop"", "3 videos added to "Pop"": what saving said.
std::string VideosAddedText(size_t count, const std::string &name);

// For each video, whether the playlist `name` already holds its identifier
// ("Url", among its visible rows) or a video before it in the list has it.
// All false when no playlist has that name.
std::vector<bool> VideosAlreadyIn(TPlayListManager &store, const std::string &name,
                                  const std::vector<TVideo> &videos);

// The local date and time in the system's default form ("%x %X").
std::string ClockText();

// The name of a new playlist file: Sha1Hex of the clock text and ".xml". When
// that name is taken (two playlists created within one second), the clock text
// with " 2", " 3", ... appended is hashed instead.
std::string NewPlayListFileName(const std::string &clockText,
                                const std::function<bool(const std::string &)> &taken);

// Moves a damaged "playlists.xml" in dataPath aside, to
// "playlists.xml.damaged-YYYYMMDD-HHMMSS" (with "-2", "-3", ... when that is
// taken; nothing is ever overwritten), so that the store can start with a new
// empty index. Returns the new path. Throws EDataTableError when the file
// cannot be moved.
std::string RecoverDamagedIndex(const std::string &dataPath);

} // namespace sonabox
