// Tests of the neighbour lists: blocks of any size give each column the K
// first of a brute-force sort (ties by the smaller column, NaN after all
// numbers), and lists of disjoint row ranges merge into those of the whole.
#include "nearest.hpp"

#include "rowmetric/rowmetric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

namespace huxrun {
namespace {

constexpr std::uint64_t kColumns = 23;

// Distances from a handful of values, so ties abound, and some NaN.
std::vector<double> condensed() {
    std::mt19937_64 rng(17);
    const double pool[] = {0.0, -0.0, 1.0, 1.5, 2.0, std::nan("")};
    std::vector<double> values(rowmetric_row_offset(kColumns, kColumns));
    for (double& v : values) v = pool[rng() % std::size(pool)];
    return values;
}

double distance(const std::vector<double>& values, std::uint64_t a, std::uint64_t b) {
    const std::uint64_t i = std::min(a, b);
    const std::uint64_t j = std::max(a, b);
    return values[rowmetric_row_offset(i, kColumns) + j - i - 1];
}

// Each column's k first others, sorted by (NaN last, distance, column).
std::vector<std::vector<Neighbour>> bruteForce(const std::vector<double>& values, std::uint64_t k) {
    std::vector<std::vector<Neighbour>> lists(kColumns);
    for (std::uint64_t c = 0; c < kColumns; ++c) {
        for (std::uint64_t j = 0; j < kColumns; ++j)
            if (j != c) lists[c].push_back({distance(values, c, j), j});
        std::sort(lists[c].begin(), lists[c].end(), [](const Neighbour& a, const Neighbour& b) {
            const bool aNaN = std::isnan(a.distance), bNaN = std::isnan(b.distance);
            return std::make_tuple(aNaN, aNaN ? 0.0 : a.distance, a.column) <
                   std::make_tuple(bNaN, bNaN ? 0.0 : b.distance, b.column);
        });
        lists[c].resize(k);
    }
    return lists;
}

NeighbourLists listsOver(const std::vector<double>& values, std::uint64_t k, RowRange rows,
                         std::uint64_t blockPairs) {
    NeighbourLists lists = emptyLists(kColumns, k);
    for (std::uint64_t first = rows.first; first < rows.end;) {
        const RowBlock block = blockFrom(kColumns, RowRange{first, rows.end}, blockPairs);
        addBlock(lists, kColumns, block, values.data() + block.offset);
        first = block.rows.end;
    }
    return lists;
}

void expectLists(const NeighbourLists& got, const std::vector<std::vector<Neighbour>>& want) {
    for (std::uint64_t c = 0; c < kColumns; ++c) {
        for (std::uint64_t s = 0; s < got.k; ++s) {
            const Neighbour& g = got.slots[c * got.k + s];
            const Neighbour& w = want[c][s];
            ASSERT_EQ(g.column, w.column) << "column " << c << ", place " << s;
            ASSERT_EQ(std::signbit(g.distance), std::signbit(w.distance));
            ASSERT_TRUE(g.distance == w.distance || (std::isnan(g.distance) && std::isnan(w.distance)));
        }
    }
}

TEST(Nearest, BlocksOfAnySizeGiveTheBruteForceLists) {
    const std::vector<double> values = condensed();
    for (const std::uint64_t k : {std::uint64_t{1}, std::uint64_t{5}, kColumns - 1}) {
        for (const std::uint64_t blockPairs : {1, 7, 40, 1000}) {
            SCOPED_TRACE("k " + std::to_string(k) + ", block " + std::to_string(blockPairs));
            NeighbourLists lists = listsOver(values, k, RowRange{0, kColumns}, blockPairs);
            sortLists(lists);
            expectLists(lists, bruteForce(values, k));
        }
    }
}

TEST(Nearest, ListsOfDisjointRowRangesMergeIntoTheWhole) {
    const std::vector<double> values = condensed();
    const std::uint64_t k = 4;
    NeighbourLists merged = emptyLists(kColumns, k);
    for (std::uint64_t part = 0; part < 3; ++part) {
        const RowRange rows{rowmetric_split_row(kColumns, part, 3),
                            rowmetric_split_row(kColumns, part + 1, 3)};
        const NeighbourLists share = listsOver(values, k, rows, 9);
        mergeLists(merged.slots.data(), share.slots.data(), kColumns, k);
    }
    sortLists(merged);
    expectLists(merged, bruteForce(values, k));
}

}  // namespace
}  // namespace huxrun
