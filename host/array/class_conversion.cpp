// Conversion of single elements between doubles and the classes' C types.
#include "class_conversion.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vornhost::detail {
namespace {

// Rounds to nearest (halves away from zero) and clamps into T's range; NaN
// becomes 0. The bounds are powers of two, so they are exact as doubles.
template <class T>
T saturate(double value) {
    if (std::isnan(value)) return 0;
    const double r = std::round(value);
    const double upper = std::ldexp(1.0, std::numeric_limits<T>::digits);  // max + 1
    const double lower = std::numeric_limits<T>::is_signed ? -upper : 0.0;
    if (r >= upper) return std::numeric_limits<T>::max();
    if (r <= lower) return std::numeric_limits<T>::min();
    return static_cast<T>(r);
}

template <class T>
void put(T value, std::byte* dest) {
    std::memcpy(dest, &value, sizeof value);
}

template <class T>
double get(const std::byte* src) {
    T value;
    std::memcpy(&value, src, sizeof value);
    return static_cast<double>(value);
}

}  // namespace

std::size_t elementSize(vornClassID classId) {
    switch (classId) {
        case vornClassLogical:
        case vornClassChar:
        case vornClassInt8:
        case vornClassUint8:
            return 1;
        case vornClassInt16:
        case vornClassUint16:
            return 2;
        case vornClassInt32:
        case vornClassUint32:
        case vornClassSingle:
            return 4;
        case vornClassDouble:
        case vornClassInt64:
        case vornClassUint64:
            return 8;
        default:
            return 0;
    }
}

void storeAs(vornClassID classId, double value, std::byte* dest) {
    switch (classId) {
        case vornClassDouble:
            return put(value, dest);
        case vornClassSingle:
            return put(static_cast<float>(value), dest);
        case vornClassLogical:
            return put<std::uint8_t>(!std::isnan(value) && value != 0.0 ? 1 : 0, dest);
        case vornClassChar:
        case vornClassUint8:
            return put(saturate<std::uint8_t>(value), dest);
        case vornClassInt8:
            return put(saturate<std::int8_t>(value), dest);
        case vornClassInt16:
            return put(saturate<std::int16_t>(value), dest);
        case vornClassUint16:
            return put(saturate<std::uint16_t>(value), dest);
        case vornClassInt32:
            return put(saturate<std::int32_t>(value), dest);
        case vornClassUint32:
            return put(saturate<std::uint32_t>(value), dest);
        case vornClassInt64:
            return put(saturate<std::int64_t>(value), dest);
        case vornClassUint64:
            return put(saturate<std::uint64_t>(value), dest);
        default:
            return;
    }
}

double loadAsDouble(vornClassID classId, const std::byte* src) {
    switch (classId) {
        case vornClassDouble:
            return get<double>(src);
        case vornClassSingle:
            return get<float>(src);
        case vornClassLogical:
        case vornClassChar:
        case vornClassUint8:
            return get<std::uint8_t>(src);
        case vornClassInt8:
            return get<std::int8_t>(src);
        case vornClassInt16:
            return get<std::int16_t>(src);
        case vornClassUint16:
            return get<std::uint16_t>(src);
        case vornClassInt32:
            return get<std::int32_t>(src);
        case vornClassUint32:
            return get<std::uint32_t>(src);
        case vornClassInt64:
            return get<std::int64_t>(src);
        case vornClassUint64:
            return get<std::uint64_t>(src);
        default:
            return 0.0;
    }
}

}  // namespace vornhost::detail
