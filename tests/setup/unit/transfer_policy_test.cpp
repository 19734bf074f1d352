// The compiled-in transfer limits and protocol rules reach the libcurl
// options they are meant for. Built twice: against the fast test limits and
// against the production limits, each with its own expected values.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "agent_download.hpp"
#include "network_limits.hpp"
#include "test_support.hpp"
#include "transfer_options.hpp"

using setup_test::TempDir;

namespace {

// Every option value the download set, as text, by option.
std::map<CURLoption, std::string> recorded;

CURLcode recordNumber(CURL* handle, CURLoption option, long value) {
    recorded[option] = std::to_string(value);
    return curl_easy_setopt(handle, option, value);
}
CURLcode recordSize(CURL* handle, CURLoption option, curl_off_t value) {
    recorded[option] = std::to_string(value);
    return curl_easy_setopt(handle, option, value);
}
CURLcode recordText(CURL* handle, CURLoption option, const char* value) {
    recorded[option] = value;
    return curl_easy_setopt(handle, option, value);
}
// The recorder as a libcurl that takes the protocol options as names.
constexpr setup::OptionSetter kRecorder{recordNumber, recordSize, recordText,
                                        setup::kProtocolNamesLibcurl};

// A real handle whose options are seen through the recorder; the transfer
// goes to a loopback port where nothing listens, so it ends at once.
CURL* freshHandle() {
    recorded.clear();
    return curl_easy_init();
}

void fetchWithRecorder(const std::string& url, const setup::OptionSetter& recorder = kRecorder) {
    TempDir workspace;
    setup_test::ScopedEnv home("HOME", workspace.path().c_str());
    setup::fetchAgentArchive(url, workspace / "InstallAgent.zip", setup::AgentKey(),
                             setup::CacheUse::consult, setup_test::captureReport, freshHandle,
                             recorder);
}

TEST(TransferPolicy, CompiledLimitsReachTheirOwnOptions) {
    fetchWithRecorder("http://127.0.0.1:1/agent");
    EXPECT_EQ(recorded[CURLOPT_CONNECTTIMEOUT], std::to_string(EXPECTED_CONNECT_TIMEOUT_S));
    EXPECT_EQ(recorded[CURLOPT_LOW_SPEED_LIMIT], "1");
    EXPECT_EQ(recorded[CURLOPT_LOW_SPEED_TIME], std::to_string(EXPECTED_LOW_SPEED_TIME_S));
    EXPECT_EQ(recorded[CURLOPT_MAXREDIRS], std::to_string(EXPECTED_MAX_REDIRECTS));
    EXPECT_EQ(recorded[CURLOPT_MAXFILESIZE_LARGE], std::to_string(EXPECTED_MAX_ARCHIVE_BYTES));
    EXPECT_EQ(recorded[CURLOPT_FOLLOWLOCATION], "1");
    // The limits as the program itself sees them, for the record.
    const setup::NetworkLimits limits = setup::networkLimits();
    EXPECT_EQ(limits.connectTimeoutSeconds, EXPECTED_CONNECT_TIMEOUT_S);
    EXPECT_EQ(limits.maxArchiveBytes, EXPECTED_MAX_ARCHIVE_BYTES);
}

TEST(TransferPolicy, OnlyHttpAndHttpsAndNoStepDownFromHttps) {
    fetchWithRecorder("http://127.0.0.1:1/agent");
    EXPECT_EQ(recorded[CURLOPT_PROTOCOLS_STR], "http,https");
    EXPECT_EQ(recorded[CURLOPT_REDIR_PROTOCOLS_STR], "http,https");
    for (const char* url : {"https://127.0.0.1:1/agent", "HTTPS://127.0.0.1:1/agent",
                            "hTtPs://127.0.0.1:1/a?b=http://x"}) {
        fetchWithRecorder(url);
        EXPECT_EQ(recorded[CURLOPT_PROTOCOLS_STR], "http,https") << url;
        EXPECT_EQ(recorded[CURLOPT_REDIR_PROTOCOLS_STR], "https") << url;
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(TransferPolicy, BeforeLibcurl785TheSameRulesGoAsBits) {
    const setup::OptionSetter libcurl781{recordNumber, recordSize, recordText, 0x075100};
    const std::string web = std::to_string(CURLPROTO_HTTP | CURLPROTO_HTTPS);
    fetchWithRecorder("http://127.0.0.1:1/agent", libcurl781);
    EXPECT_EQ(recorded[CURLOPT_PROTOCOLS], web);
    EXPECT_EQ(recorded[CURLOPT_REDIR_PROTOCOLS], web);
    EXPECT_EQ(recorded.count(CURLOPT_PROTOCOLS_STR) + recorded.count(CURLOPT_REDIR_PROTOCOLS_STR),
              0u);
    fetchWithRecorder("HTTPS://127.0.0.1:1/agent", libcurl781);
    EXPECT_EQ(recorded[CURLOPT_PROTOCOLS], web);
    EXPECT_EQ(recorded[CURLOPT_REDIR_PROTOCOLS], std::to_string(CURLPROTO_HTTPS));
}
#pragma GCC diagnostic pop

TEST(TransferPolicy, TheSignatureHasTheArchivesBoundsButItsOwnSizeAndNoRedirect) {
    for (const char* url : {"http://127.0.0.1:1/agent.sig", "https://127.0.0.1:1/agent.sig"}) {
        std::string signature;
        setup_test::clearReports();
        EXPECT_FALSE(setup::fetchSignature(url, signature, setup_test::captureReport, freshHandle,
                                           kRecorder));
        EXPECT_EQ(recorded[CURLOPT_CONNECTTIMEOUT], std::to_string(EXPECTED_CONNECT_TIMEOUT_S));
        EXPECT_EQ(recorded[CURLOPT_LOW_SPEED_LIMIT], "1");
        EXPECT_EQ(recorded[CURLOPT_LOW_SPEED_TIME], std::to_string(EXPECTED_LOW_SPEED_TIME_S));
        EXPECT_EQ(recorded[CURLOPT_MAXFILESIZE_LARGE], "64");
        EXPECT_EQ(recorded[CURLOPT_FOLLOWLOCATION], "0");
        EXPECT_EQ(recorded[CURLOPT_PROTOCOLS_STR], "http,https");
        EXPECT_EQ(recorded[CURLOPT_REDIR_PROTOCOLS_STR], setup::redirectProtocolsFor(url).names);
        // Nothing listens there: a network failure, reported as one.
        ASSERT_EQ(setup_test::reports.size(), 1u);
        EXPECT_EQ(setup_test::reports[0].rfind("Error: Download process failed - ", 0), 0u)
            << setup_test::reports[0];
        EXPECT_EQ(signature, "");
    }
}

TEST(TransferPolicy, RedirectProtocolsFollowTheScheme) {
    EXPECT_STREQ(setup::redirectProtocolsFor("https://h/x").names, "https");
    EXPECT_STREQ(setup::redirectProtocolsFor("HTTPS:h/x").names, "https");
    EXPECT_STREQ(setup::redirectProtocolsFor("http://h/https://").names, "http,https");
    EXPECT_STREQ(setup::redirectProtocolsFor("ftp://h/x").names, "http,https");
    EXPECT_STREQ(setup::redirectProtocolsFor("").names, "http,https");
}

}  // namespace
