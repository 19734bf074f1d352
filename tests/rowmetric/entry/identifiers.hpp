// The module's ten error identifiers, spelt out once: the tests compare what
// is raised with these literals, never with text built from a key type.
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
    bool withArguments;  // the module raises it with message arguments
};

namespace pd = qualbox::pdisthux;

inline const std::array<PinnedIdentifier, 10> kPinnedIdentifiers{{
    {typeid(pd::TooFewInputs), "qualbox:pdisthux:TooFewInputs", false},
    {typeid(pd::TooManyOutputs), "qualbox:pdisthux:TooManyOutputs", false},
    {typeid(pd::BadInputType), "qualbox:pdisthux:BadInputType", false},
    {typeid(pd::MixedInputTypes), "qualbox:pdisthux:MixedInputTypes", false},
    {typeid(pd::OutputTooLarge), "qualbox:pdisthux:OutputTooLarge", false},
    {typeid(pd::UnknownMetric), "qualbox:pdisthux:UnknownMetric", true},
    {typeid(pd::MissingParameter), "qualbox:pdisthux:MissingParameter", false},
    {typeid(pd::BadParameterSize), "qualbox:pdisthux:BadParameterSize", true},
    {typeid(pd::BadExponent), "qualbox:pdisthux:BadExponent", false},
    {typeid(pd::BadRowRange), "qualbox:pdisthux:BadRowRange", true},
}};

// The row pinned for key type K; a key without a row fails the test.
template <class K>
PinnedIdentifier pinnedRow() {
    for (const PinnedIdentifier& row : kPinnedIdentifiers) {
        if (row.key == typeid(K)) return row;
    }
    ADD_FAILURE() << "no identifier pinned for key type " << typeid(K).name();
    return {typeid(void), "(none)", false};
}

template <class K>
std::string pinnedIdentifier() {
    return pinnedRow<K>().identifier;
}

}  // namespace entrytest
