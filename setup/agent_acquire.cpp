#include "agent_acquire.hpp"

#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent_cache.hpp"
#include "agent_download.hpp"
#include "agent_install.hpp"
#include "agent_key.hpp"
#include "agent_unpack.hpp"
#include "agent_url.hpp"
#include "cache_trust.hpp"
#include "constants.hpp"
#include "file_utils.hpp"
#include "messages.hpp"

namespace setup {
namespace {

bool isVersionedArchiveName(const std::string& name) {
    const std::string prefix = "InstallAgent_";
    const std::string suffix = ".zip";
    return name.size() >= prefix.size() + suffix.size() &&
           name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string firstVersionedArchive(const std::string& directory) {
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return "";
    std::string found;
    while (dirent* entry = readdir(listing)) {
        if (!isVersionedArchiveName(entry->d_name)) continue;
        found = directory + kPathSeparator + entry->d_name;
        break;
    }
    closedir(listing);
    return found;
}

AcquiredAgent fromPayload(const std::string& archive, const std::string& workspace,
                          ReportFn report) {
    if (!unpackRunnableAgent(archive, workspace, report)) return {};
    return {agentLauncherPath(workspace), FileLock()};
}

// Makes the cache's base directory, checking it before anything is created
// in it and again after, so nothing is made inside, run from or removed from
// a foreign directory. Reports and returns false when it cannot be used.
bool prepareCacheDirectory(const std::string& base, ReportFn report) {
    std::string trustProblem = cacheTrustProblem(base);
    if (trustProblem.empty()) {
        const int error = ensureDirectories(base, 0700);
        if (error != 0) {
            report(cacheFileMessage(error), true);
            return false;
        }
        trustProblem = cacheTrustProblem(base);
    }
    if (!trustProblem.empty()) {
        report(trustProblem, true);
        return false;
    }
    return true;
}

AcquiredAgent fromCacheOrDownload(const std::string& workspace, const std::string& url,
                                  const AgentKey& key, ReportFn report) {
    const std::string base = userBaseDirectory();
    if (!prepareCacheDirectory(base, report)) return {};
    CacheLocks locks;
    const int lockError = openCacheLocks(base, locks);
    if (lockError != 0) {
        report(cacheFileMessage(lockError), true);
        return {};
    }
    const std::string archive = workspace + kPathSeparator + kAgentArchiveName;
    if (!waitForExclusive(locks.obtain, STDERR_FILENO)) {
        // Locking itself fails here (not: another run holds the lock), so
        // nothing keeps other runs off the cache: this one neither reads nor
        // changes it, and runs a copy of its own, as when the cache is in use.
        const FetchResult fetched = fetchAgentArchive(url, archive, key, CacheUse::ignore, report);
        if (fetched.status == FetchStatus::Failed) return {};
        return installPrivateCopy(archive, workspace, report);
    }
    removeLeftoverAgents(base);

    const FetchResult fetched = fetchAgentArchive(url, archive, key, CacheUse::consult, report);
    if (fetched.status == FetchStatus::Failed) return {};
    if (fetched.status == FetchStatus::CacheCurrent) {
        // Never blocks: a run that holds it exclusively holds obtain too.
        locks.inUse.tryLock(LOCK_SH);
        return {agentLauncherPath(cachedAgentDirectory()), std::move(locks.inUse)};
    }
    return installDownloadedAgent(archive, fetched, base, workspace, locks, report);
}

std::string inWorkspace(const std::string& workspace, const char* name) {
    std::string path = workspace;
    if (path.empty() || path.back() != kPathSeparator[0]) path += kPathSeparator;
    return path + name;
}

// Anything by the key's (or the URL's) name counts, even a broken link: a
// release that pins a key never falls back to trusting unsigned agents.
bool entryExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string payloadAgentArchive(const std::string& workspace) {
    const std::string candidate = inWorkspace(workspace, kAgentArchiveName);
    if (pathExists(candidate)) return candidate;
    size_t last = candidate.find_last_of("/\\");
    return firstVersionedArchive(candidate.substr(0, last));
}

AcquiredAgent acquireAgent(const std::string& workspace, ReportFn report) {
    const std::string archive = payloadAgentArchive(workspace);
    // A payload agent is covered by the release itself; a pinned key only
    // concerns agents from the server.
    if (!archive.empty()) return fromPayload(archive, workspace, report);
    AgentKey key;
    const std::string keyFile = inWorkspace(workspace, kAgentKeyFileName);
    if (entryExists(keyFile)) {
        key = loadAgentKey(keyFile);
        if (!key.pinned()) {
            report(kAgentKeyUnusable, true);
            return {};
        }
    }
    std::string packedUrl;
    const std::string urlFile = inWorkspace(workspace, kAgentUrlFileName);
    if (entryExists(urlFile) && !readPackedAgentUrl(urlFile, packedUrl)) {
        report(kAgentUrlUnusable, true);
        return {};
    }
    return fromCacheOrDownload(workspace, chooseAgentUrl(packedUrl), key, report);
}

}  // namespace setup
