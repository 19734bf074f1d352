// A stand-in module for hux-run's tests that misbehaves in the ways a real
// module might: no result, an allocation failure, a stray exception.
#include <cstdint>
#include <new>
#include <stdexcept>

struct vornArray_tag;
typedef struct vornArray_tag vornArray;

extern "C" __attribute__((visibility("default"))) void huxfilerequiredapiversion(
    std::int32_t* release, std::int32_t* apiVersion) {
    *release = 0x4410c;
    *apiVersion = 0x07300000;
}

// The number of inputs picks the misbehaviour: none -> returns leaving the
// first output slot empty; one -> runs out of memory; more -> throws a
// standard exception whose text spans two lines.
extern "C" __attribute__((visibility("default"))) void huxFunction(int, vornArray**, int inputCount,
                                                                   const vornArray**) {
    if (inputCount == 0) return;
    if (inputCount == 1) throw std::bad_alloc();
    throw std::runtime_error("first line\nsecond line");
}
