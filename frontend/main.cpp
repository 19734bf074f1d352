// hux-run: loads a module, builds its inputs from the command line and
// Matrix Market files, calls it once and writes the result, or computes
// the result block by block through the module's pair-block entry.
#include "block_run.hpp"
#include "call_inputs.hpp"
#include "command_line.hpp"
#include "module_call.hpp"
#include "module_library.hpp"
#include "result_output.hpp"

#include <tbb/global_control.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace huxrun;

// Where the build puts the module, seen from hux-run's own directory.
constexpr const char* kModuleFromProgram = HUX_RUN_MODULE_FROM_PROGRAM;

int complain(int status, const std::string& text) {
    std::fprintf(stderr, "hux-run: %s\n", text.c_str());
    return status;
}

// Module errors are printed as the module words them ("Error: ..."); the
// rest as hux-run's own.
int fail(const Failure& failure) {
    if (failure.text.rfind("Error: ", 0) == 0) {
        std::fprintf(stderr, "%s\n", failure.text.c_str());
        return failure.status;
    }
    return complain(failure.status, failure.text);
}

// --stream, --rows, --nearest: the same inputs, handed to the pair-block
// entry one block of rows at a time.
int runByBlocks(const RunOptions& options, rowmetric_pairs_v1_fn entry,
                const std::vector<vornhost::ArrayPtr>& inputs) {
    auto checked = checkBlockRun(options, pairCallFor(entry, options, inputs));
    if (const auto* failure = std::get_if<Failure>(&checked)) return fail(*failure);
    const BlockRun& run = std::get<BlockRun>(checked);
    if (!options.nearest) {
        if (auto failure = writeRows(options, run)) return fail(*failure);
        return 0;
    }
    auto gathered = gatherNearest(options, run, run.rows, computeBlocks(run.call));
    if (const auto* failure = std::get_if<Failure>(&gathered)) return fail(*failure);
    if (auto failure = writeNearest(options, std::get<NeighbourLists>(gathered), run.labels))
        return fail(*failure);
    return 0;
}

int run(const RunOptions& options) {
    std::unique_ptr<ModuleLibrary> module;
    HuxFunction entry = nullptr;
    rowmetric_pairs_v1_fn pairsEntry = nullptr;
    try {
        const std::string path =
            options.modulePath ? *options.modulePath : moduleBesideProgram(kModuleFromProgram);
        module = std::make_unique<ModuleLibrary>(path);
        entry = checkedEntryPoint(*module, path);
        if (options.byBlocks()) pairsEntry = pairEntry(*module, path);
    } catch (const std::exception& e) {
        return complain(kExitBadInput, e.what());
    }

    std::vector<vornhost::ArrayPtr> inputs;
    if (auto failure = buildInputs(options, inputs)) return fail(*failure);
    if (options.byBlocks()) return runByBlocks(options, pairsEntry, inputs);

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
    // Past a file size limit a write then fails with EFBIG, which is
    // reported with how far the result got, instead of the signal killing
    // hux-run and leaving its temporary behind.
    std::signal(SIGXFSZ, SIG_IGN);
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
