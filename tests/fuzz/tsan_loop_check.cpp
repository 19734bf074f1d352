// Every path of the module under ThreadSanitizer: all ten metric bodies on
// random sparse, fully stored and widely spread matrices, through runPairs
// (the path choosePath picks) and through every path the metric may take
// and the matrix allows, forced (the lane sweep in each variant this
// processor runs), at 2, 3 and 8 threads; each output compared bit for bit
// with the kernels called one pair at a time. It prints, per path, the runs
// and the failures.
//
// Debian's libtbb is not instrumented, so the hand-over of work between
// threads inside it is invisible to the sanitizer. The module's one parallel
// loop (parallelForEach) therefore calls the announce functions defined here:
// the calling thread releases a "start" token that every task acquires when
// it starts, and every task releases a "done" token that the calling thread
// acquires when the loop returns: exactly the ordering parallel_for
// guarantees. Per-thread scratch (enumerable_thread_specific) is created
// inside a task, after its start. Tasks never acquire each other's releases,
// so a race between two tasks of one loop is still reported.
//
// --racy-controls lists the controls, one per kind of parallel structure;
// --racy-control NAME runs one, which races and must be reported.
#include "fuzz_check.hpp"
#include "sparse_input.hpp"

#include "run_pairs.hpp"

#include <sanitizer/tsan_interface.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace rowmetric {

namespace {
void* startToken(const void* loop) { return const_cast<void*>(loop); }
void* doneToken(const void* loop) { return static_cast<char*>(const_cast<void*>(loop)) + 1; }
}  // namespace

void announceLoopStart(const void* loop) { __tsan_release(startToken(loop)); }
void announceTaskStart(const void* loop) { __tsan_acquire(startToken(loop)); }
void announceTaskEnd(const void* loop) { __tsan_release(doneToken(loop)); }
void announceLoopEnd(const void* loop) { __tsan_acquire(doneToken(loop)); }

}  // namespace rowmetric

namespace {

namespace rm = rowmetric;
using fuzz::SparseColumns;

// Long enough, over a control's rounds, that TBB's workers join before the
// calling thread could finish a control's loop alone.
void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }
constexpr int kRounds = 5;

// The racy controls, one per kind of parallel structure. Each runs through
// the module's parallel loop, so its announcements are in force.
struct RacyControl {
    const char* name;
    void (*run)();
};

// The pair loop: every observation's body adds to the same output slot.
void racyOutputSlot() {
    struct RacyBody {
        std::uint64_t n;
        double* out;
        std::uint64_t rowLimit = n;
        void operator()(std::uint64_t i) const {
            for (int round = 0; round < kRounds; ++round) {
                out[0] += static_cast<double>(i);
                pause();
            }
        }
    };
    std::vector<double> out(1, 0.0);
    rm::runPairLoop(RacyBody{64, out.data()});
}

// Per-thread scratch: every thread's scratch is the same buffer, so two
// tasks on different threads fill and read it at once.
void racySharedScratch() {
    std::vector<double> shared(64);
    tbb::enumerable_thread_specific<std::vector<double>*> scratch([&shared] { return &shared; });
    std::vector<double> out(64);
    rm::parallelForEach(64, [&](std::uint64_t blk) {
        std::vector<double>& acc = *scratch.local();
        for (int round = 0; round < kRounds; ++round) {
            std::fill(acc.begin(), acc.end(), static_cast<double>(blk));
            pause();
            out[blk] += acc[blk];
        }
    });
}

// Parts of an index (row counting and dealing, block unions): each part
// writes its own range of one array, but these ranges overlap by one slot.
void racyOverlappingParts() {
    constexpr std::uint64_t kWidth = 16;
    std::vector<double> slots(64 * kWidth + 1);
    rm::parallelForEach(64, [&](std::uint64_t part) {
        for (int round = 0; round < kRounds; ++round) {
            for (std::uint64_t s = part * kWidth; s <= (part + 1) * kWidth; ++s) {
                slots[s] = static_cast<double>(part);
            }
            pause();
        }
    });
}

constexpr RacyControl kControls[] = {
    {"output-slot", racyOutputSlot},
    {"shared-scratch", racySharedScratch},
    {"overlapping-parts", racyOverlappingParts},
};

// Rows drawn with the given density; every `rowStride`-th row, so a large
// stride spreads few entries over a row range too wide for the row index.
SparseColumns randomMatrix(std::uint64_t rows, std::uint64_t cols, double density, unsigned seed,
                           std::uint64_t rowStride = 1) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    SparseColumns x;
    x.rows = rows * rowStride;
    x.cols = cols;
    for (std::uint64_t c = 0; c < cols; ++c) {
        for (std::uint64_t r = 0; r < rows; ++r) {
            if (unit(rng) >= density) {
                continue;
            }
            const std::uint64_t kind = rng() % 40;
            const double v = kind == 0   ? std::nan("")
                             : kind == 1 ? 1.0 / 0.0
                             : kind == 2 ? 0.0
                                         : unit(rng) * 4.0 - 2.0;
            x.rowIndex.push_back(r * rowStride);
            x.values.push_back(v);
        }
        x.colStart.push_back(x.rowIndex.size());
    }
    return x;
}

struct Tally {
    std::size_t runs = 0;
    std::size_t failures = 0;
    std::size_t chosen = 0;  // runs through runPairs that took this path
};

using PathTallies = std::vector<Tally>;  // by Path

// Runs the body through runPairs and through every path it may take on this
// matrix, forced; each output must equal the kernels' bits.
template <class Body>
void checkBody(Body body, std::vector<double>& out, PathTallies& tallies) {
    const std::uint64_t n = body.n;
    constexpr rm::BodyKind kind = decltype(body.call)::kKind;
    body.out = out.data();
    std::vector<double> expected(out.size());
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = i + 1; j < n; ++j) {
            expected[rm::condensedPosition(i, j, n)] = body.distance(i, j);
        }
    }
    const rm::MatrixShape shape = rm::measureMatrix(body.rowIndex, body.colStart, n);
    auto check = [&](rm::Path path, const std::string& how, const auto& run) {
        Tally& tally = tallies[static_cast<std::size_t>(path)];
        for (int threads : {2, 3, 8}) {
            tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
            std::fill(out.begin(), out.end(), -1.0);
            run();
            ++tally.runs;
            tally.chosen += how == "chosen";
            for (std::size_t p = 0; p < out.size(); ++p) {
                if (!fuzz::sameBits(out[p], expected[p])) {
                    ++tally.failures;
                    std::fprintf(stderr, "body %d, %s %s, %d threads: slot %zu differs\n",
                                 static_cast<int>(kind), rm::pathName(path), how.c_str(),
                                 threads, p);
                    break;
                }
            }
        }
    };
    check(rm::choosePath(kind, shape), "chosen", [&] { rm::runPairs(body); });
    check(rm::Path::pairLoop, "forced", [&] { rm::runPairLoop(body); });
    for (const rm::Path path : rm::bodyEntry(kind).fastPaths) {
        if (path == rm::Path::pairLoop || path == rm::Path::laneSweep ||
            !rm::pathCanRun(path, shape)) {
            continue;
        }
        check(path, "forced", [&] { rm::runPath(path, body, shape); });
    }
    if constexpr (rm::mayServe(kind, rm::Path::laneSweep)) {
        for (const rm::Isa isa : rm::kIsas) {
            if (rm::runsOn(isa, rm::cpuFeatures()) && rm::pathCanRun(rm::Path::laneSweep, shape)) {
                check(rm::Path::laneSweep, std::string("forced ") + rm::isaName(isa),
                      [&] { rm::runLaneSweep(body, shape, isa); });
            }
        }
    }
}

// Every body on one matrix; those that read a weight per row or an M x M
// factor run only where M is small.
void checkAllBodies(const SparseColumns& x, PathTallies& tallies) {
    const std::uint64_t m = x.rows;
    const bool fewRows = m <= 1000;
    std::vector<double> out(x.cols * (x.cols - (x.cols > 0)) / 2);
    std::vector<double> weights(fewRows ? m : 0, 0.5);
    std::vector<double> u(fewRows ? m * m : 0, 0.0);
    for (std::uint64_t k = 0; fewRows && k < m; ++k) {
        u[k + k * m] = 1.0;
        if (k > 0) {
            u[k - 1 + k * m] = -0.25;
        }
    }
    for (const rm::BodyEntry& entry : rm::kBodies) {
        if (rm::readsParameterData(entry.parameter) && !fewRows) {
            continue;
        }
        rm::PairInputs in = fuzz::pairInputs(x);
        in.exponent = 3.0;
        in.paramData = entry.parameter == rm::ParameterRule::weights ? weights.data() : u.data();
        rm::withBody(entry.kind, in, [&](const auto& body) { checkBody(body, out, tallies); });
    }
}

int runControl(const char* name) {
    for (const RacyControl& control : kControls) {
        if (std::strcmp(control.name, name) == 0) {
            tbb::global_control limit(tbb::global_control::max_allowed_parallelism, 4);
            control.run();
            std::printf("racy control %s finished without a report\n", name);
            return 0;
        }
    }
    std::fprintf(stderr, "tsan-loop-check: no racy control named %s\n", name);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--racy-controls") == 0) {
        for (const RacyControl& control : kControls) {
            std::printf("%s\n", control.name);
        }
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "--racy-control") == 0) {
        return runControl(argv[2]);
    }
    const auto start = std::chrono::steady_clock::now();
    PathTallies tallies(rm::kPathCount);
    // Sparse: the tile and shared-row sweeps are chosen; one column and none.
    checkAllBodies(randomMatrix(40, 120, 0.2, 1), tallies);
    checkAllBodies(randomMatrix(200, 60, 0.05, 2), tallies);
    checkAllBodies(randomMatrix(8, 300, 0.5, 3), tallies);
    checkAllBodies(randomMatrix(30, 2, 0.3, 5), tallies);
    checkAllBodies(randomMatrix(5, 1, 0.5, 6), tallies);
    // Fully stored: the dense inner products; the differ counts fall back to
    // the pair loop, as sharing every row does not pay.
    checkAllBodies(randomMatrix(24, 70, 1.0, 7), tallies);
    // Rows spread far beyond the entries: no row index, the pair loop.
    checkAllBodies(randomMatrix(30, 50, 0.2, 8, std::uint64_t{1} << 30), tallies);
    Tally total;
    for (std::size_t p = 0; p < rm::kPathCount; ++p) {
        const Tally& t = tallies[p];
        std::printf("  path %s: %zu inputs tried, %zu failures\n",
                    rm::pathName(static_cast<rm::Path>(p)), t.runs, t.failures);
        std::printf("    of which %zu chosen by runPairs\n", t.chosen);
        total.runs += t.runs;
        total.failures += t.failures;
    }
    std::printf("the lane sweep is chosen only with AVX-512F, on at least %llu columns of at "
                "least %llu entries: too large for this check, so it is forced here\n",
                static_cast<unsigned long long>(rm::kLaneMinColumns),
                static_cast<unsigned long long>(rm::kLaneMinEntriesPerColumn));
    for (const rm::Isa isa : rm::kIsas) {
        if (!rm::runsOn(isa, rm::cpuFeatures())) {
            std::printf("the %s variant of the lane sweep was not run: this processor lacks %s\n",
                        rm::isaName(isa), rm::isaName(isa));
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("TSan paths: %zu inputs tried, %zu failures, %.1f s\n", total.runs,
                total.failures, seconds);
    return total.failures == 0 ? 0 : 1;
}
