// Dense arrays of every numeric class: conversion from doubles (rounding,
// saturation, NaN) and reading the first element back as a double.
#include "vornhost/array_factory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using matrix::detail::noninlined::vorn_array_api::vornGetScalar;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::vector<T> stored(vornClassID classId, const std::vector<double>& input) {
    auto a = vornhost::makeDense(classId, 1, input.size(), input);
    EXPECT_EQ(vornGetClassID(a.get()), classId);
    const T* data = static_cast<const T*>(vornGetRealData(a.get()));
    return std::vector<T>(data, data + input.size());
}

TEST(ClassConversion, SignedIntegersRoundToNearestAndSaturate) {
    EXPECT_EQ(stored<std::int8_t>(vornClassInt8,
                                  {127.4, 127.5, -128.6, 300, -1e300, kNaN, 2.5, -2.5, 0.49}),
              (std::vector<std::int8_t>{127, 127, -128, 127, -128, 0, 3, -3, 0}));
    EXPECT_EQ(stored<std::int16_t>(vornClassInt16, {32767.6, -40000, kInf, -kInf}),
              (std::vector<std::int16_t>{32767, -32768, 32767, -32768}));
    EXPECT_EQ(stored<std::int32_t>(vornClassInt32, {2147483647.4, 2147483648.0, -2147483649.0}),
              (std::vector<std::int32_t>{2147483647, 2147483647, -2147483647 - 1}));
    EXPECT_EQ(
        stored<std::int64_t>(vornClassInt64, {9223372036854775808.0, -9223372036854775808.0, -1e19,
                                              4611686018427387904.0, kNaN}),
        (std::vector<std::int64_t>{
            std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
            std::numeric_limits<std::int64_t>::min(), 4611686018427387904LL, 0}));
}

TEST(ClassConversion, UnsignedIntegersClampNegativesToZero) {
    EXPECT_EQ(stored<std::uint8_t>(vornClassUint8, {-0.4, -1, 255.5, 0.5, kInf, kNaN}),
              (std::vector<std::uint8_t>{0, 0, 255, 1, 255, 0}));
    EXPECT_EQ(stored<std::uint16_t>(vornClassUint16, {65535.4, 65536, -3}),
              (std::vector<std::uint16_t>{65535, 65535, 0}));
    EXPECT_EQ(stored<std::uint32_t>(vornClassUint32, {4294967295.0, 5e9, -0.6}),
              (std::vector<std::uint32_t>{4294967295u, 4294967295u, 0}));
    EXPECT_EQ(stored<std::uint64_t>(vornClassUint64,
                                    {18446744073709551616.0, 18446744073709549568.0, -5}),
              (std::vector<std::uint64_t>{std::numeric_limits<std::uint64_t>::max(),
                                          18446744073709549568ULL, 0}));
}

TEST(ClassConversion, FloatingLogicalAndCharClasses) {
    EXPECT_EQ(stored<float>(vornClassSingle, {0.1, 1e40, -2.5}),
              (std::vector<float>{0.1f, std::numeric_limits<float>::infinity(), -2.5f}));
    EXPECT_EQ(stored<std::uint8_t>(vornClassLogical, {0, -0.0, 2, -0.5, kNaN, kInf}),
              (std::vector<std::uint8_t>{0, 0, 1, 1, 0, 1}));
    EXPECT_EQ(stored<char>(vornClassChar, {97, 98.2}), (std::vector<char>{'a', 'b'}));
    const auto d = stored<double>(vornClassDouble, {kNaN, -0.0, 1e-310});
    EXPECT_TRUE(std::isnan(d[0]));
    EXPECT_TRUE(std::signbit(d[1]));
    EXPECT_EQ(d[2], 1e-310);
}

TEST(ClassConversion, MisfittingInputIsRefused) {
    EXPECT_THROW(vornhost::makeDense(vornClassDouble, 2, 2, {1, 2, 3}), std::invalid_argument);
    EXPECT_THROW(vornhost::makeDense(vornClassCell, 1, 1, {1}), std::invalid_argument);
    EXPECT_THROW(
        vornhost::makeDense(vornClassDouble, std::numeric_limits<std::size_t>::max(), 2, {}),
        std::invalid_argument);
    EXPECT_THROW(vornhost::makeEmpty(static_cast<vornClassID>(17)), std::invalid_argument);
}

TEST(ScalarValue, FirstElementOfEachClassAsDouble) {
    EXPECT_EQ(vornGetScalar(vornhost::makeScalar(2.75).get()), 2.75);
    EXPECT_EQ(vornGetScalar(vornhost::makeDense(vornClassInt8, 1, 2, {-5, 9}).get()), -5.0);
    EXPECT_EQ(vornGetScalar(vornhost::makeDense(vornClassUint64, 1, 1, {1e19}).get()), 1e19);
    EXPECT_EQ(vornGetScalar(vornhost::makeDense(vornClassSingle, 1, 1, {0.1}).get()),
              static_cast<double>(0.1f));
    EXPECT_EQ(vornGetScalar(vornhost::makeDense(vornClassLogical, 1, 1, {7}).get()), 1.0);
    EXPECT_EQ(vornGetScalar(vornhost::makeText("x").get()), 120.0);
    EXPECT_EQ(vornGetScalar(vornhost::makeEmpty(vornClassDouble).get()), 0.0);
    EXPECT_EQ(vornGetScalar(vornhost::makeEmpty(vornClassCell).get()), 0.0);
    EXPECT_EQ(vornGetScalar(vornhost::makeExtendedDouble(1, 1, {-3.5}).get()), -3.5);
}

TEST(ScalarValue, SparseReadsElementZeroZeroOnly) {
    // Column 0 stores rows 1 and 2 only: (0, 0) is an implicit zero.
    auto noTopLeft = vornhost::makeSparseDouble({3, 2, {0, 2, 3}, {1, 2, 0}}, {8, 9, 10});
    EXPECT_EQ(vornGetScalar(noTopLeft.get()), 0.0);
    auto topLeft = vornhost::makeSparseDouble({3, 2, {0, 1, 1}, {0}}, {4.25});
    EXPECT_EQ(vornGetScalar(topLeft.get()), 4.25);
    // An empty first column with a stored row 0 in the next column is still (0, 0) = 0.
    auto laterColumn = vornhost::makeSparseDouble({3, 2, {0, 0, 1}, {0}}, {6});
    EXPECT_EQ(vornGetScalar(laterColumn.get()), 0.0);
    auto logical = vornhost::makeSparseLogical({2, 1, {0, 1}, {0}}, {true});
    EXPECT_EQ(vornGetScalar(logical.get()), 1.0);
}

}  // namespace
