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
#include "core/playlists/DataTable.h"

#include <functional>
#include <string>
#include <vector>

namespace sonabox {

struct TVideo;

class TPlayListManager {
public:
  // Loads the index from dataPath + "playlists.xml", first creating an empty
  // one when there is none. An index that exists but cannot be loaded makes
  // construction fail with the table's error (see RecoverDamagedIndex).
  TPlayListManager(const std::string &dataPath, const std::string &playListPath);

  // Adds the name to the index and makes `table` a new, empty, saved playlist
  // that stays open for rows. A name already in the index fails with the
  // index's key violation before anything is written or the table touched.
  void CreatePlayList(TDataTable &table, const std::string &name);

  // Loads the named playlist into `table` (closed first). False, with the table
  // closed, when no playlist has that name.
  bool OpenPlayList(TDataTable &table, const std::string &name);

  // Removes the playlist's file and marks its index row deleted; the index is
  // saved in every case, even when no playlist has that name.
  void DeletePlayList(const std::string &name);

  bool HasPlayList(const std::string &name);

  // Every playlist name, sorted without regard to letter case; names that
  // differ only in case are all listed, in byte order among themselves. Valid
  // until the next call.
  const std::vector<std::string> &PlayListNames();

  void SaveIndex();

  TDataTable &IndexTable() { return indexTable_; }
  const std::string &PlayListFolder() const { return playListFolder_; }

private:
  std::string NewFileName();

  TDataTable indexTable_;
  std::string playListFolder_;
  std::vector<std::string> names_;
};

// No playlist has the name that an operation was given.
class ENoPlayList : public EDataTableError {
public:
  explicit ENoPlayList(const std::string &name);
};

// Saving videos into a playlist, for every part of the program that does it:
// opens the playlist `name` (or, with `create`, creates it under the store's
// rules for new names), appends the videos as rows in their order and saves
// the playlist file. Returns that file's name. Throws ENoPlayList when the
// playlist to open does not exist, and the store's or the table's error when
// creating or saving fails; a failed creation leaves no playlist behind.
std::string AddVideosToPlayList(TPlayListManager &store, const std::string &name, bool create,
                                const std::vector<TVideo> &videos);

// The eight columns of a playlist table, in their order.
std::vector<TFieldDef> PlayListColumns();

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
