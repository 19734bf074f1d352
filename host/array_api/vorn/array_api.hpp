// The Velmar host's array library as a module is compiled against it: the
// array handle vornArray, its class values and the functions on it.
#pragma once

#include <cstddef>
#include <cstdint>

// Class values. Double is 6; a stored value above 16 means the class is held
// in the array's extended descriptor and must be asked for out of line.
enum vornClassID : int {
    vornClassUnknown = 0,
    vornClassLogical = 1,
    vornClassChar = 2,
    vornClassInt8 = 3,
    vornClassUint8 = 4,
    vornClassInt32 = 5,
    vornClassDouble = 6,
    vornClassSingle = 7,
    vornClassInt16 = 8,
    vornClassUint16 = 9,
    vornClassUint32 = 10,
    vornClassInt64 = 11,
    vornClassUint64 = 12,
    vornClassCell = 13,
    vornClassStruct = 14,
    vornClassFunction = 15,
    vornClassOpaque = 16,
    vornClassExtended = 17,
};

enum vornComplexity : int { vornReal = 0, vornComplex = 1 };

constexpr int kVornLastTrivialClass = 16;

// Host-owned array handle. The module reads these fields in place through the
// inline accessors below; everything behind `host` is the host's own.
struct vornArray_tag {
    int classValue;  // stored class value; above 16: see descriptor
    bool sparse;
    vornComplexity complexity;
    mutable bool dimsPending;     // first dimension not yet completed
    mutable std::size_t m;        // first dimension, valid when !dimsPending
    std::size_t n;                // columns: product of the trailing dimensions
    void* realData;               // dense: m*n elements; sparse: one per entry
    void* imagData;               // complex arrays only, else null
    std::uint64_t* rowIndices;    // sparse only: row of each stored entry
    std::uint64_t* columnStarts;  // sparse only: n + 1 column starts
    void* host;                   // host bookkeeping (storage, descriptor)

    vornClassID _get_class_id_non_trivial() const;
    void _complete_opaque_dimensions() const;
};
typedef struct vornArray_tag vornArray;

inline vornClassID vornGetClassID(const vornArray* a) {
    if (a->classValue > kVornLastTrivialClass) return a->_get_class_id_non_trivial();
    return static_cast<vornClassID>(a->classValue);
}

inline bool vornIsSparse(const vornArray* a) { return a->sparse; }

inline std::size_t vornGetM(const vornArray* a) {
    if (a->dimsPending) a->_complete_opaque_dimensions();
    return a->m;
}

inline void* vornGetRealData(const vornArray* a) { return a->realData; }
inline std::uint64_t* vornGetRowIndices(const vornArray* a) { return a->rowIndices; }
inline std::uint64_t* vornGetColumnStarts(const vornArray* a) { return a->columnStarts; }

namespace matrix::detail::noninlined::vorn_array_api {

std::size_t vornGetN(const vornArray* a);
bool vornIsEmpty(const vornArray* a);
double vornGetScalar(const vornArray* a);
// Copies at most len - 1 characters of character data and a NUL into buf.
// Returns 0 when the whole text fitted, 1 when it was cut or a is not text
// (buf is then left as it was).
int vornGetString(const vornArray* a, char* buf, std::size_t len);
vornArray* vornCreateNumericMatrix(std::size_t m, std::size_t n, vornClassID classId,
                                   vornComplexity complexity);

}  // namespace matrix::detail::noninlined::vorn_array_api
