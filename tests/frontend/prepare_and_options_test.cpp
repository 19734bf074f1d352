// Tests of the column preparation for cos, cor and spe, and of hux-run's
// command-line parsing.
#include "column_prepare.hpp"
#include "command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace huxrun {
namespace {

// 4 x 4: column 0 sparse, column 1 empty, column 2 constant over all rows,
// column 3 holding a NaN.
CscMatrix sample() {
    CscMatrix m;
    m.rows = 4;
    m.cols = 4;
    m.colStart = {0, 2, 2, 6, 7};
    m.rowIndex = {1, 3, 0, 1, 2, 3, 2};
    m.values = {5.0, 3.0, 2.0, 2.0, 2.0, 2.0, std::nan("")};
    return m;
}

std::vector<double> column(const CscMatrix& m, std::uint64_t c) {
    std::vector<double> dense(m.rows, 0.0);
    for (std::uint64_t k = m.colStart[c]; k < m.colStart[c + 1]; ++k)
        dense[m.rowIndex[k]] = m.values[k];
    return dense;
}

bool allNaN(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isnan(v); });
}

bool allZero(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return v == 0.0; });
}

TEST(ColumnPrepare, CosineScalesStoredValuesAndKeepsThePattern) {
    const CscMatrix p = prepareColumns(sample(), Preparation::Cosine);
    const CscMatrix s = sample();
    EXPECT_EQ(std::vector<std::uint64_t>(p.colStart.begin(), p.colStart.begin() + 4),
              std::vector<std::uint64_t>(s.colStart.begin(), s.colStart.begin() + 4));
    EXPECT_EQ(std::vector<std::uint64_t>(p.rowIndex.begin(), p.rowIndex.begin() + 6),
              std::vector<std::uint64_t>(s.rowIndex.begin(), s.rowIndex.begin() + 6));
    EXPECT_DOUBLE_EQ(p.values[0], 5.0 / std::sqrt(34.0));
    EXPECT_DOUBLE_EQ(p.values[1], 3.0 / std::sqrt(34.0));
    EXPECT_DOUBLE_EQ(p.values[2], 0.5);
    EXPECT_EQ(p.colStart[4] - p.colStart[3], 4u);  // the NaN column fills every row
    EXPECT_TRUE(allNaN(column(p, 3)));
}

TEST(ColumnPrepare, CorrelationCentresOverAllRowsAndLeavesConstantColumnsZero) {
    const CscMatrix p = prepareColumns(sample(), Preparation::Correlation);
    // Column 0 is (0, 5, 0, 3): mean 2, centred (-2, 3, -2, 1), length sqrt(18).
    const std::vector<double> c0 = column(p, 0);
    const double len = std::sqrt(18.0);
    EXPECT_DOUBLE_EQ(c0[0], -2.0 / len);
    EXPECT_DOUBLE_EQ(c0[1], 3.0 / len);
    EXPECT_DOUBLE_EQ(c0[2], -2.0 / len);
    EXPECT_DOUBLE_EQ(c0[3], 1.0 / len);
    EXPECT_EQ(p.colStart[1] - p.colStart[0], 4u);  // the implicit zeros are filled in
    EXPECT_TRUE(allZero(column(p, 1)));            // empty column: zero length
    EXPECT_TRUE(allZero(column(p, 2)));            // constant column: zero after centring
    EXPECT_TRUE(allNaN(column(p, 3)));
}

TEST(ColumnPrepare, SpearmanRanksWithTiesIncludingImplicitZeros) {
    const CscMatrix p = prepareColumns(sample(), Preparation::Spearman);
    // Column 0 (0, 5, 0, 3) ranks as (1.5, 4, 1.5, 3): mean 2.5, centred
    // (-1, 1.5, -1, 0.5), length sqrt(4.5).
    const std::vector<double> c0 = column(p, 0);
    const double len = std::sqrt(4.5);
    EXPECT_DOUBLE_EQ(c0[0], -1.0 / len);
    EXPECT_DOUBLE_EQ(c0[1], 1.5 / len);
    EXPECT_DOUBLE_EQ(c0[2], -1.0 / len);
    EXPECT_DOUBLE_EQ(c0[3], 0.5 / len);
    EXPECT_TRUE(allZero(column(p, 1)));  // empty and constant columns: all ties
    EXPECT_TRUE(allZero(column(p, 2)));
    EXPECT_TRUE(allNaN(column(p, 3)));
}

// Lengths neither overflow nor underflow: data scaled by 1e200 or 1e-200 is
// prepared as at scale 1. A column holding an infinity becomes NaN, not a
// column of confident zeros.
TEST(ColumnPrepare, AnyScaleGivesTheColumnsOfScaleOne) {
    CscMatrix finite = sample();
    finite.values.back() = 4.0;
    for (const Preparation preparation : {Preparation::Cosine, Preparation::Correlation}) {
        const CscMatrix unit = prepareColumns(finite, preparation);
        for (const double scale : {1e200, 1e-200}) {
            CscMatrix scaled = finite;
            for (double& v : scaled.values) v *= scale;
            const CscMatrix p = prepareColumns(scaled, preparation);
            ASSERT_EQ(p.values.size(), unit.values.size());
            for (std::size_t k = 0; k < p.values.size(); ++k)
                EXPECT_NEAR(p.values[k], unit.values[k], 1e-12) << scale << " at " << k;
        }
    }
    CscMatrix infinite = finite;
    infinite.values[0] = INFINITY;
    EXPECT_TRUE(allNaN(column(prepareColumns(infinite, Preparation::Cosine), 0)));
    EXPECT_TRUE(allNaN(column(prepareColumns(infinite, Preparation::Correlation), 0)));
}

TEST(ColumnPrepare, CodeSelectsPreparationByItsFirstThreeCharacters) {
    EXPECT_EQ(preparationForCode("cos"), Preparation::Cosine);
    EXPECT_EQ(preparationForCode("cosine"), Preparation::Cosine);
    EXPECT_EQ(preparationForCode("correlation"), Preparation::Correlation);
    EXPECT_EQ(preparationForCode("spearman"), Preparation::Spearman);
    EXPECT_FALSE(preparationForCode("co"));
    EXPECT_FALSE(preparationForCode("COS"));
    EXPECT_FALSE(preparationForCode("euc"));
}

RunOptions parsedOk(const std::vector<std::string>& args) {
    auto parsed = parseCommandLine(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    return std::get<RunOptions>(parsed);
}

TEST(CommandLine, OptionsAnywhereAfterModuleInBothSpellings) {
    const RunOptions o = parsedOk({"m.so", "--threads", "3", "x.mtx", "--out=r.txt", "min",
                                   "--binary", "--nargout=0", "--param-class", "int16", "-2.5"});
    EXPECT_EQ(o.modulePath, "m.so");
    EXPECT_EQ(o.matrixPath, "x.mtx");
    EXPECT_EQ(o.code, "min");
    EXPECT_EQ(o.param, "-2.5");  // a negative number is an argument, not an option
    EXPECT_EQ(o.outPath, "r.txt");
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(o.nargout, 0);
    EXPECT_EQ(o.paramClass, vornClassInt16);
    EXPECT_TRUE(o.binary);
    EXPECT_FALSE(o.dense);
    EXPECT_EQ(parsedOk({"m.so", "--", "--odd-name.mtx"}).matrixPath, "--odd-name.mtx");
    EXPECT_TRUE(parsedOk({"--help"}).help);
}

TEST(CommandLine, ModuleIsOptionalAndDashIsStandardInputOrOutput) {
    const RunOptions o = parsedOk({"-", "seu", "w.mtx", "--out", "-"});
    EXPECT_FALSE(o.modulePath);
    EXPECT_EQ(o.matrixPath, "-");
    EXPECT_EQ(o.code, "seu");
    EXPECT_EQ(o.param, "w.mtx");
    EXPECT_FALSE(o.outPath);
    EXPECT_EQ(parsedOk({"--module", "m", "x.mtx", "euc"}).modulePath, "m");
}

TEST(CommandLine, InnerProductCodesArePreparedUnlessRaw) {
    EXPECT_EQ(preparationOf(parsedOk({"x.mtx", "cosine"})), Preparation::Cosine);
    EXPECT_EQ(preparationOf(parsedOk({"x.mtx", "spe", "--prepare"})), Preparation::Spearman);
    EXPECT_FALSE(preparationOf(parsedOk({"x.mtx", "cor", "--raw"})));
    EXPECT_FALSE(preparationOf(parsedOk({"x.mtx", "euc"})));
}

TEST(CommandLine, BadCommandLinesAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {},                            // no module
        {"m.so", "--frobnicate"},      // unknown option
        {"m.so", "--out"},             // missing value
        {"m.so", "--threads", "0"},    // out of range
        {"m.so", "--threads", "two"},  // not a number
        {"m.so", "--threads", "2x"},   // trailing text
        {"m.so", "--nargout", "-1"},
        {"m.so", "--param-class", "float"},
        {"m.so", "--binary=yes"},               // flag with a value
        {"m.so", "a", "b", "c", "d"},           // too many arguments
        {"m.so", "x.mtx", "euc", "--prepare"},  // prepare for a code that needs none
        {"m.so", "--prepare"},                  // prepare with no matrix
        {"x.mtx", "cos", "--raw", "--prepare"},
        {"--module", "m", "n.so", "x.mtx"},  // two modules
        {"-", "seu", "-"},                   // standard input twice
        {"--threads", "2"},                  // no module named and no MATRIX
        {"x.mtx", "euc", "--rows", "0:3"},   // rows count from 1
        {"x.mtx", "euc", "--rows", "3:2"},
        {"x.mtx", "euc", "--rows", "4/3"},
        {"x.mtx", "euc", "--rows", "7"},
        {"x.mtx", "euc", "--nearest", "0"},
        {"x.mtx", "euc", "--labels", "l.txt"},  // labels without --nearest
        {"x.mtx", "euc", "--nearest", "2", "--rows", "1:2"},
        {"x.mtx", "euc", "--nearest", "2", "--binary"},
        {"x.mtx", "euc", "--stream", "--dense"},  // shapes a huxFunction call only
        {"m.so", "--stream"},                     // no MATRIX and CODE
    };
    for (const auto& args : bad) {
        auto parsed = parseCommandLine(args);
        EXPECT_TRUE(std::holds_alternative<UsageError>(parsed)) << ::testing::PrintToString(args);
    }
}

TEST(CommandLine, RowsAreARangeFromOneOrAPartAndNearestACount) {
    const RunOptions range = parsedOk({"x.mtx", "euc", "--rows", "3:7", "--stream"});
    EXPECT_TRUE(range.byBlocks());
    EXPECT_EQ(std::tie(range.rows->first, range.rows->last, range.rows->parts),
              std::make_tuple(3u, 7u, 0u));
    const RunOptions part = parsedOk({"x.mtx", "euc", "--rows=2/5"});
    EXPECT_EQ(std::tie(part.rows->part, part.rows->parts), std::make_tuple(2u, 5u));
    EXPECT_EQ(parsedOk({"x.mtx", "euc", "--nearest", "10", "--labels", "l.txt"}).nearest, 10u);
}

TEST(CommandLine, NumbersMustBeWhole) {
    EXPECT_EQ(parseNumber("3"), 3.0);
    EXPECT_EQ(parseNumber("+0.5"), 0.5);
    EXPECT_EQ(parseNumber("-1e3"), -1000.0);
    EXPECT_TRUE(std::isinf(*parseNumber("inf")));
    EXPECT_FALSE(parseNumber(""));
    EXPECT_FALSE(parseNumber("3 "));
    EXPECT_FALSE(parseNumber("w.mtx"));
    EXPECT_FALSE(parseNumber("+-1"));
}

}  // namespace
}  // namespace huxrun
