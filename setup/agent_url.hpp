// Where the install agent is downloaded from: the environment's override, the
// URL the release was packed with, or the compiled-in default.
#pragma once

#include <string>

namespace setup {

// Reads the URL a release was packed with: the file's one line (a final
// line feed dropped), which must be printable ASCII without blanks and start
// with http:// or https:// (in any case). False when the file cannot be read
// or holds anything else.
bool readPackedAgentUrl(const std::string& path, std::string& url);

// ZQ_INTERNAL_INSTALL_AGENT_URL when it is set (even empty), else packedUrl
// unless it is empty, else the default agent URL.
std::string chooseAgentUrl(const std::string& packedUrl);

}  // namespace setup
