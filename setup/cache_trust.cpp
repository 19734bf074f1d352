#include "cache_trust.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "constants.hpp"
#include "file_utils.hpp"

namespace setup {
namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string notOwnedSentence(const std::string& dir) {
    return "The install agent cache directory " + dir +
           " is not owned by you or can be written by others; refusing to use it.";
}

}  // namespace

DirectoryTrust directoryTrust(const std::string& dirPath) {
    const std::string dir = withoutTrailingSlash(dirPath);
    struct stat link {};
    if (lstat(dir.c_str(), &link) != 0) return DirectoryTrust::Missing;
    const uid_t me = geteuid();
    // A link planted by someone else could be turned elsewhere at any time;
    // a link the user made to a directory of their own is fine.
    if (S_ISLNK(link.st_mode) && link.st_uid != me && link.st_uid != 0) {
        return DirectoryTrust::Foreign;
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) return DirectoryTrust::Missing;
    if (!S_ISDIR(st.st_mode)) return DirectoryTrust::NotDirectory;
    if (st.st_uid != me || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return DirectoryTrust::Foreign;
    }
    return DirectoryTrust::Private;
}

std::string cacheDirectoryProblem(const std::string& dirPath) {
    const std::string dir = withoutTrailingSlash(dirPath);
    switch (directoryTrust(dir)) {
        case DirectoryTrust::Missing:
        case DirectoryTrust::Private:
            return "";
        case DirectoryTrust::NotDirectory:
            return "The install agent cache path " + dir +
                   " exists but is not a directory; refusing to use it.";
        case DirectoryTrust::Foreign:
            break;
    }
    return notOwnedSentence(dir);
}

std::string cacheTrustProblem(const std::string& base) {
    // Everything above the cache subpath is the home directory, which is the
    // user's own business and not checked here.
    const std::string subpath = kUserAgentSubpath;
    const bool underHome = base.size() >= subpath.size() &&
                           base.compare(base.size() - subpath.size(), subpath.size(), subpath) == 0;
    if (underHome) {
        const std::string home = base.substr(0, base.size() - subpath.size());
        // The stand-in home under /tmp is the installer's own making, and
        // anyone could have made it first.
        if (home == fallbackHomeDirectory()) {
            std::string problem = cacheDirectoryProblem(home);
            if (!problem.empty()) return problem;
        }
        for (size_t i = 0; i < subpath.size(); ++i) {
            if (subpath[i] != '/') continue;
            std::string problem = cacheDirectoryProblem(home + subpath.substr(0, i));
            if (!problem.empty()) return problem;
        }
    } else {
        std::string problem = cacheDirectoryProblem(base);
        if (!problem.empty()) return problem;
    }
    return cacheDirectoryProblem(base + kAgentDirName);
}

}  // namespace setup
