// Reading and building a call's inputs.
#include "call_inputs.hpp"

#include "column_prepare.hpp"
#include "host_inputs.hpp"
#include "matrix_market.hpp"
#include "result_budget.hpp"

#include <exception>

namespace huxrun {
namespace {

// Reads MATRIX, refuses a result the host could not hold before anything
// else is done, prepares the columns and builds the array the module gets.
std::optional<Failure> matrixInput(const RunOptions& options,
                                   std::vector<vornhost::ArrayPtr>& inputs) {
    MarketResult parsed = readMatrixMarketFile(*options.matrixPath);
    if (const auto* error = std::get_if<MarketError>(&parsed))
        return Failure{kExitBadInput, describe(*error)};
    CscMatrix matrix = std::move(std::get<CscMatrix>(parsed));
    if (!options.byBlocks() && options.code && selectsMetric(*options.code)) {
        if (auto problem = resultAllocationProblem(matrix.cols))
            return Failure{kExitCallFailed, *problem};
    }
    try {
        if (const auto preparation = preparationOf(options))
            matrix = prepareColumns(matrix, *preparation);
        inputs.push_back(options.dense ? denseArray(matrix, vornClassDouble)
                                       : sparseDoubleArray(matrix));
    } catch (const std::exception& e) {
        return Failure{kExitBadInput, *options.matrixPath + ": " + e.what()};
    }
    return std::nullopt;
}

// PARAM is a number when the whole text reads as one, else a file.
std::optional<std::string> paramInput(const RunOptions& options,
                                      std::vector<vornhost::ArrayPtr>& inputs) {
    const std::string& text = *options.param;
    if (const auto number = parseNumber(text)) {
        inputs.push_back(vornhost::makeDense(options.paramClass, 1, 1, {*number}));
        return std::nullopt;
    }
    MarketResult parsed = readMatrixMarketFile(text);
    if (const auto* error = std::get_if<MarketError>(&parsed)) {
        if (error->line == 0)
            return "PARAM is neither a number nor a readable file: " + describe(*error);
        return describe(*error);
    }
    try {
        inputs.push_back(denseArray(std::get<CscMatrix>(parsed), options.paramClass));
    } catch (const std::exception& e) {
        return text + ": " + e.what();
    }
    return std::nullopt;
}

}  // namespace

std::optional<Failure> buildInputs(const RunOptions& options,
                                   std::vector<vornhost::ArrayPtr>& inputs) {
    if (!options.matrixPath) return std::nullopt;
    if (auto failure = matrixInput(options, inputs)) return failure;
    if (!options.code) return std::nullopt;
    inputs.push_back(vornhost::makeText(*options.code));
    if (!options.param) return std::nullopt;
    if (auto error = paramInput(options, inputs)) return Failure{kExitBadInput, *error};
    return std::nullopt;
}

}  // namespace huxrun
