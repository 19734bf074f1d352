// Differential fuzzing of the distance kernels: random sparse columns (NaN,
// infinities, signed and explicit zeros, empty columns) through every kernel,
// against the naive dense reference, bit for bit, both pair orders; then every
// metric body through the parallel pair loop and the fast paths (runPairs)
// against the per-pair kernels, with the path that ran the one chosen.
#include "dense_reference.hpp"
#include "fuzz_check.hpp"
#include "sparse_input.hpp"

#include "kernels.hpp"
#include "run_pairs.hpp"

#include <tbb/global_control.h>

#include <atomic>
#include <cstdint>
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

// Runs one body over all columns, through the plain pair loop and through
// runPairs, and checks every condensed slot against the body's kernel called
// directly for that pair, and that runPairs ran the path choosePath picks.
template <class Body>
void checkBody(Body body, std::vector<double>& out) {
    const std::uint64_t n = body.n;
    const std::string name = codeOf(decltype(body.call)::kKind);
    body.out = out.data();
    for (const bool fast : {false, true}) {
        out.assign(out.size(), -12345.0);
        if (fast) {
            const rowmetric::Path chosen =
                rowmetric::choosePath(decltype(body.call)::kKind,
                                      rowmetric::measureMatrix(body.rowIndex, body.colStart, n));
            std::atomic<std::uint64_t>& runs = rowmetric::pathRuns(chosen);
            const std::uint64_t before = runs.load();
            rowmetric::runPairs(body);
            if (runs.load() != before + 1) {
                fuzz::fail(name + ": runPairs did not run the path choosePath picked");
            }
        } else {
            rowmetric::runPairLoop(body);
        }
        for (std::uint64_t i = 0; i < n; ++i) {
            for (std::uint64_t j = i + 1; j < n; ++j) {
                const std::uint64_t pos = rowmetric::condensedPosition(i, j, n);
                const double want = body.distance(i, j);
                if (!fuzz::sameBits(out[pos], want)) {
                    fuzz::fail(name + (fast ? " fast path" : " pair loop") + ": pair (" +
                               std::to_string(i) + ", " + std::to_string(j) + ") gives " +
                               fuzz::showDouble(out[pos]) + ", the kernel " +
                               fuzz::showDouble(want));
                }
            }
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
