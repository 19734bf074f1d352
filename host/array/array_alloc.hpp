// Allocation of host arrays: a vornArray handle together with the storage
// behind it, with the handle's pointers aimed into that storage.
#pragma once

#include "vornhost/array_factory.hpp"
#include "array_storage.hpp"

namespace vornhost::detail {

// A dense m x n array with zero-filled real (and, if complex, imaginary) data
// of `classId`'s C type. Throws std::invalid_argument for a class value
// outside 1..16 or a non-empty array of a class without element storage, and std::bad_alloc when
// the size overflows or memory runs out.
ArrayPtr allocateDense(vornClassID classId, std::size_t m, std::size_t n,
                       vornComplexity complexity);

// A sparse m x n array taking over a validated layout, with zero-filled
// value storage of `elementBytes` per stored entry.
ArrayPtr allocateSparse(vornClassID classId, SparseLayout layout, std::size_t elementBytes,
                        vornComplexity complexity);

ArrayStorage& mutableStorageOf(vornArray* a);

}  // namespace vornhost::detail
