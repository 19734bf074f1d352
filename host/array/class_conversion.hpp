// Element types of the array classes: their sizes, and conversion of single
// elements between doubles and each class's C type.
#pragma once

#include "vorn/array_api.hpp"

#include <cstddef>

namespace vornhost::detail {

// Bytes per element of a class with dense storage, or 0 when the class holds
// no numeric, logical or character data (cell, struct, ...). Character
// elements are single bytes (text is kept as its UTF-8 bytes).
std::size_t elementSize(vornClassID classId);

// Writes `value` converted to the class's C type at `dest`: integers round to
// nearest and saturate, NaN becomes 0, logical becomes 1 for any nonzero
// value; single rounds to float. Character elements convert like uint8.
void storeAs(vornClassID classId, double value, std::byte* dest);

// Reads the element at `src` of the given class as a double.
double loadAsDouble(vornClassID classId, const std::byte* src);

}  // namespace vornhost::detail
