// Every fast path against the plain per-pair loop, bit for bit, on awkward
// data, at 1, 2 and 8 threads, for all rows and for slices of them;
// choosePath's decisions on characteristic shapes; and the path runPairs
// runs is the one choosePath picked for the whole matrix.
#include "run_pairs.hpp"
#include "sparse_matrices.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using rmtest::Csc;
using rmtest::randomCsc;
using rmtest::Values;
namespace rm = rowmetric;
using rm::BodyKind;
using rm::MatrixShape;
using rm::Path;

constexpr int kThreadCounts[] = {1, 2, 8};

std::uint64_t pairCount(std::uint64_t n) { return n < 2 ? 0 : n * (n - 1) / 2; }

// A matrix with the parameters every body may read.
struct Data {
    Csc m;
    std::vector<double> weights;
    std::vector<double> upper;
    double exponent = 0.0;

    rm::PairInputs inputsFor(BodyKind kind) const {
        return rmtest::inputsFor(kind, m, exponent, weights, upper);
    }
};

// Zero weight at row 0: 0·inf terms become NaN on every path alike.
Data withParameters(Csc m, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(-0.5, 2.0);
    std::vector<double> w(m.rows);
    for (double& x : w) {
        x = unit(rng);
    }
    if (!w.empty()) {
        w[0] = 0.0;
    }
    const std::uint64_t rows = m.rows;
    return Data{std::move(m), std::move(w), rmtest::randomUpperFactor(rows, seed), 0.0};
}

// Runs `run` on the body with a fresh output pre-filled with a marker, so a
// pair left unwritten shows up as a difference.
template <class Body, class Run>
std::vector<double> evaluate(Body body, const Run& run) {
    std::vector<double> out(pairCount(body.n) + 1, -12345.0);
    body.out = out.data();
    run(body);
    return out;
}

long firstDifference(const std::vector<double>& a, const std::vector<double>& b) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::memcmp(&a[k], &b[k], sizeof(double)) != 0) {
            return static_cast<long>(k);
        }
    }
    return -1;
}

// Takes (and clears) how often each path ran since the last call.
std::vector<std::uint64_t> takePathRuns() {
    std::vector<std::uint64_t> runs;
    for (std::size_t p = 0; p < rm::kPathCount; ++p) {
        runs.push_back(rm::pathRuns(static_cast<Path>(p)).exchange(0));
    }
    return runs;
}

// The plain loop at one thread: the bits every path must give.
template <class Body>
std::vector<double> reference(const Body& body) {
    tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
    return evaluate(body, [](const Body& b) { rm::runPairLoop(b); });
}

// `run` must give the reference's bits at every thread count.
template <class Body, class Run>
void expectSameAsReference(const Body& body, const std::vector<double>& reference,
                           const std::string& what, const Run& run) {
    for (int threads : kThreadCounts) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
        const std::vector<double> fast = evaluate(body, run);
        const long at = firstDifference(reference, fast);
        EXPECT_EQ(at, -1) << what << ", " << threads << " threads: pair " << at << " is "
                          << fast[at < 0 ? 0 : at] << ", the kernel gives "
                          << reference[at < 0 ? 0 : at];
    }
}

// The plain loop at one thread is the reference. Every fast path the body's
// metric may take and that can run on the matrix (forced, whether chosen or
// not), and runPairs itself, must match it at every thread count; runPairs
// must run exactly the one path choosePath picks. Returns the reference.
template <class Body>
std::vector<double> expectEveryPathSameBits(const Body& body, const std::string& what) {
    const std::vector<double> expected = reference(body);
    constexpr BodyKind kind = decltype(body.call)::kKind;
    const MatrixShape shape = rm::measureMatrix(body.rowIndex, body.colStart, body.n);
    const Path chosen = rm::choosePath(kind, shape);
    auto check = [&](const std::string& how, const auto& run) {
        expectSameAsReference(body, expected, what + ", " + how, run);
    };
    for (Path path : rm::bodyEntry(kind).fastPaths) {
        if (path != Path::pairLoop && rm::pathCanRun(path, shape)) {
            check(rm::pathName(path), [&](const Body& b) { rm::runPath(path, b, shape); });
        }
    }
    check("runPairs", [&](const Body& b) {
        takePathRuns();
        rm::runPairs(b);
        std::vector<std::uint64_t> expected(rm::kPathCount, 0);
        expected[static_cast<std::size_t>(chosen)] = 1;
        EXPECT_EQ(takePathRuns(), expected) << what << ": the path run is not the one chosen";
    });
    return expected;
}

// Slices (empty ones at the start, inside and at the end, the last row, the
// whole, random ones) through every path the metric may take (forced, the
// pair loop included) and through runPairs(kind, in), which runs the path
// chosen for the whole matrix: each writes exactly that slice of the
// reference from its buffer's start.
void expectSlicesSameBits(const Data& d, BodyKind kind, const std::vector<double>& reference,
                          const std::string& what) {
    const std::uint64_t n = d.m.cols();
    const MatrixShape whole = rm::measureMatrix(d.m.rowIndex.data(), d.m.colStart.data(), n);
    std::vector<rm::RowRange> ranges{{0, 0}, {n, n}, {n / 2, n / 2}, {n - (n > 0), n}, {0, n}};
    std::mt19937_64 rng(n + static_cast<std::uint64_t>(kind));
    for (int k = 0; k < 3; ++k) {
        const std::uint64_t a = rng() % (n + 1), b = rng() % (n + 1);
        ranges.push_back({std::min(a, b), std::max(a, b)});
    }
    for (const rm::RowRange rows : ranges) {
        const std::uint64_t from = rm::blockStart(rows.begin, n);
        const std::uint64_t count = rm::blockStart(rows.end, n) - from;
        auto check = [&](const std::string& how, const auto& run) {
            std::vector<double> out(count + 1, -12345.0);
            rm::PairInputs in = d.inputsFor(kind);
            in.rows = rows;
            in.out = out.data();
            run(in);
            const std::vector<double> want(reference.begin() + from,
                                           reference.begin() + from + count);
            const long at = firstDifference(want, out);
            EXPECT_EQ(at, -1) << what << ", " << how << ", rows [" << rows.begin << ", " << rows.end
                              << "): pair " << at << " of the slice";
            EXPECT_EQ(out[count], -12345.0) << what << ", " << how << ": wrote past the slice";
        };
        for (std::size_t p = 0; p < rm::kPathCount; ++p) {
            const Path path = static_cast<Path>(p);
            if (rm::mayServe(kind, path) && rm::pathCanRun(path, whole)) {
                check(rm::pathName(path), [&](const rm::PairInputs& in) {
                    const MatrixShape shape = rm::columnsFrom(whole, in.colStart, rows.begin);
                    rm::withBody(kind, in,
                                 [&](const auto& b) { rm::runPath(path, b, shape, whole); });
                });
            }
        }
        check("runPairs", [&](const rm::PairInputs& in) {
            takePathRuns();
            rm::runPairs(kind, in);
            std::vector<std::uint64_t> expected(rm::kPathCount, 0);
            expected[static_cast<std::size_t>(rm::choosePath(kind, whole))] = 1;
            EXPECT_EQ(takePathRuns(), expected) << what << ": a slice ran another path";
        });
    }
}

void expectSameBits(const Data& d, BodyKind kind, const std::string& what) {
    std::vector<double> reference;
    rm::withBody(kind, d.inputsFor(kind),
                 [&](const auto& body) { reference = expectEveryPathSameBits(body, what); });
    expectSlicesSameBits(d, kind, reference, what);
}

struct Shape {
    std::uint64_t rows;
    std::uint64_t cols;
    double density;
    std::uint64_t seed;
};

// Partial lane blocks, crowded rows (many rows stored by both columns),
// several partial tile chunks, a single variable, tiny observation counts,
// and long runs of one block's rows between the other's.
const Shape kShapes[] = {
    {30, 45, 0.15, 1}, {6, 20, 0.5, 2}, {200, 530, 0.02, 3}, {1, 9, 0.8, 4},
    {12, 2, 0.5, 5},   {12, 1, 0.5, 6}, {40, 17, 1.0, 7}, {400, 40, 0.25, 8},
};

std::string describe(const Shape& s) {
    return std::to_string(s.rows) + "x" + std::to_string(s.cols) + " density " +
           std::to_string(s.density);
}

TEST(OrderedFolds, MatchTheKernel) {
    for (const Shape& s : kShapes) {
        Data d = withParameters(randomCsc(s.rows, s.cols, s.density, s.seed), s.seed);
        for (BodyKind kind :
             {BodyKind::euc, BodyKind::sqe, BodyKind::seu, BodyKind::cit, BodyKind::che}) {
            expectSameBits(d, kind, describe(s));
        }
        for (double p : {3.0, 0.5, 1.0, 0.0, -1.5}) {
            d.exponent = p;
            expectSameBits(d, BodyKind::min, "p=" + std::to_string(p) + " " + describe(s));
        }
    }
}

// Each instruction-set variant of the lane sweep, forced, on the shapes
// above; min with a negative exponent, where a lane of a pair without the row
// would turn pow(0, p) into infinity. A variant this processor cannot run is
// skipped, with the reason.
class LaneSweepVariant : public ::testing::TestWithParam<rm::Isa> {};

TEST_P(LaneSweepVariant, MatchesTheKernel) {
    const rm::Isa isa = GetParam();
    if (!rm::runsOn(isa, rm::cpuFeatures())) {
        GTEST_SKIP() << "the " << rm::isaName(isa)
                     << " variant of the lane sweep was not run: this processor lacks "
                     << rm::isaName(isa);
    }
    for (const Shape& s : kShapes) {
        Data d = withParameters(randomCsc(s.rows, s.cols, s.density, s.seed + 800), s.seed);
        d.exponent = -1.5;
        for (BodyKind kind : {BodyKind::euc, BodyKind::sqe, BodyKind::seu, BodyKind::cit,
                              BodyKind::min, BodyKind::che}) {
            rm::withBody(kind, d.inputsFor(kind), [&](const auto& body) {
                using Body = std::decay_t<decltype(body)>;
                if constexpr (rm::mayServe(decltype(body.call)::kKind, Path::laneSweep)) {
                    const MatrixShape shape =
                        rm::measureMatrix(body.rowIndex, body.colStart, body.n);
                    expectSameAsReference(body, reference(body),
                                          describe(s) + ", lane sweep " + rm::isaName(isa),
                                          [&](const Body& b) { rm::runLaneSweep(b, shape, isa); });
                }
            });
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryIsa, LaneSweepVariant, ::testing::ValuesIn(rm::kIsas),
                         [](const auto& info) { return std::string(rm::isaName(info.param)); });

TEST(SharedRowSweeps, InnerProductsMatchTheKernelIncludingTheClamp) {
    for (const Shape& s : kShapes) {
        const Data raw = withParameters(randomCsc(s.rows, s.cols, s.density, s.seed + 200), 0);
        expectSameBits(raw, BodyKind::dot, "raw " + describe(s));
        // Finite unit columns put many sums at or just around 1.0.
        const Data unit = withParameters(
            rmtest::unitColumns(randomCsc(s.rows, s.cols, s.density, s.seed + 300, Values::binary)),
            0);
        expectSameBits(unit, BodyKind::dot, "unit " + describe(s));
    }
}

TEST(SharedRowSweeps, DifferCountsMatchTheKernel) {
    for (const Shape& s : kShapes) {
        for (Values kind : {Values::wild, Values::binary}) {
            const Data d =
                withParameters(randomCsc(s.rows, s.cols, s.density, s.seed + 400, kind), 0);
            expectSameBits(d, BodyKind::ham, describe(s));
            expectSameBits(d, BodyKind::jac, describe(s));
        }
    }
}

// Fully stored matrices (centred or ranked data) take the register tiles:
// partial blocks and panels, one row, sums beyond the clamp, NaN, infinities,
// and unit columns whose sums sit at or just around 1.0 or spread over [-1, 1],
// where any other order of additions shows in the bits.
TEST(DenseInnerProducts, MatchTheKernel) {
    const Shape dense[] = {{40, 17, 1.0, 7}, {1, 9, 1.0, 8}, {3, 2, 1.0, 9}, {64, 37, 1.0, 10}};
    for (const Shape& s : dense) {
        const Data raw = withParameters(rmtest::denseCsc(s.rows, s.cols, s.seed + 600), 0);
        const MatrixShape shape =
            rm::measureMatrix(raw.m.rowIndex.data(), raw.m.colStart.data(), raw.m.cols());
        EXPECT_EQ(rm::choosePath(BodyKind::dot, shape), Path::denseInnerProducts) << describe(s);
        expectSameBits(raw, BodyKind::dot, "dense raw " + describe(s));
        for (const Values kind : {Values::binary, Values::finite}) {
            const Data unit = withParameters(
                rmtest::unitColumns(rmtest::denseCsc(s.rows, s.cols, s.seed + 700, kind)), 0);
            expectSameBits(unit, BodyKind::dot, "dense unit " + describe(s));
        }
    }
}

TEST(Mahalanobis, QuadraticFormsMatchTheKernel) {
    for (const Shape& s : kShapes) {
        const Data d = withParameters(randomCsc(s.rows, s.cols, s.density, s.seed + 500), s.seed);
        expectSameBits(d, BodyKind::mah, describe(s));
    }
}

TEST(Mahalanobis, FactorTooLargeToCopyIsReadInPlace) {
    const std::uint64_t rows = rm::kMaxTransposedVars + 3;
    const Data d = withParameters(randomCsc(rows, 7, 0.002, 11), 12);
    expectSameBits(d, BodyKind::mah, "mah with a large factor");
}

TEST(EdgeCases, NoPairsAndEmptyColumns) {
    const Data none = withParameters(randomCsc(5, 0, 0.5, 13), 0);
    expectSameBits(none, BodyKind::euc, "no observations");
    Data empty = withParameters(randomCsc(5, 30, 0.0, 14), 0);
    empty.exponent = 2.0;
    for (const rm::BodyEntry& entry : rm::kBodies) {
        expectSameBits(empty, entry.kind, "empty columns");
    }
}

// Rows spread over a range many times the entries of a tile's chunk, within
// what the tile sweep affords: its chunks merge their columns instead of
// counting rows.
TEST(EdgeCases, WideRowSpanWithinReach) {
    const Data d{randomCsc(60, 300, 0.1, 16, Values::wild, 1000), {}, {}, 0.0};
    const MatrixShape shape =
        rm::measureMatrix(d.m.rowIndex.data(), d.m.colStart.data(), d.m.cols());
    ASSERT_TRUE(rm::rowIndexAffordable(shape));
    ASSERT_GT(shape.rows, rm::kChunkSpanPerEntry * shape.stored);
    expectSameBits(d, BodyKind::euc, "euc over a wide row span");
    expectSameBits(d, BodyKind::che, "che over a wide row span");
}

// Rows spread over a range far beyond the stored entries: the row index is
// not built, and runPairs must still give the kernels' bits.
TEST(EdgeCases, SparseRowRangeFallsBackToThePairLoop) {
    const Data d{randomCsc(50, 40, 0.1, 15, Values::wild, std::uint64_t{1} << 36), {}, {}, 0.0};
    const MatrixShape shape =
        rm::measureMatrix(d.m.rowIndex.data(), d.m.colStart.data(), d.m.cols());
    EXPECT_FALSE(rm::rowIndexAffordable(shape));
    EXPECT_EQ(shape.sameRowPairs, 0) << "rows counted over a range too wide for it";
    expectSameBits(d, BodyKind::euc, "euc over a sparse row range");
    expectSameBits(d, BodyKind::jac, "jac over a sparse row range");
}

// Shapes as measureMatrix gives them: n columns, rows, stored entries and
// pairs of entries that share a row.
MatrixShape shapeOf(std::uint64_t n, std::uint64_t rows, std::uint64_t stored,
                    long double sameRowPairs, std::uint64_t longestColumn = 0) {
    return MatrixShape{n, rows, stored, sameRowPairs, longestColumn};
}

// The two processors the decisions are pinned for.
constexpr rm::CpuFeatures kAvx2Only{true, false};
constexpr rm::CpuFeatures kAvx512{true, true};

// Row r stored by c_r columns adds c_r(c_r - 1)/2 pairs; empty rows add none.
TEST(PathChoice, MeasuresHowEntriesShareRows) {
    Csc m;  // row 0 in 3 columns, row 1 in 2, row 3 in 1, row 5 in 2
    for (const std::vector<std::uint64_t>& rows :
         {std::vector<std::uint64_t>{0, 1, 5}, {0, 3}, {0, 1}, {5}}) {
        for (std::uint64_t r : rows) {
            m.rowIndex.push_back(r);
            m.values.push_back(1.0);
        }
        m.colStart.push_back(m.values.size());
    }
    const MatrixShape shape = rm::measureMatrix(m.rowIndex.data(), m.colStart.data(), m.cols());
    EXPECT_EQ(shape.n, 4u);
    EXPECT_EQ(shape.rows, 6u);
    EXPECT_EQ(shape.stored, 8u);
    EXPECT_EQ(shape.sameRowPairs, 3 + 1 + 0 + 1);
}

// The decisions on characteristic shapes, each named after the data it
// stands for. A decision that changes here changes which code runs.
TEST(PathChoice, DecisionsOnCharacteristicShapes) {
    // Text-like: 20000 rows, 5000 columns of 100 entries, rows drawn evenly.
    const MatrixShape text = shapeOf(5000, 20000, 500000, 20000 * (25.0L * 24 / 2));
    // Centred or ranked: every column stores all 2000 rows.
    const MatrixShape full = shapeOf(2000, 2000, 2000 * 2000, 2000 * (2000.0L * 1999 / 2));
    // As many entries as `text`, all in 100 rows that every column stores.
    const MatrixShape skewed = shapeOf(5000, 20000, 500000, 100 * (5000.0L * 4999 / 2));
    // 0/1 data, 400 rows by 1500 columns, 60 % filled evenly.
    const MatrixShape filled = shapeOf(1500, 400, 360000, 400 * (900.0L * 899 / 2));
    // A row range 2^36 wide over few entries.
    const MatrixShape wideRows = shapeOf(40, std::uint64_t{1} << 36, 200, 0);
    const struct {
        const char* name;
        MatrixShape shape;
        BodyKind metric;
        Path expected;
    } cases[] = {
        {"text euc", text, BodyKind::euc, Path::tileSweep},
        {"text min", text, BodyKind::min, Path::tileSweep},
        {"text cos", text, BodyKind::dot, Path::sharedRowSweep},
        {"text jac", text, BodyKind::jac, Path::sharedRowSweep},
        {"text mah", text, BodyKind::mah, Path::mahalanobisSweep},
        {"full cor", full, BodyKind::dot, Path::denseInnerProducts},
        {"full euc", full, BodyKind::euc, Path::tileSweep},
        {"full ham", full, BodyKind::ham, Path::pairLoop},
        {"60 % filled jac", filled, BodyKind::jac, Path::sharedRowSweep},
        {"60 % filled cos", filled, BodyKind::dot, Path::sharedRowSweep},
        {"skewed ham", skewed, BodyKind::ham, Path::pairLoop},
        {"skewed cos", skewed, BodyKind::dot, Path::pairLoop},
        {"wide rows euc", wideRows, BodyKind::euc, Path::pairLoop},
        {"wide rows cos", wideRows, BodyKind::dot, Path::pairLoop},
        {"wide rows mah", wideRows, BodyKind::mah, Path::mahalanobisSweep},
        {"one column mah", shapeOf(1, 10, 5, 0), BodyKind::mah, Path::pairLoop},
        {"no columns euc", shapeOf(0, 0, 0, 0), BodyKind::euc, Path::pairLoop},
        {"2^32 columns euc", shapeOf(std::numeric_limits<std::uint32_t>::max(), 10, 1u << 30, 0),
         BodyKind::euc, Path::pairLoop},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rm::choosePath(c.metric, c.shape, kAvx2Only), c.expected) << c.name;
    }
}

// The lane sweep is chosen only with AVX-512F, for the union folds on the
// measured shapes (W1: 5000 columns of 100 entries; W6: 6000 of 140 over
// 7000 Zipf-drawn rows), and never where its 16-bit lists cannot hold the
// longest column.
TEST(PathChoice, LaneSweepOnlyWithAvx512OnTheMeasuredShapes) {
    const MatrixShape w1 = shapeOf(5000, 20000, 500000, 0, 140);
    const MatrixShape w6 = shapeOf(6000, 7000, 840000, 0, 140);
    const std::uint64_t n = rm::kLaneMinColumns;
    const std::uint64_t atBound = rm::kLaneMinEntriesPerColumn * n;
    const struct {
        const char* name;
        MatrixShape shape;
        BodyKind metric;
        Path withAvx512;
        Path withoutAvx512;
    } cases[] = {
        {"W1 euc", w1, BodyKind::euc, Path::laneSweep, Path::tileSweep},
        {"W1 cit", w1, BodyKind::cit, Path::laneSweep, Path::tileSweep},
        {"W6 euc", w6, BodyKind::euc, Path::laneSweep, Path::tileSweep},
        {"W6 che", w6, BodyKind::che, Path::laneSweep, Path::tileSweep},
        {"W6 cos", w6, BodyKind::dot, Path::sharedRowSweep, Path::sharedRowSweep},
        {"W6 mah", w6, BodyKind::mah, Path::mahalanobisSweep, Path::mahalanobisSweep},
        {"W7 euc (43 per column)", shapeOf(8000, 11470, 345188, 0, 818), BodyKind::euc,
         Path::tileSweep, Path::tileSweep},
        {"fewest columns", shapeOf(n, 1000, atBound, 0, 100), BodyKind::sqe, Path::laneSweep,
         Path::tileSweep},
        {"one column short", shapeOf(n - 1, 1000, atBound, 0, 100), BodyKind::sqe,
         Path::tileSweep, Path::tileSweep},
        {"one entry short", shapeOf(n, 1000, atBound - 1, 0, 100), BodyKind::seu,
         Path::tileSweep, Path::tileSweep},
        {"most rows", shapeOf(n, atBound / rm::kLaneEntriesPerRow, atBound, 0, 100),
         BodyKind::min, Path::laneSweep, Path::tileSweep},
        {"one row too many", shapeOf(n, atBound / rm::kLaneEntriesPerRow + 1, atBound, 0, 100),
         BodyKind::min, Path::tileSweep, Path::tileSweep},
        {"a column too long for 16-bit lists", shapeOf(n, 1000, atBound, 0, 2000),
         BodyKind::euc, Path::tileSweep, Path::tileSweep},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rm::choosePath(c.metric, c.shape, kAvx512), c.withAvx512) << c.name;
        EXPECT_EQ(rm::choosePath(c.metric, c.shape, kAvx2Only), c.withoutAvx512) << c.name;
    }
}

// The bounds themselves, at the last shape that still takes the fast path
// and the first that does not.
TEST(PathChoice, ThresholdsAreInclusive) {
    const std::uint64_t stored = 1000;
    const std::uint64_t widest = rm::kRowRangePerEntry * stored + rm::kRowRangeSlack;
    EXPECT_EQ(rm::choosePath(BodyKind::euc, shapeOf(50, widest, stored, 0), kAvx512),
              Path::tileSweep);
    EXPECT_EQ(rm::choosePath(BodyKind::euc, shapeOf(50, widest + 1, stored, 0), kAvx512),
              Path::pairLoop);

    const long double walkSteps = 49.0L * stored;
    const long double atShare = walkSteps / rm::kSharedRowStepShare;
    EXPECT_EQ(rm::choosePath(BodyKind::jac, shapeOf(50, 100, stored, atShare)),
              Path::sharedRowSweep);
    EXPECT_EQ(rm::choosePath(BodyKind::jac, shapeOf(50, 100, stored, atShare + 1)), Path::pairLoop);
}

}  // namespace
