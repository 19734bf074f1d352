// Message identifiers of the module's errors: one plain value type per key of
// the host catalog "qualbox:pdisthux", laid out as the host's BaseMsgID.
#pragma once

#include "vorn/error_api.hpp"

#include <string>
#include <utility>

namespace qualbox::pdisthux {

inline constexpr const char* kCatalog = "qualbox:pdisthux";

// Each default-constructs to an empty argument list, the catalog and its own
// key. Only the last three below also take arguments, which the host's text
// shows after its sentence.
struct MixedInputTypes : resource_core::BaseMsgID {
    MixedInputTypes() : BaseMsgID(kCatalog, "MixedInputTypes") {}
};

struct TooFewInputs : resource_core::BaseMsgID {
    TooFewInputs() : BaseMsgID(kCatalog, "TooFewInputs") {}
};

struct TooManyOutputs : resource_core::BaseMsgID {
    TooManyOutputs() : BaseMsgID(kCatalog, "TooManyOutputs") {}
};

struct OutputTooLarge : resource_core::BaseMsgID {
    OutputTooLarge() : BaseMsgID(kCatalog, "OutputTooLarge") {}
};

struct BadInputType : resource_core::BaseMsgID {
    BadInputType() : BaseMsgID(kCatalog, "BadInputType") {}
};

// "seu", "mah" or "min" without the weights, factor or exponent it needs.
struct MissingParameter : resource_core::BaseMsgID {
    MissingParameter() : BaseMsgID(kCatalog, "MissingParameter") {}
};

// A "min" exponent that is not a finite number above 0.
struct BadExponent : resource_core::BaseMsgID {
    BadExponent() : BaseMsgID(kCatalog, "BadExponent") {}
};

// A third argument of another size than the metric reads; the arguments say
// what it must be and what it is.
struct BadParameterSize : resource_core::BaseMsgID {
    BadParameterSize() : BaseMsgID(kCatalog, "BadParameterSize") {}
    BadParameterSize(std::string expected, std::string given)
        : BaseMsgID(kCatalog, "BadParameterSize", {std::move(expected), std::move(given)}) {}
};

// A metric code that names none of the twelve metrics; the argument lists them.
struct UnknownMetric : resource_core::BaseMsgID {
    UnknownMetric() : BaseMsgID(kCatalog, "UnknownMetric") {}
    explicit UnknownMetric(std::string codes)
        : BaseMsgID(kCatalog, "UnknownMetric", {std::move(codes)}) {}
};

// A row range [i0, i1) of the pair-block entry that is not i0 <= i1 <= N; the
// arguments are i0, i1 and N.
struct BadRowRange : resource_core::BaseMsgID {
    BadRowRange() : BaseMsgID(kCatalog, "BadRowRange") {}
    BadRowRange(std::string first, std::string end, std::string n)
        : BaseMsgID(kCatalog, "BadRowRange", {std::move(first), std::move(end), std::move(n)}) {}
};

}  // namespace qualbox::pdisthux
