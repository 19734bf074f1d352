// Every kernel against a dense reference that walks all rows in ascending
// order, on random sparse matrices with NaN, infinities, stored zeros and empty columns.
#include "kernels.hpp"
#include "sparse_fixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

using namespace kerneltest;

// Reference distances. A row takes part when either column stores it (the
// union); an unstored coordinate is 0. Terms are added in ascending row order.
struct Reference {
    const Dense& m;
    std::uint64_t i;
    std::uint64_t j;

    bool inUnion(std::uint64_t r) const { return m.has(r, i) || m.has(r, j); }
    double diff(std::uint64_t r) const { return m.at(r, i) - m.at(r, j); }

    template <class Term>
    double sum(Term term) const {
        double acc = 0.0;
        for (std::uint64_t r = 0; r < m.rows; ++r) {
            if (inUnion(r)) {
                acc += term(r, diff(r));
            }
        }
        return acc;
    }
    double euc(bool squared) const {
        const double s = sum([](std::uint64_t, double d) { return d * d; });
        return squared ? s : std::sqrt(s);
    }
    double seu(const double* w) const {
        return std::sqrt(sum([w](std::uint64_t r, double d) { return d * (w[r] * d); }));
    }
    double cit() const {
        return sum([](std::uint64_t, double d) { return std::fabs(d); });
    }
    double min(double p) const {
        return std::pow(sum([p](std::uint64_t, double d) { return std::pow(std::fabs(d), p); }),
                        1.0 / p);
    }
    double che() const {
        double best = 0.0;
        for (std::uint64_t r = 0; r < m.rows; ++r) {
            if (inUnion(r)) {
                best = std::fmax(best, std::fabs(diff(r)));  // fmax drops a NaN operand
            }
        }
        return best;
    }
    double dot() const {
        double acc = 0.0;
        for (std::uint64_t r = 0; r < m.rows; ++r) {
            if (m.has(r, i) && m.has(r, j)) {
                acc += m.at(r, i) * m.at(r, j);
            }
        }
        return acc > 1.0 ? 0.0 : 1.0 - acc;
    }
    // A row stored in one column only differs whatever its value (a stored 0
    // included); a row stored in both differs unless the difference is 0.
    std::uint64_t differing() const {
        std::uint64_t n = 0;
        for (std::uint64_t r = 0; r < m.rows; ++r) {
            const bool one = m.has(r, i) != m.has(r, j);
            n += one || (m.has(r, i) && m.has(r, j) && !(diff(r) == 0.0));
        }
        return n;
    }
    std::uint64_t unionSize() const {
        std::uint64_t n = 0;
        for (std::uint64_t r = 0; r < m.rows; ++r) {
            n += inUnion(r);
        }
        return n;
    }
    double ham() const { return double(differing()) / double(m.rows); }
    double jac() const { return double(differing()) / double(unionSize()); }
    double mah(const double* u) const {
        if (unionSize() == 0) {
            return 0.0;
        }
        double acc = 0.0;
        for (std::uint64_t k = 0; k < m.rows; ++k) {
            double t = 0.0;
            for (std::uint64_t r = 0; r <= k; ++r) {
                if (inUnion(r)) {
                    t += diff(r) * u[r + k * m.rows];
                }
            }
            acc += t * t;
        }
        return std::sqrt(acc);
    }
};

struct Extras {
    std::vector<double> weights;
    std::vector<double> upper;  // lower triangle NaN: reading it would poison the result
};

Extras randomExtras(std::uint64_t rows, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Extras e;
    for (std::uint64_t r = 0; r < rows; ++r) {
        e.weights.push_back(0.1 + 3.0 * unit(rng));
    }
    e.upper.assign(rows * rows, kNaN);
    for (std::uint64_t k = 0; k < rows; ++k) {
        for (std::uint64_t r = 0; r <= k; ++r) {
            e.upper[r + k * rows] = unit(rng) * 4.0 - 2.0;
        }
    }
    return e;
}

// Runs fn(i, j) for every ordered pair, i != j, of a few random matrices.
void forRandomPairs(bool wild, const std::function<void(const Csc&, const Dense&, const Extras&,
                                                        std::uint64_t, std::uint64_t)>& fn) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        const Csc m = randomCsc(9 + seed * 3, 24, seed * 7919, wild);
        const Dense d = densify(m);
        const Extras e = randomExtras(m.rows, seed);
        for (std::uint64_t i = 0; i < m.cols(); ++i) {
            for (std::uint64_t j = 0; j < m.cols(); ++j) {
                if (i != j) {
                    fn(m, d, e, i, j);
                }
            }
        }
    }
}

class KernelsMatchDenseReference : public ::testing::TestWithParam<bool> {};

TEST_P(KernelsMatchDenseReference, BitForBit) {
    using namespace rowmetric;
    forRandomPairs(GetParam(), [](const Csc& m, const Dense& d, const Extras& e, std::uint64_t i,
                                  std::uint64_t j) {
        const Reference ref{d, i, j};
        const double* v = m.values.data();
        const std::uint64_t* ri = m.rowIndex.data();
        const std::uint64_t* cs = m.colStart.data();
        SCOPED_TRACE(::testing::Message() << "columns " << i << "," << j << " rows " << m.rows);
        EXPECT_TRUE(sameBits(ref.euc(false), eucdist(v, ri, cs, i, j, false)));
        EXPECT_TRUE(sameBits(ref.euc(true), eucdist(v, ri, cs, i, j, true)));
        EXPECT_TRUE(
            sameBits(ref.seu(e.weights.data()), seudist(v, ri, cs, i, j, e.weights.data())));
        EXPECT_TRUE(sameBits(ref.cit(), citdist(v, ri, cs, i, j)));
        for (double p : {0.0, 0.5, 1.0, 2.0, 3.0, -1.0, kInf}) {
            EXPECT_TRUE(sameBits(ref.min(p), mindist(v, ri, cs, i, j, p))) << "p = " << p;
        }
        EXPECT_TRUE(sameBits(ref.che(), chedist(v, ri, cs, i, j)));
        EXPECT_TRUE(sameBits(ref.dot(), dotdist(v, ri, cs, i, j)));
        EXPECT_TRUE(sameBits(ref.ham(), hamdist(v, ri, cs, i, j, m.rows)));
        EXPECT_TRUE(sameBits(ref.jac(), jacdist(v, ri, cs, i, j)));
        EXPECT_TRUE(
            sameBits(ref.mah(e.upper.data()), mahdist(v, ri, cs, i, j, e.upper.data(), m.rows)));
    });
}

INSTANTIATE_TEST_SUITE_P(FiniteAndWild, KernelsMatchDenseReference, ::testing::Bool());

// Swapping the columns flips only the sign of every difference.
TEST(KernelSymmetry, SwappedColumnsGiveIdenticalBits) {
    using namespace rowmetric;
    forRandomPairs(true, [](const Csc& m, const Dense&, const Extras& e, std::uint64_t i,
                            std::uint64_t j) {
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
    forRandomPairs(
        false, [](const Csc& m, const Dense&, const Extras&, std::uint64_t i, std::uint64_t j) {
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
