// Limits that keep an agent download from hanging or looping for ever; they
// are fixed when the installer is built, one set per build product.
#pragma once

namespace setup {

struct NetworkLimits {
    long connectTimeoutSeconds;  // give up connecting after this long
    long lowSpeedTimeSeconds;    // abort when below 1 byte/s for this long
    long maxRedirects;           // follow at most this many redirects
};

NetworkLimits networkLimits();

}  // namespace setup
