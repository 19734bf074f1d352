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

// Position of pair (i, j), i < j, in the condensed output of n observations:
// (0,1), (0,2), ..., (0,n-1), (1,2), ... . i*(i+1) is even, so halving is exact.
inline std::uint64_t condensedPosition(std::uint64_t i, std::uint64_t j, std::uint64_t n)
{
    return i * n - i * (i + 1) / 2 + (j - i - 1);
}

// Writes the pairs (i, i+1) .. (i, n-1) to their contiguous block in
// ascending j; the smaller index is always the kernel's first column.
template <class PairDistance>
inline void fillBlock(std::uint64_t n, double* out, std::uint64_t i, PairDistance distance)
{
    double* block = out + (i * n - i * (i + 1) / 2);
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
    void operator()(std::uint64_t i) const
    {
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
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return eucdist(values, rowIndex, colStart, i, j, true);
        });
    }
};

struct SeuBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    const double* weights;
    void operator()(std::uint64_t i) const
    {
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
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return citdist(values, rowIndex, colStart, i, j);
        });
    }
};

struct MinBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    double exponent;
    void operator()(std::uint64_t i) const
    {
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
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return dotdist(values, rowIndex, colStart, i, j);
        });
    }
};

struct HamBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    std::uint64_t nvars;
    void operator()(std::uint64_t i) const
    {
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
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return jacdist(values, rowIndex, colStart, i, j);
        });
    }
};

struct CheBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return chedist(values, rowIndex, colStart, i, j);
        });
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
    void operator()(std::uint64_t i) const
    {
        fillBlock(n, out, i, [&](std::uint64_t j) {
            return mahdist(values, rowIndex, colStart, i, j, invFactor, nvars);
        });
    }
};

// Runs body(i) for every i in 0..body.n-1. Each call owns a disjoint block of
// the output, so nothing is locked and the result does not depend on how TBB
// splits the range. The loop has its own context: an exception from a body
// cancels only this loop and is rethrown here, in the calling thread.
template <class Body>
void runPairLoop(const Body& body)
{
    if (body.n == 0) {
        return;
    }
    tbb::task_group_context context;
    tbb::parallel_for(
        tbb::blocked_range<unsigned long>(0, body.n, 1),
        [&body](const tbb::blocked_range<unsigned long>& range) {
            for (unsigned long i = range.begin(); i != range.end(); ++i) {
                body(i);
            }
        },
        tbb::auto_partitioner(), context);
}

} // namespace rowmetric
