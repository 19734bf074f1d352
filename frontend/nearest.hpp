// Each column's K nearest other columns, gathered while the pairs go by
// block by block: by distance, ties by the smaller column, NaN after all
// numbers, exactly as the pairs' distances order them.
#pragma once

#include "row_blocks.hpp"

#include <cstdint>
#include <vector>

namespace huxrun {

struct Neighbour {
    double distance;
    std::uint64_t column;  // kNoColumn: an empty slot
};

// An empty slot: NaN at a column past every real one, so it comes last.
constexpr std::uint64_t kNoColumn = UINT64_MAX;

// The order of neighbours: a smaller distance first; equal distances, and
// two NaNs, by the smaller column; every number before NaN.
inline bool comesBefore(const Neighbour& a, const Neighbour& b) {
    if (a.distance < b.distance) return true;
    if (b.distance < a.distance) return false;
    const bool aNaN = a.distance != a.distance;
    const bool bNaN = b.distance != b.distance;
    if (aNaN != bNaN) return bNaN;
    return a.column < b.column;
}

// K slots per column, column c's at [c*K, (c+1)*K). While pairs are added
// they form a heap whose first slot is the list's last neighbour, and
// last[c] holds that neighbour's distance, so that most candidates are
// turned away by one comparison with an array read in order; sortLists()
// puts each list in order.
struct NeighbourLists {
    std::uint64_t columns = 0;
    std::uint64_t k = 0;
    std::vector<Neighbour> slots;
    std::vector<double> last;
};

NeighbourLists emptyLists(std::uint64_t columns, std::uint64_t k);

// Offers every pair of the block to both its columns' lists. `values` holds
// the block's distances in condensed order. Runs on TBB's threads; each
// writes only lists of its own.
void addBlock(NeighbourLists& lists, std::uint64_t n, const RowBlock& block, const double* values);

// Merges `columns` lists of `from` into those of `into`, both still heaps:
// `into` keeps the K first of the two.
void mergeLists(Neighbour* into, const Neighbour* from, std::uint64_t columns, std::uint64_t k);

void sortLists(NeighbourLists& lists);

}  // namespace huxrun
