// Names shared by every part of the installer: the agent's archive and cache
// names, its download location and the per-user cache layout.
#pragma once

#include <string>

namespace setup {

inline constexpr char kPathSeparator[] = "/";
inline constexpr char kReleaseTag[] = "T4410c";
inline constexpr char kArchTag[] = "kestrel64";

inline constexpr char kAgentArchiveName[] = "InstallAgent.zip";
inline constexpr char kAgentDirName[] = "installagent";

// A payload file of this name pins the key that downloaded agents must be
// signed with; their detached signature is the agent URL + kSignatureSuffix.
inline constexpr char kAgentKeyFileName[] = "agent-key.pem";
inline constexpr char kSignatureSuffix[] = ".sig";

// A payload file of this name holds the agent URL the release was packed
// with (pack-setup --agent-url), one line.
inline constexpr char kAgentUrlFileName[] = "agent-url";

// The download host is a reserved name that never resolves; releases name
// their own server when packed, or users through ZQ_INTERNAL_INSTALL_AGENT_URL.
inline constexpr char kAgentDownloadHost[] = "downloads.velmar.example";

// Both composed values are specific to one release on one platform.
inline const std::string kDefaultAgentUrl = std::string("https://") + kAgentDownloadHost +
                                            "/pi_install_agent_pi_" + kReleaseTag + "_" + kArchTag;
inline const std::string kUserAgentSubpath = std::string(".velmar") + kPathSeparator +
                                             kAgentDirName + kPathSeparator + kReleaseTag +
                                             kPathSeparator + kArchTag + kPathSeparator;

inline constexpr char kValidatorFileName[] = ".validatestring";
inline constexpr char kValidatorHeaderPrefix[] = "ETag: ";

}  // namespace setup
