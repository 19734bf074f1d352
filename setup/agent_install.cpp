#include "agent_install.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <vector>

#include "agent_cache.hpp"
#include "agent_unpack.hpp"
#include "constants.hpp"
#include "file_utils.hpp"
#include "interruption.hpp"
#include "messages.hpp"
#include "validator.hpp"

namespace setup {
namespace {

constexpr char kPrivateAgentPrefix[] = "installagent-";

// mkdtemp of prefix + "XXXXXX" (mode 0700); "" with errno set on failure.
std::string freshDirectory(const std::string& prefix) {
    std::string name = prefix + "XXXXXX";
    if (mkdtemp(name.data()) == nullptr) return "";
    return name;
}

// The exchange is not to be had: a kernel or file system without it
// (EINVAL, ENOSYS), or a sandbox that refuses the call (EPERM, EACCES).
bool exchangeRefused(int error) {
    return error == EINVAL || error == ENOSYS || error == EPERM || error == EACCES;
}

// Makes fresh the directory at target; afterwards fresh names the old agent
// (when there was one) for the caller to remove.
bool swapIntoPlace(const std::string& fresh, const std::string& target) {
    if (renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    if (errno == ENOENT) return std::rename(fresh.c_str(), target.c_str()) == 0;
    if (!exchangeRefused(errno)) return false;
    // Without the exchange, move the old agent aside first. For a moment no
    // agent is in place, which reads as an empty cache. A refused call said
    // nothing about the target: there may be no old agent at all.
    const std::string aside = fresh + ".old";
    if (std::rename(target.c_str(), aside.c_str()) != 0) {
        return errno == ENOENT && std::rename(fresh.c_str(), target.c_str()) == 0;
    }
    if (std::rename(fresh.c_str(), target.c_str()) != 0) {
        std::rename(aside.c_str(), target.c_str());
        return false;
    }
    return std::rename(aside.c_str(), fresh.c_str()) == 0;
}

}  // namespace

AcquiredAgent installPrivateCopy(const std::string& archive, const std::string& workspace,
                                 ReportFn report) {
    const std::string directory = freshDirectory(workspace + kPathSeparator + kPrivateAgentPrefix);
    if (directory.empty()) {
        report(cacheFileMessage(errno), true);
        return {};
    }
    if (!unpackRunnableAgent(archive, directory, report)) return {};
    return {agentLauncherPath(directory), FileLock()};
}

AcquiredAgent installDownloadedAgent(const std::string& archive, const FetchResult& fetched,
                                     const std::string& base, const std::string& workspace,
                                     CacheLocks& locks, ReportFn report) {
    // Every run executing the cached agent holds the in-use lock shared and
    // took it under the obtain lock, which this run holds: so this attempt
    // fails exactly when the cached agent is running now.
    if (!locks.inUse.tryLock(LOCK_EX)) return installPrivateCopy(archive, workspace, report);

    const std::string target = base + kAgentDirName;
    const std::string fresh = freshDirectory(base + kNewAgentPrefix);
    if (fresh.empty()) {
        report(cacheFileMessage(errno), true);
        return {};
    }
    // An interrupted run takes the new agent (or, once swapped, the old
    // one) with it instead of leaving it for the next run to remove.
    const RemovedIfInterrupted removedIfInterrupted(fresh);
    if (!unpackRunnableAgent(archive, fresh, report)) {
        removeIfExists(fresh);
        return {};
    }
    // The old validator goes first: from here on a kill leaves at worst a
    // complete agent that counts as stale, never one validator beside
    // another version's files.
    if (!forgetValidator(base)) {
        report(cacheFileMessage(errno), true);
        removeIfExists(fresh);
        return {};
    }
    if (!swapIntoPlace(fresh, target)) {
        report(staleAgentMessage(target), true);
        removeIfExists(fresh);
        return {};
    }
    syncDirectory(base);
    removeIfExists(fresh);
    // A validator that cannot be recorded only costs the next run a download.
    storeValidator(base, fetched.validator, fetched.keyFingerprint);
    locks.inUse.tryLock(LOCK_SH);
    return {agentLauncherPath(target), std::move(locks.inUse)};
}

void removeLeftoverAgents(const std::string& base) {
    DIR* listing = opendir(base.c_str());
    if (listing == nullptr) return;
    const std::string prefix = kNewAgentPrefix;
    std::vector<std::string> leftovers;
    while (dirent* entry = readdir(listing)) {
        if (std::string(entry->d_name).compare(0, prefix.size(), prefix) == 0) {
            leftovers.push_back(base + entry->d_name);
        }
    }
    closedir(listing);
    for (const std::string& path : leftovers) removeIfExists(path);
}

}  // namespace setup
