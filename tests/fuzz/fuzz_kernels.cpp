// Differential fuzzing of the distance kernels: random sparse columns (NaN,
// infinities, signed and explicit zeros, empty columns) through every kernel,
// against the naive dense reference, bit for bit, both pair orders; then every
// metric body through the parallel pair loop, the fast paths (runPairs) and
// the lane sweep's variants against the per-pair kernels, with the path that
// ran the one chosen.
#include "dense_reference.hpp"
#include "fuzz_check.hpp"
#include "sparse_input.hpp"

#include "kernels.hpp"
#include "run_pairs.hpp"

#include <tbb/global_control.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

using fuzz::DenseColumn;
using fuzz::SparseColumns;

struct Parameters {
    std::vector<double> weights;
    double exponent = 0.0;
    std::vector<double> invFactor;
};

struct KernelResults {
    double euc, sqe, seu, cit, min, che, dot, ham, jac, mah;
};

KernelResults runKernels(const SparseColumns& x, const Parameters& p, std::uint64_t i,
                         std::uint64_t j) {
    const double* v = x.values.data();
    const std::uint64_t* r = x.rowIndex.data();
    const std::uint64_t* c = x.colStart.data();
    return {rowmetric::eucdist(v, r, c, i, j, false),
            rowmetric::eucdist(v, r, c, i, j, true),
            rowmetric::seudist(v, r, c, i, j, p.weights.data()),
            rowmetric::citdist(v, r, c, i, j),
            rowmetric::mindist(v, r, c, i, j, p.exponent),
            rowmetric::chedist(v, r, c, i, j),
            rowmetric::dotdist(v, r, c, i, j),
            rowmetric::hamdist(v, r, c, i, j, x.rows),
            rowmetric::jacdist(v, r, c, i, j),
            rowmetric::mahdist(v, r, c, i, j, p.invFactor.data(), x.rows)};
}

KernelResults runReference(const DenseColumn& a, const DenseColumn& b, const Parameters& p,
                           std::uint64_t nvars) {
    const double squares = fuzz::refSquaredSum(a, b);
    return {std::sqrt(squares),
            squares,
            fuzz::refWeighted(a, b, p.weights.data()),
            fuzz::refCityBlock(a, b),
            fuzz::refMinkowski(a, b, p.exponent),
            fuzz::refChebychev(a, b),
            fuzz::refInnerProduct(a, b),
            fuzz::refHamming(a, b, nvars),
            fuzz::refJaccard(a, b),
            fuzz::refMahalanobis(a, b, p.invFactor.data(), nvars)};
}

void compare(const KernelResults& got, const KernelResults& want, const std::string& where) {
    const char* names[] = {"euc", "sqe", "seu", "cit", "min", "che", "dot", "ham", "jac", "mah"};
    const double* g = &got.euc;
    const double* w = &want.euc;
    for (int k = 0; k < 10; ++k) {
        if (!fuzz::sameBits(g[k], w[k])) {
            fuzz::fail(std::string(names[k]) + " " + where + ": got " + fuzz::showDouble(g[k]) +
                       ", expected " + fuzz::showDouble(w[k]));
        }
    }
}

// The first code that selects a body, to name it in messages.
std::string codeOf(rowmetric::BodyKind kind) {
    for (const rowmetric::CodeEntry& entry : rowmetric::kCodes) {
        if (entry.body == kind) {
            return entry.code;
        }
    }
    return "?";
}

// Every condensed slot of `out` against the body's kernel called directly
// for that pair.
template <class Body>
void expectKernelBits(const Body& body, const std::vector<double>& out, const std::string& what) {
    const std::uint64_t n = body.n;
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = i + 1; j < n; ++j) {
            const std::uint64_t pos = rowmetric::condensedPosition(i, j, n);
            const double want = body.distance(i, j);
            if (!fuzz::sameBits(out[pos], want)) {
                fuzz::fail(what + ": pair (" + std::to_string(i) + ", " + std::to_string(j) +
                           ") gives " + fuzz::showDouble(out[pos]) + ", the kernel " +
                           fuzz::showDouble(want));
            }
        }
    }
}

// Says once per process that a lane-sweep variant was not run, and why.
void noteSkippedVariant(rowmetric::Isa isa) {
    static std::atomic<bool> noted[std::size(rowmetric::kIsas)];
    if (!noted[static_cast<std::size_t>(isa)].exchange(true)) {
        std::fprintf(stderr, "kernels: the %s variant of the lane sweep was not run: this "
                     "processor lacks %s\n", rowmetric::isaName(isa), rowmetric::isaName(isa));
    }
}

// Runs one body over all columns through the plain pair loop, through
// runPairs (which must run the path choosePath picks) and, for the union
// folds, through the lane sweep forced in every variant this processor can
// run (the fuzzer's small matrices never make choosePath take it).
template <class Body>
void checkBody(Body body, std::vector<double>& out) {
    constexpr rowmetric::BodyKind kind = decltype(body.call)::kKind;
    const std::string name = codeOf(kind);
    const rowmetric::MatrixShape shape =
        rowmetric::measureMatrix(body.rowIndex, body.colStart, body.n);
    body.out = out.data();
    auto check = [&](const std::string& what, const auto& run) {
        out.assign(out.size(), -12345.0);
        run();
        expectKernelBits(body, out, name + " " + what);
    };
    check("pair loop", [&] { rowmetric::runPairLoop(body); });
    check("fast path", [&] {
        std::atomic<std::uint64_t>& runs = rowmetric::pathRuns(rowmetric::choosePath(kind, shape));
        const std::uint64_t before = runs.load();
        rowmetric::runPairs(body);
        if (runs.load() != before + 1) {
            fuzz::fail(name + ": runPairs did not run the path choosePath picked");
        }
    });
    if constexpr (rowmetric::mayServe(kind, rowmetric::Path::laneSweep)) {
        for (const rowmetric::Isa isa : rowmetric::kIsas) {
            if (!rowmetric::runsOn(isa, rowmetric::cpuFeatures())) {
                noteSkippedVariant(isa);
                continue;
            }
            check(std::string("lane sweep ") + rowmetric::isaName(isa),
                  [&] { rowmetric::runLaneSweep(body, shape, isa); });
        }
    }
}

void checkBodies(const SparseColumns& x, const Parameters& p) {
    std::vector<double> out(x.cols * (x.cols - (x.cols > 0)) / 2);
    for (const rowmetric::BodyEntry& entry : rowmetric::kBodies) {
        rowmetric::PairInputs in = fuzz::pairInputs(x);
        in.exponent = p.exponent;
        in.paramData = entry.parameter == rowmetric::ParameterRule::weights ? p.weights.data()
                                                                            : p.invFactor.data();
        rowmetric::withBody(entry.kind, in, [&](const auto& body) { checkBody(body, out); });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One thread: the outputs do not depend on the thread count (the TSan
    // pass checks that), and handing tiny loops to workers would spend the
    // fuzzing time on scheduling.
    static const tbb::global_control oneThread(tbb::global_control::max_allowed_parallelism, 1);
    fuzz::ByteStream in{data, size};
    const SparseColumns x = fuzz::takeSparse(in, 24, 8);
    Parameters p;
    p.exponent = fuzz::takeDouble(in);
    p.weights = fuzz::takeDoubles(in, x.rows);
    p.invFactor = fuzz::takeDoubles(in, x.rows * x.rows);

    for (std::uint64_t i = 0; i < x.cols; ++i) {
        const DenseColumn a = fuzz::densify(x, i);
        for (std::uint64_t j = i + 1; j < x.cols; ++j) {
            const DenseColumn b = fuzz::densify(x, j);
            const std::string pair = "(" + std::to_string(i) + ", " + std::to_string(j) + ")";
            compare(runKernels(x, p, i, j), runReference(a, b, p, x.rows), pair);
            compare(runKernels(x, p, j, i), runReference(b, a, p, x.rows), "swapped " + pair);
            compare(runKernels(x, p, j, i), runKernels(x, p, i, j), "symmetry " + pair);
        }
    }
    checkBodies(x, p);
    return 0;
}
