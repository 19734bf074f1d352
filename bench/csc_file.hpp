// Binary compressed-column files written by the benchmark's data generator,
// and the dense double vectors that carry the metrics' parameters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rowbench {

// Layout (little-endian): the 8 bytes "RMCSC01\0", then m, n and the entry
// count as uint64, then colStart (n + 1 uint64), rowIndex (count uint64) and
// values (count double).
struct CscData {
    std::uint64_t m = 0;
    std::uint64_t n = 0;
    std::vector<std::uint64_t> colStart;
    std::vector<std::uint64_t> rowIndex;
    std::vector<double> values;
};

// Throws std::runtime_error with a one-line reason on a short or malformed file.
CscData readCscFile(const std::string& path);

// A raw file of doubles (no header): "seu" weights or the "mah" factor.
std::vector<double> readDoubles(const std::string& path);

// Writes doubles raw, for the peers' agreement check.
void writeDoubles(const std::string& path, const double* data, std::uint64_t count);

}  // namespace rowbench
