#include "errors.hpp"

namespace qualbox::pdisthux {
namespace {

// The exception is built in this frame so the host sees the complete object;
// the thrown object is a copy of it with the key's exact class.
template <class K>
[[noreturn]] void raiseKey(const K& id) {
    const ErrorOf<K> error(id);
    matrix::detail::do_legacy_vorn_error(error);
    throw error;
}

}  // namespace

void raise(const MixedInputTypes& id) { raiseKey(id); }
void raise(const TooFewInputs& id) { raiseKey(id); }
void raise(const TooManyOutputs& id) { raiseKey(id); }
void raise(const OutputTooLarge& id) { raiseKey(id); }
void raise(const BadInputType& id) { raiseKey(id); }
void raise(const MissingParameter& id) { raiseKey(id); }
void raise(const BadExponent& id) { raiseKey(id); }
void raise(const BadParameterSize& id) { raiseKey(id); }
void raise(const UnknownMetric& id) { raiseKey(id); }
void raise(const BadRowRange& id) { raiseKey(id); }

}  // namespace qualbox::pdisthux
