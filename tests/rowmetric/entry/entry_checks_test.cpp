// The module's call checks: which error each bad call raises, in which order
// the checks are made, and that a failed call leaves outputs[0] alone.
#include "module_call.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace entrytest;
namespace pd = qualbox::pdisthux;
using vornhost::ArrayPtr;

class EntryChecks : public ::testing::Test {
protected:
    // 3 variables x 4 observations.
    ArrayPtr x = sparseFromDense(3, 4, {1, 0, 2, 0, 0, 0, 3, 1, 0, 0, 0, 5});
    ArrayPtr denseX = vornhost::makeDense(vornClassDouble, 3, 4, std::vector<double>(12, 1.0));
    ArrayPtr euc = vornhost::makeText("euc");
    ArrayPtr singleRow = vornhost::makeDense(vornClassSingle, 1, 3, {1, 1, 1});
};

TEST_F(EntryChecks, TooFewInputsComesFirst) {
    expectFailure<pd::TooFewInputs>(callModule(1, {}));
    expectFailure<pd::TooFewInputs>(callModule(1, {x.get()}));
    // Before the output count and the data matrix's type.
    expectFailure<pd::TooFewInputs>(callModule(2, {x.get()}));
    expectFailure<pd::TooFewInputs>(callModule(2, {denseX.get()}));
}

TEST_F(EntryChecks, TooManyOutputsBeforeTheInputType) {
    expectFailure<pd::TooManyOutputs>(callModule(2, {x.get(), euc.get()}));
    expectFailure<pd::TooManyOutputs>(callModule(2, {denseX.get(), euc.get()}));
}

TEST_F(EntryChecks, DataMatrixMustBeSparseDouble) {
    expectFailure<pd::BadInputType>(callModule(1, {denseX.get(), euc.get()}));

    vornhost::SparseLayout layout{2, 2, {0, 1, 2}, {0, 1}};
    ArrayPtr logical = vornhost::makeSparseLogical(layout, {true, true});
    expectFailure<pd::BadInputType>(callModule(1, {logical.get(), euc.get()}));

    // The type check comes before anything about the third argument.
    expectFailure<pd::BadInputType>(callModule(1, {denseX.get(), euc.get(), singleRow.get()}));
}

TEST_F(EntryChecks, ExtendedClassValueNeverPassesEvenWhenItResolvesToDouble) {
    ArrayPtr extendedDense = vornhost::makeExtendedDouble(3, 4, std::vector<double>(12, 1.0));
    expectFailure<pd::BadInputType>(callModule(1, {extendedDense.get(), euc.get()}));

    // A sparse double whose stored class value is above 16: its class still
    // resolves to double, but the stored value itself is what is compared.
    ArrayPtr extendedSparse = sparseFromDense(3, 4, std::vector<double>(12, 1.0));
    extendedSparse->classValue = vornClassExtended;
    ASSERT_EQ(vornGetClassID(extendedSparse.get()), vornClassDouble);
    expectFailure<pd::BadInputType>(callModule(1, {extendedSparse.get(), euc.get()}));
}

TEST_F(EntryChecks, ThirdArgumentOfAnotherClassIsMixedInputTypes) {
    expectFailure<pd::MixedInputTypes>(callModule(1, {x.get(), euc.get(), singleRow.get()}));
    // Even where the metric never reads it, and before the metric is known
    // to be unrecognised or the parameter's size is looked at.
    ArrayPtr unknown = vornhost::makeText("zzz");
    expectFailure<pd::MixedInputTypes>(callModule(1, {x.get(), unknown.get(), singleRow.get()}));
    ArrayPtr seu = vornhost::makeText("seu");
    ArrayPtr shortInt = vornhost::makeDense(vornClassInt32, 1, 1, {1});
    expectFailure<pd::MixedInputTypes>(callModule(1, {x.get(), seu.get(), shortInt.get()}));
}

TEST_F(EntryChecks, EmptyThirdArgumentOfAnyClassIsNotClassChecked) {
    for (vornClassID cls : {vornClassSingle, vornClassInt32, vornClassChar, vornClassCell}) {
        ArrayPtr empty = vornhost::makeEmpty(cls);
        expectResult(callModule(1, {x.get(), euc.get(), empty.get()}), 6);
    }
}

TEST_F(EntryChecks, UnrecognisedCodesAreRejected) {
    for (const char* text : {"eu", "EUC", "Euc", "", "e", "xyz", "mh", "ma h"}) {
        ArrayPtr code = vornhost::makeText(text);
        SCOPED_TRACE(text);
        const Outcome outcome = callModule(1, {x.get(), code.get()});
        expectFailure<pd::UnknownMetric>(outcome);
        EXPECT_NE(
            outcome.thrownText.find("euc, sqe, seu, cit, min, cos, cor, spe, ham, jac, che, mah;"),
            std::string::npos)
            << outcome.thrownText;
    }
}

TEST_F(EntryChecks, CodeThatIsNotTextMatchesNothing) {
    // A valid call first leaves "euc" in the stack memory the next call's
    // code buffer occupies, so a buffer not cleared would still select it.
    expectResult(callModule(1, {x.get(), euc.get()}), 6);
    // Character codes of "euc" held as doubles are not text.
    ArrayPtr numbers = vornhost::makeDense(vornClassDouble, 1, 3, {'e', 'u', 'c'});
    expectFailure<pd::UnknownMetric>(callModule(1, {x.get(), numbers.get()}));
    ArrayPtr cell = vornhost::makeEmpty(vornClassCell);
    expectFailure<pd::UnknownMetric>(callModule(1, {x.get(), cell.get()}));
}

TEST_F(EntryChecks, MetricsThatReadAParameterNeedIt) {
    ArrayPtr emptyDouble = vornhost::makeEmpty(vornClassDouble);
    ArrayPtr emptySingle = vornhost::makeEmpty(vornClassSingle);
    for (const char* text : {"seu", "mah", "min"}) {
        SCOPED_TRACE(text);
        ArrayPtr code = vornhost::makeText(text);
        expectFailure<pd::MissingParameter>(callModule(1, {x.get(), code.get()}));
        expectFailure<pd::MissingParameter>(
            callModule(1, {x.get(), code.get(), emptyDouble.get()}));
        expectFailure<pd::MissingParameter>(
            callModule(1, {x.get(), code.get(), emptySingle.get()}));
    }
}

TEST_F(EntryChecks, ParameterOfAnotherSizeThanTheMetricReadsIsRejected) {
    ArrayPtr seu = vornhost::makeText("seu");
    ArrayPtr mah = vornhost::makeText("mah");
    ArrayPtr twoWeights = vornhost::makeDense(vornClassDouble, 2, 1, {1, 1});
    ArrayPtr threeWeights = vornhost::makeDense(vornClassDouble, 1, 3, {1, 1, 1});
    ArrayPtr fourWeights = vornhost::makeDense(vornClassDouble, 4, 1, {1, 1, 1, 1});
    ArrayPtr eightElements =
        vornhost::makeDense(vornClassDouble, 2, 4, std::vector<double>(8, 1.0));
    ArrayPtr nineElements = vornhost::makeDense(vornClassDouble, 1, 9, std::vector<double>(9, 1.0));
    ArrayPtr tenElements = vornhost::makeDense(vornClassDouble, 2, 5, std::vector<double>(10, 1.0));

    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), seu.get(), twoWeights.get()}));
    expectResult(callModule(1, {x.get(), seu.get(), threeWeights.get()}), 6);
    // More than the metric reads is wrong too: the data were meant for another matrix.
    const Outcome tooMany = callModule(1, {x.get(), seu.get(), fourWeights.get()});
    expectFailure<pd::BadParameterSize>(tooMany);
    EXPECT_NE(tooMany.thrownText.find(
                  "It must be a vector of 3 weights, one per row of the data matrix; it is a "
                  "4 x 1 array."),
              std::string::npos)
        << tooMany.thrownText;
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), mah.get(), threeWeights.get()}));
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), mah.get(), eightElements.get()}));
    expectResult(callModule(1, {x.get(), mah.get(), nineElements.get()}), 6);
    const Outcome wide = callModule(1, {x.get(), mah.get(), tenElements.get()});
    expectFailure<pd::BadParameterSize>(wide);
    EXPECT_NE(wide.thrownText.find("the 3 x 3 factor U (9 elements); it is a 2 x 5 array."),
              std::string::npos)
        << wide.thrownText;
}

TEST_F(EntryChecks, SparseParameterMustStoreEveryElement) {
    ArrayPtr seu = vornhost::makeText("seu");
    // Three weights with a zero: only two entries stored.
    ArrayPtr partial = sparseFromDense(3, 1, {1, 0, 2});
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), seu.get(), partial.get()}));
    // 3 x 2 with four of six stored: more entries than weights needed, but
    // its data are not the first three elements in order.
    ArrayPtr gappy = sparseFromDense(3, 2, {1, 0, 2, 0, 3, 4});
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), seu.get(), gappy.get()}));
    ArrayPtr full = sparseFromDense(3, 1, {1, 3, 2});
    expectResult(callModule(1, {x.get(), seu.get(), full.get()}), 6);
}

TEST_F(EntryChecks, MinkowskiExponentMustBeOneValue) {
    ArrayPtr min = vornhost::makeText("min");
    ArrayPtr two = vornhost::makeDense(vornClassDouble, 1, 2, {2, 3});
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), min.get(), two.get()}));
    ArrayPtr twoSingles = vornhost::makeDense(vornClassSingle, 2, 1, {2, 3});
    expectFailure<pd::BadParameterSize>(callModule(1, {x.get(), min.get(), twoSingles.get()}));
}

TEST_F(EntryChecks, MinkowskiExponentMustBeFiniteAndAboveZero) {
    ArrayPtr min = vornhost::makeText("min");
    for (const double p : {0.0, -0.0, -1.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        SCOPED_TRACE(p);
        ArrayPtr exponent = vornhost::makeScalar(p);
        expectFailure<pd::BadExponent>(callModule(1, {x.get(), min.get(), exponent.get()}));
    }
    // A sparse scalar that stores nothing holds 0.
    ArrayPtr unstored = emptySparse(1, 1);
    expectFailure<pd::BadExponent>(callModule(1, {x.get(), min.get(), unstored.get()}));
    ArrayPtr half = vornhost::makeScalar(0.5);
    expectResult(callModule(1, {x.get(), min.get(), half.get()}), 6);
}

TEST_F(EntryChecks, ValidCallsReportNothing) {
    expectResult(callModule(1, {x.get(), euc.get()}), 6);
    ArrayPtr ignored = vornhost::makeText("anything");
    expectResult(callModule(1, {x.get(), euc.get(), vornhost::makeEmpty(vornClassDouble).get(),
                                ignored.get()}),
                 6);
}

TEST_F(EntryChecks, NoOutputRequestedStillFillsTheFirstSlot) {
    const Outcome outcome = callModule(0, {x.get(), euc.get()});
    expectResult(outcome, 6);
    EXPECT_TRUE(outcome.outputTouched);
}

}  // namespace
