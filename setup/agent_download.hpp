// Fetches the install agent archive: a header-only request decides whether
// the cached agent is current, a full request downloads it when it is not.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <curl/curl.h>

#include "agent_key.hpp"
#include "report.hpp"
#include "transfer_options.hpp"

namespace setup {

using EasyHandleFactory = CURL* (*)();

enum class FetchStatus { Failed, CacheCurrent, Downloaded };

// Whether the cached agent may count as current, or is not to be looked at
// (a run that cannot lock the cache downloads whatever it holds).
enum class CacheUse { consult, ignore };

struct FetchResult {
    FetchStatus status = FetchStatus::Failed;
    std::string validator;       // the final response's "ETag: " line, or ""
    std::string keyFingerprint;  // the key the archive was verified against, or ""
};

// Asks url for its validator. When the cache may be consulted and its agent
// is current (its recorded validator matches and, when key is pinned, it was
// verified against key) the result says so at once (destination left
// empty). Otherwise the archive is downloaded into destination, complete and
// flushed to disk, and returned with its validator; with a pinned key, url +
// ".sig" is fetched first (and once more when the archive turns out to have
// been replaced meanwhile) and the archive is returned only when that
// signature by key covers it. Nothing in the cache is changed here. Every
// failure is reported once, a libcurl older than kOldestLibcurl before
// anything else. makeHandle stands in for curl_easy_init, options for
// curl_easy_setopt of the transfers' bounds and for the libcurl release.
FetchResult fetchAgentArchive(const std::string& url, const std::string& destination,
                              const AgentKey& key, CacheUse cache, ReportFn report,
                              EasyHandleFactory makeHandle = curl_easy_init,
                              const OptionSetter& options = libcurlOptions());

// Fetches the detached signature at url into signature, under the archive's
// time limits and protocols, capped at the signature's size and following no
// redirect. Anything but a success status with exactly kSignatureBytes bytes
// is reported as the agent not being signed, naming the status or the size;
// a transfer that fails as such is reported as a failed download. False
// after a report.
bool fetchSignature(const std::string& url, std::string& signature, ReportFn report,
                    EasyHandleFactory makeHandle = curl_easy_init,
                    const OptionSetter& options = libcurlOptions());

// Where writeBody puts the archive, and what went wrong doing so.
struct ArchiveSink {
    std::FILE* file = nullptr;
    long long limit = 0;     // most bytes accepted
    long long written = 0;   // bytes written so far
    int writeError = 0;      // errno of the failed write, or 0
    bool overLimit = false;  // the body went past limit
};

// libcurl write callback (sink is an ArchiveSink*): appends the bytes to the
// file unless that would pass the limit. A short count makes libcurl abort
// the transfer.
std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* sink);

}  // namespace setup
