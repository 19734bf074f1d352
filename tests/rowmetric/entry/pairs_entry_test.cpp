// The pair-block entry rowmetric_pairs_v1: every code's row slices against
// huxFunction's result bit for bit, each status with its message, and the
// public header's row offset and split.
#include "module_call.hpp"

#include "rowmetric/rowmetric.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// While armed, the next allocation of a page or more fails: with
// std::bad_alloc (1) or another exception (2). TBB's small ones pass.
std::atomic<int> failingAllocation{0};

}  // namespace

void* operator new(std::size_t size) {
    if (size >= 4096 && failingAllocation.load() != 0) {
        if (failingAllocation.exchange(0) == 1) throw std::bad_alloc();
        throw std::runtime_error("injected failure");
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace entrytest;
namespace pd = qualbox::pdisthux;
using vornhost::ArrayPtr;

constexpr double kMarker = -12345.0;

// m x n with about `density` of it stored: small integers, so ties and zeros.
ArrayPtr randomSparse(std::size_t m, std::size_t n, double density, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> dense(m * n, 0.0);
    for (double& v : dense) {
        if (unit(rng) < density) v = std::floor(unit(rng) * 8.0) - 3.0;
    }
    return sparseFromDense(m, n, dense);
}

rowmetric_matrix matrixOf(const vornArray* x) {
    return {vornGetM(x), matrix::detail::noninlined::vorn_array_api::vornGetN(x),
            static_cast<const double*>(vornGetRealData(x)), vornGetRowIndices(x),
            vornGetColumnStarts(x)};
}

struct Reply {
    int status;
    std::string message;
    std::vector<double> out;  // the slice, then a marker that must survive
};

Reply callEntry(const rowmetric_matrix* x, const char* code, const rowmetric_param* param,
                std::uint64_t i0, std::uint64_t i1, unsigned threads = 0) {
    const std::uint64_t n = x != nullptr ? x->n : 0;
    const bool inRange = i0 <= i1 && i1 <= n;
    const std::uint64_t count =
        inRange ? rowmetric_row_offset(i1, n) - rowmetric_row_offset(i0, n) : 0;
    Reply r{-1, std::string(300, 'x'), std::vector<double>(count + 1, kMarker)};
    r.status = rowmetric_pairs_v1(x, code, param, i0, i1, threads, r.out.data(), r.message.data(),
                                  r.message.size());
    r.message.resize(std::strlen(r.message.c_str()));
    return r;
}

class PairsEntry : public ::testing::Test {
protected:
    static constexpr std::size_t kVars = 24;
    static constexpr std::size_t kObs = 61;
    ArrayPtr x = randomSparse(kVars, kObs, 0.3, 7);
    rowmetric_matrix mx = matrixOf(x.get());
    std::vector<double> weights = std::vector<double>(kVars, 0.75);
    std::vector<double> factor = std::vector<double>(kVars * kVars, 0.125);  // U's upper triangle
    double exponent = 3.0;

    rowmetric_param paramFor(const std::string& code) const {
        if (code == "seu") return {weights.data(), 1, kVars};
        if (code == "mah") return {factor.data(), kVars, kVars};
        if (code == "min") return {&exponent, 1, 1};
        return {nullptr, 0, 0};
    }

    // huxFunction's result, or its error's "<text> (<identifier>)", for the
    // same code and parameter.
    Outcome hostCall(const std::string& code, const rowmetric_param& p) const {
        const ArrayPtr text = vornhost::makeText(code);
        std::vector<const vornArray*> inputs{x.get(), text.get()};
        ArrayPtr param;
        if (p.data != nullptr) {
            param = vornhost::makeDense(vornClassDouble, p.rows, p.cols,
                                        std::vector<double>(p.data, p.data + p.rows * p.cols));
            inputs.push_back(param.get());
        }
        return callModule(1, inputs);
    }
};

TEST_F(PairsEntry, SlicesOfEveryCodeAreTheSameBitsAsHuxFunction) {
    std::mt19937_64 rng(11);
    for (const rowmetric_code& entry : rowmetric_codes) {
        SCOPED_TRACE(entry.code);
        const rowmetric_param param = paramFor(entry.code);
        const std::vector<double> whole = resultValues(hostCall(entry.code, param));
        ASSERT_EQ(whole.size(), kObs * (kObs - 1) / 2);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges{
            {0, 0}, {kObs, kObs}, {30, 30}, {kObs - 1, kObs}, {kObs - 2, kObs}, {0, kObs}};
        for (int k = 0; k < 4; ++k) {
            const std::uint64_t a = rng() % (kObs + 1), b = rng() % (kObs + 1);
            ranges.emplace_back(std::min(a, b), std::max(a, b));
        }
        unsigned threads = 0;
        for (const auto& [i0, i1] : ranges) {
            const Reply r = callEntry(&mx, entry.code, &param, i0, i1, threads++ % 3);
            ASSERT_EQ(r.status, ROWMETRIC_OK) << r.message;
            EXPECT_EQ(r.message, "");
            const std::size_t count = r.out.size() - 1;
            EXPECT_EQ(std::memcmp(r.out.data(), whole.data() + rowmetric_row_offset(i0, kObs),
                                  count * sizeof(double)),
                      0)
                << "rows [" << i0 << ", " << i1 << ")";
            EXPECT_EQ(r.out[count], kMarker) << "wrote past rows [" << i0 << ", " << i1 << ")";
        }
    }
}

// Each refusal huxFunction shares gives its status and, word for word, the
// text and identifier of huxFunction's error; out stays untouched.
TEST_F(PairsEntry, RefusalsCarryHuxFunctionsMessages) {
    const double two[] = {1, 1};
    const double zero = 0.0;
    const struct {
        const char* code;
        rowmetric_param param;
        int status;
    } cases[] = {
        {"zzz", {nullptr, 0, 0}, ROWMETRIC_UNKNOWN_METRIC},
        {"seu", {nullptr, 1, kVars}, ROWMETRIC_MISSING_PARAMETER},  // no data: absent
        {"seu", {two, 1, 2}, ROWMETRIC_BAD_PARAMETER_SIZE},
        {"min", {&zero, 1, 1}, ROWMETRIC_BAD_EXPONENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const Reply r = callEntry(&mx, c.code, &c.param, 0, kObs);
        const Outcome host = hostCall(c.code, c.param);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.message, host.thrownText + " (" + host.thrownErrorId + ")");
        EXPECT_EQ(r.out.front(), kMarker);
    }
}

// The statuses of the entry's own: a row range outside the observations, a
// null pointer where data is needed, and a message cut to its buffer.
TEST_F(PairsEntry, RowRangeAndPointers) {
    const Reply reversed = callEntry(&mx, "euc", nullptr, 3, 2);
    EXPECT_EQ(reversed.status, ROWMETRIC_BAD_ROW_RANGE);
    EXPECT_EQ(reversed.message,
              "The row range must lie within the observations: first <= end <= N. It is [3, 2) "
              "with N = 61. (" +
                  pinnedIdentifier<pd::BadRowRange>() + ")");
    EXPECT_EQ(callEntry(&mx, "euc", nullptr, 0, kObs + 1).status, ROWMETRIC_BAD_ROW_RANGE);

    EXPECT_EQ(callEntry(nullptr, "euc", nullptr, 0, 0).message,
              "x is a null pointer where the call needs data.");
    EXPECT_EQ(rowmetric_pairs_v1(&mx, "euc", nullptr, 0, 2, 0, nullptr, nullptr, 0),
              ROWMETRIC_BAD_ARGUMENT);
    // No pairs to write: out is not needed.
    EXPECT_EQ(rowmetric_pairs_v1(&mx, "euc", nullptr, kObs - 1, kObs, 0, nullptr, nullptr, 0),
              ROWMETRIC_OK);

    char cut[8] = "xxxxxxx";
    EXPECT_EQ(rowmetric_pairs_v1(nullptr, "euc", nullptr, 0, 0, 0, nullptr, cut, 5),
              ROWMETRIC_BAD_ARGUMENT);
    EXPECT_EQ(std::string(cut), "x is");
    EXPECT_EQ(cut[5], 'x');
}

// 2^48-odd pairs of empty columns, whose starts are zeroed pages never touched.
TEST(PairsEntryBound, TooManyPairsIsOutputTooLarge) {
    const std::uint64_t n = 23726567;
    const std::unique_ptr<std::uint64_t, decltype(&std::free)> colStart(
        static_cast<std::uint64_t*>(std::calloc(n + 1, sizeof(std::uint64_t))), &std::free);
    ASSERT_TRUE(colStart);
    const rowmetric_matrix x{2, n, nullptr, nullptr, colStart.get()};
    const Reply r = callEntry(&x, "euc", nullptr, 0, 0);
    EXPECT_EQ(r.status, ROWMETRIC_OUTPUT_TOO_LARGE);
    EXPECT_EQ(r.message,
              "There are too many pairs of observations for the result to be created. (" +
                  pinnedIdentifier<pd::OutputTooLarge>() + ")");
}

// Failures inside the computation come back as statuses, not exceptions, in
// the calling thread's arena and in one of the entry's own. Measuring 1000
// rows allocates a page.
TEST(PairsEntryFailures, AllocationFailuresBecomeStatuses) {
    const ArrayPtr x = randomSparse(1000, 6, 0.5, 3);
    const rowmetric_matrix mx = matrixOf(x.get());
    for (const unsigned threads : {0u, 1u}) {
        failingAllocation = 1;
        const Reply oom = callEntry(&mx, "euc", nullptr, 0, 6, threads);
        EXPECT_EQ(oom.status, ROWMETRIC_OUT_OF_MEMORY);
        EXPECT_EQ(oom.message, "The module ran out of working memory.");
        failingAllocation = 2;
        const Reply failed = callEntry(&mx, "euc", nullptr, 0, 6, threads);
        EXPECT_EQ(failed.status, ROWMETRIC_FAILED);
        EXPECT_EQ(failed.message, "The computation failed: injected failure");
        EXPECT_EQ(failingAllocation.load(), 0) << "no allocation of a page was made";
    }
}

// Offsets follow the condensed order; the split's parts cover [0, n) in
// order, each within one row's pairs (fewer than n) of an equal share.
TEST(PublicHeader, RowOffsetAndSplit) {
    EXPECT_EQ(rowmetric_row_offset(2, 4), 5u);
    EXPECT_EQ(rowmetric_row_offset(4, 4), 6u);
    EXPECT_EQ(rowmetric_split_row(0, 1, 3), 0u);
    for (const std::uint64_t n : {1u, 2u, 7u, 100u, 1001u}) {
        for (const std::uint64_t parts : {1u, 2u, 3u, 8u, 64u, 2000u}) {
            const double share = static_cast<double>(rowmetric_row_offset(n, n)) / parts;
            EXPECT_EQ(rowmetric_split_row(n, 0, parts), 0u);
            EXPECT_EQ(rowmetric_split_row(n, parts, parts), n);
            for (std::uint64_t k = 0; k < parts; ++k) {
                const std::uint64_t a = rowmetric_split_row(n, k, parts);
                const std::uint64_t b = rowmetric_split_row(n, k + 1, parts);
                ASSERT_LE(a, b) << n << " rows, part " << k << " of " << parts;
                const double pairs =
                    static_cast<double>(rowmetric_row_offset(b, n) - rowmetric_row_offset(a, n));
                EXPECT_LT(std::fabs(pairs - share), static_cast<double>(n))
                    << n << " rows, part " << k << " of " << parts;
            }
        }
    }
}

}  // namespace
