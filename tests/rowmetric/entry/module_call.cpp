#include "module_call.hpp"

#include "entry.hpp"

namespace entrytest {

vornhost::ArrayPtr sparseFromDense(std::size_t m, std::size_t n,
                                   const std::vector<double>& colMajor) {
    vornhost::SparseLayout layout;
    layout.m = m;
    layout.n = n;
    layout.colStart.push_back(0);
    std::vector<double> values;
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t r = 0; r < m; ++r) {
            const double v = colMajor[r + k * m];
            if (v != 0.0) {
                layout.rowIndex.push_back(r);
                values.push_back(v);
            }
        }
        layout.colStart.push_back(layout.rowIndex.size());
    }
    return vornhost::makeSparseDouble(layout, std::move(values));
}

vornhost::ArrayPtr emptySparse(std::size_t m, std::size_t n) {
    vornhost::SparseLayout layout;
    layout.m = m;
    layout.n = n;
    layout.colStart.assign(n + 1, 0);
    return vornhost::makeSparseDouble(layout, {});
}

Outcome callModule(int outputCount, const std::vector<const vornArray*>& inputs) {
    static vornArray sentinelArray{};
    vornArray* outputs[1] = {&sentinelArray};
    vornhost::takeReportedErrors();  // start from a clean record

    Outcome outcome;
    try {
        huxFunction(outputCount, outputs, static_cast<int>(inputs.size()),
                    const_cast<const vornArray**>(inputs.data()));
    } catch (const fl::except::IMsgIDException& e) {
        outcome.threw = true;
        outcome.thrownType = typeid(e);
        outcome.thrownErrorId = e.error_id();
        outcome.thrownText = e.what();
        outcome.argumentsEmpty = e.msg_id().arguments().empty();
    }
    outcome.reported = vornhost::takeReportedErrors();
    outcome.outputTouched = outputs[0] != &sentinelArray;
    if (outcome.outputTouched) {
        outcome.result = vornhost::adopt(outputs[0]);
    }
    return outcome;
}

void expectResult(const Outcome& outcome, std::uint64_t pairs) {
    EXPECT_TRUE(outcome.reported.empty());
    ASSERT_FALSE(outcome.threw) << outcome.thrownErrorId;
    ASSERT_TRUE(outcome.result) << "outputs[0] was not set";
    const vornArray* r = outcome.result.get();
    EXPECT_EQ(r->classValue, vornClassDouble);
    EXPECT_FALSE(vornIsSparse(r));
    EXPECT_EQ(r->complexity, vornReal);
    EXPECT_EQ(vornGetM(r), 1u);
    EXPECT_EQ(matrix::detail::noninlined::vorn_array_api::vornGetN(r), pairs);
}

std::vector<double> resultValues(const Outcome& outcome) {
    const vornArray* r = outcome.result.get();
    const auto* data = static_cast<const double*>(vornGetRealData(r));
    return std::vector<double>(data,
                               data + matrix::detail::noninlined::vorn_array_api::vornGetN(r));
}

}  // namespace entrytest
