// Fuzzing of the module's entry point with arbitrary host arrays: data of any
// class (sparse, dense, complex, logical, extended, pending dimensions), any
// metric text, third and fourth arguments of any class and size. Each call
// must either raise exactly the documented error (reported once to the host,
// output slot untouched) or return 1 x N(N-1)/2 doubles equal, bit for bit,
// to the plain per-pair kernels.
#include "entry_model.hpp"
#include "fuzz_bytes.hpp"
#include "fuzz_check.hpp"
#include "sparse_input.hpp"

#include "vorn/error_api.hpp"
#include "vornhost/array_factory.hpp"
#include "vornhost/error_log.hpp"
#include "entry.hpp"
#include "metric_bodies.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace api = matrix::detail::noninlined::vorn_array_api;
using fuzz::ByteStream;

const vornClassID kClasses[] = {vornClassDouble,  vornClassSingle, vornClassInt32,
                                vornClassLogical, vornClassUint8,  vornClassInt64};

vornhost::SparseLayout layoutOf(const fuzz::SparseColumns& x) {
    vornhost::SparseLayout layout;
    layout.m = x.rows;
    layout.n = x.cols;
    layout.colStart = x.colStart;
    layout.rowIndex = x.rowIndex;
    return layout;
}

std::vector<double> columnMajor(const fuzz::SparseColumns& x) {
    std::vector<double> dense(x.rows * x.cols, 0.0);
    for (std::uint64_t c = 0; c < x.cols; ++c) {
        for (std::uint64_t p = x.colStart[c]; p < x.colStart[c + 1]; ++p) {
            dense[x.rowIndex[p] + c * x.rows] = x.values[p];
        }
    }
    return dense;
}

// The data matrix in one of the forms a host may hand over; only the sparse
// double forms (plain, complex, with pending dimensions) may pass.
vornhost::ArrayPtr takeData(ByteStream& in, const fuzz::SparseColumns& x, fuzz::CallShape& call) {
    const std::uint8_t kind = fuzz::takeByte(in) % 12;
    call.dataIsSparseDouble = kind < 8;
    if (kind < 6) {
        return vornhost::makeSparseDouble(layoutOf(x), x.values);
    }
    if (kind == 6) {
        std::vector<double> imag = fuzz::takeDoubles(in, x.values.size());
        return vornhost::makeSparseComplex(layoutOf(x), x.values, imag);
    }
    if (kind == 7) {
        vornhost::ArrayPtr a = vornhost::makeSparseDouble(layoutOf(x), x.values);
        vornhost::setDimensionsPending(a.get());
        return a;
    }
    if (kind == 8) {
        return vornhost::makeDense(vornClassDouble, x.rows, x.cols, columnMajor(x));
    }
    if (kind == 9) {
        return vornhost::makeExtendedDouble(x.rows, x.cols, columnMajor(x));
    }
    if (kind == 10) {
        std::vector<bool> flags;
        for (double v : x.values) {
            flags.push_back(v != 0.0);
        }
        return vornhost::makeSparseLogical(layoutOf(x), flags);
    }
    return vornhost::makeText("euc");
}

vornhost::ArrayPtr takeCode(ByteStream& in, fuzz::CallShape& call) {
    const std::uint8_t kind = fuzz::takeByte(in);
    call.codeIsText = kind % 8 != 7;
    if (!call.codeIsText) {
        return vornhost::makeScalar(fuzz::takeDouble(in));
    }
    if (kind % 8 < 5) {
        const auto& codes = rowmetric::kCodes;
        call.codeText =
            std::string(codes[fuzz::takeByte(in) % std::size(codes)].code) + fuzz::takeBytes(in, 6);
    } else {
        call.codeText = fuzz::takeBytes(in, 6);
    }
    return vornhost::makeText(call.codeText);
}

// A third argument sized to fit the metric often, and to miss it sometimes.
vornhost::ArrayPtr takeParameter(ByteStream& in, std::uint64_t nvars, fuzz::CallShape& call) {
    const std::uint8_t kind = fuzz::takeByte(in) % 10;
    const std::uint8_t sizing = fuzz::takeByte(in) % 4;
    std::uint64_t rows = 1;
    std::uint64_t cols = sizing == 0 ? nvars : fuzz::takeBelow(in, nvars * nvars + 2);
    if (sizing == 1) {
        rows = nvars;
        cols = nvars;
    } else if (sizing == 2) {
        cols = 1;
    }
    const std::uint64_t count = rows * cols;
    call.parameterShapeCount = count;
    call.parameterDenseCount = count;
    call.parameterEmpty = count == 0;
    call.parameterClassMatches = true;
    const std::vector<double> values = fuzz::takeDoubles(in, count);

    if (kind < 4) {
        return vornhost::makeDense(vornClassDouble, rows, cols, values);
    }
    if (kind == 4) {
        return vornhost::makeExtendedDouble(rows, cols, values);
    }
    if (kind == 5 || kind == 6) {
        // Sparse, handed every element (kind 5) or only the non-zero ones; the
        // host stores only those, so a zero leaves it short of a dense block.
        fuzz::SparseColumns s;
        s.rows = rows;
        s.cols = cols;
        for (std::uint64_t c = 0; c < cols; ++c) {
            for (std::uint64_t r = 0; r < rows; ++r) {
                const double v = values[r + c * rows];
                if (kind == 5 || v != 0.0) {
                    s.rowIndex.push_back(r);
                    s.values.push_back(v);
                }
            }
            s.colStart.push_back(s.rowIndex.size());
        }
        if (std::count(values.begin(), values.end(), 0.0) != 0) {
            call.parameterDenseCount = 0;
        }
        return vornhost::makeSparseDouble(layoutOf(s), s.values);
    }
    const vornClassID other = kClasses[1 + fuzz::takeByte(in) % 5];
    call.parameterClassMatches = false;
    return vornhost::makeDense(other, rows, cols, values);
}

// The call's body, its record filled as the documented call fills it.
rowmetric::PairInputs bodyInputs(const rowmetric::CodeEntry& code, const vornArray* x,
                                 const vornArray* param) {
    rowmetric::PairInputs in;
    in.n = api::vornGetN(x);
    in.values = static_cast<const double*>(vornGetRealData(x));
    in.rowIndex = vornGetRowIndices(x);
    in.colStart = vornGetColumnStarts(x);
    in.nvars = vornGetM(x);
    if (param == nullptr || api::vornIsEmpty(param)) {
        return in;
    }
    if (rowmetric::bodyEntry(code.body).parameter == rowmetric::ParameterRule::exponent) {
        in.exponent = api::vornGetScalar(param);
    } else {
        in.paramData = static_cast<const double*>(vornGetRealData(param));
    }
    return in;
}

void checkResult(const fuzz::CallShape& call, const vornArray* x, const vornArray* param,
                 vornArray* result) {
    fuzz::check(result != nullptr, "a successful call left the output slot empty");
    const std::uint64_t n = api::vornGetN(x);
    const std::uint64_t pairs = n * (n - (n > 0)) / 2;
    fuzz::check(!vornIsSparse(result) && vornGetClassID(result) == vornClassDouble,
                "the result is not a dense double array");
    fuzz::check(vornGetM(result) == 1 && api::vornGetN(result) == pairs,
                "the result is not 1 x N(N-1)/2");
    const auto* out = static_cast<const double*>(vornGetRealData(result));
    const rowmetric::CodeEntry& code = *fuzz::selectedCode(call);
    rowmetric::withBody(code.body, bodyInputs(code, x, param), [&](const auto& body) {
        std::uint64_t pos = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            for (std::uint64_t j = i + 1; j < n; ++j, ++pos) {
                const double want = body.distance(i, j);
                if (!fuzz::sameBits(out[pos], want)) {
                    fuzz::fail(std::string(code.code) + " pair (" + std::to_string(i) + ", " +
                               std::to_string(j) + "): got " + fuzz::showDouble(out[pos]) +
                               ", the kernel gives " + fuzz::showDouble(want));
                }
            }
        }
    });
}

void checkRaised(const std::string& identifier, const std::string& expectedKey, vornArray* slot) {
    const std::string want = "qualbox:pdisthux:" + expectedKey;
    if (expectedKey.empty()) {
        fuzz::fail("a valid call raised " + identifier);
    }
    if (identifier != want) {
        fuzz::fail("raised " + identifier + " where " + want + " was due");
    }
    const std::vector<vornhost::HostError> reported = vornhost::takeReportedErrors();
    if (reported.size() != 1 || reported[0].identifier != want) {
        fuzz::fail("the host was not told of " + want + " exactly once");
    }
    fuzz::check(slot == nullptr, "a failed call wrote the output slot");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteStream in{data, size};
    fuzz::CallShape call;
    call.inputCount = static_cast<int>(fuzz::takeBelow(in, 5));
    call.outputCount = static_cast<int>(fuzz::takeBelow(in, 3));
    const fuzz::SparseColumns x = fuzz::takeSparse(in, 10, 9);
    call.nvars = x.rows;

    std::vector<vornhost::ArrayPtr> owned;
    owned.push_back(takeData(in, x, call));
    owned.push_back(takeCode(in, call));
    call.hasParameter = call.inputCount > 2;
    owned.push_back(takeParameter(in, x.rows, call));
    call.parameterScalar = api::vornGetScalar(owned.back().get());
    owned.push_back(vornhost::makeScalar(fuzz::takeDouble(in)));

    std::vector<const vornArray*> inputs;
    for (const vornhost::ArrayPtr& a : owned) {
        inputs.push_back(a.get());
    }
    vornArray* outputs[2] = {nullptr, nullptr};
    const std::string expectedKey = fuzz::expectedErrorKey(call);
    // FUZZ_TRACE=1 prints each call's expected outcome, to see what a corpus covers.
    static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
    if (trace) {
        const rowmetric::CodeEntry* code = fuzz::selectedCode(call);
        std::fprintf(stderr, "outcome %s code %s\n",
                     expectedKey.empty() ? "ok" : expectedKey.c_str(),
                     code != nullptr ? code->code : "");
    }
    vornhost::takeReportedErrors();
    try {
        huxFunction(call.outputCount, outputs, call.inputCount, inputs.data());
    } catch (const fl::except::IMsgIDException& e) {
        checkRaised(e.error_id(), expectedKey, outputs[0]);
        return 0;
    }
    vornhost::ArrayPtr result = vornhost::adopt(outputs[0]);
    if (!expectedKey.empty()) {
        fuzz::fail("the call succeeded where " + expectedKey + " was due");
    }
    fuzz::check(vornhost::takeReportedErrors().empty(), "a successful call reported an error");
    checkResult(call, inputs[0], call.inputCount > 2 ? inputs[2] : nullptr, result.get());
    return 0;
}
