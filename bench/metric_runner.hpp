// One metric bound to one matrix: runs its body through the plain pair loop
// or through the fast-path dispatcher into a given output buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rowbench {

enum class Engine { plain, fast };

// The matrix and parameter pointers stay owned by the caller.
struct MetricInputs {
    std::uint64_t n = 0;
    std::uint64_t m = 0;
    const double* values = nullptr;
    const std::uint64_t* rowIndex = nullptr;
    const std::uint64_t* colStart = nullptr;
    const double* paramData = nullptr;  // "seu" weights or "mah" factor
    double exponent = 0.0;              // "min"
};

using MetricRunner = std::function<void(double* out, Engine engine)>;

// Throws std::invalid_argument for a code that names no metric.
MetricRunner makeMetricRunner(const std::string& code, const MetricInputs& in);

}  // namespace rowbench
