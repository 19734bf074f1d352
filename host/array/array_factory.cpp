// The host's array builders, the deleter and small inspection helpers.
#include "vornhost/array_factory.hpp"

#include "array_alloc.hpp"
#include "class_conversion.hpp"
#include "sparse_validation.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace vornhost {

using detail::ArrayStorage;
using detail::mutableStorageOf;

void ArrayDeleter::operator()(vornArray* a) const {
    if (a == nullptr) return;
    delete static_cast<ArrayStorage*>(a->host);
    delete a;
}

namespace {

void copyDoubles(const std::vector<double>& from, detail::ZeroedBytes& to) {
    if (!from.empty()) std::memcpy(to.data(), from.data(), from.size() * sizeof(double));
}

void fillConverted(vornClassID classId, const std::vector<double>& from, std::byte* to) {
    const std::size_t step = detail::elementSize(classId);
    for (std::size_t i = 0; i < from.size(); ++i) detail::storeAs(classId, from[i], to + i * step);
}

void requireCount(std::size_t m, std::size_t n, std::size_t given) {
    if (n != 0 && m > std::numeric_limits<std::size_t>::max() / n)
        throw std::invalid_argument("dimensions " + std::to_string(m) + " x " + std::to_string(n) +
                                    " are too large");
    if (m * n != given)
        throw std::invalid_argument(std::to_string(given) + " values given for a " +
                                    std::to_string(m) + " x " + std::to_string(n) + " array");
}

}  // namespace

ArrayPtr makeSparseDouble(const SparseLayout& layout, std::vector<double> values) {
    detail::validateSparseLayout(layout, values.size());
    ArrayPtr a = detail::allocateSparse(vornClassDouble, layout, sizeof(double), vornReal);
    copyDoubles(values, mutableStorageOf(a.get()).real);
    return a;
}

ArrayPtr makeSparseComplex(const SparseLayout& layout, std::vector<double> real,
                           std::vector<double> imag) {
    detail::validateSparseLayout(layout, real.size());
    if (imag.size() != real.size())
        throw std::invalid_argument("invalid sparse layout: " + std::to_string(imag.size()) +
                                    " imaginary parts for " + std::to_string(real.size()) +
                                    " real parts");
    ArrayPtr a = detail::allocateSparse(vornClassDouble, layout, sizeof(double), vornComplex);
    ArrayStorage& s = mutableStorageOf(a.get());
    copyDoubles(real, s.real);
    copyDoubles(imag, s.imag);
    return a;
}

ArrayPtr makeSparseLogical(const SparseLayout& layout, std::vector<bool> values) {
    detail::validateSparseLayout(layout, values.size());
    ArrayPtr a = detail::allocateSparse(vornClassLogical, layout, 1, vornReal);
    ArrayStorage& s = mutableStorageOf(a.get());
    for (std::size_t i = 0; i < values.size(); ++i)
        s.real[i] = values[i] ? std::byte{1} : std::byte{0};
    return a;
}

ArrayPtr makeDense(vornClassID classId, std::size_t m, std::size_t n,
                   const std::vector<double>& columnMajor) {
    requireCount(m, n, columnMajor.size());
    if (detail::elementSize(classId) == 0)
        throw std::invalid_argument("class " + std::to_string(classId) +
                                    " cannot be filled from numbers");
    ArrayPtr a = detail::allocateDense(classId, m, n, vornReal);
    fillConverted(classId, columnMajor, mutableStorageOf(a.get()).real.data());
    return a;
}

ArrayPtr makeScalar(double value) { return makeDense(vornClassDouble, 1, 1, {value}); }

ArrayPtr makeText(const std::string& text) {
    ArrayPtr a = detail::allocateDense(vornClassChar, 1, text.size(), vornReal);
    if (!text.empty()) std::memcpy(mutableStorageOf(a.get()).real.data(), text.data(), text.size());
    return a;
}

ArrayPtr makeEmpty(vornClassID classId) { return detail::allocateDense(classId, 0, 0, vornReal); }

ArrayPtr makeExtendedDouble(std::size_t m, std::size_t n, const std::vector<double>& columnMajor,
                            vornClassID resolvedClass) {
    ArrayPtr a = makeDense(vornClassDouble, m, n, columnMajor);
    a->classValue = vornClassExtended;
    mutableStorageOf(a.get()).resolvedClass = resolvedClass;
    return a;
}

bool canAllocateDense(vornClassID classId, std::size_t m, std::size_t n) {
    try {
        detail::allocateDense(classId, m, n, vornReal);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void setDimensionsPending(vornArray* a) {
    a->dimsPending = true;
    a->m = std::numeric_limits<std::size_t>::max();  // plainly wrong if read uncompleted
}

std::size_t elementCount(const vornArray* a) {
    const ArrayStorage& s = detail::storageOf(a);
    if (a->sparse) return s.colStart.empty() ? 0 : s.colStart.back();
    return s.rows * s.cols;
}

ArrayPtr adopt(vornArray* a) { return ArrayPtr(a); }

}  // namespace vornhost
