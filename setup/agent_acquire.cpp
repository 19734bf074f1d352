#include "agent_acquire.hpp"

#include <dirent.h>

#include "agent_cache.hpp"
#include "agent_download.hpp"
#include "agent_unpack.hpp"
#include "cache_trust.hpp"
#include "constants.hpp"
#include "file_utils.hpp"

namespace setup {
namespace {

constexpr char kUnpackFailed[] = "Failed to initialize the install agent.";

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

std::string fromPayload(const std::string& archive, const std::string& workspace, ReportFn report) {
    if (unpackAgent(archive, workspace, "unzip", report)) return agentLauncherPath(workspace);
    report(kUnpackFailed, true);
    return "";
}

std::string fromCacheOrDownload(const std::string& workspace, ReportFn report) {
    const std::string base = userBaseDirectory();
    const std::string agentDirectory = base + kAgentDirName;
    // Checked before anything is created in the cache and again after, so
    // nothing is made inside, run from or removed from a foreign directory.
    std::string trustProblem = cacheTrustProblem(base);
    if (trustProblem.empty()) {
        makeDirectories(agentDirectory, 0700);
        trustProblem = cacheTrustProblem(base);
    }
    if (!trustProblem.empty()) {
        report(trustProblem, true);
        return "";
    }
    const std::string archive = workspace + kPathSeparator + kAgentArchiveName;
    if (!downloadAgentArchive(archive, report)) return "";
    const std::string cached = cachedAgentDirectory();
    if (!cached.empty()) return agentLauncherPath(cached);
    // The stale agent was removed with its directory; re-create it private.
    makeDirectories(agentDirectory, 0700);
    if (unpackAgent(archive, agentDirectory, "unzip", report))
        return agentLauncherPath(agentDirectory);
    // A half-unpacked agent must not pass for the current one on the next run.
    removeIfExists(agentDirectory);
    report(kUnpackFailed, true);
    return "";
}

}  // namespace

std::string payloadAgentArchive(const std::string& workspace) {
    std::string candidate = workspace;
    if (candidate.empty() || candidate.back() != kPathSeparator[0]) candidate += kPathSeparator;
    candidate += kAgentArchiveName;
    if (pathExists(candidate)) return candidate;
    size_t last = candidate.find_last_of("/\\");
    return firstVersionedArchive(candidate.substr(0, last));
}

std::string acquireAgent(const std::string& workspace, ReportFn report) {
    const std::string archive = payloadAgentArchive(workspace);
    if (!archive.empty()) return fromPayload(archive, workspace, report);
    return fromCacheOrDownload(workspace, report);
}

}  // namespace setup
