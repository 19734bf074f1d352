// Decides whether a directory may be trusted with files the installer runs:
// it must belong to the current user and be closed to writes by anyone else.
#pragma once

#include <string>

namespace setup {

enum class DirectoryTrust { Missing, NotDirectory, Foreign, Private };

// The one trust test: Private when dir (after links) is a directory owned by
// the current user that neither group nor others may write, and no link on
// the way was planted by another user (root's links are fine).
DirectoryTrust directoryTrust(const std::string& dir);

// Checks one existing or missing cache directory. Returns "" when it is
// missing or trustworthy, otherwise the sentence that explains the refusal.
std::string cacheDirectoryProblem(const std::string& dir);

// Checks every directory from the first component of the cache subpath below
// the home directory (from the home itself, when that is the stand-in under
// /tmp) down to the cached agent directory. base is userBaseDirectory();
// returns "" or the first problem found.
std::string cacheTrustProblem(const std::string& base);

}  // namespace setup
