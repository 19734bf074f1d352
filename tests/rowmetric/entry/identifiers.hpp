// The module's eight error identifiers, spelt out once: the tests compare
// what is raised with these literals, never with text built from a key type.
#pragma once

#include "errors.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <typeindex>

namespace entrytest {

struct PinnedIdentifier {
    std::type_index key;
    const char* identifier;
};

namespace pd = qualbox::pdisthux;

inline const std::array<PinnedIdentifier, 8> kPinnedIdentifiers{{
    {typeid(pd::TooFewInputs), "qualbox:pdisthux:TooFewInputs"},
    {typeid(pd::TooManyOutputs), "qualbox:pdisthux:TooManyOutputs"},
    {typeid(pd::BadInputType), "qualbox:pdisthux:BadInputType"},
    {typeid(pd::MixedInputTypes), "qualbox:pdisthux:MixedInputTypes"},
    {typeid(pd::OutputTooLarge), "qualbox:pdisthux:OutputTooLarge"},
    {typeid(pd::UnknownMetric), "qualbox:pdisthux:UnknownMetric"},
    {typeid(pd::MissingParameter), "qualbox:pdisthux:MissingParameter"},
    {typeid(pd::BadParameterSize), "qualbox:pdisthux:BadParameterSize"},
}};

// The identifier pinned for key type K; a key without a row fails the test.
template <class K>
std::string pinnedIdentifier() {
    for (const PinnedIdentifier& row : kPinnedIdentifiers) {
        if (row.key == typeid(K)) return row.identifier;
    }
    ADD_FAILURE() << "no identifier pinned for key type " << typeid(K).name();
    return "(none)";
}

}  // namespace entrytest
