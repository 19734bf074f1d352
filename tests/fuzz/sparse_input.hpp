// A random compressed-column matrix decoded from fuzzer bytes: any shape up to
// the given bounds, empty columns, explicit zeros, NaN and infinities.
#pragma once

#include "fuzz_bytes.hpp"
#include "metric_bodies.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace fuzz {

struct SparseColumns {
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    std::vector<std::uint64_t> colStart{0};
    std::vector<std::uint64_t> rowIndex;
    std::vector<double> values;
};

// Each column picks how many rows it stores and which (distinct, then
// sorted), so every decoded matrix is well formed.
inline SparseColumns takeSparse(ByteStream& in, std::uint64_t maxRows, std::uint64_t maxCols) {
    SparseColumns x;
    x.rows = takeBelow(in, maxRows + 1);
    x.cols = takeBelow(in, maxCols + 1);
    std::vector<std::uint64_t> pool(x.rows);
    for (std::uint64_t c = 0; c < x.cols; ++c) {
        std::iota(pool.begin(), pool.end(), 0);
        const std::uint64_t stored = takeBelow(in, x.rows + 1);
        std::vector<std::uint64_t> picked;
        for (std::uint64_t k = 0; k < stored; ++k) {
            const std::uint64_t at = takeBelow(in, pool.size() - k);
            std::swap(pool[at], pool[pool.size() - k - 1]);
            picked.push_back(pool[pool.size() - k - 1]);
        }
        std::sort(picked.begin(), picked.end());
        for (std::uint64_t r : picked) {
            x.rowIndex.push_back(r);
            x.values.push_back(takeDouble(in));
        }
        x.colStart.push_back(x.rowIndex.size());
    }
    return x;
}

// The matrix part of a body's record; the caller adds the metric parameters.
inline rowmetric::PairInputs pairInputs(const SparseColumns& x) {
    rowmetric::PairInputs in;
    in.n = x.cols;
    in.values = x.values.data();
    in.rowIndex = x.rowIndex.data();
    in.colStart = x.colStart.data();
    in.nvars = x.rows;
    return in;
}

inline std::vector<double> takeDoubles(ByteStream& in, std::uint64_t count) {
    std::vector<double> v(count);
    for (double& d : v) {
        d = takeDouble(in);
    }
    return v;
}

}  // namespace fuzz
