// Compiled once per build product, with the limits given by the build.
#include "network_limits.hpp"

namespace setup {
namespace {

constexpr NetworkLimits kLimits{SETUP_CONNECT_TIMEOUT_S, SETUP_LOW_SPEED_TIME_S,
                                SETUP_MAX_REDIRECTS, SETUP_MAX_ARCHIVE_BYTES};

static_assert(kLimits.connectTimeoutSeconds > 0 && kLimits.lowSpeedTimeSeconds > 0 &&
                  kLimits.maxRedirects >= 0 && kLimits.maxArchiveBytes > 0,
              "network limits must be positive");

}  // namespace

NetworkLimits networkLimits() { return kLimits; }

}  // namespace setup
