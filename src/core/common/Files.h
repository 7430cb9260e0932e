#pragma once
// Files that must survive a crash or a power loss. A file is replaced whole:
// a temporary file in the same folder is written and flushed to disk, renamed
// over the old one, and the folder is flushed too, so that after a crash the
// file is either the old or the new version, never a mix or nothing.
//
// Temporary files are named "<file>.tmp-<pid>-<n>"; TemporaryWriter tells a
// start-up clean-up whose they are.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace sonabox {

// Replaces the file at `path` with `bytes` as described above. On failure
// (std::system_error) the old file is untouched and no temporary file is left.
// Once the rename is done the call succeeds (see SyncFolder).
void WriteFileAtomically(const std::string &path, std::string_view bytes);

// Moves a file to a new path (also into another folder of the same file
// system) and flushes both folders (see SyncFolder). Never replaces a file: fails with EEXIST
// when `to` exists. Throws std::system_error.
void MoveFileDurably(const std::string &from, const std::string &to);

// Flushes a folder's entries (new, renamed or removed files) to disk, for a
// file that another writer (QSaveFile, QSettings) has just renamed into place.
// The rename has happened by then and callers must not take it back as if it
// had failed, so a folder that cannot be flushed (a failing disk) is left as
// it is, without an error.
void SyncFolder(const std::string &folder);

// Reads a whole regular file. Throws std::system_error.
std::string ReadWholeFile(const std::string &path);

// The writer's process id when `name` (a file name without folder) is a
// temporary file that WriteFileAtomically made for `target` (any target when
// empty); 0 otherwise.
pid_t TemporaryWriter(const std::string &name, const std::string &target);

} // namespace sonabox
