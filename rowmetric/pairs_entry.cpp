// rowmetric_pairs_v1: the pairs of a row range for front ends, through the
// same checks and the same computation as huxFunction, failures returned.

// The module is built with hidden visibility; the public declaration, and so
// the definition below, must be visible for the export list to export it.
#pragma GCC visibility push(default)
#include "rowmetric/rowmetric.h"
#pragma GCC visibility pop

#include "call_checks.hpp"
#include "compute_pairs.hpp"
#include "errors.hpp"

#include <tbb/task_arena.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace {

namespace pd = qualbox::pdisthux;
using namespace rowmetric;

int statusOf(const pd::OutputTooLarge&) { return ROWMETRIC_OUTPUT_TOO_LARGE; }
int statusOf(const pd::BadRowRange&) { return ROWMETRIC_BAD_ROW_RANGE; }
int statusOf(const pd::UnknownMetric&) { return ROWMETRIC_UNKNOWN_METRIC; }
int statusOf(const pd::MissingParameter&) { return ROWMETRIC_MISSING_PARAMETER; }
int statusOf(const pd::BadParameterSize&) { return ROWMETRIC_BAD_PARAMETER_SIZE; }
int statusOf(const pd::BadExponent&) { return ROWMETRIC_BAD_EXPONENT; }

struct Failure {
    int status;
    std::string message;
};

// "<sentence> (<identifier>)", the text and identifier of the exception
// huxFunction throws for the same key, as the host's error library gives them.
template <class Key>
Failure failureOf(const Key& id) {
    const pd::ErrorOf<Key> error(id);
    return {statusOf(id), std::string(error.what()) + " (" + error.error_id() + ")"};
}

Failure nullPointer(const char* name) {
    return {ROWMETRIC_BAD_ARGUMENT,
            std::string(name) + " is a null pointer where the call needs data."};
}

// The first null pointer among the matrix's, before anything is read
// through them: its arrays of entries may be null only when it stores none.
std::optional<Failure> missingMatrix(const rowmetric_matrix* x, const char* code) {
    if (x == nullptr) return nullPointer("x");
    if (code == nullptr) return nullPointer("code");
    if (x->col_start == nullptr) return nullPointer("x->col_start");
    const bool stores = x->col_start[x->n] != x->col_start[0];
    if (stores && x->values == nullptr) return nullPointer("x->values");
    if (stores && x->row_index == nullptr) return nullPointer("x->row_index");
    return std::nullopt;
}

// The parameter as huxFunction's checks see a dense double argument: absent
// when it has no data or no elements.
ParameterView parameterOf(const rowmetric_param* param, ParameterRule rule) {
    ParameterView view;
    if (param == nullptr || param->data == nullptr || param->rows == 0 || param->cols == 0) {
        return view;
    }
    view.present = true;
    view.rows = param->rows;
    view.cols = param->cols;
    view.stored = saturatingProduct(param->rows, param->cols);
    if (rule == ParameterRule::exponent) {
        view.scalar = param->data[0];
    }
    return view;
}

std::optional<Failure> computeChecked(const rowmetric_matrix& x, const char* codeText,
                                      const rowmetric_param* param, uint64_t i0, uint64_t i1,
                                      unsigned threads, double* out) {
    CallFacts call;
    // The first three characters, as huxFunction reads its code.
    call.code = findCode(std::string_view(codeText, strnlen(codeText, 3)));
    const ParameterRule rule =
        call.code != nullptr ? bodyEntry(call.code->body).parameter : ParameterRule::none;
    call.param = parameterOf(param, rule);
    call.n = x.n;
    call.nvars = x.m;
    call.rowBegin = i0;
    call.rowEnd = i1;
    if (const std::optional<CallProblem> problem = callProblem(call)) {
        return std::visit([](const auto& id) { return failureOf(id); }, *problem);
    }

    PairInputs in;
    in.n = x.n;
    in.nvars = x.m;
    in.values = x.values;
    in.rowIndex = x.row_index;
    in.colStart = x.col_start;
    in.rows = RowRange{i0, i1};
    in.out = out;
    if (call.param.present && rule == ParameterRule::exponent) {
        in.exponent = call.param.scalar;
    } else if (call.param.present) {
        in.paramData = param->data;
    }
    if (out == nullptr && blockStart(i1, x.n) != blockStart(i0, x.n)) {
        return nullPointer("out");
    }
    // A cap at or above what the default arena runs caps nothing.
    if (threads == 0 || threads >= static_cast<unsigned>(tbb::this_task_arena::max_concurrency())) {
        computePairs(call.code->body, in);
        return std::nullopt;
    }
    tbb::task_arena arena(static_cast<int>(threads));
    arena.execute([&] { computePairs(call.code->body, in); });
    return std::nullopt;
}

// Writes the parts one after another into the caller's buffer, cut to fit
// and NUL-terminated. Allocates nothing, so it serves the out-of-memory case.
void putMessage(char* message, size_t size, std::initializer_list<std::string_view> parts) {
    if (message == nullptr || size == 0) return;
    size_t length = 0;
    for (const std::string_view part : parts) {
        const size_t take = std::min(part.size(), size - 1 - length);
        std::memcpy(message + length, part.data(), take);
        length += take;
    }
    message[length] = '\0';
}

}  // namespace

extern "C" int rowmetric_pairs_v1(const struct rowmetric_matrix* x, const char* code,
                                  const struct rowmetric_param* param, uint64_t i0, uint64_t i1,
                                  unsigned threads, double* out, char* message,
                                  size_t message_size) {
    try {
        std::optional<Failure> failure = missingMatrix(x, code);
        if (!failure) {
            failure = computeChecked(*x, code, param, i0, i1, threads, out);
        }
        if (!failure) {
            putMessage(message, message_size, {});
            return ROWMETRIC_OK;
        }
        putMessage(message, message_size, {failure->message});
        return failure->status;
    } catch (const std::bad_alloc&) {
        putMessage(message, message_size, {"The module ran out of working memory."});
        return ROWMETRIC_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        putMessage(message, message_size, {"The computation failed: ", e.what()});
        return ROWMETRIC_FAILED;
    } catch (...) {
        putMessage(message, message_size, {"The computation failed for an unknown reason."});
        return ROWMETRIC_FAILED;
    }
}
