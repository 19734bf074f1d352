// The sentences the installer shows when obtaining or starting the agent
// fails; each is spelled here and nowhere else.
#pragma once

#include <string>

#include <curl/curl.h>

namespace setup {

// The archive or the cache could not be written: the system's text for error.
std::string cacheFileMessage(int error);

// Setting the URL, the write function or the write target failed.
std::string setupMessage(CURLcode code);

// The download could not be set up (handle, limits, protocols).
std::string processMessage(const std::string& reason);

// The system's libcurl is older than the oldest one the transfers work with.
std::string oldLibcurlMessage(const std::string& found, const std::string& needed);

// A transfer failed, or its response code could not be read.
std::string transferMessage(CURLcode code);

// The server answered 404.
std::string notFoundMessage();

// The server answered another code of 400 or above.
std::string httpCodeMessage(long code);

// An agent archive could not be made into a runnable agent.
inline constexpr char kAgentInitFailed[] = "Failed to initialize the install agent.";

// The release pins a key, and signatureUrl answered responseCode instead of
// a signature.
std::string signatureMissingMessage(const std::string& signatureUrl, long responseCode);

// signatureUrl answered with bytes bytes (-1: more than a signature's), so
// it holds no signature.
std::string signatureSizeMessage(const std::string& signatureUrl, long long bytes);

// The signature at signatureUrl does not verify the archive against the
// pinned key: the archive changed after signing, or another key signed it.
std::string signatureMismatchMessage(const std::string& signatureUrl);

// The release pins an agent key that cannot be used.
inline constexpr char kAgentKeyUnusable[] =
    "The install agent key that came with this installer is not a usable Ed25519 public key; "
    "the installer is damaged.";

// The payload's agent-url holds no usable URL.
inline constexpr char kAgentUrlUnusable[] =
    "The install agent URL that came with this installer is not a usable http or https URL; "
    "the installer is damaged.";

// The complete new agent could not take the outdated one's place.
std::string staleAgentMessage(const std::string& directory);

// The run was to work beside the installer (afterTmp: because /tmp could not
// hold a workspace), but that directory is open to others.
std::string untrustedWorkDirectoryMessage(const std::string& directory, bool afterTmp);

// The run was to work beside the installer, but no private directory could
// be made there; error is mkdtemp's errno.
std::string noWorkDirectoryMessage(const std::string& directory, bool afterTmp, int error);

// The agent's command line does not fit the system's argument limits.
std::string commandTooLongMessage(std::size_t length, std::size_t limit);

// The shell for the agent could not be started; error is errno.
std::string shellNotStartedMessage(int error);

}  // namespace setup
