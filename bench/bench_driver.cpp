// rowmetric_bench: times one metric of the module on one matrix file, checks
// the fast paths against the plain pair loop bit for bit, and prints JSON.
#include "csc_file.hpp"
#include "metric_runner.hpp"
#include "process_memory.hpp"

#include "vornhost/array_factory.hpp"
#include "block_run.hpp"
#include "result_output.hpp"
#include "entry.hpp"
#include "rowmetric/rowmetric.h"
#include "parameter_size.hpp"
#include "sweep_isa.hpp"
#include "vorn/array_api.hpp"

#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace api = matrix::detail::noninlined::vorn_array_api;
using rowbench::Engine;

constexpr const char* kUsage =
    "usage: rowmetric_bench --data FILE --metric CODE [options]\n"
    "  --param FILE      raw doubles, required by \"seu\" (its M weights) and \"mah\"\n"
    "                    (its M x M factor)\n"
    "  --exponent P      required by \"min\": its exponent, finite and above 0\n"
    "  --runs K          timed runs per thread count, median reported (default 5)\n"
    "  --threads LIST    comma-separated thread counts (default 1,2)\n"
    "  --check           run the plain pair loop once and compare bit for bit\n"
    "  --dump FILE       write the fast result (raw doubles) for the peers\n"
    "  --module          also time one call of huxFunction\n"
    "  --write-baseline  also time allocating and writing the result alone\n"
    "  --time-output DIR also time writing the result as hux-run --out does,\n"
    "                    as text and as binary, to a new file in DIR\n"
    "  --path NAME       time this path instead of the one the module chooses:\n"
    "                    pairLoop, tileSweep, laneSweep, sharedRowSweep,\n"
    "                    denseInnerProducts or mahalanobisSweep (to measure where\n"
    "                    one stops paying); laneSweep runs the widest variant\n"
    "                    this processor has (\"lane_isa\" in the output)\n"
    "  --blocks PAIRS    also time the result computed in row blocks of about PAIRS\n"
    "                    pairs through rowmetric_pairs_v1, as a streaming front end\n"
    "                    does, and one call for row 0 alone (the per-call setup)\n"
    "  --nearest K       also time each column's K nearest as hux-run --nearest finds\n"
    "                    them (blocks through rowmetric_pairs_v1), at the most threads\n"
    "  --dump-nearest FILE  write those lists: N x K column indices (uint64, from 0),\n"
    "                    then N x K distances (raw doubles)\n";

struct Options {
    std::string data;
    std::string metric;
    std::string param;
    std::string dump;
    std::string outputDir;
    std::string nearestDump;
    std::optional<std::uint64_t> nearest;
    std::optional<rowmetric::Path> path;
    std::optional<double> exponent;
    int runs = 5;
    std::vector<int> threads{1, 2};
    bool check = false;
    bool module = false;
    bool writeBaseline = false;
    std::uint64_t blockPairs = 0;
};

std::vector<int> parseThreadList(const std::string& text) {
    std::vector<int> list;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int t = std::stoi(item);
        if (t < 1) {
            throw std::invalid_argument("thread counts must be at least 1");
        }
        list.push_back(t);
    }
    if (list.empty()) {
        throw std::invalid_argument("--threads needs at least one count");
    }
    return list;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        auto next = [&]() -> std::string {
            if (a + 1 >= argc) {
                throw std::invalid_argument(arg + " needs a value");
            }
            return argv[++a];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg == "--data") {
            o.data = next();
        } else if (arg == "--metric") {
            o.metric = next();
        } else if (arg == "--param") {
            o.param = next();
        } else if (arg == "--exponent") {
            o.exponent = std::stod(next());
        } else if (arg == "--runs") {
            o.runs = std::max(1, std::stoi(next()));
        } else if (arg == "--threads") {
            o.threads = parseThreadList(next());
        } else if (arg == "--dump") {
            o.dump = next();
        } else if (arg == "--check") {
            o.check = true;
        } else if (arg == "--module") {
            o.module = true;
        } else if (arg == "--write-baseline") {
            o.writeBaseline = true;
        } else if (arg == "--time-output") {
            o.outputDir = next();
        } else if (arg == "--nearest") {
            o.nearest = std::stoull(next());
        } else if (arg == "--dump-nearest") {
            o.nearestDump = next();
        } else if (arg == "--blocks") {
            o.blockPairs = std::stoull(next());
            if (o.blockPairs == 0) {
                throw std::invalid_argument("--blocks needs a pair count above 0");
            }
        } else if (arg == "--path") {
            const std::string name = next();
            o.path = rowbench::pathNamed(name);
            if (!o.path) {
                throw std::invalid_argument("unknown path " + name);
            }
        } else {
            throw std::invalid_argument("unknown option " + arg);
        }
    }
    if (o.data.empty() || o.metric.empty()) {
        throw std::invalid_argument("--data and --metric are required");
    }
    return o;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t k = v.size() / 2;
    return v.size() % 2 == 1 ? v[k] : 0.5 * (v[k - 1] + v[k]);
}

// The third argument as the module gets it: --exponent as a scalar, or
// --param's doubles as a 1 x K row; null when the metric has none given.
vornhost::ArrayPtr parameterArray(const Options& o, rowmetric::ParameterRule rule,
                                  const std::vector<double>& param) {
    if (rule == rowmetric::ParameterRule::exponent) {
        return o.exponent ? vornhost::makeScalar(*o.exponent) : nullptr;
    }
    if (param.empty()) {
        return nullptr;
    }
    return vornhost::makeDense(vornClassDouble, 1, param.size(), param);
}

// The module's rules for the third argument, applied before anything runs:
// the kernels must never read a parameter that is missing or too short.
void checkParameter(const Options& o, rowmetric::ParameterRule rule, const vornArray* extra,
                    std::uint64_t nvars) {
    using rowmetric::ParameterProblem;
    const char* option = rule == rowmetric::ParameterRule::exponent ? "--exponent" : "--param";
    const rowmetric::ParameterView view = rowmetric::parameterView(extra, rule);
    switch (rowmetric::parameterProblem(rule, view, nvars)) {
        case ParameterProblem::missing:
            throw std::invalid_argument(o.metric + " needs " + option + ": " +
                                        rowmetric::expectedParameter(rule, nvars));
        case ParameterProblem::wrongSize:
            throw std::invalid_argument(std::string(option) + " does not fit " + o.metric +
                                        ": it must be " +
                                        rowmetric::expectedParameter(rule, nvars) + "; it is " +
                                        rowmetric::givenParameter(view));
        case ParameterProblem::badExponent:
            throw std::invalid_argument("--exponent must be a finite number above 0");
        case ParameterProblem::none:
            break;
    }
}

// The result array as the module creates it, through the host.
vornhost::ArrayPtr createResult(std::uint64_t pairs) {
    return vornhost::adopt(api::vornCreateNumericMatrix(1, pairs, vornClassDouble, vornReal));
}

double* resultData(const vornhost::ArrayPtr& a) {
    return static_cast<double*>(vornGetRealData(a.get()));
}

struct RunTimes {
    double total;    // allocation through the host plus the evaluation, as in distfun
    double compute;  // the evaluation alone
};

RunTimes timeOneRun(const rowbench::MetricRunner& run, Engine engine, std::uint64_t pairs) {
    const auto start = std::chrono::steady_clock::now();
    const vornhost::ArrayPtr result = createResult(pairs);
    const auto allocated = std::chrono::steady_clock::now();
    if (pairs != 0) {
        run(resultData(result), engine);
    }
    return RunTimes{seconds(start), seconds(allocated)};
}

// The floor for an output-bound call: allocating the result through the
// host and writing every element once, in parallel.
double timeAllocateAndWrite(std::uint64_t pairs) {
    const auto start = std::chrono::steady_clock::now();
    const vornhost::ArrayPtr result = createResult(pairs);
    double* out = resultData(result);
    tbb::parallel_for(std::uint64_t{0}, pairs, std::uint64_t{1} << 16,
                      [out, pairs](std::uint64_t b) {
                          const std::uint64_t e = std::min(pairs, b + (std::uint64_t{1} << 16));
                          std::fill(out + b, out + e, 1.0);
                      });
    return seconds(start);
}

// Writing the result as hux-run writes it, text and binary, each run to a
// new file in `dir` (the previous one removed untimed); medians of `runs`
// after a warm-up, with the file sizes.
void timeOutput(const std::string& dir, const double* values, std::uint64_t count, int runs) {
    for (const bool binary : {false, true}) {
        const std::string path = dir + (binary ? "/result.f64" : "/result.txt");
        std::vector<double> times;
        for (int r = 0; r <= runs; ++r) {
            ::unlink(path.c_str());
            const auto start = std::chrono::steady_clock::now();
            if (const auto error = huxrun::writeResult(path, values, count, binary)) {
                throw std::runtime_error(*error);
            }
            if (r > 0) times.push_back(seconds(start));
        }
        struct stat status {};
        ::stat(path.c_str(), &status);
        ::unlink(path.c_str());
        const char* form = binary ? "binary" : "text";
        std::printf(", \"%s_write_seconds\": %.6f, \"%s_bytes\": %lld", form, median(times), form,
                    static_cast<long long>(status.st_size));
    }
}

// Each column's K nearest as hux-run --nearest finds them: the pair-block
// entry (linked in) block by block, heaps fed while the next block is
// computed; medians of `runs` after a warm-up, with the sorted lists
// optionally dumped.
void timeNearest(const Options& o, const vornArray* x, const vornArray* extra, int runs) {
    huxrun::RunOptions options;
    options.nearest = *o.nearest;
    huxrun::BlockRun run;
    run.call = huxrun::pairCall(rowmetric_pairs_v1, x, o.metric, extra, 0);
    run.rows = huxrun::RowRange{0, run.call.matrix.n};
    auto gather = [&] {
        auto lists = huxrun::gatherNearest(options, run, run.rows, huxrun::computeBlocks(run.call));
        if (const auto* failure = std::get_if<huxrun::Failure>(&lists))
            throw std::runtime_error(failure->text);
        huxrun::NeighbourLists sorted = std::move(std::get<huxrun::NeighbourLists>(lists));
        huxrun::sortLists(sorted);
        return sorted;
    };
    gather();
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        gather();
        times.push_back(seconds(start));
    }
    std::printf(", \"nearest_k\": %llu, \"nearest_seconds\": %.6f",
                static_cast<unsigned long long>(*o.nearest), median(times));
    if (o.nearestDump.empty()) return;
    const huxrun::NeighbourLists lists = gather();
    std::vector<std::uint64_t> columns;
    std::vector<double> distances;
    for (const huxrun::Neighbour& neighbour : lists.slots) {
        columns.push_back(neighbour.column);
        distances.push_back(neighbour.distance);
    }
    std::FILE* file = std::fopen(o.nearestDump.c_str(), "wb");
    const bool written =
        file && std::fwrite(columns.data(), sizeof(std::uint64_t), columns.size(), file) ==
                    columns.size() &&
        std::fwrite(distances.data(), sizeof(double), distances.size(), file) == distances.size();
    if (file == nullptr || (std::fclose(file) != 0) || !written)
        throw std::runtime_error(o.nearestDump + ": cannot write the neighbour lists");
}

// The whole result in row blocks of about `blockPairs` pairs (cut with the
// public header's split), each through the block entry into one buffer, as a
// streaming front end computes it; medians of `runs`, the block count, whether
// the blocks give `whole` bit for bit, and one call for row 0 alone, whose
// pairs are few and whose setup covers the whole matrix.
void timeBlocks(const rowmetric_matrix& x, const std::string& code, const rowmetric_param& param,
                std::uint64_t blockPairs, const double* whole, int runs) {
    const std::uint64_t n = x.n;
    const std::uint64_t pairs = rowmetric_row_offset(n, n);
    const std::uint64_t parts = std::max<std::uint64_t>(1, (pairs + blockPairs - 1) / blockPairs);
    std::vector<double> block(blockPairs + n);
    char message[512];
    auto call = [&](std::uint64_t i0, std::uint64_t i1) {
        if (rowmetric_pairs_v1(&x, code.c_str(), &param, i0, i1, 0, block.data(), message,
                               sizeof message) != ROWMETRIC_OK) {
            throw std::runtime_error(message);
        }
    };
    bool same = true;
    std::vector<double> times;
    for (int r = 0; r <= runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (std::uint64_t k = 0; k < parts; ++k) {
            const huxrun::RowBlock part = huxrun::blockOf(n, huxrun::partOf(n, k, parts));
            call(part.rows.first, part.rows.end);
            same = same && (r > 0 || std::memcmp(block.data(), whole + part.offset,
                                                 part.pairs * sizeof(double)) == 0);
        }
        if (r > 0) times.push_back(seconds(start));  // the first run warms up
    }
    std::vector<double> single;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        call(0, 1);
        single.push_back(seconds(start));
    }
    std::printf(
        ", \"blocks\": %llu, \"blocks_seconds\": %.6f, \"blocks_identical\": %s, "
        "\"row0_seconds\": %.6f",
        static_cast<unsigned long long>(parts), median(times), same ? "true" : "false",
        median(single));
}

void printJsonNumberList(const char* name, const std::vector<std::pair<int, double>>& list) {
    std::printf("\"%s\": {", name);
    for (std::size_t k = 0; k < list.size(); ++k) {
        std::printf("%s\"%d\": %.6f", k == 0 ? "" : ", ", list[k].first, list[k].second);
    }
    std::printf("}");
}

int runBenchmark(const Options& o) {
    const rowbench::CscData data = rowbench::readCscFile(o.data);
    vornhost::SparseLayout layout;
    layout.m = data.m;
    layout.n = data.n;
    layout.colStart = data.colStart;
    layout.rowIndex = data.rowIndex;
    const vornhost::ArrayPtr x = vornhost::makeSparseDouble(layout, data.values);

    const rowmetric::CodeEntry* code = rowmetric::findCode(o.metric);
    if (code == nullptr) {
        throw std::invalid_argument("unknown metric code \"" + o.metric + "\"");
    }
    const rowmetric::ParameterRule rule = rowmetric::bodyEntry(code->body).parameter;
    std::vector<double> param;
    if (!o.param.empty()) {
        param = rowbench::readDoubles(o.param);
    }
    const vornhost::ArrayPtr extra = parameterArray(o, rule, param);
    checkParameter(o, rule, extra.get(), data.m);
    rowmetric::PairInputs in;
    in.n = data.n;
    in.nvars = data.m;
    in.values = static_cast<const double*>(vornGetRealData(x.get()));
    in.rowIndex = vornGetRowIndices(x.get());
    in.colStart = vornGetColumnStarts(x.get());
    in.paramData = param.empty() ? nullptr : param.data();
    in.exponent = o.exponent.value_or(0.0);
    const rowbench::MetricRunner run = rowbench::makeMetricRunner(o.metric, in, o.path);
    const rowmetric::Path chosen = rowbench::chosenPath(o.metric, in);
    const rowmetric::Path path = o.path ? *o.path : chosen;
    const std::uint64_t pairs = data.n < 2 ? 0 : data.n * (data.n - 1) / 2;
    const int maxThreads = *std::max_element(o.threads.begin(), o.threads.end());

    std::printf(
        "{\"metric\": \"%s\", \"m\": %llu, \"n\": %llu, \"stored\": %llu, \"pairs\": %llu, "
        "\"path\": \"%s\", \"chosen_path\": \"%s\", \"lane_isa\": \"%s\"",
        o.metric.c_str(), static_cast<unsigned long long>(data.m),
        static_cast<unsigned long long>(data.n),
        static_cast<unsigned long long>(vornhost::elementCount(x.get())),
        static_cast<unsigned long long>(pairs), rowmetric::pathName(path),
        rowmetric::pathName(chosen),
        rowmetric::isaName(rowmetric::widestIsa(rowmetric::cpuFeatures())));

    if (o.check) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        const vornhost::ArrayPtr plain = createResult(pairs);
        const auto start = std::chrono::steady_clock::now();
        run(resultData(plain), Engine::plain);
        const double plainSeconds = seconds(start);
        const vornhost::ArrayPtr fast = createResult(pairs);
        run(resultData(fast), Engine::fast);
        const bool same =
            std::memcmp(resultData(plain), resultData(fast), pairs * sizeof(double)) == 0;
        std::printf(", \"plain_seconds\": %.6f, \"bit_identical\": %s", plainSeconds,
                    same ? "true" : "false");
        if (!o.dump.empty()) {
            rowbench::writeDoubles(o.dump, resultData(fast), pairs);
        }
    }

    const bool peakReset = rowbench::resetPeakMemory();
    std::vector<std::pair<int, double>> totals;
    std::vector<std::pair<int, double>> computes;
    for (int threads : o.threads) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
        timeOneRun(run, Engine::fast, pairs);  // warm-up: page cache, thread pool
        std::vector<double> total;
        std::vector<double> compute;
        for (int r = 0; r < o.runs; ++r) {
            const RunTimes t = timeOneRun(run, Engine::fast, pairs);
            total.push_back(t.total);
            compute.push_back(t.compute);
        }
        totals.emplace_back(threads, median(total));
        computes.emplace_back(threads, median(compute));
    }
    std::printf(", ");
    printJsonNumberList("fast_seconds", totals);
    std::printf(", ");
    printJsonNumberList("compute_seconds", computes);
    std::printf(", \"peak_bytes\": %llu, \"peak_is_phase\": %s",
                static_cast<unsigned long long>(rowbench::peakMemoryBytes()),
                peakReset ? "true" : "false");

    if (o.writeBaseline) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        timeAllocateAndWrite(pairs);
        std::vector<double> times;
        for (int r = 0; r < o.runs; ++r) {
            times.push_back(timeAllocateAndWrite(pairs));
        }
        std::printf(", \"write_seconds\": %.6f", median(times));
    }

    if (!o.outputDir.empty()) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        const vornhost::ArrayPtr result = createResult(pairs);
        if (pairs != 0) run(resultData(result), Engine::fast);
        timeOutput(o.outputDir, resultData(result), pairs, o.runs);
    }

    if (o.nearest) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        timeNearest(o, x.get(), extra.get(), o.runs);
    }

    if (o.blockPairs != 0) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        const vornhost::ArrayPtr result = createResult(pairs);
        if (pairs != 0) run(resultData(result), Engine::fast);
        const rowmetric_matrix mx{data.m, data.n, in.values, in.rowIndex, in.colStart};
        rowmetric_param p{nullptr, 0, 0};
        if (rule == rowmetric::ParameterRule::exponent && o.exponent) {
            p = {&*o.exponent, 1, 1};
        } else if (!param.empty()) {
            p = {param.data(), 1, param.size()};
        }
        timeBlocks(mx, o.metric, p, o.blockPairs, resultData(result), o.runs);
    }

    if (o.module) {
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, maxThreads);
        const vornhost::ArrayPtr text = vornhost::makeText(o.metric);
        std::vector<const vornArray*> inputs{x.get(), text.get()};
        if (extra) {
            inputs.push_back(extra.get());
        }
        vornArray* outputs[1] = {nullptr};
        const auto start = std::chrono::steady_clock::now();
        huxFunction(1, outputs, static_cast<int>(inputs.size()), inputs.data());
        const double moduleSeconds = seconds(start);
        vornhost::adopt(outputs[0]);
        std::printf(", \"module_seconds\": %.6f", moduleSeconds);
    }
    std::printf("}\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return runBenchmark(parseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rowmetric_bench: %s\n", e.what());
        return 2;
    }
}
