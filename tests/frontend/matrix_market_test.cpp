// Tests of the Matrix Market reader: what valid files become, and the line
// number and reason given for each kind of malformed file.
#include "matrix_market.hpp"
#include "scratch_dir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace huxrun {
namespace {

CscMatrix parseOk(const std::string& text) {
    MarketResult result = parseMatrixMarket(text, "m.mtx");
    if (const auto* error = std::get_if<MarketError>(&result)) {
        ADD_FAILURE() << "unexpected error: " << describe(*error);
        return {};
    }
    return std::get<CscMatrix>(result);
}

MarketError parseBad(const std::string& text, const MarketLimits& limits = {}) {
    MarketResult result = parseMatrixMarket(text, "m.mtx", limits);
    if (const auto* error = std::get_if<MarketError>(&result)) return *error;
    ADD_FAILURE() << "parsed although malformed:\n" << text;
    return {};
}

const std::string kCoordReal = "%%MatrixMarket matrix coordinate real general\n";
const std::string kCoordInt = "%%MatrixMarket matrix coordinate integer general\n";
const std::string kCoordPattern = "%%MatrixMarket matrix coordinate pattern general\n";
const std::string kArrayReal = "%%MatrixMarket matrix array real general\n";

TEST(MatrixMarketRead, CoordinateRealSortsRowsWithinColumnsAndSumsDuplicatesInFileOrder) {
    const CscMatrix m = parseOk(kCoordReal +
                                "% a comment\n"
                                "\n"
                                "   \t\n"
                                "4 3 6\n"
                                "4 1 2.5\n"
                                "% comment between entries\n"
                                "1 1 -1e-3\n"
                                "\n"
                                "2 3 0.1\n"
                                "2 3 0.2\n"
                                "1 3 +7\n"
                                "2 3 -0.3\n");
    EXPECT_EQ(m.rows, 4u);
    EXPECT_EQ(m.cols, 3u);
    EXPECT_EQ(m.colStart, (std::vector<std::uint64_t>{0, 2, 2, 4}));
    EXPECT_EQ(m.rowIndex, (std::vector<std::uint64_t>{0, 3, 0, 1}));
    ASSERT_EQ(m.values.size(), 4u);
    EXPECT_EQ(m.values[0], -1e-3);
    EXPECT_EQ(m.values[1], 2.5);
    EXPECT_EQ(m.values[2], 7.0);
    EXPECT_EQ(m.values[3], (0.1 + 0.2) + -0.3);  // summed in the order of the file
}

TEST(MatrixMarketRead, IntegerPatternCrlfAndMissingFinalNewline) {
    const CscMatrix ints = parseOk(
        "%%MatrixMarket matrix coordinate integer general\r\n2 2 3\r\n2 2 -4\r\n1 2 9\r\n2 2 1");
    EXPECT_EQ(ints.colStart, (std::vector<std::uint64_t>{0, 0, 2}));
    EXPECT_EQ(ints.rowIndex, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(ints.values, (std::vector<double>{9.0, -3.0}));

    // Pattern entries are a set: a repeated position stays 1.
    const CscMatrix pattern = parseOk(kCoordPattern + "3 2 3\n3 2\n1 2\n3 2\n");
    EXPECT_EQ(pattern.colStart, (std::vector<std::uint64_t>{0, 0, 2}));
    EXPECT_EQ(pattern.rowIndex, (std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(pattern.values, (std::vector<double>{1.0, 1.0}));

    // Banner words other than the marker are case-insensitive.
    const CscMatrix upper =
        parseOk("%%MatrixMarket MATRIX Coordinate REAL General\n1 1 1\n1 1 5\n");
    EXPECT_EQ(upper.values, (std::vector<double>{5.0}));
}

TEST(MatrixMarketRead, ExplicitZerosInCoordinateFilesStayStored) {
    const CscMatrix m = parseOk(kCoordReal + "3 1 2\n2 1 0\n3 1 1.5\n");
    EXPECT_EQ(m.rowIndex, (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(m.values, (std::vector<double>{0.0, 1.5}));
}

TEST(MatrixMarketRead, ArrayFormatIsColumnMajorAndKeepsOnlyNonZeros) {
    const CscMatrix m = parseOk(kArrayReal + "% c\n3 2\n1\n0\n2.5\n\n0\n0\n-4\n");
    EXPECT_EQ(m.rows, 3u);
    EXPECT_EQ(m.cols, 2u);
    EXPECT_EQ(m.colStart, (std::vector<std::uint64_t>{0, 2, 3}));
    EXPECT_EQ(m.rowIndex, (std::vector<std::uint64_t>{0, 2, 2}));
    EXPECT_EQ(m.values, (std::vector<double>{1.0, 2.5, -4.0}));

    const CscMatrix ints = parseOk("%%MatrixMarket matrix array integer general\n1 2\n7\n-2\n");
    EXPECT_EQ(ints.values, (std::vector<double>{7.0, -2.0}));
}

TEST(MatrixMarketRead, SymmetricAndSkewFilesAreExpanded) {
    const CscMatrix sym =
        parseOk("%%MatrixMarket matrix coordinate real symmetric\n3 3 3\n1 1 4\n3 1 2\n3 2 5\n");
    EXPECT_EQ(sym.colStart, (std::vector<std::uint64_t>{0, 2, 3, 5}));
    EXPECT_EQ(sym.rowIndex, (std::vector<std::uint64_t>{0, 2, 2, 0, 1}));
    EXPECT_EQ(sym.values, (std::vector<double>{4, 2, 5, 2, 5}));

    const CscMatrix skew =
        parseOk("%%MatrixMarket matrix coordinate real skew-symmetric\n2 2 1\n2 1 3\n");
    EXPECT_EQ(skew.rowIndex, (std::vector<std::uint64_t>{1, 0}));
    EXPECT_EQ(skew.values, (std::vector<double>{3, -3}));

    // Array symmetric: the lower triangle column by column.
    const CscMatrix arr = parseOk("%%MatrixMarket matrix array real symmetric\n2 2\n1\n2\n3\n");
    EXPECT_EQ(arr.colStart, (std::vector<std::uint64_t>{0, 2, 4}));
    EXPECT_EQ(arr.values, (std::vector<double>{1, 2, 2, 3}));

    // Array skew-symmetric: the strictly lower triangle column by column, so
    // the first value is A(2,1), not a diagonal one. A = [0 -1 -2; 1 0 -3; 2 3 0].
    const CscMatrix skewArr =
        parseOk("%%MatrixMarket matrix array real skew-symmetric\n3 3\n1\n2\n3\n");
    EXPECT_EQ(skewArr.colStart, (std::vector<std::uint64_t>{0, 2, 4, 6}));
    EXPECT_EQ(skewArr.rowIndex, (std::vector<std::uint64_t>{1, 2, 0, 2, 0, 1}));
    EXPECT_EQ(skewArr.values, (std::vector<double>{1, 2, -1, 3, -2, -3}));
    EXPECT_EQ(parseBad("%%MatrixMarket matrix array real skew-symmetric\n3 3\n1\n2\n3\n4\n").line,
              6u);
}

TEST(MatrixMarketRead, EmptyShapesAndEmptyColumns) {
    const CscMatrix none = parseOk(kCoordReal + "0 0 0\n");
    EXPECT_EQ(none.colStart, (std::vector<std::uint64_t>{0}));
    const CscMatrix holes = parseOk(kCoordReal + "5 4 1\n5 3 1\n");
    EXPECT_EQ(holes.colStart, (std::vector<std::uint64_t>{0, 0, 0, 1, 1}));
    const CscMatrix noRows = parseOk(kArrayReal + "0 3\n");
    EXPECT_EQ(noRows.colStart, (std::vector<std::uint64_t>{0, 0, 0, 0}));
    const CscMatrix special = parseOk(kCoordReal + "2 1 2\n1 1 nan\n2 1 -inf\n");
    EXPECT_TRUE(std::isnan(special.values[0]));
    EXPECT_EQ(special.values[1], -INFINITY);
}

struct BadCase {
    const char* name;
    std::string text;
    std::size_t line;
    const char* reason;  // a part of the message
};

TEST(MatrixMarketRead, MalformedFilesNameTheLine) {
    const std::vector<BadCase> cases = {
        {"empty file", "", 1, "banner"},
        {"no banner", "3 3 1\n1 1 1\n", 1, "banner"},
        {"banner marker misspelt", "%%MatrixMarkt matrix coordinate real general\n", 1, "banner"},
        {"banner too short", "%%MatrixMarket matrix coordinate real\n1 1 1\n", 1,
         "FORMAT FIELD SYMMETRY"},
        {"banner trailing text", "%%MatrixMarket matrix coordinate real general extra\n", 1,
         "'extra'"},
        {"object", "%%MatrixMarket vector coordinate real general\n", 1, "object"},
        {"format", "%%MatrixMarket matrix sparse real general\n", 1, "format 'sparse'"},
        {"complex field", "%%MatrixMarket matrix coordinate complex general\n", 1,
         "field 'complex'"},
        {"array pattern", "%%MatrixMarket matrix array pattern general\n", 1, "field 'pattern'"},
        {"hermitian", "%%MatrixMarket matrix coordinate real hermitian\n", 1, "symmetry"},
        {"pattern skew-symmetric", "%%MatrixMarket matrix coordinate pattern skew-symmetric\n", 1,
         "'pattern' with 'skew-symmetric'"},
        {"size line missing", kCoordReal + "% only comments\n\n", 4, "size line"},
        {"size non-numeric", kCoordReal + "% c\n3 x 1\n", 3, "'x' is not"},
        {"size negative", kCoordReal + "-3 3 1\n", 2, "'-3' is not"},
        {"size too few", kCoordReal + "3 3\n", 2, "ROWS COLUMNS ENTRIES"},
        {"size too many", kCoordReal + "3 3 1 1\n", 2, "after the size line"},
        {"array size too many", kArrayReal + "3 3 9\n", 2, "after the size line"},
        {"array size overflows", kArrayReal + "1099511627776 16777216\n", 2, "64 bits"},
        {"symmetric not square", "%%MatrixMarket matrix coordinate real symmetric\n2 3 1\n", 2,
         "square"},
        {"row 0", kCoordReal + "3 3 1\n0 1 1\n", 3, "row index '0'"},
        {"row beyond M", kCoordReal + "3 3 2\n1 1 1\n4 1 1\n", 4, "row index '4' is not in 1..3"},
        {"column 0", kCoordReal + "3 3 1\n1 0 1\n", 3, "column index '0'"},
        {"column beyond N", kCoordReal + "3 3 1\n1 4 1\n", 3, "column index '4' is not in 1..3"},
        {"index not a number", kCoordReal + "3 3 1\n1.0 1 1\n", 3, "row index '1.0'"},
        {"value missing (truncated line)", kCoordReal + "3 3 1\n1 1", 3, "ROW COLUMN VALUE"},
        {"too few entries", kCoordReal + "3 3 3\n1 1 1\n% c\n2 2 2\n\n", 7, "after 2 of 3"},
        {"too many entries", kCoordReal + "3 3 1\n1 1 1\n\n2 2 2\n", 5, "more entries than the 1"},
        {"non-numeric value", kCoordReal + "3 3 1\n1 1 abc\n", 3, "'abc' is not a number"},
        {"hex value", kCoordReal + "3 3 1\n1 1 0x10\n", 3, "'0x10'"},
        {"value out of range", kCoordReal + "3 3 1\n1 1 1e999\n", 3, "out of range"},
        {"trailing garbage", kCoordReal + "3 3 1\n1 1 1 junk\n", 3, "'junk'"},
        {"pattern with value", kCoordPattern + "3 3 1\n1 1 1\n", 3, "unexpected text"},
        {"integer field fraction", kCoordInt + "3 3 1\n1 1 1.5\n", 3, "not an integer"},
        {"integer overflow", kCoordInt + "3 3 1\n1 1 99999999999999999999\n", 3, "out of range"},
        {"symmetric above diagonal",
         "%%MatrixMarket matrix coordinate real symmetric\n3 3 1\n1 2 1\n", 3,
         "below the diagonal"},
        {"skew diagonal", "%%MatrixMarket matrix coordinate real skew-symmetric\n3 3 1\n2 2 1\n", 3,
         "below the diagonal"},
        {"array too few", kArrayReal + "2 2\n1\n2\n3\n", 6, "after 3 of 4"},
        {"array too many", kArrayReal + "1 2\n1\n2\n3\n", 5, "more entries"},
        {"array two per line", kArrayReal + "2 1\n1 2\n", 3, "one value per line"},
        {"NUL byte in value", kCoordReal + "1 1 1\n1 1 2" + std::string(1, '\0') + "\n", 3, "'2?'"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const MarketError error = parseBad(c.text);
        EXPECT_EQ(error.file, "m.mtx");
        EXPECT_EQ(error.line, c.line) << error.what;
        EXPECT_NE(error.what.find(c.reason), std::string::npos) << error.what;
    }
}

TEST(MatrixMarketRead, ColumnLimitGuardsAgainstHugeColumnStarts) {
    MarketLimits limits;
    limits.maxColumns = 1000;
    const MarketError error = parseBad(kCoordReal + "1 1001 0\n", limits);
    EXPECT_EQ(error.line, 2u);
    EXPECT_NE(error.what.find("too many columns"), std::string::npos);
    // A huge entry count on a small file is reported at its end, not allocated.
    const MarketError claimed = parseBad(kCoordReal + "1 1 18446744073709551615\n1 1 1\n");
    EXPECT_EQ(claimed.line, 4u);
}

TEST(MatrixMarketRead, DescribeAndUnreadableFile) {
    EXPECT_EQ(describe(MarketError{"a.mtx", 7, "bad"}), "a.mtx:7: bad");
    EXPECT_EQ(describe(MarketError{"a.mtx", 0, "cannot open"}), "a.mtx: cannot open");
    MarketResult missing = readMatrixMarketFile("/nonexistent-dir/none.mtx");
    ASSERT_TRUE(std::holds_alternative<MarketError>(missing));
    EXPECT_EQ(std::get<MarketError>(missing).line, 0u);
    EXPECT_NE(std::get<MarketError>(missing).what.find("cannot open"), std::string::npos);
}

void writeGzip(const std::string& path, const std::string& text) {
    gzFile out = gzopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
}

// Reads `path` with standard input taken from `stdinFile` for the call.
MarketResult readWithStandardInput(const std::string& stdinFile, const std::string& path) {
    const int saved = ::dup(STDIN_FILENO);
    const int fd = ::open(stdinFile.c_str(), O_RDONLY | O_CLOEXEC);
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
    MarketResult result = readMatrixMarketFile(path);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    return result;
}

// Gzip data is read like the text it holds, from a file and from standard
// input; errors still name the file and the line, and data cut short is an
// error of its own rather than a shorter matrix.
TEST(MatrixMarketRead, GzipAndStandardInputReadLikePlainFiles) {
    const std::string text = kCoordReal + "4 3 3\n4 1 2.5\n1 3 7\n2 3 -1\n";
    const CscMatrix plain = parseOk(text);
    ScratchDir dir;
    const std::string gz = dir.file("m.mtx.gz");
    writeGzip(gz, text);
    for (const MarketResult& read : {readMatrixMarketFile(gz), readWithStandardInput(gz, "-")}) {
        ASSERT_TRUE(std::holds_alternative<CscMatrix>(read))
            << describe(std::get<MarketError>(read));
        const CscMatrix& m = std::get<CscMatrix>(read);
        EXPECT_EQ(m.colStart, plain.colStart);
        EXPECT_EQ(m.rowIndex, plain.rowIndex);
        EXPECT_EQ(m.values, plain.values);
    }
    const std::string bad = dir.file("bad.mtx.gz");
    writeGzip(bad, kCoordReal + "3 3 1\n1 4 1\n");
    const MarketResult fromStdin = readWithStandardInput(bad, "-");
    ASSERT_TRUE(std::holds_alternative<MarketError>(fromStdin));
    EXPECT_EQ(describe(std::get<MarketError>(fromStdin)).rfind("standard input:3: column index", 0),
              0u);

    std::ifstream whole(gz, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(whole),
                            std::istreambuf_iterator<char>()};
    const std::string cut = dir.file("cut.mtx.gz");
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 12);
    const MarketResult truncated = readMatrixMarketFile(cut);
    ASSERT_TRUE(std::holds_alternative<MarketError>(truncated));
    EXPECT_EQ(std::get<MarketError>(truncated).line, 0u);
    EXPECT_NE(std::get<MarketError>(truncated).what.find("not valid gzip data"), std::string::npos);
}

// Mutated and random inputs: every outcome is a well-formed matrix or an
// error whose line lies within the text (or just after it).
TEST(MatrixMarketRead, ArbitraryBytesGiveAMatrixOrAnError) {
    const std::string seed = kCoordReal + "% c\n4 3 5\n1 1 1.5\n4 3 -2\n2 2 3e2\n4 3 1\n3 1 0\n";
    const std::string alphabet = "0123456789 .-+e\n%\tx\r";
    std::mt19937 rng(12345);
    MarketLimits limits;
    limits.maxColumns = 1 << 16;
    int parsed = 0;
    int refused = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = text.empty() ? 0 : rng() % text.size();
            const char c = round % 3 == 0 ? static_cast<char>(rng() & 0xff)
                                          : alphabet[rng() % alphabet.size()];
            switch (rng() % 3) {
                case 0:
                    if (!text.empty()) text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                default:
                    if (!text.empty()) text.erase(at, 1 + rng() % 8);
                    break;
            }
        }
        const std::size_t lines =
            1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        MarketResult result = parseMatrixMarket(text, "f", limits);
        if (const auto* error = std::get_if<MarketError>(&result)) {
            ASSERT_GE(error->line, 1u) << text;
            ASSERT_LE(error->line, lines + 1) << text;
            ++refused;
            continue;
        }
        ++parsed;
        const CscMatrix& m = std::get<CscMatrix>(result);
        ASSERT_EQ(m.colStart.size(), m.cols + 1);
        ASSERT_EQ(m.colStart.back(), m.rowIndex.size());
        ASSERT_EQ(m.values.size(), m.rowIndex.size());
        for (std::uint64_t c = 0; c < m.cols; ++c) {
            for (std::uint64_t k = m.colStart[c]; k < m.colStart[c + 1]; ++k) {
                ASSERT_LT(m.rowIndex[k], m.rows);
                if (k > m.colStart[c]) {
                    ASSERT_LT(m.rowIndex[k - 1], m.rowIndex[k]);
                }
            }
        }
    }
    // Both outcomes must have been exercised for the check to mean anything.
    EXPECT_GT(parsed, 100);
    EXPECT_GT(refused, 200);
}

}  // namespace
}  // namespace huxrun
