#include "metric_runner.hpp"

#include "run_pairs.hpp"

#include <stdexcept>

namespace rowbench {

namespace {

namespace rm = rowmetric;

const rm::CodeEntry& codeEntry(const std::string& code) {
    const rm::CodeEntry* entry = rm::findCode(code);
    if (entry == nullptr) {
        throw std::invalid_argument("unknown metric code \"" + code + "\"");
    }
    return *entry;
}

rm::MatrixShape shapeOf(const rm::PairInputs& in) {
    return rm::measureMatrix(in.rowIndex, in.colStart, in.n);
}

}  // namespace

MetricRunner makeMetricRunner(const std::string& code, const rm::PairInputs& in,
                              std::optional<rm::Path> forced) {
    const rm::BodyKind kind = codeEntry(code).body;
    if (forced && !rm::mayServe(kind, *forced)) {
        throw std::invalid_argument(code + " cannot take the path " + rm::pathName(*forced));
    }
    if (forced && !rm::pathCanRun(*forced, shapeOf(in))) {
        throw std::invalid_argument(std::string(rm::pathName(*forced)) +
                                    " cannot run on this matrix");
    }
    MetricRunner runner;
    rm::withBody(kind, in, [&](const auto& body) {
        runner = [body, forced](double* out, Engine engine) {
            auto b = body;
            b.out = out;
            if (engine == Engine::plain) {
                rm::runPairLoop(b);
            } else if (forced) {
                rm::runPath(*forced, b, rm::measureMatrix(b.rowIndex, b.colStart, b.n));
            } else {
                rm::runPairs(b);
            }
        };
    });
    return runner;
}

rm::Path chosenPath(const std::string& code, const rm::PairInputs& in) {
    return rm::choosePath(codeEntry(code).body, shapeOf(in));
}

std::optional<rm::Path> pathNamed(const std::string& name) {
    for (std::size_t p = 0; p < rm::kPathCount; ++p) {
        if (name == rm::pathName(static_cast<rm::Path>(p))) {
            return static_cast<rm::Path>(p);
        }
    }
    return std::nullopt;
}

}  // namespace rowbench
