// Allocation of host arrays and their storage.
#include "array_alloc.hpp"

#include "class_conversion.hpp"

#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace vornhost::detail {
namespace {

std::size_t checkedProduct(std::size_t a, std::size_t b) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) throw std::bad_alloc();
    return a * b;
}

ArrayPtr wrap(std::unique_ptr<ArrayStorage> storage, int classValue, bool sparse,
              vornComplexity complexity) {
    auto handle = std::make_unique<vornArray>();
    handle->classValue = classValue;
    handle->sparse = sparse;
    handle->complexity = complexity;
    handle->dimsPending = false;
    handle->m = storage->rows;
    handle->n = storage->cols;
    handle->realData = storage->real.data();
    handle->imagData = complexity == vornComplex ? storage->imag.data() : nullptr;
    handle->rowIndices = sparse ? storage->rowIndex.data() : nullptr;
    handle->columnStarts = sparse ? storage->colStart.data() : nullptr;
    handle->host = storage.release();
    return ArrayPtr(handle.release());
}

}  // namespace

ArrayPtr allocateDense(vornClassID classId, std::size_t m, std::size_t n,
                       vornComplexity complexity) {
    if (classId < vornClassLogical || classId > kVornLastTrivialClass)
        throw std::invalid_argument("class value " + std::to_string(classId) +
                                    " is not an array class");
    const std::size_t count = checkedProduct(m, n);
    const std::size_t bytesPer = elementSize(classId);
    if (bytesPer == 0 && count != 0)
        throw std::invalid_argument("class " + std::to_string(classId) + " has no numeric storage");
    const std::size_t bytes = checkedProduct(count, bytesPer);
    auto storage = std::make_unique<ArrayStorage>();
    storage->rows = m;
    storage->cols = n;
    storage->resolvedClass = classId;
    storage->real = ZeroedBytes(bytes);
    if (complexity == vornComplex) storage->imag = ZeroedBytes(bytes);
    return wrap(std::move(storage), classId, false, complexity);
}

ArrayPtr allocateSparse(vornClassID classId, SparseLayout layout, std::size_t elementBytes,
                        vornComplexity complexity) {
    const std::size_t entries = layout.rowIndex.size();
    const std::size_t bytes = checkedProduct(entries, elementBytes);
    auto storage = std::make_unique<ArrayStorage>();
    storage->rows = layout.m;
    storage->cols = layout.n;
    storage->resolvedClass = classId;
    storage->real = ZeroedBytes(bytes);
    if (complexity == vornComplex) storage->imag = ZeroedBytes(bytes);
    storage->rowIndex = std::move(layout.rowIndex);
    if (storage->rowIndex.empty()) storage->rowIndex.reserve(1);
    storage->colStart = std::move(layout.colStart);
    return wrap(std::move(storage), classId, true, complexity);
}

ArrayStorage& mutableStorageOf(vornArray* a) { return *static_cast<ArrayStorage*>(a->host); }

}  // namespace vornhost::detail
