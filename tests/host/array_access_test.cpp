// The module-facing array functions: text reading, pending dimensions, the
// extended class path and creation of result arrays.
#include "vornhost/array_factory.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace {

namespace api = matrix::detail::noninlined::vorn_array_api;

struct Read {
    int status;
    std::string buffer;  // all of it, NULs shown as '0' and untouched bytes as '#'
};

Read readInto(const vornArray* a, std::size_t len) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    const int status = api::vornGetString(a, buf, len);
    std::string shown(buf, sizeof buf);
    for (char& c : shown)
        if (c == '\0') c = '0';
    return {status, shown};
}

TEST(GetString, CopiesWhatFitsAndAlwaysEndsWithNul) {
    auto word = vornhost::makeText("euclidean");
    Read cut = readInto(word.get(), 4);
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.buffer, "euc0####");

    auto exact = vornhost::makeText("euc");
    Read fits = readInto(exact.get(), 4);
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.buffer, "euc0####");

    auto shorter = vornhost::makeText("eu");
    EXPECT_EQ(readInto(shorter.get(), 4).buffer, "eu0#####");
    EXPECT_EQ(readInto(shorter.get(), 4).status, 0);

    auto empty = vornhost::makeText("");
    EXPECT_EQ(readInto(empty.get(), 4).buffer, "0#######");
    EXPECT_EQ(readInto(empty.get(), 4).status, 0);

    Read onlyNul = readInto(word.get(), 1);
    EXPECT_EQ(onlyNul.status, 1);
    EXPECT_EQ(onlyNul.buffer, "0#######");
}

TEST(GetString, NonTextLeavesTheBufferUntouched) {
    auto number = vornhost::makeScalar(101);
    auto codes = vornhost::makeDense(vornClassUint8, 1, 3, {101, 117, 99});
    auto extended = vornhost::makeExtendedDouble(1, 1, {101});
    for (const vornArray* a : {number.get(), codes.get(), extended.get()}) {
        Read r = readInto(a, 4);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.buffer, "########");
    }
    auto text = vornhost::makeText("abc");
    EXPECT_EQ(readInto(text.get(), 0).buffer, "########");
}

TEST(PendingDimensions, GetMCompletesThePoisonedFirstDimension) {
    auto dense = vornhost::makeDense(vornClassDouble, 3, 4, std::vector<double>(12, 1.0));
    vornhost::setDimensionsPending(dense.get());
    EXPECT_TRUE(dense->dimsPending);
    EXPECT_EQ(dense->m, std::numeric_limits<std::size_t>::max());
    EXPECT_EQ(api::vornGetN(dense.get()), 4u);
    EXPECT_FALSE(api::vornIsEmpty(dense.get()));
    EXPECT_EQ(vornhost::elementCount(dense.get()), 12u);

    const vornArray* readOnly = dense.get();
    EXPECT_EQ(vornGetM(readOnly), 3u);
    EXPECT_FALSE(dense->dimsPending);
    EXPECT_EQ(dense->m, 3u);

    auto sparse = vornhost::makeSparseDouble({5, 1, {0, 1}, {4}}, {2});
    vornhost::setDimensionsPending(sparse.get());
    EXPECT_EQ(vornGetM(sparse.get()), 5u);
}

TEST(ExtendedClass, StoredValueAboveSixteenResolvesThroughDescriptor) {
    auto plain = vornhost::makeExtendedDouble(2, 1, {1.5, -2});
    EXPECT_EQ(plain->classValue, vornClassExtended);
    EXPECT_NE(plain->classValue, vornClassDouble);  // a direct class test must not pass
    EXPECT_EQ(vornGetClassID(plain.get()), vornClassDouble);
    EXPECT_EQ(static_cast<const double*>(vornGetRealData(plain.get()))[1], -2.0);

    auto single = vornhost::makeExtendedDouble(1, 1, {3}, vornClassSingle);
    EXPECT_EQ(vornGetClassID(single.get()), vornClassSingle);
    EXPECT_EQ(api::vornGetScalar(single.get()), 3.0);

    auto ordinary = vornhost::makeDense(vornClassInt32, 1, 1, {4});
    EXPECT_EQ(ordinary->_get_class_id_non_trivial(), vornClassInt32);
}

// Fills and frees a block of the same size first, so that a creation which
// skipped the zero fill would very likely see the old bytes again.
void dirtyHeap(std::size_t bytes) {
    auto* block = static_cast<unsigned char*>(::operator new(bytes));
    std::memset(block, 0xAB, bytes);
    ::operator delete(block);
}

TEST(CreateNumericMatrix, ZeroFilledAndOfTheRequestedShape) {
    const std::size_t m = 64, n = 32;
    dirtyHeap(m * n * sizeof(double));
    auto a = vornhost::adopt(api::vornCreateNumericMatrix(m, n, vornClassDouble, vornReal));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(vornGetM(a.get()), m);
    EXPECT_EQ(api::vornGetN(a.get()), n);
    EXPECT_EQ(vornGetClassID(a.get()), vornClassDouble);
    EXPECT_FALSE(vornIsSparse(a.get()));
    EXPECT_EQ(a->imagData, nullptr);
    const auto* data = static_cast<const double*>(vornGetRealData(a.get()));
    for (std::size_t i = 0; i < m * n; ++i) ASSERT_EQ(data[i], 0.0) << "element " << i;

    dirtyHeap(m * n * sizeof(std::int16_t));
    auto c = vornhost::adopt(api::vornCreateNumericMatrix(m, n, vornClassInt16, vornComplex));
    const auto* re = static_cast<const std::int16_t*>(vornGetRealData(c.get()));
    const auto* im = static_cast<const std::int16_t*>(c->imagData);
    ASSERT_NE(im, nullptr);
    for (std::size_t i = 0; i < m * n; ++i) {
        ASSERT_EQ(re[i], 0) << "real " << i;
        ASSERT_EQ(im[i], 0) << "imaginary " << i;
    }
}

// Large results are not zero-filled by the host but taken as fresh zero
// pages. Once the allocator recycles dirty memory for that size (glibc's mmap
// threshold rises past a freed larger block), they must still read as zeros,
// and be released through the matching deallocation (checked under ASan).
TEST(CreateNumericMatrix, LargeResultZeroFilledAfterDirtyBlocksOfItsSize) {
    const std::size_t m = 1, n = std::size_t{3} << 20;  // 24 MiB of doubles
    for (int round = 0; round < 2; ++round) {
        dirtyHeap(n * sizeof(double) + (std::size_t{1} << 20));
        auto a = vornhost::adopt(api::vornCreateNumericMatrix(m, n, vornClassDouble, vornComplex));
        auto* re = static_cast<double*>(vornGetRealData(a.get()));
        const auto* im = static_cast<const double*>(a->imagData);
        ASSERT_NE(im, nullptr);
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(re[i], 0.0) << "round " << round << " real " << i;
            ASSERT_EQ(im[i], 0.0) << "round " << round << " imaginary " << i;
        }
        std::memset(re, 0xCD, n * sizeof(double));  // dirty it for the next round
    }
}

TEST(CreateNumericMatrix, EmptyResultStillHasWritableData) {
    auto a = vornhost::adopt(api::vornCreateNumericMatrix(1, 0, vornClassDouble, vornReal));
    EXPECT_TRUE(api::vornIsEmpty(a.get()));
    EXPECT_EQ(vornGetM(a.get()), 1u);
    EXPECT_EQ(api::vornGetN(a.get()), 0u);
    EXPECT_NE(vornGetRealData(a.get()), nullptr);
}

TEST(CreateNumericMatrix, ImpossibleRequestsThrowInsteadOfReturningNull) {
    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 4;
    EXPECT_THROW(api::vornCreateNumericMatrix(huge, 8, vornClassDouble, vornReal), std::bad_alloc);
    EXPECT_THROW(api::vornCreateNumericMatrix(1, huge, vornClassDouble, vornReal), std::bad_alloc);
    EXPECT_THROW(api::vornCreateNumericMatrix(2, 2, vornClassStruct, vornReal),
                 std::invalid_argument);
}

}  // namespace
