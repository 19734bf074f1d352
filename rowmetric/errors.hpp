// The module's exception classes, one per message identifier, and the raise
// procedures that hand an error to the host and throw it if the host returns.
#pragma once

#include "vorn/error_api.hpp"
#include "msg_ids.hpp"

#include <exception>

namespace qualbox::pdisthux {

// The exception thrown for key K.
template <class K>
using ErrorOf = fl::except::Exception<K, std::exception, void>;

using MixedInputTypesError = ErrorOf<MixedInputTypes>;
using TooFewInputsError = ErrorOf<TooFewInputs>;
using TooManyOutputsError = ErrorOf<TooManyOutputs>;
using OutputTooLargeError = ErrorOf<OutputTooLarge>;
using BadInputTypeError = ErrorOf<BadInputType>;
using MissingParameterError = ErrorOf<MissingParameter>;
using BadExponentError = ErrorOf<BadExponent>;
using BadParameterSizeError = ErrorOf<BadParameterSize>;
using UnknownMetricError = ErrorOf<UnknownMetric>;
using BadRowRangeError = ErrorOf<BadRowRange>;

// Reports the error to the host; if the host returns, throws ErrorOf<K>.
// Each is its own out-of-line function so check sites stay small.
[[noreturn]] void raise(const MixedInputTypes& id);
[[noreturn]] void raise(const TooFewInputs& id);
[[noreturn]] void raise(const TooManyOutputs& id);
[[noreturn]] void raise(const OutputTooLarge& id);
[[noreturn]] void raise(const BadInputType& id);
[[noreturn]] void raise(const MissingParameter& id);
[[noreturn]] void raise(const BadExponent& id);
[[noreturn]] void raise(const BadParameterSize& id);
[[noreturn]] void raise(const UnknownMetric& id);
[[noreturn]] void raise(const BadRowRange& id);

}  // namespace qualbox::pdisthux
