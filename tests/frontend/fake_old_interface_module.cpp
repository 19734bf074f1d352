// A stand-in module for hux-run's tests that was built for another version
// of the host's array interface; hux-run must refuse to call it.
#include <cstdint>
#include <cstdlib>

struct vornArray_tag;
typedef struct vornArray_tag vornArray;

extern "C" __attribute__((visibility("default"))) void huxfilerequiredapiversion(
    std::int32_t* release, std::int32_t* apiVersion) {
    *release = 0x4410c;
    *apiVersion = 0x07200000;
}

// Never to be reached: calling a module built for another interface would
// let it misread every array.
extern "C" __attribute__((visibility("default"))) void huxFunction(int, vornArray**, int,
                                                                   const vornArray**) {
    std::abort();
}
