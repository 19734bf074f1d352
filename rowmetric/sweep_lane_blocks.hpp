// The rows of each block of a few adjacent columns, merged once per call:
// per union row, each column's value and single-column term, 0.0 where absent.
#pragma once

#include "pair_loop.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace rowmetric {

// Block b covers columns b·width .. b·width + width - 1 (fewer at the end).
// Its union rows, ascending, sit at slots start[b] .. start[b] + count[b] - 1;
// start[b] is the compressed-column position of its first column less
// colStart[0], which leaves room for every union row.
struct LaneBlocks {
    std::uint64_t width = 0;
    std::vector<std::uint64_t> start;
    std::vector<std::uint64_t> count;
    std::vector<std::uint64_t> row;
    std::vector<double> value;          // width per slot: column c's value at [slot·width + c]
    std::vector<double> term;           // width per slot: the policy's `only` of that value
    std::vector<std::uint8_t> present;  // per slot, bit c: column c stores the row

    std::uint64_t blocks() const { return count.size(); }
    std::uint64_t longest() const {
        return count.empty() ? 0 : *std::max_element(count.begin(), count.end());
    }
};

// Merges each block's columns (at most 8) by repeatedly taking the smallest
// current row; the blocks are merged in parallel.
template <class Policy>
LaneBlocks buildLaneBlocks(const double* values, const std::uint64_t* rowIndex,
                           const std::uint64_t* colStart, std::uint64_t n, std::uint64_t width,
                           const Policy& policy) {
    constexpr std::uint64_t kNoRow = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t base = colStart[0];
    const std::uint64_t stored = colStart[n] - base;
    LaneBlocks blocks;
    blocks.width = width;
    blocks.start.resize((n + width - 1) / width);
    blocks.count.resize(blocks.start.size());
    blocks.row.resize(stored);
    blocks.value.assign(stored * width, 0.0);
    blocks.term.assign(stored * width, 0.0);
    blocks.present.assign(stored, 0);
    parallelForEach(blocks.blocks(), [&](std::uint64_t b) {
        const std::uint64_t first = b * width;
        const std::uint64_t columns = std::min(width, n - first);
        std::uint64_t p[8];
        for (std::uint64_t c = 0; c < columns; ++c) {
            p[c] = colStart[first + c];
        }
        std::uint64_t slot = colStart[first] - base;
        blocks.start[b] = slot;
        for (;; ++slot) {
            std::uint64_t r = kNoRow;
            for (std::uint64_t c = 0; c < columns; ++c) {
                if (p[c] < colStart[first + c + 1]) {
                    r = std::min(r, rowIndex[p[c]]);
                }
            }
            if (r == kNoRow) {
                break;
            }
            blocks.row[slot] = r;
            for (std::uint64_t c = 0; c < columns; ++c) {
                if (p[c] < colStart[first + c + 1] && rowIndex[p[c]] == r) {
                    const double v = values[p[c]];
                    blocks.value[slot * width + c] = v;
                    blocks.term[slot * width + c] = policy.only(v, r);
                    blocks.present[slot] |= static_cast<std::uint8_t>(1u << c);
                    ++p[c];
                }
            }
        }
        blocks.count[b] = slot - blocks.start[b];
    });
    return blocks;
}

}  // namespace rowmetric
