// hux-run: loads a module, builds its inputs from the command line and
// Matrix Market files, calls it once and writes the result.
#include "vornhost/array_factory.hpp"
#include "column_prepare.hpp"
#include "command_line.hpp"
#include "host_inputs.hpp"
#include "matrix_market.hpp"
#include "module_call.hpp"
#include "module_library.hpp"
#include "result_budget.hpp"
#include "result_output.hpp"

#include <tbb/global_control.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace huxrun;

constexpr int kExitCallFailed = 1;
constexpr int kExitBadInput = 2;

// Where the build puts the module, seen from hux-run's own directory.
constexpr const char* kModuleFromProgram = HUX_RUN_MODULE_FROM_PROGRAM;

struct Failure {
    int status;
    std::string text;
};

int complain(int status, const std::string& text) {
    std::fprintf(stderr, "hux-run: %s\n", text.c_str());
    return status;
}

// Reads MATRIX, refuses a result the host could not hold before anything
// else is done, prepares the columns and builds the array the module gets.
std::optional<Failure> matrixInput(const RunOptions& options,
                                   std::vector<vornhost::ArrayPtr>& inputs) {
    MarketResult parsed = readMatrixMarketFile(*options.matrixPath);
    if (const auto* error = std::get_if<MarketError>(&parsed))
        return Failure{kExitBadInput, describe(*error)};
    CscMatrix matrix = std::move(std::get<CscMatrix>(parsed));
    if (options.code && selectsMetric(*options.code)) {
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

int run(const RunOptions& options) {
    std::unique_ptr<ModuleLibrary> module;
    HuxFunction entry = nullptr;
    try {
        const std::string path =
            options.modulePath ? *options.modulePath : moduleBesideProgram(kModuleFromProgram);
        module = std::make_unique<ModuleLibrary>(path);
        entry = checkedEntryPoint(*module, path);
    } catch (const std::exception& e) {
        return complain(kExitBadInput, e.what());
    }

    std::vector<vornhost::ArrayPtr> inputs;
    if (auto failure = buildInputs(options, inputs))
        return complain(failure->status, failure->text);
    std::vector<const vornArray*> handles;
    for (const auto& input : inputs) handles.push_back(input.get());
    const CallOutcome outcome = callModule(entry, options.nargout, handles);
    if (!outcome.ok()) {
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
        return kExitCallFailed;
    }

    const vornArray* result = outcome.result.get();
    if (vornGetClassID(result) != vornClassDouble || vornIsSparse(result)) {
        std::fprintf(stderr, "Error: the module's result is not a dense double array\n");
        return kExitCallFailed;
    }
    const auto* values = static_cast<const double*>(vornGetRealData(result));
    const std::size_t count = vornhost::elementCount(result);
    if (auto error = writeResult(options.outPath, values, count, options.binary))
        return complain(kExitCallFailed, *error);
    // A module may accept a code it does not know and return its result
    // unfilled; say so rather than let those values pass for distances.
    if (options.code && !selectsMetric(*options.code)) {
        complain(0, "warning: code '" + *options.code +
                        "' selects no metric; the result is left as created");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = parseCommandLine(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        return complain(kExitBadInput, usage->message + " (see hux-run --help)");
    }
    const RunOptions& options = std::get<RunOptions>(parsed);
    if (options.help) {
        std::fputs((usageText() + metricCodesText()).c_str(), stdout);
        return 0;
    }
    // Caps TBB for the whole process, the module's loops included, while the
    // object lives.
    std::optional<tbb::global_control> threadCap;
    if (options.threads)
        threadCap.emplace(tbb::global_control::max_allowed_parallelism, *options.threads);
    try {
        return run(options);
    } catch (const std::exception& e) {
        return complain(kExitCallFailed, e.what());
    }
}
