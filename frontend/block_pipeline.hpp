// A range of rows computed block by block, each block handed on (written,
// or searched for neighbours) while the next one is computed.
#pragma once

#include "row_blocks.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace huxrun {

// Each returns a one-line error text, or nothing on success.
using ComputeBlock = std::function<std::optional<std::string>(const RowBlock&, double* out)>;
using ConsumeBlock =
    std::function<std::optional<std::string>(const RowBlock&, const double* values)>;

struct BlockPlan {
    std::uint64_t n = 0;  // columns
    RowRange rows;
    std::uint64_t blockPairs = kBlockPairs;
    // Consume a block on a thread of its own while the next is computed;
    // false runs both on the calling thread, one after the other.
    bool overlap = true;
};

// Computes every block of `plan.rows` in row order into one of two buffers
// and consumes it, in the same order, from the other while the next block
// is computed. Stops at the first error, after the block being consumed is
// done with. Memory: two buffers of the largest block (one when a single
// block covers the rows or nothing overlaps). Throws std::bad_alloc when
// they cannot be allocated, and passes on whatever the functions throw.
std::optional<std::string> forEachBlock(const BlockPlan& plan, const ComputeBlock& compute,
                                        const ConsumeBlock& consume);

}  // namespace huxrun
