// Message identifiers of the module's errors: one plain value type per key of
// the host catalog "qualbox:pdisthux", laid out as the host's BaseMsgID.
#pragma once

#include "vorn/error_api.hpp"

namespace qualbox::pdisthux {

inline constexpr const char* kCatalog = "qualbox:pdisthux";

// Each default-constructs to an empty argument list, the catalog and its own
// key; no message of this catalog takes an argument.
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

// "seu" or "mah" without the weight vector or matrix it needs.
struct MissingParameter : resource_core::BaseMsgID {
    MissingParameter() : BaseMsgID(kCatalog, "MissingParameter") {}
};

// A third argument with fewer elements than the metric reads.
struct BadParameterSize : resource_core::BaseMsgID {
    BadParameterSize() : BaseMsgID(kCatalog, "BadParameterSize") {}
};

// A metric code that names none of the twelve metrics.
struct UnknownMetric : resource_core::BaseMsgID {
    UnknownMetric() : BaseMsgID(kCatalog, "UnknownMetric") {}
};

}  // namespace qualbox::pdisthux
