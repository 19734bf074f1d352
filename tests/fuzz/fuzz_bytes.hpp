// Structured values drawn from a fuzzer's raw input: each take consumes bytes
// from the front, and an exhausted input yields zeros, so any input decodes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace fuzz {

struct ByteStream {
    const std::uint8_t* data;
    std::size_t size;
};

inline std::uint8_t takeByte(ByteStream& in) {
    if (in.size == 0) {
        return 0;
    }
    const std::uint8_t b = in.data[0];
    ++in.data;
    --in.size;
    return b;
}

inline std::uint64_t takeU64(ByteStream& in) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) {
        v = (v << 8) | takeByte(in);
    }
    return v;
}

// A value in [0, bound); bound 0 gives 0. Small bounds cost one byte.
inline std::uint64_t takeBelow(ByteStream& in, std::uint64_t bound) {
    if (bound <= 1) {
        return 0;
    }
    if (bound <= 256) {
        return takeByte(in) % bound;
    }
    return takeU64(in) % bound;
}

// Doubles biased towards the values that break distance code: signed zeros,
// NaN, infinities, small integers and halves (exact sums), and raw bit
// patterns (subnormals, huge magnitudes, NaN payloads).
inline double takeDouble(ByteStream& in) {
    const std::uint8_t kind = takeByte(in);
    switch (kind % 16) {
        case 0:
            return 0.0;
        case 1:
            return -0.0;
        case 2:
            return std::numeric_limits<double>::quiet_NaN();
        case 3:
            return std::numeric_limits<double>::infinity();
        case 4:
            return -std::numeric_limits<double>::infinity();
        case 5:
            return 1.0;
        case 6:
            return -1.0;
        case 7: {
            const std::uint64_t bits = takeU64(in);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        default:
            return (static_cast<int>(takeByte(in)) - 128) / 4.0;
    }
}

// Up to maxLength raw bytes (NUL included), the length chosen first.
inline std::string takeBytes(ByteStream& in, std::size_t maxLength) {
    const std::size_t length = static_cast<std::size_t>(takeBelow(in, maxLength + 1));
    std::string s;
    for (std::size_t k = 0; k < length && in.size > 0; ++k) {
        s.push_back(static_cast<char>(takeByte(in)));
    }
    return s;
}

}  // namespace fuzz
