// The out-of-line functions of the array library that a module calls, and
// the two out-of-line members of the array handle.
#include "vorn/array_api.hpp"

#include "array_alloc.hpp"
#include "array_storage.hpp"
#include "class_conversion.hpp"

#include <cstring>

using vornhost::detail::storageOf;
using vornhost::detail::storedClass;

vornClassID vornArray_tag::_get_class_id_non_trivial() const {
    if (classValue <= kVornLastTrivialClass) return static_cast<vornClassID>(classValue);
    return storageOf(this).resolvedClass;
}

void vornArray_tag::_complete_opaque_dimensions() const {
    m = storageOf(this).rows;
    dimsPending = false;
}

namespace matrix::detail::noninlined::vorn_array_api {

std::size_t vornGetN(const vornArray* a) { return storageOf(a).cols; }

bool vornIsEmpty(const vornArray* a) {
    const auto& s = storageOf(a);
    return s.rows == 0 || s.cols == 0;
}

// The first element, element (0, 0), as a double: 0.0 when the array is
// empty, when a sparse array stores nothing there, or when its class holds
// no numbers (cell, struct, ...).
double vornGetScalar(const vornArray* a) {
    if (vornIsEmpty(a)) return 0.0;
    const auto& s = storageOf(a);
    const vornClassID cls = storedClass(a);
    if (a->sparse) {
        const bool stored = s.colStart[1] > 0 && s.rowIndex[0] == 0;
        return stored ? vornhost::detail::loadAsDouble(cls, s.real.data()) : 0.0;
    }
    if (vornhost::detail::elementSize(cls) == 0) return 0.0;
    return vornhost::detail::loadAsDouble(cls, s.real.data());
}

int vornGetString(const vornArray* a, char* buf, std::size_t len) {
    if (storedClass(a) != vornClassChar || a->sparse || buf == nullptr || len == 0) return 1;
    const auto& s = storageOf(a);
    const std::size_t count = s.rows * s.cols;
    const std::size_t copied = count < len - 1 ? count : len - 1;
    if (copied != 0) std::memcpy(buf, s.real.data(), copied);
    buf[copied] = '\0';
    return copied == count ? 0 : 1;
}

vornArray* vornCreateNumericMatrix(std::size_t m, std::size_t n, vornClassID classId,
                                   vornComplexity complexity) {
    return vornhost::detail::allocateDense(classId, m, n, complexity).release();
}

}  // namespace matrix::detail::noninlined::vorn_array_api
