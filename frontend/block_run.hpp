// Runs through the module's pair-block entry, shared by hux-run and
// hux-run-mpi: the checks made before any output exists, a range of rows
// streamed to the output, and the nearest neighbours gathered and written.
#pragma once

#include "block_pipeline.hpp"
#include "call_inputs.hpp"
#include "command_line.hpp"
#include "nearest.hpp"
#include "pair_entry.hpp"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace huxrun {

// The call the options and inputs (MATRIX, CODE, PARAM as buildInputs made
// them) describe, with --threads.
PairCall pairCallFor(rowmetric_pairs_v1_fn entry, const RunOptions& options,
                     const std::vector<vornhost::ArrayPtr>& inputs);

// What computes each block: the pair-block entry on its rows. When
// `stopped` is given and says so before a block, that block fails with an
// empty text instead.
ComputeBlock computeBlocks(const PairCall& call, std::function<bool()> stopped = {});

// The one line for two blocks that cannot be allocated.
std::string noRoomForBlocks(std::uint64_t blockPairs);

// A checked run by blocks.
struct BlockRun {
    PairCall call;
    RowRange rows;                    // --rows, else every row
    std::vector<std::string> labels;  // --labels, else none
    std::uint64_t blockPairs = kBlockPairs;
    bool overlap = true;  // false at --threads 1: nothing runs beside the module
};

// Checks, in this order, the row selection, the neighbour count and the
// labels against the matrix (bad input), then the call itself by the
// module's own checks on an empty range of rows (a module error).
std::variant<BlockRun, Failure> checkBlockRun(const RunOptions& options, const PairCall& call);

// The distances of `run.rows` (--stream: block by block; else in one piece)
// written to --out or standard output as without blocks.
std::optional<Failure> writeRows(const RunOptions& options, const BlockRun& run);

// Every column's --nearest lists over the pairs of `rows`, still heaps,
// each block computed by `compute`.
std::variant<NeighbourLists, Failure> gatherNearest(const RunOptions& options, const BlockRun& run,
                                                    RowRange rows, const ComputeBlock& compute);

// Sorts the lists and writes them to --out or standard output: K lines per
// column, "column<TAB>neighbour<TAB>distance", 1-based or labelled.
std::optional<Failure> writeNearest(const RunOptions& options, NeighbourLists& lists,
                                    const std::vector<std::string>& labels);

}  // namespace huxrun
