// File-system services of the installer: its own location, recursive
// directory creation, removal of a path and the per-user base directory.
#pragma once

#include <string>

namespace setup {

// Target of the symbolic link, whatever its length, or "" when unreadable.
std::string readLinkTarget(const std::string& link);

// Absolute path of the running program's file, or "".
std::string executablePath();

// executablePath() up to, not including, its last separator, or "".
std::string executableDirectory();

// Creates path and its missing parents (like mkdir -p). Returns -1 with errno
// ENOTDIR when an existing component is not a directory, otherwise 0 (a
// directory that cannot be created shows only when it is used).
int makeDirectories(const std::string& path, int mode);

// Creates path and its missing parents with mode; returns 0 when path is a
// directory at the end, otherwise the errno of the step that failed.
int ensureDirectories(const std::string& path, int mode);

// Flushes the directory's entries (new, renamed or removed names) to disk.
// Returns false when the directory cannot be opened or synced.
bool syncDirectory(const std::string& path);

// The running process's own image, /proc/<pid>/exe: it names the file this
// process was started from even after another file is moved onto its path.
std::string processImagePath();

// The rm -rf command line that removes exactly path.
std::string removeCommand(const std::string& path);

// Runs removeCommand(path) when path exists; the outcome is not examined.
void removeIfExists(const std::string& path);

// "/tmp/.velmar-<uid>/": a home of the user's own under /tmp for users
// without one, so that two of them never share (or block) one cache.
std::string fallbackHomeDirectory();

// The user's home + "/" (unless it already ends in one) + the per-user cache
// subpath; always ends in "/". The home is $HOME; when that is unset or
// empty, the password database's home for the effective user, if that is an
// existing directory of theirs; otherwise fallbackHomeDirectory().
std::string userBaseDirectory();

// True when path exists (stat succeeds).
bool pathExists(const std::string& path);

// True when path is a directory (following links).
bool isDirectory(const std::string& path);

}  // namespace setup
