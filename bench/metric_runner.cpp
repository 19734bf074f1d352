#include "metric_runner.hpp"

#include "pair_loop.hpp"
#include "sweep_dispatch.hpp"

#include <stdexcept>

namespace rowbench {

namespace {

template <class Body>
MetricRunner bind(Body body) {
    return [body](double* out, Engine engine) {
        Body b = body;
        b.out = out;
        if (engine == Engine::fast) {
            rowmetric::runPairs(b);
        } else {
            rowmetric::runPairLoop(b);
        }
    };
}

}  // namespace

MetricRunner makeMetricRunner(const std::string& code, const MetricInputs& in) {
    namespace rm = rowmetric;
    if (code == "euc") return bind(rm::EucBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "sqe") return bind(rm::SqeBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "seu")
        return bind(rm::SeuBody{in.n, nullptr, in.values, in.rowIndex, in.colStart, in.paramData});
    if (code == "cit") return bind(rm::CitBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "min")
        return bind(rm::MinBody{in.n, nullptr, in.values, in.rowIndex, in.colStart, in.exponent});
    if (code == "cos" || code == "cor" || code == "spe")
        return bind(rm::DotBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "ham")
        return bind(rm::HamBody{in.n, nullptr, in.values, in.rowIndex, in.colStart, in.m});
    if (code == "jac") return bind(rm::JacBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "che") return bind(rm::CheBody{in.n, nullptr, in.values, in.rowIndex, in.colStart});
    if (code == "mah")
        return bind(
            rm::MahBody{in.n, nullptr, in.values, in.rowIndex, in.colStart, in.paramData, in.m});
    throw std::invalid_argument("unknown metric code \"" + code + "\"");
}

}  // namespace rowbench
