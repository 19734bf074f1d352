// Limits that keep an agent download from hanging, looping or filling the
// disk for ever; they are fixed when the installer is built, one set per
// build product.
#pragma once

namespace setup {

struct NetworkLimits {
    long connectTimeoutSeconds;  // give up connecting after this long
    long lowSpeedTimeSeconds;    // abort when below 1 byte/s for this long
    long maxRedirects;           // follow at most this many redirects
    long long maxArchiveBytes;   // refuse an agent archive larger than this
};

NetworkLimits networkLimits();

}  // namespace setup
