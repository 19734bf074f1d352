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

// While armed, the next allocation of at least a page fails: with
// std::bad_alloc (mode 1) or with another exception (mode 2). Smaller ones,
// like TBB's bookkeeping, pass.
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
namespace api = matrix::detail::noninlined::vorn_array_api;
using vornhost::ArrayPtr;

constexpr double kMarker = -12345.0;

std::vector<double> randomColumns(std::size_t m, std::size_t n, double density, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> dense(m * n, 0.0);
    for (double& v : dense) {
        if (unit(rng) < density) v = std::floor(unit(rng) * 8.0) - 3.0;  // ties and zeros
    }
    return dense;
}

rowmetric_matrix matrixOf(const vornArray* x) {
    return {vornGetM(x), api::vornGetN(x), static_cast<const double*>(vornGetRealData(x)),
            vornGetRowIndices(x), vornGetColumnStarts(x)};
}

struct Reply {
    int status;
    std::string message;
    std::vector<double> out;  // the slice, then a marker that must survive
};

Reply callEntry(const rowmetric_matrix* x, const char* code, const rowmetric_param* param,
                std::uint64_t i0, std::uint64_t i1, unsigned threads = 0) {
    const std::uint64_t n = x != nullptr ? x->n : 0;
    const std::uint64_t count =
        i0 <= i1 && i1 <= n ? rowmetric_row_offset(i1, n) - rowmetric_row_offset(i0, n) : 0;
    Reply reply{-1, std::string(300, 'x'), std::vector<double>(count + 1, kMarker)};
    reply.status = rowmetric_pairs_v1(x, code, param, i0, i1, threads, reply.out.data(),
                                      reply.message.data(), reply.message.size());
    reply.message.resize(std::strlen(reply.message.c_str()));
    return reply;
}

// huxFunction's complaint about the same call: its text and identifier.
std::string hostMessage(const std::vector<const vornArray*>& inputs) {
    const Outcome outcome = callModule(1, inputs);
    EXPECT_TRUE(outcome.threw);
    return outcome.thrownText + " (" + outcome.thrownErrorId + ")";
}

class PairsEntry : public ::testing::Test {
protected:
    static constexpr std::size_t kVars = 24;
    static constexpr std::size_t kObs = 61;
    ArrayPtr x = sparseFromDense(kVars, kObs, randomColumns(kVars, kObs, 0.3, 7));
    rowmetric_matrix mx = matrixOf(x.get());
    std::vector<double> weights = std::vector<double>(kVars, 0.75);
    std::vector<double> factor = upperFactor();
    double exponent = 3.0;

    static std::vector<double> upperFactor() {
        std::vector<double> u(kVars * kVars, 0.0);
        for (std::size_t k = 0; k < kVars; ++k) {
            for (std::size_t r = 0; r <= k; ++r) u[r + k * kVars] = r == k ? 1.0 : 0.125 * r;
        }
        return u;
    }

    // The parameter a code reads, for the entry and as a host array.
    rowmetric_param paramFor(const std::string& code) const {
        if (code == "seu") return {weights.data(), 1, kVars};
        if (code == "mah") return {factor.data(), kVars, kVars};
        if (code == "min") return {&exponent, 1, 1};
        return {nullptr, 0, 0};
    }
    static ArrayPtr hostParam(const rowmetric_param& p) {
        if (p.data == nullptr) return nullptr;
        return vornhost::makeDense(vornClassDouble, p.rows, p.cols,
                                   std::vector<double>(p.data, p.data + p.rows * p.cols));
    }
};

TEST_F(PairsEntry, SlicesOfEveryCodeAreTheSameBitsAsHuxFunction) {
    std::mt19937_64 rng(11);
    for (const rowmetric_code& entry : rowmetric_codes) {
        SCOPED_TRACE(entry.code);
        const rowmetric_param param = paramFor(entry.code);
        const ArrayPtr text = vornhost::makeText(entry.code);
        const ArrayPtr host = hostParam(param);
        std::vector<const vornArray*> inputs{x.get(), text.get()};
        if (host) inputs.push_back(host.get());
        const std::vector<double> whole = resultValues(callModule(1, inputs));
        ASSERT_EQ(whole.size(), kObs * (kObs - 1) / 2);

        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges{
            {0, 0}, {kObs, kObs}, {30, 30}, {kObs - 1, kObs}, {kObs - 2, kObs}, {0, kObs}};
        for (int k = 0; k < 4; ++k) {
            const std::uint64_t a = rng() % (kObs + 1), b = rng() % (kObs + 1);
            ranges.emplace_back(std::min(a, b), std::max(a, b));
        }
        unsigned threads = 0;
        for (const auto& [i0, i1] : ranges) {
            const Reply reply = callEntry(&mx, entry.code, &param, i0, i1, threads++ % 3);
            ASSERT_EQ(reply.status, ROWMETRIC_OK) << reply.message;
            EXPECT_EQ(reply.message, "");
            const std::uint64_t from = rowmetric_row_offset(i0, kObs);
            const std::size_t count = reply.out.size() - 1;
            EXPECT_EQ(std::memcmp(reply.out.data(), whole.data() + from, count * sizeof(double)), 0)
                << "rows [" << i0 << ", " << i1 << ")";
            EXPECT_EQ(reply.out[count], kMarker) << "wrote past rows [" << i0 << ", " << i1 << ")";
        }
    }
}

// Each refusal huxFunction shares gives its status and, word for word, the
// text and identifier huxFunction's exception carries; out stays untouched.
TEST_F(PairsEntry, RefusalsMatchHuxFunctionsErrors) {
    const ArrayPtr seu = vornhost::makeText("seu");
    const ArrayPtr min = vornhost::makeText("min");
    const ArrayPtr zzz = vornhost::makeText("zzz");
    const ArrayPtr twoWeights = vornhost::makeDense(vornClassDouble, 1, 2, {1, 1});
    const ArrayPtr zero = vornhost::makeScalar(0.0);
    const double twoValues[] = {1, 1};
    const double zeroExponent = 0.0;
    const rowmetric_param shortWeights{twoValues, 1, 2};
    const rowmetric_param badExponent{&zeroExponent, 1, 1};
    const rowmetric_param noData{nullptr, 1, kVars};
    const struct {
        const char* code;
        const rowmetric_param* param;
        int status;
        std::vector<const vornArray*> hostCall;
    } cases[] = {
        {"zzz", nullptr, ROWMETRIC_UNKNOWN_METRIC, {x.get(), zzz.get()}},
        {"seu", &noData, ROWMETRIC_MISSING_PARAMETER, {x.get(), seu.get()}},
        {"seu",
         &shortWeights,
         ROWMETRIC_BAD_PARAMETER_SIZE,
         {x.get(), seu.get(), twoWeights.get()}},
        {"min", &badExponent, ROWMETRIC_BAD_EXPONENT, {x.get(), min.get(), zero.get()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const Reply reply = callEntry(&mx, c.code, c.param, 0, kObs);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.message, hostMessage(c.hostCall));
        EXPECT_EQ(reply.out.front(), kMarker);
    }
}

TEST_F(PairsEntry, RowRangeOutsideTheObservations) {
    const Reply reversed = callEntry(&mx, "euc", nullptr, 3, 2);
    EXPECT_EQ(reversed.status, ROWMETRIC_BAD_ROW_RANGE);
    EXPECT_EQ(reversed.message,
              "The row range must lie within the observations: first <= end <= N. It is [3, 2) "
              "with N = 61. (" +
                  pinnedIdentifier<pd::BadRowRange>() + ")");
    EXPECT_EQ(callEntry(&mx, "euc", nullptr, 0, kObs + 1).status, ROWMETRIC_BAD_ROW_RANGE);
}

// The size bound, on 2^48-odd pairs of empty columns: the column starts are
// zeroed pages that are never touched.
TEST(PairsEntryBound, TooManyPairsIsOutputTooLarge) {
    const std::uint64_t n = 23726567;
    const std::unique_ptr<std::uint64_t, decltype(&std::free)> colStart(
        static_cast<std::uint64_t*>(std::calloc(n + 1, sizeof(std::uint64_t))), &std::free);
    ASSERT_TRUE(colStart);
    const rowmetric_matrix x{2, n, nullptr, nullptr, colStart.get()};
    char message[200];
    EXPECT_EQ(rowmetric_pairs_v1(&x, "euc", nullptr, 0, 0, 0, nullptr, message, sizeof message),
              ROWMETRIC_OUTPUT_TOO_LARGE);
    EXPECT_EQ(std::string(message),
              "There are too many pairs of observations for the result to be created. (" +
                  pinnedIdentifier<pd::OutputTooLarge>() + ")");
}

TEST_F(PairsEntry, NullPointersWhereDataIsNeeded) {
    const Reply noMatrix = callEntry(nullptr, "euc", nullptr, 0, 0);
    EXPECT_EQ(noMatrix.status, ROWMETRIC_BAD_ARGUMENT);
    EXPECT_EQ(noMatrix.message, "x is a null pointer where the call needs data.");
    EXPECT_EQ(rowmetric_pairs_v1(&mx, "euc", nullptr, 0, 2, 0, nullptr, nullptr, 0),
              ROWMETRIC_BAD_ARGUMENT);
    // No pairs to write: out is not needed.
    EXPECT_EQ(rowmetric_pairs_v1(&mx, "euc", nullptr, kObs - 1, kObs, 0, nullptr, nullptr, 0),
              ROWMETRIC_OK);
}

TEST_F(PairsEntry, MessageIsCutToTheBuffer) {
    char message[8];
    std::memset(message, 'x', sizeof message);
    EXPECT_EQ(rowmetric_pairs_v1(nullptr, "euc", nullptr, 0, 0, 0, nullptr, message, 5),
              ROWMETRIC_BAD_ARGUMENT);
    EXPECT_EQ(std::string(message), "x is");
    EXPECT_EQ(message[5], 'x');
}

// Failures inside the computation come back as statuses, not exceptions. The
// matrix has enough rows that measuring it allocates a page.
TEST(PairsEntryFailures, AllocationFailuresBecomeStatuses) {
    const ArrayPtr x = sparseFromDense(1000, 6, randomColumns(1000, 6, 0.5, 3));
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
                ASSERT_LE(a, b) << "n " << n << ", part " << k << " of " << parts;
                const double pairs =
                    static_cast<double>(rowmetric_row_offset(b, n) - rowmetric_row_offset(a, n));
                EXPECT_LT(std::fabs(pairs - share), static_cast<double>(n))
                    << "n " << n << ", part " << k << " of " << parts;
            }
        }
    }
}

}  // namespace
