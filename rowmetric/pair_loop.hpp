// The parallel pair loop: ten metric bodies, one per kernel binding, each
// filling observation i's block of the condensed output, run over 0..n-1 by TBB.
#pragma once

#include "kernels.hpp"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_group.h>

#include <cstdint>

namespace rowmetric {

// Start of observation i's block of n - 1 - i pairs in the condensed output of
// n observations: (0,1), (0,2), ..., (0,n-1), (1,2), ... . i*(i+1) is even, so
// halving is exact.
inline std::uint64_t blockStart(std::uint64_t i, std::uint64_t n) {
    return i * n - i * (i + 1) / 2;
}

// Position of pair (i, j), i < j, in the condensed output.
inline std::uint64_t condensedPosition(std::uint64_t i, std::uint64_t j, std::uint64_t n) {
    return blockStart(i, n) + (j - i - 1);
}

// Calls perIndex(k) for k = 0 .. count-1 over TBB (auto_partitioner, grain 1;
// ascending k within each subrange). Every loop of the module runs through
// here, each in a context of its own: an exception from perIndex cancels only
// this loop and is rethrown in the calling thread.
template <class PerIndex>
void parallelForEach(std::uint64_t count, const PerIndex& perIndex) {
    tbb::task_group_context context;
    tbb::parallel_for(
        tbb::blocked_range<unsigned long>(0, count, 1),
        [&perIndex](const tbb::blocked_range<unsigned long>& range) {
            for (unsigned long k = range.begin(); k != range.end(); ++k) {
                perIndex(k);
            }
        },
        tbb::auto_partitioner(), context);
}

// Writes the pairs (i, i+1) .. (i, n-1) to their contiguous block in
// ascending j; the smaller index is always the kernel's first column.
template <class PairDistance>
inline void fillBlock(std::uint64_t n, double* out, std::uint64_t i, PairDistance distance) {
    double* block = out + blockStart(i, n);
    for (std::uint64_t j = i + 1; j < n; ++j) {
        block[j - i - 1] = distance(j);
    }
}

struct EucBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return eucdist(values, rowIndex, colStart, i, j, false);
        });
    }
};

struct SqeBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i,
                  [&](std::uint64_t j) { return eucdist(values, rowIndex, colStart, i, j, true); });
    }
};

struct SeuBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    const double* weights;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return seudist(values, rowIndex, colStart, i, j, weights);
        });
    }
};

struct CitBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i,
                  [&](std::uint64_t j) { return citdist(values, rowIndex, colStart, i, j); });
    }
};

struct MinBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    double exponent;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return mindist(values, rowIndex, colStart, i, j, exponent);
        });
    }
};

// Shared by the cosine, correlation and rank-correlation codes: the data
// arrive already prepared, so all three are the same inner product.
struct DotBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i,
                  [&](std::uint64_t j) { return dotdist(values, rowIndex, colStart, i, j); });
    }
};

struct HamBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    std::uint64_t nvars;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return hamdist(values, rowIndex, colStart, i, j, nvars);
        });
    }
};

struct JacBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i,
                  [&](std::uint64_t j) { return jacdist(values, rowIndex, colStart, i, j); });
    }
};

struct CheBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i,
                  [&](std::uint64_t j) { return chedist(values, rowIndex, colStart, i, j); });
    }
};

struct MahBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    const double* invFactor;
    std::uint64_t nvars;
    void operator()(std::uint64_t i) const {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return mahdist(values, rowIndex, colStart, i, j, invFactor, nvars);
        });
    }
};

// Runs body(i) for every i in 0..body.n-1. Each call owns a disjoint block of
// the output, so nothing is locked and the result does not depend on how TBB
// splits the range.
template <class Body>
void runPairLoop(const Body& body) {
    if (body.n == 0) {
        return;
    }
    parallelForEach(body.n, body);
}

}  // namespace rowmetric
