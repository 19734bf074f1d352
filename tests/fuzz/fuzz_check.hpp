// How a fuzz target reports a broken property: one line naming it on standard
// error, then abort, which libFuzzer records as a crash with its input.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "property violated: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// For fixed messages; a message that must be built is built only on failure,
// with `if (!holds) fail(...)`, so that passing checks cost nothing.
inline void check(bool holds, const char* what) {
    if (!holds) {
        fail(what);
    }
}

// Equal bit for bit; any two NaNs count as equal, since the sign and payload
// of a NaN depend on which operand carried it.
inline bool sameBits(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b);
    }
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::string showDouble(double d) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", d);
    return text;
}

}  // namespace fuzz
