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
#include <utility>

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

// The host's sparse arrays never store a zero, as a numeric host's do not:
// the entries of a validated layout for which isZero(k) holds are dropped and
// the others move down in order, keep(from, to) moving their values. Returns
// the number of entries kept.
template <class IsZero, class Keep>
std::size_t dropZeros(SparseLayout& layout, IsZero isZero, Keep keep) {
    std::size_t kept = 0;
    std::size_t entry = 0;
    for (std::size_t c = 0; c < layout.n; ++c) {
        for (; entry < layout.colStart[c + 1]; ++entry) {
            if (isZero(entry)) continue;
            layout.rowIndex[kept] = layout.rowIndex[entry];
            keep(entry, kept++);
        }
        layout.colStart[c + 1] = kept;
    }
    layout.rowIndex.resize(kept);
    return kept;
}

}  // namespace

ArrayPtr makeSparseDouble(const SparseLayout& layout, std::vector<double> values) {
    detail::validateSparseLayout(layout, values.size());
    SparseLayout stored = layout;
    values.resize(dropZeros(
        stored, [&](std::size_t k) { return values[k] == 0.0; },
        [&](std::size_t from, std::size_t to) { values[to] = values[from]; }));
    ArrayPtr a = detail::allocateSparse(vornClassDouble, std::move(stored), sizeof(double), vornReal);
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
    SparseLayout stored = layout;
    const std::size_t kept = dropZeros(
        stored, [&](std::size_t k) { return real[k] == 0.0 && imag[k] == 0.0; },
        [&](std::size_t from, std::size_t to) {
            real[to] = real[from];
            imag[to] = imag[from];
        });
    real.resize(kept);
    imag.resize(kept);
    ArrayPtr a =
        detail::allocateSparse(vornClassDouble, std::move(stored), sizeof(double), vornComplex);
    ArrayStorage& s = mutableStorageOf(a.get());
    copyDoubles(real, s.real);
    copyDoubles(imag, s.imag);
    return a;
}

ArrayPtr makeSparseLogical(const SparseLayout& layout, std::vector<bool> values) {
    detail::validateSparseLayout(layout, values.size());
    SparseLayout stored = layout;
    const std::size_t kept = dropZeros(
        stored, [&](std::size_t k) { return !values[k]; }, [](std::size_t, std::size_t) {});
    // Every entry kept is true.
    ArrayPtr a = detail::allocateSparse(vornClassLogical, std::move(stored), 1, vornReal);
    ArrayStorage& s = mutableStorageOf(a.get());
    for (std::size_t i = 0; i < kept; ++i) s.real[i] = std::byte{1};
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
