// The result's size against what the host can allocate.
#include "result_budget.hpp"

#include "vornhost/array_factory.hpp"
#include "rowmetric/rowmetric.h"

#include <array>
#include <cstdio>

namespace huxrun {

namespace {

// Decimal units, three significant digits: "360 GB", "1.5 TB", "812 kB".
std::string byteSize(double bytes) {
    constexpr std::array<const char*, 7> kUnits{"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    std::size_t unit = 0;
    while (bytes >= 999.5 && unit + 1 < kUnits.size()) {
        bytes /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g %s", bytes, kUnits[unit]);
    return text;
}

}  // namespace

std::optional<std::uint64_t> pairCountWithinLimit(std::uint64_t columns) {
    // 2^25 columns already make more pairs than the limit; below that the
    // product cannot wrap.
    if (columns >= (std::uint64_t{1} << 25)) return std::nullopt;
    const std::uint64_t pairs = rowmetric_row_offset(columns, columns);
    if (pairs >= rowmetric_pair_limit) return std::nullopt;
    return pairs;
}

std::string groupedDigits(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string tooLargeToHold(const std::string& what, std::uint64_t pairs) {
    return what + " needs " + byteSize(static_cast<double>(pairs) * sizeof(double)) + " for " +
           groupedDigits(pairs) +
           " distances, more than this system can allocate; --stream writes it block by block";
}

std::optional<std::string> resultAllocationProblem(std::uint64_t columns) {
    const std::optional<std::uint64_t> pairs = pairCountWithinLimit(columns);
    if (!pairs || vornhost::canAllocateDense(vornClassDouble, 1, *pairs)) return std::nullopt;
    return tooLargeToHold("the result", *pairs);
}

}  // namespace huxrun
