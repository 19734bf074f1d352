// The parallel pair loop: condensed placement, every position written once,
// identical bits at any thread count, and exceptions passed back to the caller.
#include "sparse_matrices.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

using namespace rmtest;
using namespace rowmetric;

// A NaN with a payload no kernel produces, to spot positions never written.
double sentinel() {
    const std::uint64_t bits = 0x7ff4dead0000beefULL;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool isSentinel(double d) {
    const double s = sentinel();
    return std::memcmp(&d, &s, sizeof d) == 0;
}

std::vector<double> runBody(const std::function<void(double*)>& run, std::uint64_t n) {
    std::vector<double> out(n * (n - 1) / 2, sentinel());
    run(out.data());
    return out;
}

struct LoopData {
    Csc m = randomCsc(40, 300, 0.3, 2024, Values::finite);
    std::vector<double> weights = std::vector<double>(40, 0.5);
    std::vector<double> upper = randomUpperFactor(40, 7);
};

// Runs one body over the data, at thread limits 1, 2 and 8 and twice at
// each, and checks every run against its kernel called one pair at a time.
template <class Body>
void checkBody(Body body) {
    const std::uint64_t n = body.n;
    std::vector<double> expected(n * (n - 1) / 2);
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = i + 1; j < n; ++j) {
            expected[condensedPosition(i, j, n)] = body.distance(i, j);
        }
    }
    for (int threads : {1, 2, 8, 1, 2, 8}) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
        const std::vector<double> out = runBody(
            [&](double* o) {
                body.out = o;
                runPairLoop(body);
            },
            n);
        ASSERT_EQ(out.size(), expected.size());
        for (std::size_t k = 0; k < out.size(); ++k) {
            ASSERT_FALSE(isSentinel(out[k])) << "position " << k << " not written";
            ASSERT_TRUE(sameBits(expected[k], out[k]))
                << "position " << k << ", " << threads << " threads";
        }
    }
}

TEST(PairLoop, AllBodiesMatchSerialKernelsAtAnyThreadCount) {
    const LoopData d;
    for (const BodyEntry& entry : kBodies) {
        withBody(
            entry.kind, inputsFor(entry.kind, d.m, 1.5, d.weights, d.upper), [&](const auto& body) {
                EXPECT_EQ(decltype(body.call)::kKind, entry.kind) << "withBody built another body";
                checkBody(body);
            });
    }
}

// Column c holds 2^c at row 0, so every pair of four has its own city-block
// distance 2^j - 2^i and the output shows which pair went where.
TEST(PairLoop, CondensedPlacement) {
    const Csc m = fromColumns(1, {{{0, 1.0}}, {{0, 2.0}}, {{0, 4.0}}, {{0, 8.0}}});
    const std::vector<double> four = runBody(
        [&](double* o) {
            runPairLoop(CitBody{4, o, m.values.data(), m.rowIndex.data(), m.colStart.data(), {}});
        },
        4);
    EXPECT_EQ(four, (std::vector<double>{1.0, 3.0, 7.0, 2.0, 6.0,
                                         4.0}));  // (0,1) (0,2) (0,3) (1,2) (1,3) (2,3)
    EXPECT_EQ(condensedPosition(2, 3, 4), 5u);

    const std::vector<double> two = runBody(
        [&](double* o) {
            runPairLoop(CitBody{2, o, m.values.data(), m.rowIndex.data(), m.colStart.data(), {}});
        },
        2);
    EXPECT_EQ(two, std::vector<double>{1.0});

    double single = sentinel();
    runPairLoop(CitBody{1, &single, m.values.data(), m.rowIndex.data(), m.colStart.data(), {}});
    EXPECT_TRUE(isSentinel(single));
}

// A stand-in body: counts the calls per observation, optionally throwing at one.
struct RecordingBody {
    std::uint64_t n;
    std::atomic<int>* calls;
    std::uint64_t throwAt;
    std::uint64_t rowLimit = n;
    void operator()(std::uint64_t i) const {
        calls[i].fetch_add(1);
        if (i == throwAt) {
            throw std::bad_alloc();
        }
    }
};

TEST(PairLoop, EachObservationRunsOnceAndNoneForEmptyInput) {
    const std::uint64_t n = 1000;
    const auto calls = std::make_unique<std::atomic<int>[]>(n);
    runPairLoop(RecordingBody{0, calls.get(), n});
    for (std::uint64_t i = 0; i < n; ++i) {
        ASSERT_EQ(calls[i].load(), 0);
    }
    runPairLoop(RecordingBody{n, calls.get(), n});
    for (std::uint64_t i = 0; i < n; ++i) {
        ASSERT_EQ(calls[i].load(), 1) << "observation " << i;
    }
}

TEST(PairLoop, ExceptionFromABodyLeavesTheLoop) {
    const std::uint64_t n = 500;
    for (std::uint64_t throwAt : {std::uint64_t{0}, std::uint64_t{250}, n - 1}) {
        const auto calls = std::make_unique<std::atomic<int>[]>(n);
        EXPECT_THROW(runPairLoop(RecordingBody{n, calls.get(), throwAt}), std::bad_alloc);
        EXPECT_EQ(calls[throwAt].load(), 1);
    }
    // The cancelled context was the failed call's own: the next loop runs whole.
    const auto calls = std::make_unique<std::atomic<int>[]>(n);
    runPairLoop(RecordingBody{n, calls.get(), n});
    for (std::uint64_t i = 0; i < n; ++i) {
        ASSERT_EQ(calls[i].load(), 1);
    }
}

}  // namespace
