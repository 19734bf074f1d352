// What a valid call returns: the condensed distances of every metric code,
// the result's shape, and how the arguments are read.
#include "module_call.hpp"

#include "entry.hpp"
#include "kernels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

using namespace entrytest;
using vornhost::ArrayPtr;
namespace api = matrix::detail::noninlined::vorn_array_api;

constexpr std::size_t kVars = 4;
constexpr std::size_t kObs = 5;

// Column-major 4 x 5 data with shared, disjoint and empty columns.
const std::vector<double> kData = {
    0.5,  0,   -1.0, 2.0,  //
    0,    0,   0,    0,    //
    0.5,  1.5, 0,    2.0,  //
    -3.0, 0,   0.25, 0,    //
    0.1,  0.2, 0.3,  0.4,  //
};
const std::vector<double> kWeights = {1.0, 0.5, 2.0, 0.25};
// Upper-triangular inverse factor, column-major.
const std::vector<double> kInvFactor = {
    1.0,  0,    0,   0,  //
    0.5,  2.0,  0,   0,  //
    -1.0, 0.25, 1.5, 0,  //
    0.3,  -0.2, 0.1, 0.8,
};

using PairKernel = std::function<double(const double*, const std::uint64_t*, const std::uint64_t*,
                                        std::uint64_t, std::uint64_t)>;

// The kernel's value for every pair, in condensed order.
std::vector<double> expectedDistances(const vornArray* x, const PairKernel& kernel) {
    const auto* values = static_cast<const double*>(vornGetRealData(x));
    std::vector<double> out;
    for (std::uint64_t i = 0; i < kObs; ++i) {
        for (std::uint64_t j = i + 1; j < kObs; ++j) {
            out.push_back(kernel(values, vornGetRowIndices(x), vornGetColumnStarts(x), i, j));
        }
    }
    return out;
}

// Bitwise equality, so NaN results compare as equal to NaN.
void expectSameBits(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t k = 0; k < actual.size(); ++k) {
        EXPECT_EQ(std::memcmp(&actual[k], &expected[k], sizeof(double)), 0)
            << "position " << k << ": " << actual[k] << " vs " << expected[k];
    }
}

class Results : public ::testing::Test {
protected:
    ArrayPtr x = sparseFromDense(kVars, kObs, kData);
    ArrayPtr weights = vornhost::makeDense(vornClassDouble, 1, kVars, kWeights);
    ArrayPtr invFactor = vornhost::makeDense(vornClassDouble, kVars, kVars, kInvFactor);
    ArrayPtr exponent = vornhost::makeScalar(3.0);

    std::vector<double> run(const std::string& code, const vornArray* param = nullptr) {
        ArrayPtr text = vornhost::makeText(code);
        std::vector<const vornArray*> inputs = {x.get(), text.get()};
        if (param != nullptr) {
            inputs.push_back(param);
        }
        const Outcome outcome = callModule(1, inputs);
        expectResult(outcome, kObs * (kObs - 1) / 2);
        return outcome.result ? resultValues(outcome) : std::vector<double>{};
    }
};

TEST_F(Results, EveryCodeGivesItsKernelsValues) {
    using namespace rowmetric;
    const double* w = kWeights.data();
    const double* u = kInvFactor.data();
    struct Case {
        const char* code;
        const vornArray* param;
        PairKernel kernel;
    };
    const Case cases[] = {
        {"euc", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return eucdist(v, r, c, i, j, false); }},
        {"sqe", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return eucdist(v, r, c, i, j, true); }},
        {"seu", weights.get(),
         [w](auto v, auto r, auto c, auto i, auto j) { return seudist(v, r, c, i, j, w); }},
        {"cit", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return citdist(v, r, c, i, j); }},
        {"min", exponent.get(),
         [](auto v, auto r, auto c, auto i, auto j) { return mindist(v, r, c, i, j, 3.0); }},
        {"cos", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return dotdist(v, r, c, i, j); }},
        {"cor", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return dotdist(v, r, c, i, j); }},
        {"spe", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return dotdist(v, r, c, i, j); }},
        {"ham", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return hamdist(v, r, c, i, j, kVars); }},
        {"jac", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return jacdist(v, r, c, i, j); }},
        {"che", nullptr,
         [](auto v, auto r, auto c, auto i, auto j) { return chedist(v, r, c, i, j); }},
        {"mah", invFactor.get(),
         [u](auto v, auto r, auto c, auto i, auto j) { return mahdist(v, r, c, i, j, u, kVars); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        expectSameBits(run(c.code, c.param), expectedDistances(x.get(), c.kernel));
    }
}

TEST_F(Results, CodesPickDifferentMetrics) {
    // Guards against a code falling through to another body.
    EXPECT_NE(run("euc"), run("sqe"));
    EXPECT_NE(run("euc"), run("cit"));
    EXPECT_NE(run("ham"), run("jac"));
    EXPECT_NE(run("cit"), run("che"));
}

TEST_F(Results, InnerProductCodesAreIdentical) {
    const std::vector<double> cos = run("cos");
    expectSameBits(run("cor"), cos);
    expectSameBits(run("spe"), cos);
}

TEST_F(Results, LongerTextSelectsByItsFirstThreeLetters) {
    expectSameBits(run("euclidean"), run("euc"));
    expectSameBits(run("minkowski", exponent.get()), run("min", exponent.get()));
}

TEST_F(Results, MinkowskiExponentOfAnyClass) {
    const std::vector<double> cube = run("min", exponent.get());
    ArrayPtr single = vornhost::makeDense(vornClassSingle, 1, 1, {3.0});
    expectSameBits(run("min", single.get()), cube);
    ArrayPtr int32 = vornhost::makeDense(vornClassInt32, 1, 1, {3.0});
    expectSameBits(run("min", int32.get()), cube);
}

TEST_F(Results, WorkedExampleOfTwoSingleEntryColumns) {
    // Column 0 holds 3 at row 2, column 1 holds 4 at row 5; six variables.
    std::vector<double> data(12, 0.0);
    data[2] = 3.0;
    data[6 + 5] = 4.0;
    x = sparseFromDense(6, 2, data);
    ArrayPtr ones = vornhost::makeDense(vornClassDouble, 6, 1, std::vector<double>(6, 1.0));
    std::vector<double> identity(36, 0.0);
    for (int k = 0; k < 6; ++k) identity[k + 6 * k] = 1.0;
    ArrayPtr eye = vornhost::makeDense(vornClassDouble, 6, 6, identity);
    ArrayPtr three = vornhost::makeScalar(3.0);

    auto single = [&](const char* code, const vornArray* param = nullptr) {
        ArrayPtr text = vornhost::makeText(code);
        std::vector<const vornArray*> inputs = {x.get(), text.get()};
        if (param) inputs.push_back(param);
        const Outcome outcome = callModule(1, inputs);
        expectResult(outcome, 1);
        return outcome.result ? resultValues(outcome).at(0) : -1.0;
    };
    EXPECT_EQ(single("euc"), 5.0);
    EXPECT_EQ(single("sqe"), 25.0);
    EXPECT_EQ(single("cit"), 7.0);
    EXPECT_EQ(single("che"), 4.0);
    EXPECT_DOUBLE_EQ(single("min", three.get()), std::cbrt(91.0));
    EXPECT_EQ(single("ham"), 2.0 / 6.0);
    EXPECT_EQ(single("jac"), 1.0);
    EXPECT_EQ(single("cos"), 1.0);
    EXPECT_EQ(single("seu", ones.get()), 5.0);
    EXPECT_EQ(single("mah", eye.get()), 5.0);
}

TEST_F(Results, FewerThanTwoObservationsGiveAnEmptyRow) {
    for (std::size_t n : {0u, 1u}) {
        x = emptySparse(3, n);
        ArrayPtr code = vornhost::makeText("euc");
        expectResult(callModule(1, {x.get(), code.get()}), 0);
    }
}

TEST_F(Results, PendingDimensionsOfTheDataMatrixAreCompleted) {
    // Read uncompleted, the first dimension is absurdly large: "ham" would
    // divide by it and "seu" would find its four weights too few.
    const std::vector<double> hamming = run("ham");
    const std::vector<double> weighted = run("seu", weights.get());
    vornhost::setDimensionsPending(x.get());
    expectSameBits(run("ham"), hamming);
    vornhost::setDimensionsPending(x.get());
    expectSameBits(run("seu", weights.get()), weighted);
}

TEST_F(Results, ComplexDataMatrixUsesItsRealPart) {
    const std::vector<double> expected = run("euc");
    vornhost::SparseLayout layout;
    layout.m = kVars;
    layout.n = kObs;
    const auto* starts = vornGetColumnStarts(x.get());
    const auto* rows = vornGetRowIndices(x.get());
    layout.colStart.assign(starts, starts + kObs + 1);
    layout.rowIndex.assign(rows, rows + starts[kObs]);
    const auto* values = static_cast<const double*>(vornGetRealData(x.get()));
    std::vector<double> real(values, values + starts[kObs]);
    std::vector<double> imag(real.size(), 7.0);
    x = vornhost::makeSparseComplex(layout, real, imag);
    expectSameBits(run("euc"), expected);
}

TEST_F(Results, ParameterWithExtendedClassResolvingToDouble) {
    const std::vector<double> expected = run("seu", weights.get());
    ArrayPtr extended = vornhost::makeExtendedDouble(1, kVars, kWeights);
    expectSameBits(run("seu", extended.get()), expected);
}

TEST_F(Results, FullyStoredSparseParameterReadsLikeDense) {
    const std::vector<double> expected = run("mah", invFactor.get());
    std::vector<double> filled = kInvFactor;
    for (double& v : filled) {
        if (v == 0.0) v = 9.0;  // below the diagonal: never read
    }
    const std::vector<double> sameResult =
        run("mah", vornhost::makeDense(vornClassDouble, kVars, kVars, filled).get());
    expectSameBits(sameResult, expected);
    ArrayPtr sparseFull = sparseFromDense(kVars, kVars, filled);
    expectSameBits(run("mah", sparseFull.get()), expected);
}

TEST(ApiVersion, ReportsReleaseAndArrayInterface) {
    std::int32_t release = 0;
    std::int32_t version = 0;
    huxfilerequiredapiversion(&release, &version);
    EXPECT_EQ(release, 0x4410c);
    EXPECT_EQ(version, 0x07300000);
}

}  // namespace
