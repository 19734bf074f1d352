// Matrix Market reader: turns the bytes of a .mtx file into a compressed-column
// matrix, or into an error that names the file and the offending line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace huxrun {

// An M x N matrix in compressed-column form: rows strictly ascending within
// each column; column k holds entries colStart[k] .. colStart[k + 1] - 1.
struct CscMatrix {
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    std::vector<std::uint64_t> colStart{0};
    std::vector<std::uint64_t> rowIndex;
    std::vector<double> values;
};

struct MarketError {
    std::string file;
    std::size_t line = 0;  // 1-based; the line after the last when the file ends early
    std::string what;
};

// "FILE:LINE: what", or "FILE: what" when no line applies (line 0).
std::string describe(const MarketError& error);

struct MarketLimits {
    // Every column costs a column start even when empty, so the column count
    // is capped to keep a tiny file from asking for gigabytes.
    std::uint64_t maxColumns = std::uint64_t{1} << 25;
};

using MarketResult = std::variant<CscMatrix, MarketError>;

// Parses a whole Matrix Market file held in memory. Accepted: "matrix" objects
// in "coordinate" format with "real", "double", "integer" or "pattern" field,
// or "array" format with "real", "double" or "integer" field; symmetry
// "general", "symmetric" or "skew-symmetric" (both expanded to the full
// matrix). Coordinate entries repeated at one position are summed in file
// order (pattern entries stay 1); explicit zeros in coordinate files are kept
// here as the file has them (the host's arrays drop them). Array files keep
// only their non-zero values. Any byte
// sequence yields either a matrix or an error; nothing is read out of range.
MarketResult parseMatrixMarket(std::string_view bytes, const std::string& fileName,
                               const MarketLimits& limits = {});

// Reads the file at `path` ("-": standard input, named "standard input" in
// errors), inflating gzip data, and parses it; an unreadable file is an error
// with line 0.
MarketResult readMatrixMarketFile(const std::string& path, const MarketLimits& limits = {});

}  // namespace huxrun
