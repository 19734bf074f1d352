// All-pairs inner products of a fully stored matrix (every column holds every
// row, as after the caller centres or ranks its data), by register tiles.
#pragma once

#include "pair_loop.hpp"
#include "sweep_isa.hpp"
#include "matrix_shape.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace rowmetric {

namespace detail {

constexpr std::uint64_t kDensePanel = 8;  // columns j per tile, one vector
constexpr std::uint64_t kDenseBlock = 4;  // columns i per tile

using PanelVector = double __attribute__((vector_size(kDensePanel * sizeof(double))));

// The columns regrouped into panels of kDensePanel: panel p holds row r of
// its columns at [p][r][0 .. kDensePanel), zero beyond the last column.
inline std::vector<double> buildPanels(const double* values, const std::uint64_t* colStart,
                                       const MatrixShape& shape) {
    const std::uint64_t panels = (shape.n + kDensePanel - 1) / kDensePanel;
    std::vector<double> panel(panels * shape.rows * kDensePanel, 0.0);
    for (std::uint64_t j = 0; j < shape.n; ++j) {
        const double* column = values + colStart[j];
        double* dst = panel.data() + (j / kDensePanel) * shape.rows * kDensePanel + j % kDensePanel;
        for (std::uint64_t r = 0; r < shape.rows; ++r) {
            dst[r * kDensePanel] = column[r];
        }
    }
    return panel;
}

// The folds of block columns a[0..3] with one panel: each of the 32 pairs
// receives the policy's term of a[b][r] and panel[r][lane] for r = 0, 1, ...
// in order, as the merge walk folds a pair whose rows are all shared.
template <class Policy>
ROWMETRIC_ISA_CLONES void denseTile(const Policy& policy, const double* const* a,
                                    const double* panel, std::uint64_t rows, PanelVector* acc) {
    PanelVector s0 = {}, s1 = {}, s2 = {}, s3 = {};
    for (std::uint64_t r = 0; r < rows; ++r) {
        PanelVector b;
        std::memcpy(&b, panel + r * kDensePanel, sizeof b);
        Policy::fold(s0, policy.both(a[0][r], b, r));
        Policy::fold(s1, policy.both(a[1][r], b, r));
        Policy::fold(s2, policy.both(a[2][r], b, r));
        Policy::fold(s3, policy.both(a[3][r], b, r));
    }
    acc[0] = s0;
    acc[1] = s1;
    acc[2] = s2;
    acc[3] = s3;
}

}  // namespace detail

// The pairs of the body's rows in a fully stored matrix, where every row is
// shared. A NaN distance is recomputed by the body's kernel.
template <class Body>
void runDenseInnerProducts(const Body& body, const MatrixShape& shape) {
    countPathRun(Path::denseInnerProducts);
    const auto policy = body.call.policy();
    const std::uint64_t n = shape.n;
    const std::uint64_t rows = shape.rows;
    const std::vector<double> panels = detail::buildPanels(body.values, body.colStart, shape);
    const std::uint64_t blocks = (body.rowLimit + detail::kDenseBlock - 1) / detail::kDenseBlock;

    parallelForEach(blocks, [&](std::uint64_t blk) {
        const std::uint64_t i0 = blk * detail::kDenseBlock;
        const std::uint64_t lanes = std::min(detail::kDenseBlock, body.rowLimit - i0);
        // A block short of columns repeats its last one; those sums are
        // computed and never stored.
        const double* a[detail::kDenseBlock];
        for (std::uint64_t b = 0; b < detail::kDenseBlock; ++b) {
            a[b] = body.values + body.colStart[i0 + std::min(b, lanes - 1)];
        }
        for (std::uint64_t p = (i0 + 1) / detail::kDensePanel; p * detail::kDensePanel < n; ++p) {
            detail::PanelVector acc[detail::kDenseBlock];
            detail::denseTile(policy, a, panels.data() + p * rows * detail::kDensePanel, rows, acc);
            const std::uint64_t jEnd = std::min(n, (p + 1) * detail::kDensePanel);
            for (std::uint64_t b = 0; b < lanes; ++b) {
                const std::uint64_t i = i0 + b;
                for (std::uint64_t j = std::max(i + 1, p * detail::kDensePanel); j < jEnd; ++j) {
                    const double d = policy.finish(acc[b][j % detail::kDensePanel]);
                    body.out[condensedPosition(i, j, n)] = d == d ? d : body.distance(i, j);
                }
            }
        }
    });
}

}  // namespace rowmetric
