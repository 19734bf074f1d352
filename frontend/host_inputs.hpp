// Builds the host arrays that hux-run passes to a module from parsed
// matrices: a sparse double array, or a dense array of a chosen class.
#pragma once

#include "vornhost/array_factory.hpp"
#include "matrix_market.hpp"

#include <vector>

namespace huxrun {

// The matrix as an M x N sparse double array: its stored entries, less those
// equal to zero, which the host never stores.
vornhost::ArrayPtr sparseDoubleArray(const CscMatrix& matrix);

// The matrix's M x N values in column-major order, implicit entries 0.
// Throws std::length_error when M x N cannot be addressed.
std::vector<double> columnMajorValues(const CscMatrix& matrix);

// The matrix as a dense M x N array of `classId`, converted from doubles.
vornhost::ArrayPtr denseArray(const CscMatrix& matrix, vornClassID classId);

}  // namespace huxrun
