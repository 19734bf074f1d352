// The stand-in host's side of its array library: building, inspecting and
// freeing the arrays it hands to a module.
#pragma once

#include "vorn/array_api.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornhost {

struct ArrayDeleter {
    void operator()(vornArray* a) const;
};
using ArrayPtr = std::unique_ptr<vornArray, ArrayDeleter>;

// Compressed-column structure of an m x n sparse array.
struct SparseLayout {
    std::size_t m = 0;
    std::size_t n = 0;
    std::vector<std::uint64_t> colStart;  // n + 1 entries
    std::vector<std::uint64_t> rowIndex;  // one per stored entry
};

// Sparse builders validate the layout (colStart has n + 1 entries, starts at
// 0, never decreases and ends at the entry count; rows strictly ascend within
// a column and stay below m) and throw std::invalid_argument with a one-line
// reason when it is broken. The array never stores a zero: entries equal to
// +0.0 or -0.0 (complex: both parts; logical: false) are dropped, so a row
// stored in a column always holds a value that is not zero.
ArrayPtr makeSparseDouble(const SparseLayout& layout, std::vector<double> values);
ArrayPtr makeSparseComplex(const SparseLayout& layout, std::vector<double> real,
                           std::vector<double> imag);
ArrayPtr makeSparseLogical(const SparseLayout& layout, std::vector<bool> values);

// A dense m x n array of the given numeric or logical class, filled from
// column-major doubles converted to that class (integers saturate, NaN -> 0).
ArrayPtr makeDense(vornClassID classId, std::size_t m, std::size_t n,
                   const std::vector<double>& columnMajor);
ArrayPtr makeScalar(double value);           // 1 x 1 double
ArrayPtr makeText(const std::string& text);  // 1 x length char
ArrayPtr makeEmpty(vornClassID classId);     // 0 x 0 of that class

// A dense double array whose stored class value lies above 16: its class is
// resolved through the extended descriptor to `resolvedClass`.
ArrayPtr makeExtendedDouble(std::size_t m, std::size_t n, const std::vector<double>& columnMajor,
                            vornClassID resolvedClass = vornClassDouble);

// Marks the first dimension as pending, as the host does after a reshape; the
// next vornGetM completes it.
void setDimensionsPending(vornArray* a);

// Whether a dense m x n array of `classId` can be allocated now: the memory
// is asked for and given back at once. Untouched pages cost nothing, so
// this is cheap whatever the answer.
bool canAllocateDense(vornClassID classId, std::size_t m, std::size_t n);

// Total number of elements of a dense array (m * n), or stored entries of a
// sparse one.
std::size_t elementCount(const vornArray* a);

// Takes ownership of an array the module created (an output slot).
ArrayPtr adopt(vornArray* a);

}  // namespace vornhost
