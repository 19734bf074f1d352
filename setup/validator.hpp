// The validator of the cached agent: the "ETag: " header line of the final
// download response, captured from libcurl and kept in the per-user cache.
#pragma once

#include <cstddef>
#include <string>

namespace setup {

// Longest validator line kept; a longer one counts as no validator.
inline constexpr std::size_t kMaxValidatorLength = 8192;

// libcurl header callback; area is a std::string*. A status line ("HTTP/...")
// starts a new response and clears the area; an "ETag: " line (any case)
// replaces it with the line minus its final line feed. Returns size * count.
std::size_t captureValidator(char* data, std::size_t size, std::size_t count, void* area);

// Records the validator in base + "/.validatestring" (bytes only, no line
// end), followed by a line feed and keyFingerprint when the agent was
// verified against a key: written to a temporary file, synced, renamed into
// place and the directory synced, so the file is either the old record or
// the whole new one. Does nothing when base or the validator is empty; false
// when the record could not be made.
bool storeValidator(const std::string& base, const std::string& validator,
                    const std::string& keyFingerprint = "");

// Removes the recorded validator (and syncs the directory), so that whatever
// agent the cache holds counts as stale. False when it is still there.
bool forgetValidator(const std::string& base);

// True when the first line of the validator file equals the validator
// exactly and, when keyFingerprint is given, the rest of the file equals it:
// a record without a fingerprint (or with another) is stale for a release
// that pins a key, while a release that pins none reads the first line only.
bool validatorMatches(const std::string& base, const std::string& validator,
                      const std::string& keyFingerprint = "");

}  // namespace setup
