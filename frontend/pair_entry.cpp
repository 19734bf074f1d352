// Calls of rowmetric_pairs_v1: the arrays' storage handed over as it lies,
// the module's status and message turned into hux-run's error line.
#include "pair_entry.hpp"

#include <array>
#include <stdexcept>

namespace huxrun {

namespace api = matrix::detail::noninlined::vorn_array_api;

rowmetric_pairs_v1_fn pairEntry(const ModuleLibrary& module, const std::string& path) {
    auto entry = reinterpret_cast<rowmetric_pairs_v1_fn>(module.symbol("rowmetric_pairs_v1"));
    if (entry == nullptr)
        throw std::runtime_error(path +
                                 ": the module exports no rowmetric_pairs_v1, which --stream, "
                                 "--rows and --nearest call");
    return entry;
}

PairCall pairCall(rowmetric_pairs_v1_fn entry, const vornArray* matrix, const std::string& code,
                  const vornArray* param, unsigned threads) {
    PairCall call;
    call.entry = entry;
    call.matrix.m = vornGetM(matrix);
    call.matrix.n = api::vornGetN(matrix);
    call.matrix.values = static_cast<const double*>(vornGetRealData(matrix));
    call.matrix.row_index = static_cast<const std::uint64_t*>(vornGetRowIndices(matrix));
    call.matrix.col_start = static_cast<const std::uint64_t*>(vornGetColumnStarts(matrix));
    call.code = code;
    if (param != nullptr) {
        call.param.data = static_cast<const double*>(vornGetRealData(param));
        call.param.rows = vornGetM(param);
        call.param.cols = api::vornGetN(param);
    }
    call.threads = threads;
    return call;
}

std::optional<std::string> computeRows(const PairCall& call, RowRange rows, double* out) {
    std::array<char, 512> message{};
    const int status =
        call.entry(&call.matrix, call.code.c_str(), call.param.data ? &call.param : nullptr,
                   rows.first, rows.end, call.threads, out, message.data(), message.size());
    if (status == ROWMETRIC_OK) return std::nullopt;
    if (message[0] == '\0') return "Error: the module's pair-block entry failed with status " +
                                   std::to_string(status);
    return "Error: " + std::string(message.data());
}

}  // namespace huxrun
