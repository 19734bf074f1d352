// Puts a downloaded agent archive to use: into the per-user cache when no run
// executes the cached agent, otherwise into a private copy for this run only.
#pragma once

#include <string>

#include "agent_download.hpp"
#include "cache_lock.hpp"
#include "report.hpp"

namespace setup {

// Prefix of the sibling directories that new agents are unpacked into
// before they take the cached agent's place.
inline constexpr char kNewAgentPrefix[] = "installagent.new-";

// Called with locks.obtain held, for the archive that fetched describes.
// When nobody runs the cached agent, unpacks the archive into a fresh sibling
// of the cached agent directory, forgets the recorded validator, swaps the
// sibling into place, removes the old agent and records the validator (with
// the fingerprint of the key the archive was verified against) last; the
// result then holds the in-use lock shared. When the cached agent is in use,
// the archive goes into a private directory in the workspace instead and the
// cache is left as it is. Reports and returns an empty launcher on failure;
// the cache then holds what it held.
AcquiredAgent installDownloadedAgent(const std::string& archive, const FetchResult& fetched,
                                     const std::string& base, const std::string& workspace,
                                     CacheLocks& locks, ReportFn report);

// Unpacks the archive into a fresh private directory in the workspace, for
// this run only; the cache is not touched. Reports and returns an empty
// launcher on failure.
AcquiredAgent installPrivateCopy(const std::string& archive, const std::string& workspace,
                                 ReportFn report);

// Removes the sibling directories that killed runs left in base. Called with
// the obtain lock held, so none of them belongs to a live run.
void removeLeftoverAgents(const std::string& base);

}  // namespace setup
