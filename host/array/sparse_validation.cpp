// Structural check of a compressed-column layout.
#include "sparse_validation.hpp"

#include <stdexcept>
#include <string>

namespace vornhost::detail {
namespace {

[[noreturn]] void refuse(const std::string& reason) {
    throw std::invalid_argument("invalid sparse layout: " + reason);
}

std::string str(std::uint64_t v) { return std::to_string(v); }

void checkColumnStarts(const SparseLayout& layout, std::size_t valueCount) {
    const auto& cs = layout.colStart;
    if (layout.n == static_cast<std::size_t>(-1) || cs.size() != layout.n + 1)
        refuse("column starts have " + str(cs.size()) + " entries, expected " + str(layout.n + 1));
    if (cs[0] != 0) refuse("column 0 starts at " + str(cs[0]) + ", expected 0");
    for (std::size_t k = 0; k < layout.n; ++k) {
        if (cs[k + 1] < cs[k])
            refuse("column " + str(k) + " ends at " + str(cs[k + 1]) + " before its start " +
                   str(cs[k]));
    }
    if (cs[layout.n] != layout.rowIndex.size())
        refuse("column starts end at " + str(cs[layout.n]) + " but there are " +
               str(layout.rowIndex.size()) + " row indices");
    if (valueCount != layout.rowIndex.size())
        refuse(str(valueCount) + " values for " + str(layout.rowIndex.size()) + " row indices");
}

void checkRows(const SparseLayout& layout) {
    const auto& cs = layout.colStart;
    const auto& rows = layout.rowIndex;
    for (std::size_t k = 0; k < layout.n; ++k) {
        for (std::uint64_t e = cs[k]; e < cs[k + 1]; ++e) {
            if (rows[e] >= layout.m)
                refuse("entry " + str(e) + " in column " + str(k) + " has row " + str(rows[e]) +
                       ", not below " + str(layout.m));
            if (e > cs[k] && rows[e] <= rows[e - 1])
                refuse("entry " + str(e) + " in column " + str(k) + " has row " + str(rows[e]) +
                       " after row " + str(rows[e - 1]) + "; rows must strictly ascend");
        }
    }
}

}  // namespace

void validateSparseLayout(const SparseLayout& layout, std::size_t valueCount) {
    checkColumnStarts(layout, valueCount);
    checkRows(layout);
}

}  // namespace vornhost::detail
