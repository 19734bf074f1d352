// Host array builders for hux-run's inputs.
#include "host_inputs.hpp"

#include <cstdint>
#include <stdexcept>

namespace huxrun {

vornhost::ArrayPtr sparseDoubleArray(const CscMatrix& matrix) {
    vornhost::SparseLayout layout;
    layout.m = matrix.rows;
    layout.n = matrix.cols;
    layout.colStart = matrix.colStart;
    layout.rowIndex = matrix.rowIndex;
    return vornhost::makeSparseDouble(layout, matrix.values);
}

std::vector<double> columnMajorValues(const CscMatrix& matrix) {
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(matrix.rows, matrix.cols, &total) ||
        total > SIZE_MAX / sizeof(double)) {
        throw std::length_error("the matrix is too large to store densely (rows x columns)");
    }
    std::vector<double> dense(total, 0.0);
    for (std::uint64_t c = 0; c < matrix.cols; ++c) {
        for (std::uint64_t k = matrix.colStart[c]; k < matrix.colStart[c + 1]; ++k) {
            dense[c * matrix.rows + matrix.rowIndex[k]] = matrix.values[k];
        }
    }
    return dense;
}

vornhost::ArrayPtr denseArray(const CscMatrix& matrix, vornClassID classId) {
    return vornhost::makeDense(classId, matrix.rows, matrix.cols, columnMajorValues(matrix));
}

}  // namespace huxrun
