// The shared module as the host loads it: only its two entry points are
// visible, and its exceptions are caught by the host's and standard types.
#include "vornhost/array_factory.hpp"
#include "vornhost/error_log.hpp"
#include "msg_ids.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>

namespace {

using EntryFn = void (*)(int, vornArray**, int, const vornArray**);
using VersionFn = void (*)(std::int32_t*, std::int32_t*);

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(ROWMETRIC_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        entry = reinterpret_cast<EntryFn>(dlsym(handle, "huxFunction"));
        version = reinterpret_cast<VersionFn>(dlsym(handle, "huxfilerequiredapiversion"));
        ASSERT_NE(entry, nullptr);
        ASSERT_NE(version, nullptr);
        vornhost::takeReportedErrors();
    }
    void TearDown() override {
        if (handle != nullptr) dlclose(handle);
    }

    // One input: always TooFewInputs.
    void raiseTooFewInputs() {
        vornArray* outputs[1] = {nullptr};
        const vornArray* inputs[1] = {code.get()};
        entry(1, outputs, 1, inputs);
    }

    void* handle = nullptr;
    EntryFn entry = nullptr;
    VersionFn version = nullptr;
    vornhost::ArrayPtr code = vornhost::makeText("euc");
};

TEST_F(LoadedModule, InternalFunctionsAreNotVisible) {
    EXPECT_EQ(dlsym(handle, "distfun"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN9rowmetric7distfunEiPP12vornArray_tagiPPKS0_"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN9rowmetric11matchMetricERKSt5arrayIcLm4EE"), nullptr);
}

TEST_F(LoadedModule, ReportsItsVersions) {
    std::int32_t release = 0;
    std::int32_t api = 0;
    version(&release, &api);
    EXPECT_EQ(release, 0x4410c);
    EXPECT_EQ(api, 0x07300000);
}

TEST_F(LoadedModule, CaughtAsTheHostsMessageException) {
    try {
        raiseTooFewInputs();
        FAIL() << "no exception";
    } catch (const fl::except::IMsgIDException& e) {
        EXPECT_EQ(e.error_id(), "qualbox:pdisthux:TooFewInputs");
        EXPECT_EQ(e.msg_id().key(), "TooFewInputs");
    }
    const auto reported = vornhost::takeReportedErrors();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].identifier, "qualbox:pdisthux:TooFewInputs");
}

TEST_F(LoadedModule, CaughtAsStandardException) {
    try {
        raiseTooFewInputs();
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        const auto text = vornhost::catalogText("qualbox:pdisthux:TooFewInputs");
        ASSERT_TRUE(text.has_value());
        EXPECT_STREQ(e.what(), text->c_str());
    }
}

TEST_F(LoadedModule, CaughtAsTheExactClass) {
    using Exact = fl::except::Exception<qualbox::pdisthux::TooFewInputs, std::exception, void>;
    EXPECT_THROW(raiseTooFewInputs(), Exact);
}

TEST_F(LoadedModule, ComputesDistances) {
    vornhost::SparseLayout layout{3, 3, {0, 1, 2, 2}, {0, 2}};
    vornhost::ArrayPtr x = vornhost::makeSparseDouble(layout, {3.0, 4.0});
    vornArray* outputs[1] = {nullptr};
    const vornArray* inputs[2] = {x.get(), code.get()};
    entry(1, outputs, 2, inputs);
    ASSERT_NE(outputs[0], nullptr);
    vornhost::ArrayPtr result = vornhost::adopt(outputs[0]);
    ASSERT_EQ(vornhost::elementCount(result.get()), 3u);
    const auto* d = static_cast<const double*>(vornGetRealData(result.get()));
    EXPECT_EQ(d[0], 5.0);  // (0,1): 3 at row 0 vs 4 at row 2
    EXPECT_EQ(d[1], 3.0);  // (0,2): column 2 is empty
    EXPECT_EQ(d[2], 4.0);  // (1,2)
}

}  // namespace
