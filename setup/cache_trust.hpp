// Decides whether the per-user agent cache may be used: every directory of it
// must belong to the current user and be closed to writes by anyone else.
#pragma once

#include <string>

namespace setup {

// Checks one existing or missing cache directory. Returns "" when it is
// missing or trustworthy, otherwise the sentence that explains the refusal.
std::string cacheDirectoryProblem(const std::string& dir);

// Checks every directory from the first component of the cache subpath below
// the home directory down to the cached agent directory. base is
// userBaseDirectory(); returns "" or the first problem found.
std::string cacheTrustProblem(const std::string& base);

}  // namespace setup
