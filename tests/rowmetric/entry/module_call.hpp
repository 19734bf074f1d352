// Test harness for the module's entry point: builds argument arrays and
// calls huxFunction, recording what reached the host and what was thrown.
#pragma once

#include "vornhost/array_factory.hpp"
#include "vornhost/error_log.hpp"
#include "identifiers.hpp"
#include "errors.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <typeindex>
#include <vector>

namespace entrytest {

// A sparse double matrix holding the non-zeros of a column-major dense one.
vornhost::ArrayPtr sparseFromDense(std::size_t m, std::size_t n,
                                   const std::vector<double>& colMajor);

// An m x n sparse double matrix with no stored entries.
vornhost::ArrayPtr emptySparse(std::size_t m, std::size_t n);

struct Outcome {
    std::vector<vornhost::HostError> reported;  // errors handed to the host
    bool threw = false;
    std::type_index thrownType = typeid(void);  // dynamic class of what came out
    std::string thrownErrorId;
    std::string thrownText;       // what() of the thrown exception
    bool argumentsEmpty = false;  // the thrown msg id's argument list
    bool outputTouched = false;   // outputs[0] changed
    vornhost::ArrayPtr result;    // outputs[0] when set
};

// Calls huxFunction with outputs[0] preset to a sentinel.
Outcome callModule(int outputCount, const std::vector<const vornArray*>& inputs);

// The call failed with key K alone: the host saw exactly its pinned identifier, the
// exception of K's exact class came out with that identifier and with message
// arguments only where its row says so, and outputs[0] kept its sentinel.
template <class K>
void expectFailure(const Outcome& outcome) {
    const PinnedIdentifier row = pinnedRow<K>();
    const std::string id = row.identifier;
    ASSERT_EQ(outcome.reported.size(), 1u) << "expected exactly one host error " << id;
    EXPECT_EQ(outcome.reported[0].identifier, id);
    ASSERT_TRUE(outcome.threw) << id;
    EXPECT_TRUE(outcome.thrownType == typeid(qualbox::pdisthux::ErrorOf<K>))
        << "thrown class is not the exact class for " << id;
    EXPECT_EQ(outcome.thrownErrorId, id);
    EXPECT_EQ(outcome.argumentsEmpty, !row.withArguments) << id;
    EXPECT_FALSE(outcome.outputTouched) << "outputs[0] changed by a failed call";
}

// The call succeeded and produced a real 1 x pairs double result.
void expectResult(const Outcome& outcome, std::uint64_t pairs);

// The result's elements.
std::vector<double> resultValues(const Outcome& outcome);

}  // namespace entrytest
