// Fuzzing of the front end's Matrix Market reader: any bytes give either one
// clear error naming the file, or a well-formed compressed-column matrix that
// the host accepts and that survives being written out and read back. What
// the matrix means is checked against SciPy by matrix_market_oracle.py, over
// the seeds and everything this target's runs keep.
#include "fuzz_check.hpp"
#include "market_limits.hpp"

#include "vornhost/array_factory.hpp"
#include "matrix_market.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>

namespace {

const std::string kFileName = "fuzz.mtx";

void checkError(const huxrun::MarketError& error) {
    fuzz::check(error.file == kFileName, "the error does not name the file");
    fuzz::check(!error.what.empty(), "the error has no text");
    const std::string line = huxrun::describe(error);
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) {
        fuzz::fail("the error message spans more than one line: " + line);
    }
    if (line.compare(0, kFileName.size(), kFileName) != 0) {
        fuzz::fail("the error message does not start with the file name: " + line);
    }
}

void checkStructure(const huxrun::CscMatrix& m) {
    fuzz::check(m.colStart.size() == m.cols + 1, "colStart does not have cols + 1 entries");
    fuzz::check(m.colStart.front() == 0, "colStart does not start at 0");
    fuzz::check(m.colStart.back() == m.rowIndex.size(), "colStart does not end at the entry count");
    fuzz::check(m.values.size() == m.rowIndex.size(), "values and row indices differ in number");
    for (std::uint64_t c = 0; c < m.cols; ++c) {
        fuzz::check(m.colStart[c] <= m.colStart[c + 1], "colStart decreases");
        for (std::uint64_t p = m.colStart[c]; p < m.colStart[c + 1]; ++p) {
            fuzz::check(m.rowIndex[p] < m.rows, "a row index is out of range");
            fuzz::check(p == m.colStart[c] || m.rowIndex[p - 1] < m.rowIndex[p],
                        "rows are not strictly ascending within a column");
        }
    }
}

// Writes the matrix as a general real coordinate file, exactly enough digits
// to read every value back bit for bit.
std::string written(const huxrun::CscMatrix& m) {
    std::string text = "%%MatrixMarket matrix coordinate real general\n";
    text += std::to_string(m.rows) + " " + std::to_string(m.cols) + " " +
            std::to_string(m.values.size()) + "\n";
    for (std::uint64_t c = 0; c < m.cols; ++c) {
        for (std::uint64_t p = m.colStart[c]; p < m.colStart[c + 1]; ++p) {
            char value[64];
            std::snprintf(value, sizeof value, "%.17g", m.values[p]);
            text += std::to_string(m.rowIndex[p] + 1) + " " + std::to_string(c + 1) + " " + value +
                    "\n";
        }
    }
    return text;
}

void checkRoundTrip(const huxrun::CscMatrix& m) {
    const huxrun::MarketResult again =
        huxrun::parseMatrixMarket(written(m), kFileName, fuzz::marketLimits());
    const auto* back = std::get_if<huxrun::CscMatrix>(&again);
    if (back == nullptr) {
        fuzz::fail("a matrix the reader produced cannot be read back: " +
                   huxrun::describe(std::get<huxrun::MarketError>(again)));
    }
    fuzz::check(back->rows == m.rows && back->cols == m.cols, "the shape changed on reading back");
    fuzz::check(back->colStart == m.colStart && back->rowIndex == m.rowIndex,
                "the structure changed on reading back");
    for (std::size_t p = 0; p < m.values.size(); ++p) {
        if (!fuzz::sameBits(back->values[p], m.values[p])) {
            fuzz::fail("value " + std::to_string(p) + " changed on reading back");
        }
    }
}

void checkHostAccepts(const huxrun::CscMatrix& m) {
    vornhost::SparseLayout layout;
    layout.m = m.rows;
    layout.n = m.cols;
    layout.colStart = m.colStart;
    layout.rowIndex = m.rowIndex;
    try {
        vornhost::makeSparseDouble(layout, m.values);
    } catch (const std::exception& e) {
        fuzz::fail(std::string("the host refuses a matrix the reader produced: ") + e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const huxrun::MarketResult result =
        huxrun::parseMatrixMarket(bytes, kFileName, fuzz::marketLimits());
    if (const auto* error = std::get_if<huxrun::MarketError>(&result)) {
        checkError(*error);
        return 0;
    }
    const auto& matrix = std::get<huxrun::CscMatrix>(result);
    checkStructure(matrix);
    checkHostAccepts(matrix);
    checkRoundTrip(matrix);
    return 0;
}
