// The bound on the result's size: N(N-1)/2 must stay below 2^48 - 1, decided
// without the product wrapping and before anything is allocated.
#include "module_call.hpp"

#include "pair_count.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace entrytest;
namespace pd = qualbox::pdisthux;
using rowmetric::boundedPairCount;
using vornhost::ArrayPtr;

constexpr std::uint64_t kLargestN = 23726566;  // P = 281474955212895

TEST(PairCount, SmallCounts) {
    EXPECT_EQ(boundedPairCount(0), 0u);
    EXPECT_EQ(boundedPairCount(1), 0u);
    EXPECT_EQ(boundedPairCount(2), 1u);
    EXPECT_EQ(boundedPairCount(4), 6u);
}

TEST(PairCount, BoundIsExclusiveAtTwoToTheFortyEightMinusOne) {
    EXPECT_EQ(boundedPairCount(kLargestN), 281474955212895u);
    EXPECT_FALSE(boundedPairCount(kLargestN + 1).has_value());  // P = 281474978939461
}

TEST(PairCount, ProductThatWouldWrapIsAboveTheBound) {
    // 2^32 + 1: N(N-1) = 2^64 + 2^32 wraps to 2^32, which would pass.
    EXPECT_FALSE(boundedPairCount(4294967297u).has_value());
    EXPECT_FALSE(boundedPairCount(4294967296u).has_value());
    EXPECT_FALSE(boundedPairCount(std::numeric_limits<std::uint64_t>::max()).has_value());
    EXPECT_FALSE(boundedPairCount(std::uint64_t{1} << 63).has_value());
}

// The module's checks around the bound, on matrices with N columns and no
// entries (N + 1 column starts, about 190 MB); each test builds its own so
// the memory goes with the test's process.
TEST(SizeBound, LargestPassingCountReachesTheLaterChecks) {
    ArrayPtr x = emptySparse(2, kLargestN);
    ArrayPtr unknown = vornhost::makeText("zzz");
    expectFailure<pd::UnknownMetric>(callModule(1, {x.get(), unknown.get()}));
    ArrayPtr seu = vornhost::makeText("seu");
    expectFailure<pd::MissingParameter>(callModule(1, {x.get(), seu.get()}));
}

TEST(SizeBound, OneMoreObservationIsTooLarge) {
    ArrayPtr x = emptySparse(2, kLargestN + 1);
    ArrayPtr euc = vornhost::makeText("euc");
    expectFailure<pd::OutputTooLarge>(callModule(1, {x.get(), euc.get()}));
    // Before the unrecognised code and the missing parameter.
    ArrayPtr unknown = vornhost::makeText("zzz");
    expectFailure<pd::OutputTooLarge>(callModule(1, {x.get(), unknown.get()}));
    ArrayPtr mah = vornhost::makeText("mah");
    expectFailure<pd::OutputTooLarge>(callModule(1, {x.get(), mah.get()}));
    // After the class of the third argument.
    ArrayPtr single = vornhost::makeDense(vornClassSingle, 1, 1, {1});
    expectFailure<pd::MixedInputTypes>(callModule(1, {x.get(), euc.get(), single.get()}));
}

}  // namespace
