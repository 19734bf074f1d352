// Forward merge of two compressed columns' ascending row lists: the one walk
// every distance kernel is built on, driven by a metric's policy.
#pragma once

#include "metric_policies.hpp"

#include <cstdint>

namespace rowmetric {

// An action type provides:
//   static constexpr bool kVisitsTails;  // false: stop once either column is exhausted
//   void onlyInI(std::uint64_t row, double a);
//   void onlyInJ(std::uint64_t row, double b);
//   void inBoth(std::uint64_t row, double a, double b);
// The union of the two columns' stored rows is visited once, in ascending
// row order, so every kernel folds its terms in the same order.
template <class Action>
inline void mergeWalk(const double* values, const std::uint64_t* rowIndex,
                      const std::uint64_t* colStart, std::uint64_t i, std::uint64_t j,
                      Action& action) {
    std::uint64_t p = colStart[i];
    const std::uint64_t pEnd = colStart[i + 1];
    std::uint64_t q = colStart[j];
    const std::uint64_t qEnd = colStart[j + 1];

    while (p < pEnd && q < qEnd) {
        const std::uint64_t ri = rowIndex[p];
        const std::uint64_t rj = rowIndex[q];
        if (ri > rj) {
            action.onlyInJ(rj, values[q]);
            ++q;
        } else if (ri < rj) {
            action.onlyInI(ri, values[p]);
            ++p;
        } else {
            action.inBoth(ri, values[p], values[q]);
            ++p;
            ++q;
        }
    }
    if constexpr (!Action::kVisitsTails) {
        return;
    }
    // At most one of the two tails is left.
    for (; p < pEnd; ++p) {
        action.onlyInI(rowIndex[p], values[p]);
    }
    for (; q < qEnd; ++q) {
        action.onlyInJ(rowIndex[q], values[q]);
    }
}

// The walk's action for a policy: each union row's term folded in turn.
template <class Policy>
struct FoldWalk {
    static constexpr bool kVisitsTails = Policy::kLoneRows;
    const Policy& policy;
    typename Policy::Acc acc{};
    void onlyInI(std::uint64_t r, double a) {
        if constexpr (Policy::kLoneRows) {
            Policy::fold(acc, policy.only(a, r));
        }
    }
    void onlyInJ(std::uint64_t r, double b) {
        if constexpr (Policy::kLoneRows) {
            Policy::fold(acc, policy.only(b, r));
        }
    }
    void inBoth(std::uint64_t r, double a, double b) { Policy::fold(acc, policy.both(a, b, r)); }
};

// The distance of columns i and j under a policy, by the merge walk.
template <class Policy>
inline double walkDistance(const Policy& policy, const double* values,
                           const std::uint64_t* rowIndex, const std::uint64_t* colStart,
                           std::uint64_t i, std::uint64_t j) {
    FoldWalk<Policy> walk{policy};
    mergeWalk(values, rowIndex, colStart, i, j, walk);
    return policy.finish(walk.acc);
}

}  // namespace rowmetric
