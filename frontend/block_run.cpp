// The checks and the two kinds of output of a run by blocks.
#include "block_run.hpp"

#include "labels.hpp"
#include "result_budget.hpp"
#include "result_output.hpp"
#include "value_text.hpp"

#include <exception>
#include <new>

namespace huxrun {
namespace {

// Columns formatted per write of the neighbour lines.
constexpr std::uint64_t kColumnsPerWrite = 4096;

std::optional<Failure> checkNearest(std::uint64_t k, std::uint64_t n) {
    if (n < 2)
        return Failure{kExitBadInput, "--nearest needs a matrix of 2 columns or more; this one has " +
                                          std::to_string(n)};
    if (k > n - 1)
        return Failure{kExitBadInput, "--nearest " + std::to_string(k) + ": K runs from 1 to " +
                                          std::to_string(n - 1) + " for a matrix of " +
                                          std::to_string(n) + " columns"};
    return std::nullopt;
}

void appendName(std::string& text, std::uint64_t column, const std::vector<std::string>& labels) {
    if (labels.empty()) {
        text += std::to_string(column + 1);
    } else {
        text += labels[column];
    }
}

}  // namespace

PairCall pairCallFor(rowmetric_pairs_v1_fn entry, const RunOptions& options,
                     const std::vector<vornhost::ArrayPtr>& inputs) {
    const vornArray* param = inputs.size() > 2 ? inputs[2].get() : nullptr;
    return pairCall(entry, inputs[0].get(), *options.code, param,
                    static_cast<unsigned>(options.threads.value_or(0)));
}

ComputeBlock computeBlocks(const PairCall& call, std::function<bool()> stopped) {
    return [&call, stopped = std::move(stopped)](const RowBlock& block,
                                                 double* out) -> std::optional<std::string> {
        if (stopped && stopped()) return std::string();
        return computeRows(call, block.rows, out);
    };
}

std::string noRoomForBlocks(std::uint64_t blockPairs) {
    return "out of memory for two blocks of " + groupedDigits(blockPairs) + " distances";
}

std::variant<BlockRun, Failure> checkBlockRun(const RunOptions& options, const PairCall& call) {
    const std::uint64_t n = call.matrix.n;
    BlockRun run;
    run.call = call;
    run.rows = RowRange{0, n};
    if (options.rows) {
        auto rows = selectedRows(*options.rows, n);
        if (auto* error = std::get_if<std::string>(&rows)) return Failure{kExitBadInput, *error};
        run.rows = std::get<RowRange>(rows);
    }
    if (options.nearest) {
        if (auto failure = checkNearest(*options.nearest, n)) return *failure;
    }
    try {
        if (options.labelsPath) run.labels = readLabels(*options.labelsPath, n);
        run.blockPairs = blockPairsSetting();
    } catch (const std::exception& e) {
        return Failure{kExitBadInput, e.what()};
    }
    run.overlap = options.threads != 1;
    double unused = 0.0;
    if (auto error = computeRows(call, RowRange{0, 0}, &unused))
        return Failure{kExitCallFailed, *error};
    return run;
}

std::optional<Failure> writeRows(const RunOptions& options, const BlockRun& run) {
    const std::uint64_t n = run.call.matrix.n;
    const std::uint64_t total = blockOf(n, run.rows).pairs;
    try {
        ResultSink sink(options.outPath, total, "distances");
        const BlockPlan plan{n, run.rows, options.stream ? run.blockPairs : total, run.overlap};
        const auto error = forEachBlock(
            plan, computeBlocks(run.call), [&](const RowBlock& block, const double* values) {
                return sink.writeValues(values, block.pairs, options.binary);
            });
        if (error) return Failure{kExitCallFailed, *error};
        if (auto failed = sink.finish()) return Failure{kExitCallFailed, *failed};
    } catch (const std::bad_alloc&) {
        if (options.stream) return Failure{kExitCallFailed, noRoomForBlocks(run.blockPairs)};
        return Failure{kExitCallFailed, tooLargeToHold("the slice", total)};
    } catch (const std::exception& e) {
        return Failure{kExitCallFailed, e.what()};
    }
    return std::nullopt;
}

std::variant<NeighbourLists, Failure> gatherNearest(const RunOptions& options, const BlockRun& run,
                                                    RowRange rows, const ComputeBlock& compute) {
    const std::uint64_t n = run.call.matrix.n;
    try {
        NeighbourLists lists = emptyLists(n, *options.nearest);
        const auto error = forEachBlock(
            BlockPlan{n, rows, run.blockPairs, run.overlap}, compute,
            [&](const RowBlock& block, const double* values) -> std::optional<std::string> {
                addBlock(lists, n, block, values);
                return std::nullopt;
            });
        if (error) return Failure{kExitCallFailed, *error};
        return lists;
    } catch (const std::bad_alloc&) {
        return Failure{kExitCallFailed, "the neighbour lists (" + groupedDigits(n) + " x " +
                                            groupedDigits(*options.nearest) +
                                            " entries) and two blocks need more memory than this "
                                            "system can allocate"};
    }
}

std::optional<Failure> writeNearest(const RunOptions& options, NeighbourLists& lists,
                                    const std::vector<std::string>& labels) {
    sortLists(lists);
    try {
        ResultSink sink(options.outPath, lists.columns, "columns");
        std::string text;
        for (std::uint64_t first = 0; first < lists.columns; first += kColumnsPerWrite) {
            const std::uint64_t end = std::min(lists.columns, first + kColumnsPerWrite);
            text.clear();
            for (std::uint64_t c = first; c < end; ++c) {
                for (std::uint64_t s = 0; s < lists.k; ++s) {
                    const Neighbour& neighbour = lists.slots[c * lists.k + s];
                    appendName(text, c, labels);
                    text += '\t';
                    appendName(text, neighbour.column, labels);
                    text += '\t';
                    const std::size_t at = text.size();
                    text.resize(at + kMaxValueLineLength);
                    text.resize(static_cast<std::size_t>(
                        writeValueLine(text.data() + at, neighbour.distance) - text.data()));
                }
            }
            if (auto error = sink.writeText(text, end - first)) return Failure{kExitCallFailed, *error};
        }
        if (auto error = sink.finish()) return Failure{kExitCallFailed, *error};
    } catch (const std::exception& e) {
        return Failure{kExitCallFailed, e.what()};
    }
    return std::nullopt;
}

}  // namespace huxrun
