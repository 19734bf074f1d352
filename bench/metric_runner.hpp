// One metric bound to one matrix: runs its body through the plain pair loop,
// through the path the module would choose, or through a named path.
#pragma once

#include "metric_bodies.hpp"
#include "metric_registry.hpp"

#include <functional>
#include <optional>
#include <string>

namespace rowbench {

enum class Engine { plain, fast };

using MetricRunner = std::function<void(double* out, Engine engine)>;

// `in.out` is ignored; the pointers stay owned by the caller. With `forced`,
// the fast engine runs that path instead of the one the module would choose.
// Throws std::invalid_argument for a code that names no metric, or a path the
// metric may not take.
MetricRunner makeMetricRunner(const std::string& code, const rowmetric::PairInputs& in,
                              std::optional<rowmetric::Path> forced);

// The path the module chooses for this metric and matrix.
rowmetric::Path chosenPath(const std::string& code, const rowmetric::PairInputs& in);

// The path of that name (rowmetric::pathName), for --path.
std::optional<rowmetric::Path> pathNamed(const std::string& name);

}  // namespace rowbench
