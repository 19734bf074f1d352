// The host's bookkeeping behind a vornArray: the storage its data pointers
// point into, its true dimensions and its extended class descriptor.
#pragma once

#include "vorn/array_api.hpp"
#include "zeroed_bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornhost::detail {

// Element layout of `real`: the class's C type (double, float, the fixed-width
// integers); logical as one byte holding 0 or 1; char as one byte per
// element, the text's UTF-8 bytes unchanged, which is also what vornGetString
// copies out. Sparse arrays hold doubles (logical: one byte) per stored entry.
struct ArrayStorage {
    std::size_t rows = 0;                          // true first dimension
    std::size_t cols = 0;                          // true column count
    vornClassID resolvedClass = vornClassUnknown;  // class behind an extended value
    ZeroedBytes real;                     // dense: rows*cols elements; sparse: one per entry
    ZeroedBytes imag;                     // complex arrays only
    std::vector<std::uint64_t> rowIndex;  // sparse only
    std::vector<std::uint64_t> colStart;  // sparse only, cols + 1 entries
};

inline const ArrayStorage& storageOf(const vornArray* a) {
    return *static_cast<const ArrayStorage*>(a->host);
}

// The class whose C type the real data holds: an extended array keeps doubles.
inline vornClassID storedClass(const vornArray* a) {
    if (a->classValue > kVornLastTrivialClass) return vornClassDouble;
    return static_cast<vornClassID>(a->classValue);
}

}  // namespace vornhost::detail
