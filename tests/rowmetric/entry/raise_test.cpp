// The ten error keys: identifiers, the exception classes and the raise
// procedure's hand-over to the host before it throws.
#include "vornhost/error_log.hpp"
#include "identifiers.hpp"
#include "errors.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <typeindex>

namespace {

namespace pd = qualbox::pdisthux;

template <class K>
class RaiseTest : public ::testing::Test {};

using Keys =
    ::testing::Types<pd::MixedInputTypes, pd::TooFewInputs, pd::TooManyOutputs, pd::OutputTooLarge,
                     pd::BadInputType, pd::MissingParameter, pd::BadParameterSize,
                     pd::UnknownMetric, pd::BadExponent, pd::BadRowRange>;

class KeyNames {
public:
    template <class K>
    static std::string GetName(int) {
        return K{}.key();
    }
};

TYPED_TEST_SUITE(RaiseTest, Keys, KeyNames);

std::string identifierOf(const resource_core::BaseMsgID& id) {
    return id.catalog() + ":" + id.key();
}

// Raises K and returns the exact-class exception that came out.
template <class K>
pd::ErrorOf<K> raiseAndCatch() {
    try {
        pd::raise(K{});
    } catch (const pd::ErrorOf<K>& e) {
        return e;
    }
    throw std::logic_error("raise returned");
}

TYPED_TEST(RaiseTest, MessageIdentifierNamesCatalogAndKeyWithoutArguments) {
    const TypeParam id;
    EXPECT_EQ(id.catalog(), "qualbox:pdisthux");
    EXPECT_TRUE(id.arguments().empty());
    static_assert(sizeof(TypeParam) == sizeof(resource_core::BaseMsgID));
    static_assert(!std::is_polymorphic_v<TypeParam>);
}

TYPED_TEST(RaiseTest, HostSeesTheErrorThenTheExactClassIsThrown) {
    vornhost::takeReportedErrors();
    const std::string expectedId = entrytest::pinnedIdentifier<TypeParam>();

    const pd::ErrorOf<TypeParam> e = raiseAndCatch<TypeParam>();

    const auto reported = vornhost::takeReportedErrors();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].identifier, expectedId);
    EXPECT_EQ(e.error_id(), expectedId);
    EXPECT_TRUE(e.msg_id() == TypeParam{});
    EXPECT_TRUE(e.msg_id().arguments().empty());

    // The host's catalog text, the same through both bases.
    const auto text = vornhost::catalogText(expectedId);
    ASSERT_TRUE(text.has_value()) << "the host has no text for " << expectedId;
    EXPECT_EQ(reported[0].message, *text);
    const std::exception& asStd = e;
    const fl::except::IException& asHost = e;
    EXPECT_STREQ(asStd.what(), text->c_str());
    EXPECT_STREQ(asHost.what(), text->c_str());
}

TYPED_TEST(RaiseTest, CatchableThroughHostAndStandardBases) {
    EXPECT_THROW(pd::raise(TypeParam{}), fl::except::IMsgIDException);
    EXPECT_THROW(pd::raise(TypeParam{}), fl::except::IUserException);
    EXPECT_THROW(pd::raise(TypeParam{}), std::exception);
    EXPECT_THROW(pd::raise(TypeParam{}), boost::exception);
    vornhost::takeReportedErrors();
}

TYPED_TEST(RaiseTest, CloneThenRethrowKeepsClassAndIdentifiers) {
    const pd::ErrorOf<TypeParam> original = raiseAndCatch<TypeParam>();
    vornhost::takeReportedErrors();

    std::unique_ptr<const boost::exception_detail::clone_base> copy(original.clone());
    ASSERT_TRUE(dynamic_cast<const pd::ErrorOf<TypeParam>*>(copy.get()) != nullptr);
    try {
        copy->rethrow();
        FAIL() << "rethrow returned";
    } catch (const pd::ErrorOf<TypeParam>& again) {
        EXPECT_TRUE(typeid(again) == typeid(pd::ErrorOf<TypeParam>));
        EXPECT_TRUE(again.msg_id() == original.msg_id());
        EXPECT_EQ(again.error_id(), original.error_id());
        EXPECT_STREQ(again.what(), original.what());
    }
    EXPECT_TRUE(vornhost::takeReportedErrors().empty()) << "rethrow must not report again";
}

// The key type's catalog and key, joined, are its pinned identifier byte for
// byte: a misspelt key cannot pass.
TYPED_TEST(RaiseTest, CatalogAndKeyGiveThePinnedIdentifier) {
    EXPECT_EQ(identifierOf(TypeParam{}), entrytest::pinnedIdentifier<TypeParam>());
}

TEST(RaiseKeys, EveryKeyHasItsOwnPinnedIdentifier) {
    std::set<std::type_index> keys;
    std::set<std::string> identifiers;
    for (const entrytest::PinnedIdentifier& row : entrytest::kPinnedIdentifiers) {
        keys.insert(row.key);
        identifiers.insert(row.identifier);
    }
    EXPECT_EQ(keys.size(), entrytest::kPinnedIdentifiers.size());
    EXPECT_EQ(identifiers.size(), entrytest::kPinnedIdentifiers.size());
}

}  // namespace
