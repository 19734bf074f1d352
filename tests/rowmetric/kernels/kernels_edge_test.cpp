// Hand-built cases for the kernels: a worked two-entry example, empty columns,
// the Minkowski p = 0 limit, the inner-product clamp, and NaN/infinity handling.
#include "kernels.hpp"
#include "sparse_matrices.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace rmtest;
using namespace rowmetric;

// Calls the kernels on columns 0 and 1 of a matrix built from column lists.
struct Pair {
    Csc m;
    Pair(std::uint64_t rows, Column a, Column b) : m(fromColumns(rows, {a, b})) {}
    const double* v() const { return m.values.data(); }
    const std::uint64_t* ri() const { return m.rowIndex.data(); }
    const std::uint64_t* cs() const { return m.colStart.data(); }
    double euc() const { return eucdist(v(), ri(), cs(), 0, 1, false); }
    double sqe() const { return eucdist(v(), ri(), cs(), 0, 1, true); }
    double seu(const std::vector<double>& w) const {
        return seudist(v(), ri(), cs(), 0, 1, w.data());
    }
    double cit() const { return citdist(v(), ri(), cs(), 0, 1); }
    double min(double p) const { return mindist(v(), ri(), cs(), 0, 1, p); }
    double che() const { return chedist(v(), ri(), cs(), 0, 1); }
    double dot() const { return dotdist(v(), ri(), cs(), 0, 1); }
    double ham() const { return hamdist(v(), ri(), cs(), 0, 1, m.rows); }
    double jac() const { return jacdist(v(), ri(), cs(), 0, 1); }
    double mah(const std::vector<double>& u) const {
        return mahdist(v(), ri(), cs(), 0, 1, u.data(), m.rows);
    }
};

std::vector<double> identity(std::uint64_t rows) {
    std::vector<double> u(rows * rows, 0.0);
    for (std::uint64_t k = 0; k < rows; ++k) {
        u[k * rows + k] = 1.0;
    }
    return u;
}

TEST(KernelExamples, DisjointSingleEntries) {
    const Pair p(8, {{2, 3.0}}, {{5, 4.0}});
    EXPECT_EQ(p.euc(), 5.0);
    EXPECT_EQ(p.sqe(), 25.0);
    EXPECT_EQ(p.seu(std::vector<double>(8, 1.0)), 5.0);
    EXPECT_EQ(p.cit(), 7.0);
    EXPECT_DOUBLE_EQ(p.min(3.0), std::cbrt(91.0));
    EXPECT_EQ(p.che(), 4.0);
    EXPECT_EQ(p.dot(), 1.0);
    EXPECT_EQ(p.ham(), 2.0 / 8.0);
    EXPECT_EQ(p.jac(), 1.0);
    EXPECT_EQ(p.mah(identity(8)), 5.0);
}

TEST(KernelExamples, EmptyColumns) {
    const Pair p(4, {}, {});
    EXPECT_TRUE(sameBits(0.0, p.euc()));
    EXPECT_TRUE(sameBits(0.0, p.sqe()));
    EXPECT_TRUE(sameBits(0.0, p.seu(std::vector<double>(4, 1.0))));
    EXPECT_TRUE(sameBits(0.0, p.cit()));
    EXPECT_TRUE(sameBits(0.0, p.che()));
    EXPECT_TRUE(sameBits(0.0, p.mah(std::vector<double>(16, kNaN))));  // U never read
    EXPECT_TRUE(sameBits(0.0, p.min(2.0)));
    EXPECT_TRUE(sameBits(0.0, p.min(0.0)));  // pow(0, +inf)
    EXPECT_EQ(p.dot(), 1.0);
    EXPECT_TRUE(sameBits(0.0, p.ham()));
    EXPECT_TRUE(std::isnan(p.jac()));
    EXPECT_TRUE(std::isnan(Pair(0, {}, {}).ham()));  // 0 / 0 with no variables
}

TEST(KernelExamples, IdenticalColumnsAreAtDistanceZero) {
    const Column c{{0, 0.6}, {3, -0.8}};
    const Pair p(5, c, c);
    for (double d : {p.euc(), p.sqe(), p.seu({1, 2, 3, 4, 5}), p.cit(), p.min(2.5), p.che(),
                     p.ham(), p.jac(), p.mah(identity(5))}) {
        EXPECT_TRUE(sameBits(0.0, d));
    }
    EXPECT_TRUE(sameBits(0.0, p.dot()));  // unit length: 0.36 + 0.64 rounds to exactly 1
    // Rounding pushes this unit column's sum to 1 + 2^-52: clamped, never negative.
    const double h = std::sqrt(0.5);
    EXPECT_TRUE(sameBits(0.0, Pair(2, {{0, h}, {1, h}}, {{0, h}, {1, h}}).dot()));
}

TEST(MinkowskiKernel, ZeroExponentCountsUnionRows) {
    EXPECT_EQ(Pair(6, {{1, 2.0}}, {}).min(0.0), 1.0);
    EXPECT_EQ(Pair(6, {{1, 2.0}}, {{1, 2.0}}).min(0.0), 1.0);  // pow(0, 0) is 1 too
    EXPECT_EQ(Pair(6, {{1, 2.0}}, {{4, 1.0}}).min(0.0), kInf);
}

TEST(InnerProductKernel, ClampsOnlyAboveOne) {
    EXPECT_TRUE(sameBits(0.0, Pair(3, {{0, 0.5}, {2, 0.5}}, {{0, 1.0}, {2, 1.0}}).dot()));
    EXPECT_TRUE(sameBits(0.0, Pair(3, {{1, 1.5}}, {{1, 1.0}}).dot()));
    EXPECT_EQ(Pair(3, {{1, -1.0}}, {{1, 1.0}}).dot(), 2.0);
    EXPECT_EQ(Pair(3, {{1, -3.0}}, {{1, 1.0}}).dot(), 4.0);
    // Values stored in one column only are ignored, NaN or not.
    EXPECT_EQ(Pair(3, {{0, kNaN}, {1, 0.25}}, {{1, 1.0}, {2, kInf}}).dot(), 0.75);
    EXPECT_TRUE(std::isnan(Pair(3, {{1, kNaN}}, {{1, 1.0}}).dot()));
}

TEST(NonFiniteValues, NaNInOneColumnOnly) {
    const Pair p(4, {{0, kNaN}, {2, 1.0}}, {{2, 3.0}});
    EXPECT_TRUE(std::isnan(p.euc()));
    EXPECT_TRUE(std::isnan(p.sqe()));
    EXPECT_TRUE(std::isnan(p.seu({1, 1, 1, 1})));
    EXPECT_TRUE(std::isnan(p.cit()));
    EXPECT_TRUE(std::isnan(p.min(2.0)));
    EXPECT_TRUE(std::isnan(p.mah(identity(4))));
    EXPECT_EQ(p.che(), 2.0);
    EXPECT_EQ(p.ham(), 2.0 / 4.0);
    EXPECT_EQ(p.jac(), 1.0);
}

TEST(NonFiniteValues, EqualInfinitiesDiffer) {
    const Pair p(4, {{1, kInf}, {3, 2.0}}, {{1, kInf}, {3, 2.0}});
    EXPECT_EQ(p.ham(), 1.0 / 4.0);  // inf - inf is NaN, which is not 0
    EXPECT_EQ(p.jac(), 1.0 / 2.0);
    EXPECT_EQ(p.che(), 0.0);
    EXPECT_TRUE(std::isnan(p.euc()));
    EXPECT_TRUE(std::isnan(p.cit()));
    EXPECT_TRUE(std::isnan(p.min(1.0)));
    EXPECT_TRUE(std::isnan(p.mah(identity(4))));
}

TEST(NonFiniteValues, ChebychevTakesInfinityButNotNaN) {
    EXPECT_EQ(Pair(3, {{0, -kInf}, {1, kNaN}}, {{1, 5.0}}).che(), kInf);
    EXPECT_EQ(Pair(3, {{0, kNaN}}, {{2, kNaN}}).che(), 0.0);
}

TEST(CountingKernels, StoredZeroInOneColumnDiffers) {
    // Differing is decided per union row: a stored 0 facing an unstored 0 differs,
    // while a stored 0 facing a stored 0 is the same.
    EXPECT_EQ(Pair(5, {{1, 0.0}}, {}).ham(), 1.0 / 5.0);
    EXPECT_EQ(Pair(5, {{1, 0.0}}, {}).jac(), 1.0);
    EXPECT_EQ(Pair(5, {{1, 0.0}, {2, 7.0}}, {{1, -0.0}, {2, 7.0}}).ham(), 0.0);
    EXPECT_EQ(Pair(5, {{1, 0.0}, {2, 7.0}}, {{1, -0.0}, {2, 6.0}}).jac(), 1.0 / 2.0);
}

TEST(MahalanobisKernel, ReadsOnlyTheUpperTriangle) {
    // U = [[2, 1], [NaN, 3]] column-major; d = (1, -2): t0 = 2, t1 = 1 - 6 = -5.
    const std::vector<double> u{2.0, kNaN, 1.0, 3.0};
    EXPECT_EQ(Pair(2, {{0, 1.0}}, {{1, 2.0}}).mah(u), std::sqrt(29.0));
}

}  // namespace
