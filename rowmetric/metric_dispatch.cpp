#include "metric_dispatch.hpp"

#include "pair_loop.hpp"
#include "sweep_dispatch.hpp"

namespace rowmetric {

void runMetric(Metric metric, const PairInputs& in) {
    switch (metric) {
        case Metric::euc:
            return runPairs(EucBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::sqe:
            return runPairs(SqeBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::seu:
            return runPairs(
                SeuBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.paramData});
        case Metric::cit:
            return runPairs(CitBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::min:
            return runPairs(
                MinBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.exponent});
        case Metric::cos:
        case Metric::cor:
        case Metric::spe:
            return runPairs(DotBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::ham:
            return runPairs(HamBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.nvars});
        case Metric::jac:
            return runPairs(JacBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::che:
            return runPairs(CheBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
        case Metric::mah:
            return runPairs(
                MahBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.paramData, in.nvars});
        case Metric::unknown:
            return;
    }
}

}  // namespace rowmetric
