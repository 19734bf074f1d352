// The host error library as a module uses it: message identifiers, the
// exception template's texts and identifiers, and the host's error record.
#include "vornhost/error_log.hpp"
#include "vorn/error_api.hpp"

#include <boost/exception/get_error_info.hpp>
#include <boost/exception/info.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using resource_core::BaseMsgID;

struct TooFewInputsId : BaseMsgID {
    TooFewInputsId() : BaseMsgID("qualbox:pdisthux", "TooFewInputs") {}
};
struct UnlistedId : BaseMsgID {
    UnlistedId() : BaseMsgID("qualbox:pdisthux", "NoSuchKey") {}
};

using TooFewInputsError = fl::except::Exception<TooFewInputsId, std::exception, void>;
using UnlistedError = fl::except::Exception<UnlistedId, std::exception, void>;

using Note = boost::error_info<struct NoteTag, std::string>;

const char* const kTooFewText =
    "At least two inputs are required: the data matrix and the metric code.";

TEST(MsgId, CopyKeepsEveryArgumentAlternative) {
    const BaseMsgID original("cat:sub", "Key",
                             {BaseMsgID::Argument(-42L), BaseMsgID::Argument(std::string("narrow")),
                              BaseMsgID::Argument(std::u16string(u"wide \u00e9"))});
    BaseMsgID copy(original);
    ASSERT_EQ(copy.arguments().size(), 3u);
    EXPECT_EQ(boost::get<long>(copy.arguments()[0]), -42L);
    EXPECT_EQ(boost::get<std::string>(copy.arguments()[1]), "narrow");
    EXPECT_EQ(boost::get<std::u16string>(copy.arguments()[2]), u"wide \u00e9");
    EXPECT_EQ(copy.catalog(), "cat:sub");
    EXPECT_EQ(copy.key(), "Key");
    EXPECT_TRUE(copy == original);

    BaseMsgID assigned("other", "Other");
    assigned = original;
    EXPECT_TRUE(assigned == original);

    const BaseMsgID differentArg("cat:sub", "Key", {BaseMsgID::Argument(-41L)});
    EXPECT_FALSE(differentArg == original);
    EXPECT_FALSE(BaseMsgID("cat:sub", "Key2") == BaseMsgID("cat:sub", "Key"));
    // Same text, different alternative: not equal.
    EXPECT_FALSE(BaseMsgID("c", "k", {BaseMsgID::Argument(std::string("x"))}) ==
                 BaseMsgID("c", "k", {BaseMsgID::Argument(std::u16string(u"x"))}));
}

TEST(Catalog, KnownKeysHaveTextAndOthersDoNot) {
    for (const char* key :
         {"MixedInputTypes", "TooFewInputs", "TooManyOutputs", "OutputTooLarge", "BadInputType",
          "MissingParameter", "BadParameterSize", "UnknownMetric", "BadExponent"}) {
        const auto text = vornhost::catalogText(std::string("qualbox:pdisthux:") + key);
        ASSERT_TRUE(text.has_value()) << key;
        EXPECT_FALSE(text->empty()) << key;
        EXPECT_EQ(text->back(), '.') << key;
    }
    EXPECT_FALSE(vornhost::catalogText("qualbox:pdisthux:NoSuchKey").has_value());
    EXPECT_FALSE(vornhost::catalogText("TooFewInputs").has_value());
}

TEST(Exception, TextsAndIdentifierComeFromTheHost) {
    const TooFewInputsError e{TooFewInputsId()};
    EXPECT_EQ(e.error_id(), "qualbox:pdisthux:TooFewInputs");
    EXPECT_EQ(e.get_error_id(BaseMsgID("a:b", "C")), "a:b:C");
    EXPECT_STREQ(e.what(), kTooFewText);
    const std::exception& asStd = e;
    const fl::except::IException& asHost = e;
    EXPECT_EQ(asStd.what(), asHost.what());
    EXPECT_STREQ(asStd.what(), kTooFewText);

    std::string narrow = "stale";
    e.convert_str(narrow);
    EXPECT_EQ(narrow, kTooFewText);
    std::u16string wide = u"stale";
    e.convert_str(wide);
    EXPECT_EQ(wide, std::u16string(narrow.begin(), narrow.end()));
    EXPECT_EQ(e.ToUstringImpl(), wide);
    EXPECT_EQ(e.GetUnicodeMessageTxt(), wide);
}

TEST(Exception, UnknownIdentifierGetsAGenericTextNamingIt) {
    const UnlistedError e{UnlistedId()};
    const std::string text = e.what();
    EXPECT_NE(text.find("\"qualbox:pdisthux:NoSuchKey\""), std::string::npos) << text;
    // The text outlives the exception and is the same storage next time.
    const char* first = e.what();
    const char* again = UnlistedError{UnlistedId()}.what();
    EXPECT_EQ(first, again);
}

// A message's arguments fill the detail after its sentence, whichever of the
// three forms they take; one that is missing leaves its placeholder.
TEST(Exception, ArgumentsFillTheDetailAfterTheSentence) {
    struct SizeId : BaseMsgID {
        explicit SizeId(std::vector<Argument> arguments)
            : BaseMsgID("qualbox:pdisthux", "BadParameterSize", std::move(arguments)) {}
    };
    using SizeError = fl::except::Exception<SizeId, std::exception, void>;
    const std::string sentence = *vornhost::catalogText("qualbox:pdisthux:BadParameterSize");
    const SizeError both{
        SizeId({std::string("a vector of 4 weights"), std::u16string(u"\u00e9\U0001F600 \xD800")})};
    EXPECT_EQ(std::string(both.what()),
              sentence + " It must be a vector of 4 weights; it is \u00e9\U0001F600 \uFFFD.");
    const SizeError one{SizeId({BaseMsgID::Argument(7L)})};
    EXPECT_EQ(std::string(one.what()), sentence + " It must be 7; it is {1}.");
    EXPECT_STREQ(SizeError{SizeId({})}.what(), sentence.c_str());
}

TEST(Exception, CloneThenRethrowThrowsTheExactClass) {
    const TooFewInputsError e{TooFewInputsId()};
    std::unique_ptr<const boost::exception_detail::clone_base> clone(e.clone());
    ASSERT_NE(dynamic_cast<const TooFewInputsError*>(clone.get()), nullptr);
    try {
        clone->rethrow();
        FAIL() << "rethrow returned";
    } catch (const TooFewInputsError& thrown) {
        EXPECT_TRUE(thrown.msg_id() == e.msg_id());
        EXPECT_EQ(thrown.error_id(), e.error_id());
        EXPECT_STREQ(thrown.what(), kTooFewText);
    }
}

TEST(Exception, CopiesShareTheDiagnosticContainer) {
    TooFewInputsError original{TooFewInputsId()};
    original << Note("first");
    const TooFewInputsError copy(original);
    ASSERT_NE(boost::get_error_info<Note>(copy), nullptr);
    EXPECT_EQ(*boost::get_error_info<Note>(copy), "first");
    // Information added to the original after the copy shows in the copy too,
    // because both refer to one container.
    using Later = boost::error_info<struct LaterTag, int>;
    original << Later(7);
    ASSERT_NE(boost::get_error_info<Later>(copy), nullptr);
    EXPECT_EQ(*boost::get_error_info<Later>(copy), 7);
}

TEST(LegacyError, RecordsIdentifierAndTextThenReturns) {
    vornhost::takeReportedErrors();  // start from an empty record
    const TooFewInputsError e{TooFewInputsId()};
    matrix::detail::do_legacy_vorn_error(e);
    matrix::detail::do_legacy_vorn_error(UnlistedError{UnlistedId()});

    const auto errors = vornhost::takeReportedErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].identifier, "qualbox:pdisthux:TooFewInputs");
    EXPECT_EQ(errors[0].message, kTooFewText);
    EXPECT_EQ(errors[1].identifier, "qualbox:pdisthux:NoSuchKey");
    EXPECT_NE(errors[1].message.find("NoSuchKey"), std::string::npos);
    EXPECT_TRUE(vornhost::takeReportedErrors().empty());
}

}  // namespace
