// The module's parallel loops under ThreadSanitizer: all ten metric bodies
// through the plain pair loop, and the union folds through the lane sweep in
// every variant this processor runs, on random sparse data at several thread
// counts, each output compared bit for bit with the kernels called one pair
// at a time.
//
// Debian's libtbb is not instrumented, so the hand-over of work between
// threads inside it is invisible to the sanitizer. The module's one parallel
// loop (parallelForEach) therefore calls the announce functions defined here:
// the calling thread releases a "start" token that every task acquires when
// it starts, and every task releases a "done" token that the calling thread
// acquires when the loop returns: exactly the ordering parallel_for
// guarantees. Tasks never acquire each other's releases, so a race between
// two tasks of one loop (overlapping output blocks, shared scratch) is still
// reported. --racy-control runs a body that does race, to prove the check can
// see one.
#include "fuzz_check.hpp"
#include "sparse_input.hpp"

#include "metric_bodies.hpp"
#include "sweep_lanes.hpp"

#include <sanitizer/tsan_interface.h>
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

using fuzz::SparseColumns;

// Every iteration adds to the same slot: a real race the check must report.
// Each one takes a few milliseconds, so that TBB's workers have long joined
// in before the calling thread could finish the range alone.
struct RacyBody {
    std::uint64_t n;
    double* out;
    void operator()(std::uint64_t i) const {
        for (int k = 0; k < 5; ++k) {
            out[0] += static_cast<double>(i);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

SparseColumns randomMatrix(std::uint64_t rows, std::uint64_t cols, double density, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    SparseColumns x;
    x.rows = rows;
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
            x.rowIndex.push_back(r);
            x.values.push_back(v);
        }
        x.colStart.push_back(x.rowIndex.size());
    }
    return x;
}

struct Tally {
    std::size_t runs = 0;
    std::size_t failures = 0;
};

// Runs the body through the pair loop and, for the union folds, through
// each lane-sweep variant this processor runs; each output must equal the
// kernels' bits.
template <class Body>
void checkBody(Body body, std::vector<double>& out, Tally& tally) {
    const std::uint64_t n = body.n;
    constexpr rowmetric::BodyKind kind = decltype(body.call)::kKind;
    body.out = out.data();
    std::vector<double> expected(out.size());
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = i + 1; j < n; ++j) {
            expected[rowmetric::condensedPosition(i, j, n)] = body.distance(i, j);
        }
    }
    auto check = [&](const std::string& what, const auto& run) {
        for (int threads : {2, 4, 8}) {
            tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
            for (int repeat = 0; repeat < 2; ++repeat) {
                std::fill(out.begin(), out.end(), -1.0);
                run();
                ++tally.runs;
                for (std::size_t p = 0; p < out.size(); ++p) {
                    if (!fuzz::sameBits(out[p], expected[p])) {
                        ++tally.failures;
                        std::fprintf(stderr, "body %d, %s, %d threads: slot %zu differs\n",
                                     static_cast<int>(kind), what.c_str(), threads, p);
                        break;
                    }
                }
            }
        }
    };
    check("pair loop", [&] { rowmetric::runPairLoop(body); });
    if constexpr (rowmetric::mayServe(kind, rowmetric::Path::laneSweep)) {
        const rowmetric::MatrixShape shape = rowmetric::measureMatrix(body.rowIndex, body.colStart, n);
        for (const rowmetric::Isa isa : rowmetric::kIsas) {
            if (rowmetric::runsOn(isa, rowmetric::cpuFeatures())) {
                check(std::string("lane sweep ") + rowmetric::isaName(isa),
                      [&] { rowmetric::runLaneSweep(body, shape, isa); });
            }
        }
    }
}

void checkAllBodies(const SparseColumns& x, Tally& tally) {
    const std::uint64_t m = x.rows;
    std::vector<double> out(x.cols * (x.cols - (x.cols > 0)) / 2);
    std::vector<double> weights(m, 0.5);
    std::vector<double> u(m * m, 0.0);
    for (std::uint64_t k = 0; k < m; ++k) {
        u[k + k * m] = 1.0;
        if (k > 0) {
            u[k - 1 + k * m] = -0.25;
        }
    }
    for (const rowmetric::BodyEntry& entry : rowmetric::kBodies) {
        rowmetric::PairInputs in = fuzz::pairInputs(x);
        in.exponent = 3.0;
        in.paramData =
            entry.parameter == rowmetric::ParameterRule::weights ? weights.data() : u.data();
        rowmetric::withBody(entry.kind, in, [&](const auto& body) { checkBody(body, out, tally); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--racy-control") == 0) {
        std::vector<double> out(1, 0.0);
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, 4);
        rowmetric::runPairLoop(RacyBody{64, out.data()});
        std::printf("racy control finished without a report\n");
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    checkAllBodies(randomMatrix(40, 120, 0.2, 1), tally);
    checkAllBodies(randomMatrix(200, 60, 0.05, 2), tally);
    checkAllBodies(randomMatrix(8, 300, 0.5, 3), tally);
    checkAllBodies(randomMatrix(64, 500, 0.02, 4), tally);
    checkAllBodies(randomMatrix(30, 2, 0.3, 5), tally);
    checkAllBodies(randomMatrix(5, 1, 0.5, 6), tally);
    for (const rowmetric::Isa isa : rowmetric::kIsas) {
        if (!rowmetric::runsOn(isa, rowmetric::cpuFeatures())) {
            std::printf("the %s variant of the lane sweep was not run: this processor lacks %s\n",
                        rowmetric::isaName(isa), rowmetric::isaName(isa));
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("TSan pair loop: %zu inputs tried, %zu failures, %.1f s\n", tally.runs,
                tally.failures, seconds);
    return tally.failures == 0 ? 0 : 1;
}
