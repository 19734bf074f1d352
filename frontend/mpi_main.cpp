// hux-run-mpi: hux-run's runs by blocks spread over the ranks of an MPI job.
// Each rank reads the matrix and computes rows of nearly equal pair counts;
// the full result goes into one binary file at its condensed offsets
// through MPI-IO, and --nearest lists are merged on rank 0, which writes
// them. The output is byte for byte hux-run's, at any number of ranks.
#include "block_run.hpp"
#include "call_inputs.hpp"
#include "command_line.hpp"
#include "module_library.hpp"
#include "output_file.hpp"
#include "result_budget.hpp"

#include <mpi.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace huxrun;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the binary result is written as the machine holds its doubles");

constexpr const char* kModuleFromProgram = HUX_RUN_MODULE_FROM_PROGRAM;

// Doubles per MPI-IO call: its counts are ints.
constexpr std::uint64_t kMaxWriteCount = std::uint64_t{1} << 27;

struct Job {
    int rank = 0;
    int size = 1;
};

std::string mpiUsageText() {
    return R"(Usage: mpirun [-n RANKS] hux-run-mpi [options] MATRIX CODE [PARAM] --binary --out FILE
       mpirun [-n RANKS] hux-run-mpi [options] MATRIX CODE [PARAM] --nearest K [--labels FILE]

hux-run's runs by blocks (see hux-run --help) spread over the ranks of an MPI
job. Every rank reads MATRIX (a file every rank can read; not "-") and
computes the rows of its share, contiguous and of nearly equal pair counts,
block by block through the module's pair-block entry.

  --binary --out FILE  the full result as raw little-endian doubles in FILE,
                       each rank writing its blocks at their condensed
                       offsets (MPI-IO); FILE is replaced only once every rank
                       has written all of its share. Text output of the full
                       result is not offered: its offsets are not known in
                       advance
  --nearest K          each column's K nearest other columns, exact, as
                       hux-run --nearest prints them: every rank keeps lists
                       for all N columns, and one reduction merges them on
                       rank 0, which writes them to --out FILE or its
                       standard output
  --labels FILE        with --nearest: one label per line, a line per column

Also taken, as hux-run takes them: --module, --threads (per rank), --raw,
--prepare, --stream (changes nothing: ranks always work by blocks), --help.
A rank that fails while computing tells the others, which stop before their
next block; rank 0 then writes the failing rank's message on one line, and
every rank exits with status 1 (2 for a bad command line or input), FILE
left as it was. (mpirun -q keeps Open MPI's own notices off the error
stream.) The output is byte for byte that of hux-run on one machine.
)";
}

// Every rank passes its own failure, or nothing; every rank gets the failure
// of the lowest failing rank, named, or nothing when none failed.
std::optional<Failure> agree(const Job& job, const std::optional<Failure>& mine) {
    const int failing = mine ? job.rank : job.size;
    int lowest = job.size;
    MPI_Allreduce(&failing, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (lowest == job.size) return std::nullopt;
    int header[2] = {0, 0};  // exit status, message length
    std::string text;
    if (job.rank == lowest) {
        header[0] = mine->status;
        header[1] = static_cast<int>(mine->text.size());
        text = mine->text;
    }
    MPI_Bcast(header, 2, MPI_INT, lowest, MPI_COMM_WORLD);
    text.resize(static_cast<std::size_t>(header[1]));
    MPI_Bcast(text.data(), header[1], MPI_CHAR, lowest, MPI_COMM_WORLD);
    return Failure{header[0], "rank " + std::to_string(lowest) + ": " + text};
}

// A rank that fails while computing its share tells the others, which stop
// before their next block instead of finishing their shares for nothing.
// Owns the notices it sent until every rank has settled them.
class StopNotices {
public:
    explicit StopNotices(const Job& job) : job_(job) {}
    StopNotices(const StopNotices&) = delete;
    StopNotices& operator=(const StopNotices&) = delete;
    ~StopNotices() { MPI_Waitall(static_cast<int>(sent_.size()), sent_.data(), MPI_STATUSES_IGNORE); }

    void send() {
        for (int rank = 0; rank < job_.size; ++rank) {
            if (rank == job_.rank) continue;
            sent_.emplace_back();
            MPI_Issend(nullptr, 0, MPI_BYTE, rank, kTag, MPI_COMM_WORLD, &sent_.back());
        }
    }

    // Whether another rank has failed; the notice stays until settle().
    bool received() const {
        int pending = 0;
        MPI_Iprobe(MPI_ANY_SOURCE, kTag, MPI_COMM_WORLD, &pending, MPI_STATUS_IGNORE);
        return pending != 0;
    }

    // On every rank once the step is over: receives each notice sent to this
    // rank, so that none is left behind for a later step.
    void settle() {
        const int sent = sent_.empty() ? 0 : 1;
        std::vector<int> senders(static_cast<std::size_t>(job_.size));
        MPI_Allgather(&sent, 1, MPI_INT, senders.data(), 1, MPI_INT, MPI_COMM_WORLD);
        for (int rank = 0; rank < job_.size; ++rank) {
            if (senders[static_cast<std::size_t>(rank)] && rank != job_.rank)
                MPI_Recv(nullptr, 0, MPI_BYTE, rank, kTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        }
    }

private:
    static constexpr int kTag = 17;
    Job job_;
    std::vector<MPI_Request> sent_;
};

// A rank's own failure in a step; a rank stopped by another's notice (an
// empty text) has none of its own.
std::optional<Failure> ownFailure(const std::optional<Failure>& failure, StopNotices& notices) {
    if (!failure || failure->text.empty()) return std::nullopt;
    notices.send();
    return failure;
}

// Ends the job on an agreed failure: rank 0 prints it, every rank returns
// its status. (Agreements need every rank to take the same steps in the
// same order, so each step ends with one.)
int finish(const Job& job, const Failure& failure) {
    if (job.rank == 0) std::fprintf(stderr, "hux-run-mpi: %s\n", failure.text.c_str());
    return failure.status;
}

std::optional<Failure> checkOptions(const RunOptions& options) {
    auto refuse = [](const std::string& text) { return Failure{kExitBadInput, text}; };
    if (!options.matrixPath || !options.code) return refuse("missing MATRIX or CODE");
    if (options.matrixPath == "-" || options.param == "-" || options.labelsPath == "-")
        return refuse("every rank reads MATRIX, PARAM and --labels: name files, not -");
    if (options.rows) return refuse("--rows is for single runs; here the ranks share the rows");
    if (options.dense || options.nargout != 1 || options.paramClass != vornClassDouble)
        return refuse("--dense, --nargout and --param-class shape a call of huxFunction, which "
                      "hux-run-mpi does not make");
    if (options.nearest) return std::nullopt;
    if (!options.binary)
        return refuse("text output of the full result is not offered under MPI (its offsets are "
                      "not known in advance); use --binary --out FILE");
    if (!options.outPath) return refuse("the full result goes to one file: --out FILE");
    return std::nullopt;
}

// Module, inputs and the checks of a run by blocks, on every rank.
std::optional<Failure> prepare(const RunOptions& options,
                               std::unique_ptr<ModuleLibrary>& module,
                               std::vector<vornhost::ArrayPtr>& inputs,
                               std::optional<BlockRun>& run) {
    rowmetric_pairs_v1_fn entry = nullptr;
    try {
        const std::string path =
            options.modulePath ? *options.modulePath : moduleBesideProgram(kModuleFromProgram);
        module = std::make_unique<ModuleLibrary>(path);
        checkedEntryPoint(*module, path);
        entry = pairEntry(*module, path);
    } catch (const std::exception& e) {
        return Failure{kExitBadInput, e.what()};
    }
    if (auto failure = buildInputs(options, inputs)) return failure;
    auto checked = checkBlockRun(options, pairCallFor(entry, options, inputs));
    if (auto* failure = std::get_if<Failure>(&checked)) return *failure;
    run = std::move(std::get<BlockRun>(checked));
    return std::nullopt;
}

RowRange shareOf(const Job& job, std::uint64_t n) {
    return partOf(n, static_cast<std::uint64_t>(job.rank), static_cast<std::uint64_t>(job.size));
}

// Merges two sets of lists; the list length is the datatype's.
void mergeNeighbourLists(void* in, void* inout, int* count, MPI_Datatype* type) {
    int bytes = 0;
    MPI_Type_size(*type, &bytes);
    mergeLists(static_cast<Neighbour*>(inout), static_cast<const Neighbour*>(in),
               static_cast<std::uint64_t>(*count), static_cast<std::uint64_t>(bytes) / sizeof(Neighbour));
}

int runNearest(const Job& job, const RunOptions& options, const BlockRun& run) {
    const std::uint64_t n = run.call.matrix.n;
    StopNotices notices(job);
    auto gathered = gatherNearest(options, run, shareOf(job, n),
                                  computeBlocks(run.call, [&] { return notices.received(); }));
    const Failure* failed = std::get_if<Failure>(&gathered);
    const auto mine = ownFailure(failed ? std::optional<Failure>(*failed) : std::nullopt, notices);
    notices.settle();
    if (auto failure = agree(job, mine)) return finish(job, *failure);
    NeighbourLists& lists = std::get<NeighbourLists>(gathered);

    // One column's list is one element; the merge is commutative, and its
    // result (the K first of a total order) does not depend on the grouping.
    MPI_Datatype list;
    MPI_Type_contiguous(static_cast<int>(lists.k * sizeof(Neighbour)), MPI_BYTE, &list);
    MPI_Type_commit(&list);
    MPI_Op merge;
    MPI_Op_create(mergeNeighbourLists, 1, &merge);
    void* sendBuffer = job.rank == 0 ? MPI_IN_PLACE : lists.slots.data();
    MPI_Reduce(sendBuffer, lists.slots.data(), static_cast<int>(n), list, merge, 0, MPI_COMM_WORLD);
    MPI_Op_free(&merge);
    MPI_Type_free(&list);

    std::optional<Failure> written;
    if (job.rank == 0) written = writeNearest(options, lists, run.labels);
    if (auto failure = agree(job, written)) return finish(job, *failure);
    return 0;
}

std::string mpiErrorText(int code) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    MPI_Error_string(code, text, &length);
    return std::string(text, static_cast<std::size_t>(length));
}

// Writes one block at its condensed offset; counts what was written.
std::optional<std::string> writeAt(MPI_File file, const RowBlock& block, const double* values,
                                   std::uint64_t& written) {
    for (std::uint64_t done = 0; done < block.pairs;) {
        const int count = static_cast<int>(std::min(kMaxWriteCount, block.pairs - done));
        const auto at = static_cast<MPI_Offset>((block.offset + done) * sizeof(double));
        MPI_Status status;
        const int code = MPI_File_write_at(file, at, values + done, count, MPI_DOUBLE, &status);
        int got = 0;
        if (code == MPI_SUCCESS) MPI_Get_count(&status, MPI_DOUBLE, &got);
        if (code != MPI_SUCCESS) return mpiErrorText(code);
        // Open MPI's own I/O layer returns success with a short count (and
        // prints the system's reason itself).
        if (got != count)
            return "MPI-IO wrote " + std::to_string(got) + " of " + std::to_string(count) +
                   " distances at distance " + groupedDigits(block.offset + done);
        done += static_cast<std::uint64_t>(count);
        written += static_cast<std::uint64_t>(count);
    }
    return std::nullopt;
}

int runFull(const Job& job, const RunOptions& options, const BlockRun& run) {
    const std::uint64_t n = run.call.matrix.n;
    // Rank 0 opens the destination: a temporary beside it that every rank
    // writes and that becomes FILE once all of them are done.
    std::optional<OutputFile> output;
    std::optional<Failure> opened;
    std::string temporary;
    if (job.rank == 0) {
        try {
            output.emplace(*options.outPath);
            temporary = output->temporaryPath();
            if (temporary.empty())
                opened = Failure{kExitBadInput, output->shownName() +
                                                    ": under MPI --out must name a file (or a "
                                                    "new path), which is replaced when complete"};
        } catch (const std::exception& e) {
            opened = Failure{kExitCallFailed, e.what()};
        }
    }
    if (auto failure = agree(job, opened)) return finish(job, *failure);
    int length = static_cast<int>(temporary.size());
    MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
    temporary.resize(static_cast<std::size_t>(length));
    MPI_Bcast(temporary.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);

    MPI_File file;
    const int code = MPI_File_open(MPI_COMM_WORLD, temporary.c_str(), MPI_MODE_WRONLY,
                                   MPI_INFO_NULL, &file);
    std::optional<Failure> failed;
    if (code != MPI_SUCCESS)
        failed = Failure{kExitCallFailed, *options.outPath + ": cannot open for MPI-IO: " +
                                              mpiErrorText(code)};
    if (auto failure = agree(job, failed)) return finish(job, *failure);

    const RowRange share = shareOf(job, n);
    const std::uint64_t total = blockOf(n, share).pairs;
    std::uint64_t written = 0;
    StopNotices notices(job);
    try {
        const auto error = forEachBlock(
            BlockPlan{n, share, run.blockPairs, run.overlap},
            computeBlocks(run.call, [&] { return notices.received(); }),
            [&](const RowBlock& block, const double* values) -> std::optional<std::string> {
                auto problem = writeAt(file, block, values, written);
                if (!problem) return std::nullopt;
                return *options.outPath + ": cannot write the result: " + *problem + " (stopped after " +
                       groupedDigits(written) + " of this rank's " + groupedDigits(total) +
                       " distances; " + *options.outPath + " was left as it was)";
            });
        if (error) failed = Failure{kExitCallFailed, *error};
    } catch (const std::bad_alloc&) {
        failed = Failure{kExitCallFailed, noRoomForBlocks(run.blockPairs)};
    }
    MPI_File_close(&file);
    const auto mine = ownFailure(failed, notices);
    notices.settle();
    if (auto failure = agree(job, mine)) return finish(job, *failure);

    std::optional<Failure> committed;
    if (job.rank == 0) {
        try {
            output->commit();
        } catch (const std::exception& e) {
            committed = Failure{kExitCallFailed, e.what()};
        }
    }
    if (auto failure = agree(job, committed)) return finish(job, *failure);
    return 0;
}

int runJob(const Job& job, const std::vector<std::string>& args) {
    auto parsed = parseCommandLine(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed))
        return finish(job, Failure{kExitBadInput, usage->message + " (see hux-run-mpi --help)"});
    const RunOptions& options = std::get<RunOptions>(parsed);
    if (options.help) {
        if (job.rank == 0) std::fputs((mpiUsageText() + metricCodesText()).c_str(), stdout);
        return 0;
    }
    if (auto failure = checkOptions(options))
        return finish(job, Failure{failure->status, failure->text + " (see hux-run-mpi --help)"});

    std::optional<tbb::global_control> threadCap;
    if (options.threads)
        threadCap.emplace(tbb::global_control::max_allowed_parallelism, *options.threads);
    std::unique_ptr<ModuleLibrary> module;
    std::vector<vornhost::ArrayPtr> inputs;
    std::optional<BlockRun> run;
    if (auto failure = agree(job, prepare(options, module, inputs, run)))
        return finish(job, *failure);
    return options.nearest ? runNearest(job, options, *run) : runFull(job, options, *run);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past a size limit fails and is reported
    MPI_Init(&argc, &argv);
    Job job;
    MPI_Comm_rank(MPI_COMM_WORLD, &job.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &job.size);
    int status = kExitCallFailed;
    try {
        status = runJob(job, std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        // Only a rank's own failure gets here, outside any agreement: the
        // job cannot go on without it.
        std::fprintf(stderr, "hux-run-mpi: rank %d: %s\n", job.rank, e.what());
        MPI_Abort(MPI_COMM_WORLD, kExitCallFailed);
    }
    MPI_Finalize();
    return status;
}
