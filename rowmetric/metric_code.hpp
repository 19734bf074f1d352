// The twelve metric codes and how the four-byte code buffer selects one of
// them: a case-sensitive comparison of all four bytes, NUL included.
#pragma once

#include <array>

namespace rowmetric {

enum class Metric { euc, sqe, seu, cit, min, cos, cor, spe, ham, jac, che, mah, unknown };

// The buffer vornGetString fills: up to three characters and a NUL.
using CodeBuffer = std::array<char, 4>;

// The first code equal to the whole buffer, in the documented order, or
// Metric::unknown when none is.
Metric matchMetric(const CodeBuffer& code);

// Whether the metric reads a weight vector or matrix from the third argument.
constexpr bool needsParameterData(Metric metric) {
    return metric == Metric::seu || metric == Metric::mah;
}

}  // namespace rowmetric
