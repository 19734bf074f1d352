// The ten metric bodies: instances of one template, each filling observation
// i's block of the condensed output with one kernel call per pair, for all
// rows or a slice of them.
#pragma once

#include "kernels.hpp"
#include "metric_policies.hpp"
#include "metric_registry.hpp"
#include "pair_loop.hpp"

#include <cstdint>
#include <optional>

namespace rowmetric {

// The three compressed-column arrays, as every kernel takes them.
struct Columns {
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
};

// The call each body makes for pair (i, j): its kernel, the extras its record
// holds after the five common fields (in the record's order), and the policy
// its fast paths fold with. The weights of "seu" and the factor of "mah" are
// never null here: distfun raises MissingParameter before any body runs.

struct EucCall {
    static constexpr BodyKind kKind = BodyKind::euc;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return eucdist(x.values, x.rowIndex, x.colStart, i, j, false);
    }
    SquaredDifferences policy() const { return {{}, false}; }
};

struct SqeCall {
    static constexpr BodyKind kKind = BodyKind::sqe;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return eucdist(x.values, x.rowIndex, x.colStart, i, j, true);
    }
    SquaredDifferences policy() const { return {{}, true}; }
};

struct SeuCall {
    static constexpr BodyKind kKind = BodyKind::seu;
    const double* weights;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return seudist(x.values, x.rowIndex, x.colStart, i, j, weights);
    }
    WeightedSquares policy() const { return {{}, weights}; }
};

struct CitCall {
    static constexpr BodyKind kKind = BodyKind::cit;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return citdist(x.values, x.rowIndex, x.colStart, i, j);
    }
    AbsoluteDifferences policy() const { return {}; }
};

struct MinCall {
    static constexpr BodyKind kKind = BodyKind::min;
    double exponent;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return mindist(x.values, x.rowIndex, x.colStart, i, j, exponent);
    }
    PowerDifferences policy() const { return {{}, exponent}; }
};

// Shared by the cosine, correlation and rank-correlation codes: the data
// arrive already prepared, so all three are the same inner product.
struct DotCall {
    static constexpr BodyKind kKind = BodyKind::dot;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return dotdist(x.values, x.rowIndex, x.colStart, i, j);
    }
    InnerProduct policy() const { return {}; }
};

struct HamCall {
    static constexpr BodyKind kKind = BodyKind::ham;
    std::uint64_t nvars;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return hamdist(x.values, x.rowIndex, x.colStart, i, j, nvars);
    }
    HammingCount policy() const { return {{}, nvars}; }
};

struct JacCall {
    static constexpr BodyKind kKind = BodyKind::jac;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return jacdist(x.values, x.rowIndex, x.colStart, i, j);
    }
    JaccardCount policy() const { return {}; }
};

struct CheCall {
    static constexpr BodyKind kKind = BodyKind::che;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return chedist(x.values, x.rowIndex, x.colStart, i, j);
    }
    LargestDifference policy() const { return {}; }
};

struct MahCall {
    static constexpr BodyKind kKind = BodyKind::mah;
    const double* invFactor;
    std::uint64_t nvars;
    double operator()(const Columns& x, std::uint64_t i, std::uint64_t j) const {
        return mahdist(x.values, x.rowIndex, x.colStart, i, j, invFactor, nvars);
    }
};

// A body's parameter record: N, out, values, rowIndex, colStart, then the
// extras of its call, then how many rows it computes. It computes the pairs
// (i, j), i < rowLimit, j > i: the first pairs of the condensed order, which
// `out` holds from its start. Calling it with i writes the pairs (i, i+1) ..
// (i, n-1) to their contiguous block in ascending j; the smaller index is
// always the kernel's first column.
template <class Call>
struct MetricBody {
    std::uint64_t n;
    double* out;
    const double* values;
    const std::uint64_t* rowIndex;
    const std::uint64_t* colStart;
    Call call;
    std::uint64_t rowLimit = n;  // all rows unless a slice asks for fewer

    Columns columns() const { return {values, rowIndex, colStart}; }
    double distance(std::uint64_t i, std::uint64_t j) const { return call(columns(), i, j); }
    void operator()(std::uint64_t i) const {
        double* block = out + blockStart(i, n);
        for (std::uint64_t j = i + 1; j < n; ++j) {
            block[j - i - 1] = distance(i, j);
        }
    }
};

using EucBody = MetricBody<EucCall>;
using SqeBody = MetricBody<SqeCall>;
using SeuBody = MetricBody<SeuCall>;
using CitBody = MetricBody<CitCall>;
using MinBody = MetricBody<MinCall>;
using DotBody = MetricBody<DotCall>;
using HamBody = MetricBody<HamCall>;
using JacBody = MetricBody<JacCall>;
using CheBody = MetricBody<CheCall>;
using MahBody = MetricBody<MahCall>;

// The rows i whose pairs (i, j > i) are computed: i in [begin, end).
struct RowRange {
    std::uint64_t begin;
    std::uint64_t end;
};

// Everything a body's record is filled from.
struct PairInputs {
    std::uint64_t n = 0;
    double* out = nullptr;  // the pairs of `rows`, from its start
    const double* values = nullptr;
    const std::uint64_t* rowIndex = nullptr;
    const std::uint64_t* colStart = nullptr;
    double exponent = 0.0;              // "min"
    const double* paramData = nullptr;  // "seu" weights, "mah" inverse factor
    std::uint64_t nvars = 0;            // "ham", "mah"
    std::optional<RowRange> rows;       // all of [0, n) when absent
};

inline RowRange rowsOf(const PairInputs& in) { return in.rows.value_or(RowRange{0, in.n}); }

// Calls f with the body of `kind`, its record filled from `in`: the one place
// a body is chosen by its kind. The rows [i0, i1) become the first i1 - i0
// rows of the columns from i0 on, whose pairs come first in their condensed
// order: row i0 + k's pairs start blockStart(i0 + k, n) - blockStart(i0, n)
// = blockStart(k, n - i0) after row i0's. So every path computes a slice as
// it computes the first rows of a matrix, and writes it where `out` starts.
template <class F>
void withBody(BodyKind kind, const PairInputs& in, F&& f) {
    const RowRange rows = rowsOf(in);
    const std::uint64_t n = in.n - rows.begin;
    const std::uint64_t* colStart = in.colStart + rows.begin;
    const auto body = [&in, rows, n, colStart](auto call) {
        MetricBody<decltype(call)> b{n, in.out, in.values, in.rowIndex, colStart, call};
        b.rowLimit = rows.end - rows.begin;
        return b;
    };
    switch (kind) {
        case BodyKind::euc:
            return f(body(EucCall{}));
        case BodyKind::sqe:
            return f(body(SqeCall{}));
        case BodyKind::seu:
            return f(body(SeuCall{in.paramData}));
        case BodyKind::cit:
            return f(body(CitCall{}));
        case BodyKind::min:
            return f(body(MinCall{in.exponent}));
        case BodyKind::dot:
            return f(body(DotCall{}));
        case BodyKind::ham:
            return f(body(HamCall{in.nvars}));
        case BodyKind::jac:
            return f(body(JacCall{}));
        case BodyKind::che:
            return f(body(CheCall{}));
        case BodyKind::mah:
            return f(body(MahCall{in.paramData, in.nvars}));
    }
}

}  // namespace rowmetric
