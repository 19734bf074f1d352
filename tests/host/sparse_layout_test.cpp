// Sparse builders: valid layouts are taken over as given except for entries
// equal to zero, which are dropped, and every kind of broken compressed-column
// structure is refused with a message naming it.
#include "vornhost/array_factory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using vornhost::SparseLayout;

// 3 x 2: column 0 holds rows 0 and 2, column 1 holds row 1.
SparseLayout validLayout() { return SparseLayout{3, 2, {0, 2, 3}, {0, 2, 1}}; }

std::string refusal(const SparseLayout& layout, std::size_t valueCount) {
    try {
        vornhost::makeSparseDouble(layout, std::vector<double>(valueCount, 1.0));
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

TEST(SparseLayout, ValidLayoutIsStoredInPlace) {
    auto a = vornhost::makeSparseDouble(validLayout(), {1.5, -2.0, 4.0});
    ASSERT_TRUE(vornIsSparse(a.get()));
    EXPECT_EQ(vornGetClassID(a.get()), vornClassDouble);
    EXPECT_EQ(vornGetM(a.get()), 3u);
    EXPECT_EQ(matrix::detail::noninlined::vorn_array_api::vornGetN(a.get()), 2u);
    EXPECT_EQ(vornhost::elementCount(a.get()), 3u);
    const auto* values = static_cast<const double*>(vornGetRealData(a.get()));
    EXPECT_EQ(values[1], -2.0);
    EXPECT_EQ(vornGetRowIndices(a.get())[1], 2u);
    EXPECT_EQ(vornGetColumnStarts(a.get())[2], 3u);
    EXPECT_EQ(a->imagData, nullptr);
}

TEST(SparseLayout, EmptyColumnsAndNoEntriesAreValid) {
    auto a = vornhost::makeSparseDouble(SparseLayout{4, 3, {0, 0, 0, 0}, {}}, {});
    EXPECT_EQ(vornhost::elementCount(a.get()), 0u);
    EXPECT_NE(vornGetRealData(a.get()), nullptr);
    EXPECT_NE(vornGetRowIndices(a.get()), nullptr);
    auto none = vornhost::makeSparseDouble(SparseLayout{0, 0, {0}, {}}, {});
    EXPECT_TRUE(matrix::detail::noninlined::vorn_array_api::vornIsEmpty(none.get()));
}

struct BrokenCase {
    const char* what;
    SparseLayout layout;
    std::size_t valueCount;
    const char* expected;  // part of the message that names the fault
};

TEST(SparseLayout, BrokenStructuresAreRefusedWithTheirReason) {
    const BrokenCase cases[] = {
        {"too few column starts",
         {3, 2, {0, 2}, {0, 2, 1}},
         3,
         "column starts have 2 entries, expected 3"},
        {"too many column starts",
         {3, 2, {0, 2, 3, 3}, {0, 2, 1}},
         3,
         "column starts have 4 entries, expected 3"},
        {"first start not zero", {3, 2, {1, 2, 3}, {0, 2, 1}}, 3, "column 0 starts at 1"},
        {"decreasing starts",
         {3, 2, {0, 2, 1}, {0, 2}},
         2,
         "column 1 ends at 1 before its start 2"},
        {"last start short of entries",
         {3, 2, {0, 2, 2}, {0, 2, 1}},
         3,
         "column starts end at 2 but there are 3 row indices"},
        {"value count differs", validLayout(), 2, "2 values for 3 row indices"},
        {"row beyond m",
         {3, 2, {0, 2, 3}, {0, 3, 1}},
         3,
         "entry 1 in column 0 has row 3, not below 3"},
        {"rows descending",
         {3, 2, {0, 2, 3}, {2, 0, 1}},
         3,
         "entry 1 in column 0 has row 0 after row 2"},
        {"row repeated",
         {3, 2, {0, 1, 3}, {0, 1, 1}},
         3,
         "entry 2 in column 1 has row 1 after row 1"},
    };
    for (const BrokenCase& c : cases) {
        const std::string message = refusal(c.layout, c.valueCount);
        EXPECT_NE(message.find(c.expected), std::string::npos)
            << c.what << ": got \"" << message << "\"";
        EXPECT_EQ(message.find('\n'), std::string::npos) << c.what;
    }
}

TEST(SparseLayout, LogicalAndComplexBuildersValidateToo) {
    SparseLayout broken = validLayout();
    broken.rowIndex = {0, 5, 1};
    EXPECT_THROW(vornhost::makeSparseLogical(broken, {true, true, true}), std::invalid_argument);
    EXPECT_THROW(vornhost::makeSparseComplex(broken, {1, 2, 3}, {0, 0, 0}), std::invalid_argument);
    EXPECT_THROW(vornhost::makeSparseComplex(validLayout(), {1, 2, 3}, {0, 0}),
                 std::invalid_argument);
}

TEST(SparseLayout, LogicalAndComplexKeepTheirEntries) {
    auto logical = vornhost::makeSparseLogical(validLayout(), {true, true, true});
    EXPECT_EQ(vornGetClassID(logical.get()), vornClassLogical);
    const auto* bytes = static_cast<const unsigned char*>(vornGetRealData(logical.get()));
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[2], 1);

    auto complex = vornhost::makeSparseComplex(validLayout(), {1, 2, 3}, {-1, -2, -3});
    EXPECT_EQ(complex->complexity, vornComplex);
    EXPECT_EQ(vornGetClassID(complex.get()), vornClassDouble);
    EXPECT_EQ(static_cast<const double*>(complex->imagData)[2], -3.0);
    EXPECT_EQ(static_cast<const double*>(vornGetRealData(complex.get()))[2], 3.0);
}

// Whatever the builder is given, an entry whose value is zero is not stored:
// the columns shrink, later ones move up, NaN and the other values stay.
TEST(SparseLayout, ZerosAreNeverStored) {
    const SparseLayout layout{3, 3, {0, 2, 3, 5}, {0, 2, 1, 0, 2}};
    auto reals = vornhost::makeSparseDouble(layout, {0.0, 2.0, -0.0, std::nan(""), 4.0});
    EXPECT_EQ(std::vector<std::uint64_t>(reals->columnStarts, reals->columnStarts + 4),
              (std::vector<std::uint64_t>{0, 1, 1, 3}));
    EXPECT_EQ(std::vector<std::uint64_t>(reals->rowIndices, reals->rowIndices + 3),
              (std::vector<std::uint64_t>{2, 0, 2}));
    const auto* values = static_cast<const double*>(vornGetRealData(reals.get()));
    EXPECT_EQ(values[0], 2.0);
    EXPECT_TRUE(std::isnan(values[1]));
    EXPECT_EQ(values[2], 4.0);

    auto complex = vornhost::makeSparseComplex(layout, {0, 0, 1, 0, 0}, {0, 5, 0, -0.0, 0});
    EXPECT_EQ(vornhost::elementCount(complex.get()), 2u);
    EXPECT_EQ(static_cast<const double*>(complex->imagData)[0], 5.0);
    auto logical = vornhost::makeSparseLogical(layout, {false, true, false, false, true});
    EXPECT_EQ(std::vector<std::uint64_t>(logical->columnStarts, logical->columnStarts + 4),
              (std::vector<std::uint64_t>{0, 1, 1, 2}));
}

}  // namespace
