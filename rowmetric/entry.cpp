#include "entry.hpp"

#include "distfun.hpp"
#include "errors.hpp"

namespace {

constexpr std::int32_t kReleaseId = 0x4410c;
constexpr std::int32_t kArrayApiVersion = 0x07300000;

// Sparse and double by the stored class value itself: an extended class
// value (above 16) never passes, whatever it resolves to.
bool isSparseDouble(const vornArray* a) {
    return a->classValue == vornClassDouble && vornIsSparse(a);
}

}  // namespace

extern "C" void huxFunction(int outputCount, vornArray** outputs, int inputCount,
                            const vornArray** inputs) {
    namespace errors = qualbox::pdisthux;
    if (inputCount < 2) {
        errors::raise(errors::TooFewInputs{});
    }
    if (outputCount > 1) {
        errors::raise(errors::TooManyOutputs{});
    }
    if (!isSparseDouble(inputs[0])) {
        errors::raise(errors::BadInputType{});
    }
    rowmetric::distfun(outputCount, outputs, inputCount, inputs);
}

extern "C" void huxfilerequiredapiversion(std::int32_t* release, std::int32_t* apiVersion) {
    *release = kReleaseId;
    *apiVersion = kArrayApiVersion;
}
