#include "compute_pairs.hpp"

#include "run_pairs.hpp"

namespace rowmetric {

void computePairs(BodyKind kind, const PairInputs& in) {
    const RowRange rows = rowsOf(in);
    if (blockStart(rows.end, in.n) == blockStart(rows.begin, in.n)) {
        return;
    }
    runPairs(kind, in);
}

}  // namespace rowmetric
