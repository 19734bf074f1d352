// Every fast path against the plain per-pair loop: the condensed outputs must
// agree bit for bit, on awkward data, at 1, 2 and 8 threads.
#include "random_matrix.hpp"

#include "pair_loop.hpp"
#include "sweep_dispatch.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using fastpathtest::Csc;
using fastpathtest::randomCsc;
using fastpathtest::Values;
namespace rm = rowmetric;

constexpr int kThreadCounts[] = {1, 2, 8};

std::uint64_t pairCount(std::uint64_t n) { return n < 2 ? 0 : n * (n - 1) / 2; }

// Runs `run` on a body whose output is a fresh buffer pre-filled with a
// marker, so a pair left unwritten shows up as a difference.
template <class Body, class Run>
std::vector<double> evaluate(Body body, std::uint64_t n, Run run) {
    std::vector<double> out(pairCount(n) + 1, -12345.0);
    body.out = out.data();
    run(body);
    return out;
}

// Index of the first element whose bits differ, or -1.
long firstDifference(const std::vector<double>& a, const std::vector<double>& b) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::memcmp(&a[k], &b[k], sizeof(double)) != 0) {
            return static_cast<long>(k);
        }
    }
    return -1;
}

// The plain loop at one thread is the reference; `run` (runPairs unless
// given) must match it at every thread count.
template <class Body, class Run>
void expectSameBitsFrom(const Body& body, const std::string& what, Run fastRun) {
    std::vector<double> reference;
    {
        tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
        reference = evaluate(body, body.n, [](const auto& b) { rm::runPairLoop(b); });
    }
    for (int threads : kThreadCounts) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
        const std::vector<double> fast = evaluate(body, body.n, fastRun);
        ASSERT_EQ(fast.size(), reference.size());
        const long at = firstDifference(reference, fast);
        EXPECT_EQ(at, -1) << what << " at " << threads << " threads: pair " << at << " is "
                          << fast[at < 0 ? 0 : at] << ", kernel gives "
                          << reference[at < 0 ? 0 : at];
    }
}

template <class Body>
void expectSameBits(const Body& body, const std::string& what) {
    expectSameBitsFrom(body, what, [](const auto& b) { rm::runPairs(b); });
}

// The shared-row sweeps called directly, whether or not runPairs would
// choose them for this matrix.
template <class Body, class Sweep>
void expectSweepSameBits(const Body& body, const std::string& what, Sweep sweep) {
    expectSameBitsFrom(body, what, [&sweep](const Body& b) {
        const rm::MatrixShape shape = rm::measureMatrix(b.rowIndex, b.colStart, b.n);
        const rm::RowIndex index = rm::buildRowIndex(b.values, b.rowIndex, b.colStart, shape);
        sweep(b, shape, index);
    });
}

void expectInnerProductSweep(const rm::DotBody& body, const std::string& what) {
    expectSameBits(body, what);
    expectSweepSameBits(
        body, what + " (sweep)",
        [](const rm::DotBody& b, const rm::MatrixShape& shape, const rm::RowIndex& index) {
            rm::runInnerProductSweep(b.values, b.rowIndex, b.colStart, shape, index, b.out);
        });
}

struct Shape {
    std::uint64_t rows;
    std::uint64_t cols;
    double density;
    std::uint64_t seed;
};

// Partial lane blocks, crowded rows (many rows stored by both columns),
// several partial tile chunks, a single variable, and tiny observation counts.
const Shape kShapes[] = {
    {30, 45, 0.15, 1}, {6, 20, 0.5, 2}, {200, 530, 0.02, 3}, {1, 9, 0.8, 4},
    {12, 2, 0.5, 5},   {12, 1, 0.5, 6}, {40, 17, 1.0, 7},
};

std::string describe(const Shape& s) {
    return std::to_string(s.rows) + "x" + std::to_string(s.cols) + " density " +
           std::to_string(s.density);
}

// Matrices here are small enough for the row index, so runPairs takes the
// fast path and the comparison really tests it.
void requireFastPathApplies(const Csc& m) {
    const rm::MatrixShape shape = rm::measureMatrix(m.rowIndex.data(), m.colStart.data(), m.cols());
    ASSERT_TRUE(rm::rowIndexAffordable(shape));
}

template <class Body>
Body bodyOn(const Csc& m) {
    Body body{};
    body.n = m.cols();
    body.values = m.values.data();
    body.rowIndex = m.rowIndex.data();
    body.colStart = m.colStart.data();
    return body;
}

std::vector<double> randomWeights(std::uint64_t rows, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(-0.5, 2.0);
    std::vector<double> w(rows);
    for (double& x : w) {
        x = unit(rng);
    }
    if (!w.empty()) {
        w[0] = 0.0;  // a zero weight: 0·inf terms become NaN in both paths
    }
    return w;
}

TEST(OrderedFolds, SumsOfSquaresMatchTheKernel) {
    for (const Shape& s : kShapes) {
        const Csc m = randomCsc(s.rows, s.cols, s.density, s.seed);
        requireFastPathApplies(m);
        expectSameBits(bodyOn<rm::EucBody>(m), "euc " + describe(s));
        expectSameBits(bodyOn<rm::SqeBody>(m), "sqe " + describe(s));
        const std::vector<double> w = randomWeights(m.rows, s.seed);
        rm::SeuBody seu = bodyOn<rm::SeuBody>(m);
        seu.weights = w.data();
        expectSameBits(seu, "seu " + describe(s));
    }
}

TEST(OrderedFolds, AbsoluteSumsPowersAndMaximumMatchTheKernel) {
    for (const Shape& s : kShapes) {
        const Csc m = randomCsc(s.rows, s.cols, s.density, s.seed + 100);
        requireFastPathApplies(m);
        expectSameBits(bodyOn<rm::CitBody>(m), "cit " + describe(s));
        expectSameBits(bodyOn<rm::CheBody>(m), "che " + describe(s));
        for (double p : {3.0, 0.5, 1.0, 0.0, -1.5}) {
            rm::MinBody body = bodyOn<rm::MinBody>(m);
            body.exponent = p;
            expectSameBits(body, "min p=" + std::to_string(p) + " " + describe(s));
        }
    }
}

TEST(SharedRowSweeps, InnerProductsMatchTheKernelIncludingTheClamp) {
    for (const Shape& s : kShapes) {
        const Csc raw = randomCsc(s.rows, s.cols, s.density, s.seed + 200);
        requireFastPathApplies(raw);
        expectInnerProductSweep(bodyOn<rm::DotBody>(raw), "dot raw " + describe(s));
        // Finite unit columns put many sums at or just around 1.0.
        const Csc unit = fastpathtest::unitColumns(
            randomCsc(s.rows, s.cols, s.density, s.seed + 300, Values::binary));
        expectInnerProductSweep(bodyOn<rm::DotBody>(unit), "dot unit " + describe(s));
    }
}

// Fully stored matrices (centred or ranked data) take the register tiles:
// partial blocks and panels, one row, sums beyond the clamp, NaN, infinities,
// and unit columns whose sums sit at or just around 1.0 or spread over [-1, 1],
// where any other order of additions shows in the bits.
TEST(DenseInnerProducts, MatchTheKernel) {
    const Shape dense[] = {{40, 17, 1.0, 7}, {1, 9, 1.0, 8}, {3, 2, 1.0, 9}, {64, 37, 1.0, 10}};
    for (const Shape& s : dense) {
        const Csc raw = fastpathtest::denseCsc(s.rows, s.cols, s.seed + 600);
        const rm::MatrixShape shape =
            rm::measureMatrix(raw.rowIndex.data(), raw.colStart.data(), raw.cols());
        ASSERT_TRUE(rm::fullyStored(shape)) << describe(s);
        expectSameBits(bodyOn<rm::DotBody>(raw), "dense dot raw " + describe(s));
        for (const Values kind : {Values::binary, Values::finite}) {
            const Csc unit = fastpathtest::unitColumns(
                fastpathtest::denseCsc(s.rows, s.cols, s.seed + 700, kind));
            expectSameBits(bodyOn<rm::DotBody>(unit), "dense dot unit " + describe(s));
        }
    }
    const Csc sparse = randomCsc(30, 45, 0.5, 11);
    EXPECT_FALSE(rm::fullyStored(
        rm::measureMatrix(sparse.rowIndex.data(), sparse.colStart.data(), sparse.cols())));
}

TEST(SharedRowSweeps, DifferCountsMatchTheKernel) {
    for (const Shape& s : kShapes) {
        for (Values kind : {Values::wild, Values::binary}) {
            const Csc m = randomCsc(s.rows, s.cols, s.density, s.seed + 400, kind);
            requireFastPathApplies(m);
            rm::HamBody ham = bodyOn<rm::HamBody>(m);
            ham.nvars = s.rows;
            expectSameBits(ham, "ham " + describe(s));
            expectSameBits(bodyOn<rm::JacBody>(m), "jac " + describe(s));
            expectSweepSameBits(
                ham, "ham (sweep) " + describe(s),
                [](const rm::HamBody& b, const rm::MatrixShape& shape, const rm::RowIndex& index) {
                    rm::runCountSweep(b.values, b.rowIndex, b.colStart, shape, index, b.out,
                                      rm::CountDistance::hamming, b.nvars);
                });
            expectSweepSameBits(
                bodyOn<rm::JacBody>(m), "jac (sweep) " + describe(s),
                [](const rm::JacBody& b, const rm::MatrixShape& shape, const rm::RowIndex& index) {
                    rm::runCountSweep(b.values, b.rowIndex, b.colStart, shape, index, b.out,
                                      rm::CountDistance::jaccard, 0);
                });
        }
    }
}

// Sparse columns share few rows and take the sweep; fully stored columns
// share every row, where the merge walk is as cheap, and keep the pair loop.
TEST(SharedRowSweeps, ChosenOnlyWhereTheyMakeFewerSteps) {
    const Csc sparse = randomCsc(2000, 300, 0.01, 16);
    const Csc dense = randomCsc(50, 300, 1.0, 17);
    for (const auto& [m, expected] : {std::pair{&sparse, true}, std::pair{&dense, false}}) {
        const rm::MatrixShape shape =
            rm::measureMatrix(m->rowIndex.data(), m->colStart.data(), m->cols());
        const rm::RowIndex index =
            rm::buildRowIndex(m->values.data(), m->rowIndex.data(), m->colStart.data(), shape);
        EXPECT_EQ(rm::sharedRowSweepPays(index, shape), expected);
    }
}

TEST(Mahalanobis, QuadraticFormsMatchTheKernel) {
    for (const Shape& s : kShapes) {
        const Csc m = randomCsc(s.rows, s.cols, s.density, s.seed + 500);
        const std::vector<double> u = fastpathtest::randomUpperFactor(s.rows, s.seed);
        rm::MahBody body = bodyOn<rm::MahBody>(m);
        body.invFactor = u.data();
        body.nvars = s.rows;
        expectSameBits(body, "mah " + describe(s));
    }
}

TEST(Mahalanobis, FactorTooLargeToCopyIsReadInPlace) {
    const std::uint64_t rows = rm::kMaxTransposedVars + 3;
    const Csc m = randomCsc(rows, 7, 0.002, 11);
    const std::vector<double> u = fastpathtest::randomUpperFactor(rows, 12);
    rm::MahBody body = bodyOn<rm::MahBody>(m);
    body.invFactor = u.data();
    body.nvars = rows;
    expectSameBits(body, "mah with a large factor");
}

TEST(EdgeCases, NoPairsAndEmptyColumns) {
    const Csc none = randomCsc(5, 0, 0.5, 13);
    expectSameBits(bodyOn<rm::EucBody>(none), "euc without observations");
    const Csc empty = randomCsc(5, 30, 0.0, 14);
    expectSameBits(bodyOn<rm::EucBody>(empty), "euc of empty columns");
    expectSameBits(bodyOn<rm::CheBody>(empty), "che of empty columns");
    expectSameBits(bodyOn<rm::JacBody>(empty), "jac of empty columns (NaN)");
    expectSameBits(bodyOn<rm::DotBody>(empty), "dot of empty columns");
    rm::MinBody min = bodyOn<rm::MinBody>(empty);
    min.exponent = 2.0;
    expectSameBits(min, "min of empty columns");
}

// Rows spread over a range far beyond the stored entries: the row index is
// not built, and runPairs must still give the kernels' bits.
TEST(EdgeCases, SparseRowRangeFallsBackToThePairLoop) {
    const Csc m = randomCsc(50, 40, 0.1, 15, Values::wild, std::uint64_t{1} << 36);
    const rm::MatrixShape shape = rm::measureMatrix(m.rowIndex.data(), m.colStart.data(), m.cols());
    EXPECT_FALSE(rm::rowIndexAffordable(shape));
    expectSameBits(bodyOn<rm::EucBody>(m), "euc over a sparse row range");
    expectSameBits(bodyOn<rm::JacBody>(m), "jac over a sparse row range");
}

}  // namespace
