// Row ranges and blocks of the condensed result, counted with the module's
// public header so that they are the module's own order.
#include "row_blocks.hpp"

#include "rowmetric/rowmetric.h"

#include <cstdlib>
#include <stdexcept>

namespace huxrun {

RowBlock blockOf(std::uint64_t n, RowRange rows) {
    const std::uint64_t offset = rowmetric_row_offset(rows.first, n);
    return RowBlock{rows, offset, rowmetric_row_offset(rows.end, n) - offset};
}

RowRange partOf(std::uint64_t n, std::uint64_t part, std::uint64_t parts) {
    return RowRange{rowmetric_split_row(n, part, parts), rowmetric_split_row(n, part + 1, parts)};
}

RowBlock blockFrom(std::uint64_t n, RowRange rows, std::uint64_t blockPairs) {
    const std::uint64_t start = rowmetric_row_offset(rows.first, n);
    // The last end row whose block fits, found by bisection: pair counts
    // only grow with the end row.
    std::uint64_t low = rows.first + 1;
    std::uint64_t high = rows.end;
    while (low < high) {
        const std::uint64_t mid = low + (high - low + 1) / 2;
        if (rowmetric_row_offset(mid, n) - start <= blockPairs) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return blockOf(n, RowRange{rows.first, low});
}

std::variant<RowRange, std::string> selectedRows(const RowSelection& selection, std::uint64_t n) {
    if (selection.parts != 0) return partOf(n, selection.part - 1, selection.parts);
    if (selection.last > n) {
        return "--rows " + selection.text + ": the matrix has " + std::to_string(n) +
               " columns, so rows run from 1 to " + std::to_string(n);
    }
    return RowRange{selection.first - 1, selection.last};
}

std::uint64_t blockPairsSetting() {
    const char* text = std::getenv("HUX_RUN_BLOCK_PAIRS");
    if (text == nullptr) return kBlockPairs;
    const auto pairs = parseCount(text);
    if (!pairs || *pairs == 0)
        throw std::runtime_error("HUX_RUN_BLOCK_PAIRS must be a whole number from 1, not '" +
                                 std::string(text) + "'");
    return *pairs;
}

}  // namespace huxrun
