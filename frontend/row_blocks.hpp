// Rows of the condensed result and blocks of them: which rows a --rows
// selection names, and where each block of about 64 MB of distances ends.
#pragma once

#include "command_line.hpp"

#include <cstdint>
#include <string>
#include <variant>

namespace huxrun {

// Distances per block: 64 MB of doubles.
constexpr std::uint64_t kBlockPairs = std::uint64_t{1} << 23;

// The rows [first, end) of an n-column result; row i holds the pairs (i, j),
// j > i, from condensed position rowmetric_row_offset(i, n) on.
struct RowRange {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
};

// A block of rows: its range, its first pair's condensed position and its
// pair count.
struct RowBlock {
    RowRange rows;
    std::uint64_t offset = 0;
    std::uint64_t pairs = 0;
};

RowBlock blockOf(std::uint64_t n, RowRange rows);

// Part `part` (counted from 0) of [0, n) cut into `parts` parts of nearly
// equal pair counts, as the module's rowmetric_split_row cuts it.
RowRange partOf(std::uint64_t n, std::uint64_t part, std::uint64_t parts);

// The block that starts at `rows.first`: the most rows up to `rows.end`
// whose pairs fit in `blockPairs`, and at least one row.
RowBlock blockFrom(std::uint64_t n, RowRange rows, std::uint64_t blockPairs);

// The rows a selection names in an n-column result, or a one-line reason
// why it names none there.
std::variant<RowRange, std::string> selectedRows(const RowSelection& selection, std::uint64_t n);

// kBlockPairs, or the HUX_RUN_BLOCK_PAIRS environment variable's number when
// it is set (tests make tiny blocks with it). Throws std::runtime_error when
// that is not a whole number from 1.
std::uint64_t blockPairsSetting();

}  // namespace huxrun
