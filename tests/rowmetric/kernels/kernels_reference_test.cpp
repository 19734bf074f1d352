// Every kernel against the dense reference that walks all rows in ascending
// order, on random sparse matrices with NaN, infinities, stored zeros and empty columns.
#include "dense_reference.hpp"
#include "kernels.hpp"
#include "sparse_matrices.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

using namespace rmtest;

struct Extras {
    std::vector<double> weights;
    std::vector<double> upper;  // lower triangle NaN: reading it would poison the result
};

Extras randomExtras(std::uint64_t rows, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.1, 3.1);
    Extras e{std::vector<double>(rows), randomUpperFactor(rows, seed)};
    for (double& w : e.weights) {
        w = unit(rng);
    }
    return e;
}

// Runs fn(i, j) for every ordered pair, i != j, of a few random matrices.
void forRandomPairs(
    bool wild,
    const std::function<void(const Csc&, const Extras&, std::uint64_t, std::uint64_t)>& fn) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        const Csc m =
            randomCsc(9 + seed * 3, 24, 0.3, seed * 7919, wild ? Values::wild : Values::finite);
        const Extras e = randomExtras(m.rows, seed);
        for (std::uint64_t i = 0; i < m.cols(); ++i) {
            for (std::uint64_t j = 0; j < m.cols(); ++j) {
                if (i != j) {
                    fn(m, e, i, j);
                }
            }
        }
    }
}

class KernelsMatchDenseReference : public ::testing::TestWithParam<bool> {};

TEST_P(KernelsMatchDenseReference, BitForBit) {
    using namespace rowmetric;
    forRandomPairs(GetParam(), [](const Csc& m, const Extras& e, std::uint64_t i, std::uint64_t j) {
        const fuzz::DenseColumn a = fuzz::densify(m, i);
        const fuzz::DenseColumn b = fuzz::densify(m, j);
        const double* v = m.values.data();
        const std::uint64_t* ri = m.rowIndex.data();
        const std::uint64_t* cs = m.colStart.data();
        const double* w = e.weights.data();
        const double* u = e.upper.data();
        SCOPED_TRACE(::testing::Message() << "columns " << i << "," << j << " rows " << m.rows);
        const double squares = fuzz::refSquaredSum(a, b);
        EXPECT_TRUE(sameBits(std::sqrt(squares), eucdist(v, ri, cs, i, j, false)));
        EXPECT_TRUE(sameBits(squares, eucdist(v, ri, cs, i, j, true)));
        EXPECT_TRUE(sameBits(fuzz::refWeighted(a, b, w), seudist(v, ri, cs, i, j, w)));
        EXPECT_TRUE(sameBits(fuzz::refCityBlock(a, b), citdist(v, ri, cs, i, j)));
        for (double p : {0.0, 0.5, 1.0, 2.0, 3.0, -1.0, kInf}) {
            EXPECT_TRUE(sameBits(fuzz::refMinkowski(a, b, p), mindist(v, ri, cs, i, j, p)))
                << "p = " << p;
        }
        EXPECT_TRUE(sameBits(fuzz::refChebychev(a, b), chedist(v, ri, cs, i, j)));
        EXPECT_TRUE(sameBits(fuzz::refInnerProduct(a, b), dotdist(v, ri, cs, i, j)));
        EXPECT_TRUE(sameBits(fuzz::refHamming(a, b, m.rows), hamdist(v, ri, cs, i, j, m.rows)));
        EXPECT_TRUE(sameBits(fuzz::refJaccard(a, b), jacdist(v, ri, cs, i, j)));
        EXPECT_TRUE(
            sameBits(fuzz::refMahalanobis(a, b, u, m.rows), mahdist(v, ri, cs, i, j, u, m.rows)));
    });
}

INSTANTIATE_TEST_SUITE_P(FiniteAndWild, KernelsMatchDenseReference, ::testing::Bool());

// Swapping the columns flips only the sign of every difference.
TEST(KernelSymmetry, SwappedColumnsGiveIdenticalBits) {
    using namespace rowmetric;
    forRandomPairs(true, [](const Csc& m, const Extras& e, std::uint64_t i, std::uint64_t j) {
        const double* v = m.values.data();
        const std::uint64_t* ri = m.rowIndex.data();
        const std::uint64_t* cs = m.colStart.data();
        const double* w = e.weights.data();
        const double* u = e.upper.data();
        EXPECT_TRUE(sameBits(eucdist(v, ri, cs, i, j, false), eucdist(v, ri, cs, j, i, false)));
        EXPECT_TRUE(sameBits(seudist(v, ri, cs, i, j, w), seudist(v, ri, cs, j, i, w)));
        EXPECT_TRUE(sameBits(citdist(v, ri, cs, i, j), citdist(v, ri, cs, j, i)));
        EXPECT_TRUE(sameBits(mindist(v, ri, cs, i, j, 1.5), mindist(v, ri, cs, j, i, 1.5)));
        EXPECT_TRUE(sameBits(chedist(v, ri, cs, i, j), chedist(v, ri, cs, j, i)));
        EXPECT_TRUE(sameBits(dotdist(v, ri, cs, i, j), dotdist(v, ri, cs, j, i)));
        EXPECT_TRUE(sameBits(hamdist(v, ri, cs, i, j, m.rows), hamdist(v, ri, cs, j, i, m.rows)));
        EXPECT_TRUE(sameBits(jacdist(v, ri, cs, i, j), jacdist(v, ri, cs, j, i)));
        EXPECT_TRUE(
            sameBits(mahdist(v, ri, cs, i, j, u, m.rows), mahdist(v, ri, cs, j, i, u, m.rows)));
    });
}

// With U the identity, t_k is d_k itself and the quadratic form is the plain
// sum of squares in the same order: on finite data exactly the Euclidean distance.
TEST(MahalanobisKernel, IdentityFactorEqualsEuclidean) {
    using namespace rowmetric;
    forRandomPairs(false, [](const Csc& m, const Extras&, std::uint64_t i, std::uint64_t j) {
        std::vector<double> identity(m.rows * m.rows, 0.0);
        for (std::uint64_t k = 0; k < m.rows; ++k) {
            identity[k * m.rows + k] = 1.0;
        }
        const double* v = m.values.data();
        EXPECT_TRUE(sameBits(
            eucdist(v, m.rowIndex.data(), m.colStart.data(), i, j, false),
            mahdist(v, m.rowIndex.data(), m.colStart.data(), i, j, identity.data(), m.rows)));
    });
}

}  // namespace
