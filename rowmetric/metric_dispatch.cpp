#include "rowmetric/metric_dispatch.hpp"

#include "rowmetric/pair_loop.hpp"

namespace rowmetric {

void runMetric(Metric metric, const PairInputs& in)
{
    switch (metric) {
    case Metric::euc:
        return runPairLoop(EucBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::sqe:
        return runPairLoop(SqeBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::seu:
        return runPairLoop(
            SeuBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.paramData});
    case Metric::cit:
        return runPairLoop(CitBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::min:
        return runPairLoop(
            MinBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.exponent});
    case Metric::cos:
    case Metric::cor:
    case Metric::spe:
        return runPairLoop(DotBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::ham:
        return runPairLoop(HamBody{in.n, in.out, in.values, in.rowIndex, in.colStart, in.nvars});
    case Metric::jac:
        return runPairLoop(JacBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::che:
        return runPairLoop(CheBody{in.n, in.out, in.values, in.rowIndex, in.colStart});
    case Metric::mah:
        return runPairLoop(MahBody{in.n, in.out, in.values, in.rowIndex, in.colStart,
                                   in.paramData, in.nvars});
    case Metric::unknown:
        return;
    }
}

}  // namespace rowmetric
