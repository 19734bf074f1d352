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

// Columns per task of the column pass, at the least: each row's part is
// read in one run, beside the lists' last distances.
constexpr std::uint64_t kColumnGrain = 4096;

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

// The first j from `j` on, below `end`, whose distance is not above
// bound(j): four at a time, so that the common case, all four above, costs
// one branch.
template <class Bound>
std::uint64_t skipAbove(const double* row, std::uint64_t j, std::uint64_t end, const Bound& bound) {
    for (; j + 4 <= end; j += 4) {
        const bool above = (row[j] > bound(j)) & (row[j + 1] > bound(j + 1)) &
                           (row[j + 2] > bound(j + 2)) & (row[j + 3] > bound(j + 3));
        if (!above) break;
    }
    while (j < end && row[j] > bound(j)) ++j;
    return j;
}

}  // namespace

NeighbourLists emptyLists(std::uint64_t columns, std::uint64_t k) {
    return NeighbourLists{columns, k, std::vector<Neighbour>(columns * k, kEmptySlot),
                          std::vector<double>(columns, kEmptySlot.distance)};
}

void addBlock(NeighbourLists& lists, std::uint64_t n, const RowBlock& block, const double* values) {
    const std::uint64_t k = lists.k;
    Neighbour* slots = lists.slots.data();
    double* last = lists.last.data();
    // Row i's distances: pair (i, j) at rowOf(i)[j].
    auto rowOf = [&](std::uint64_t i) {
        return values + (rowmetric_row_offset(i, n) - block.offset) - (i + 1);
    };
    // Candidates above a list's last distance are turned away by
    // skipAbove; only the rest (smaller, equal or NaN, or any candidate
    // while the list still holds NaN) is offered and ordered in full.
    auto consider = [&](std::uint64_t list, double distance, std::uint64_t column) {
        Neighbour* heap = slots + list * k;
        offer(heap, k, {distance, column});
        last[list] = heap[0].distance;
    };
    const RowRange rows = block.rows;
    tbb::parallel_for(tbb::blocked_range<std::uint64_t>(rows.first, rows.end),
                      [&](const tbb::blocked_range<std::uint64_t>& part) {
                          for (std::uint64_t i = part.begin(); i != part.end(); ++i) {
                              const double* row = rowOf(i);
                              double bound = last[i];
                              auto rowBound = [&bound](std::uint64_t) { return bound; };
                              for (std::uint64_t j = skipAbove(row, i + 1, n, rowBound); j < n;
                                   j = skipAbove(row, j + 1, n, rowBound)) {
                                  consider(i, row[j], j);
                                  bound = last[i];
                              }
                          }
                      });
    tbb::parallel_for(
        tbb::blocked_range<std::uint64_t>(rows.first + 1, std::max(n, rows.first + 1), kColumnGrain),
        [&](const tbb::blocked_range<std::uint64_t>& part) {
            const std::uint64_t endRow = std::min(rows.end, part.end() - 1);
            auto columnBound = [last](std::uint64_t j) { return last[j]; };
            for (std::uint64_t i = rows.first; i < endRow; ++i) {
                const double* row = rowOf(i);
                const std::uint64_t end = part.end();
                for (std::uint64_t j = skipAbove(row, std::max(part.begin(), i + 1), end, columnBound);
                     j < end; j = skipAbove(row, j + 1, end, columnBound))
                    consider(j, row[j], i);
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
