// Bounded heaps per column. A block's pairs reach the lists in two passes,
// each parallel with disjoint writes: one over the block's rows (row i's
// pairs are contiguous and all belong to list i), one over chunks of
// columns j (the block's pairs (i, j) for each row i, read contiguously).
#include "nearest.hpp"

#include "rowmetric/rowmetric.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <limits>

namespace huxrun {
namespace {

// Columns per task of the column pass: their lists stay in cache while the
// block's rows go by.
constexpr std::uint64_t kColumnChunk = 256;

constexpr Neighbour kEmptySlot{std::numeric_limits<double>::quiet_NaN(), kNoColumn};

// Replaces the heap's first (last in order) neighbour by `candidate` and
// restores the heap.
void replaceFirst(Neighbour* heap, std::uint64_t k, const Neighbour& candidate) {
    std::uint64_t at = 0;
    while (true) {
        std::uint64_t child = 2 * at + 1;
        if (child >= k) break;
        if (child + 1 < k && comesBefore(heap[child], heap[child + 1])) ++child;
        if (!comesBefore(candidate, heap[child])) break;
        heap[at] = heap[child];
        at = child;
    }
    heap[at] = candidate;
}

inline void offer(Neighbour* heap, std::uint64_t k, const Neighbour& candidate) {
    if (comesBefore(candidate, heap[0])) replaceFirst(heap, k, candidate);
}

}  // namespace

NeighbourLists emptyLists(std::uint64_t columns, std::uint64_t k) {
    return NeighbourLists{columns, k,
                          std::vector<Neighbour>(columns * k, kEmptySlot)};
}

void addBlock(NeighbourLists& lists, std::uint64_t n, const RowBlock& block, const double* values) {
    const std::uint64_t k = lists.k;
    Neighbour* slots = lists.slots.data();
    // Row i's distances: pair (i, j) at rowOf(i)[j].
    auto rowOf = [&](std::uint64_t i) {
        return values + (rowmetric_row_offset(i, n) - block.offset) - (i + 1);
    };
    const RowRange rows = block.rows;
    tbb::parallel_for(tbb::blocked_range<std::uint64_t>(rows.first, rows.end),
                      [&](const tbb::blocked_range<std::uint64_t>& part) {
                          for (std::uint64_t i = part.begin(); i != part.end(); ++i) {
                              const double* row = rowOf(i);
                              Neighbour* heap = slots + i * k;
                              for (std::uint64_t j = i + 1; j < n; ++j) offer(heap, k, {row[j], j});
                          }
                      });
    tbb::parallel_for(
        tbb::blocked_range<std::uint64_t>(rows.first + 1, std::max(n, rows.first + 1), kColumnChunk),
        [&](const tbb::blocked_range<std::uint64_t>& part) {
            const std::uint64_t lastRow = std::min(rows.end, part.end() - 1);
            for (std::uint64_t i = rows.first; i < lastRow; ++i) {
                const double* row = rowOf(i);
                for (std::uint64_t j = std::max(part.begin(), i + 1); j < part.end(); ++j)
                    offer(slots + j * k, k, {row[j], i});
            }
        });
}

void mergeLists(Neighbour* into, const Neighbour* from, std::uint64_t columns, std::uint64_t k) {
    for (std::uint64_t c = 0; c < columns; ++c) {
        for (std::uint64_t s = 0; s < k; ++s) offer(into + c * k, k, from[c * k + s]);
    }
}

void sortLists(NeighbourLists& lists) {
    const std::uint64_t k = lists.k;
    Neighbour* slots = lists.slots.data();
    tbb::parallel_for(tbb::blocked_range<std::uint64_t>(0, lists.columns),
                      [&](const tbb::blocked_range<std::uint64_t>& part) {
                          for (std::uint64_t c = part.begin(); c != part.end(); ++c)
                              std::sort(slots + c * k, slots + (c + 1) * k, comesBefore);
                      });
}

}  // namespace huxrun
