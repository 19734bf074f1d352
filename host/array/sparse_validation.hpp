// Structural check of a compressed-column layout before the host builds a
// sparse array on it.
#pragma once

#include "vornhost/array_factory.hpp"

namespace vornhost::detail {

// Throws std::invalid_argument with a one-line reason naming the offending
// column or entry when the layout is not a valid m x n compressed-column
// structure holding `valueCount` entries.
void validateSparseLayout(const SparseLayout& layout, std::size_t valueCount);

}  // namespace vornhost::detail
