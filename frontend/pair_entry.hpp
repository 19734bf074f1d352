// The module's pair-block entry, rowmetric_pairs_v1: looked up in the loaded
// module and called on the same host arrays that huxFunction would get.
#pragma once

#include "vornhost/array_factory.hpp"
#include "module_library.hpp"
#include "row_blocks.hpp"
#include "rowmetric/rowmetric.h"

#include <optional>
#include <string>

namespace huxrun {

// One call's fixed arguments: everything but the rows and the buffer.
struct PairCall {
    rowmetric_pairs_v1_fn entry = nullptr;
    rowmetric_matrix matrix{};
    std::string code;
    rowmetric_param param{};  // data null: no parameter
    unsigned threads = 0;     // 0: TBB's default
};

// The module's rowmetric_pairs_v1. Throws std::runtime_error, with one line
// naming `path`, when the module does not export it.
rowmetric_pairs_v1_fn pairEntry(const ModuleLibrary& module, const std::string& path);

// The call on the host's sparse double array `matrix` (its storage is read in
// place and must outlive the call) and a dense double `param`, or none.
PairCall pairCall(rowmetric_pairs_v1_fn entry, const vornArray* matrix, const std::string& code,
                  const vornArray* param, unsigned threads);

// Computes the pairs of `rows` into `out` (blockOf(n, rows).pairs values).
// Returns nothing, or "Error: <message> (<identifier>)" as the module put it.
std::optional<std::string> computeRows(const PairCall& call, RowRange rows, double* out);

}  // namespace huxrun
