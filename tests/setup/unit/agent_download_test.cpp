// The agent download against the loopback server: failures are reported,
// never taken for success; stalls, loops and endless bodies end; write errors
// are the cache's; the validator is the final response's; nothing in the
// cache is changed by the download itself; progress shows on a terminal only.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <tuple>

#include "agent_download.hpp"
#include "agent_signature.hpp"
#include "constants.hpp"
#include "download_progress.hpp"
#include "file_utils.hpp"
#include "network_limits.hpp"
#include "messages.hpp"
#include "scripted_server.hpp"
#include "test_keys.hpp"
#include "test_support.hpp"

using setup::FetchResult;
using setup::FetchStatus;
using setup_test::readFile;
using setup_test::reports;
using setup_test::Rule;
using setup_test::ScopedEnv;
using setup_test::ScriptedServer;
using setup_test::TempDir;

namespace {

const std::string kCheck =
    ". Check your internet connectivity, proxy server, firewall, and virus scanner settings and "
    "rerun the installer.";

std::string m4(const std::string& libraryText) {
    return "Error: Download process failed - " + libraryText + "\n\n" + kCheck;
}

Rule agentRule(const std::string& body, const std::string& etag = "") {
    Rule rule;
    rule.body = body;
    if (!etag.empty()) rule.headers.push_back({"ETag", etag});
    return rule;
}

Rule methodRule(const std::string& method, int status, const std::string& etag = "") {
    Rule rule;
    rule.method = method;
    rule.status = status;
    rule.body = "page for " + std::to_string(status);
    if (!etag.empty()) rule.headers.push_back({"ETag", etag});
    return rule;
}

class FetchAgentArchive : public ::testing::Test {
protected:
    void SetUp() override {
        setup_test::clearReports();
        ASSERT_EQ(setup::makeDirectories(base() + setup::kAgentDirName, 0700), 0);
    }
    std::string base() const { return home_.path() + "/" + setup::kUserAgentSubpath; }
    std::string destination() const { return workspace_ / "InstallAgent.zip"; }
    FetchResult fetch(const std::string& url) {
        return setup::fetchAgentArchive(url, destination(), key_, setup::CacheUse::consult,
                                        setup_test::captureReport);
    }
    void cacheAgent(const std::string& validator) {
        setup_test::writeFile(base() + "installagent/install", "cached");
        setup_test::writeFile(base() + ".validatestring", validator);
    }
    void expectCacheUntouched(const std::string& validator) {
        EXPECT_EQ(readFile(base() + "installagent/install"), "cached");
        EXPECT_EQ(readFile(base() + ".validatestring"), validator);
    }

    TempDir home_, workspace_;
    ScopedEnv homeEnv_{"HOME", home_.path().c_str()};
    setup::AgentKey key_;  // none pinned unless a test pins one
};

TEST_F(FetchAgentArchive, MissingDownloadHandleIsAFailure) {
    auto noHandle = []() -> CURL* { return nullptr; };
    EXPECT_EQ(
        setup::fetchAgentArchive("http://127.0.0.1:9/agent", destination(), key_,
                                 setup::CacheUse::consult, setup_test::captureReport, noHandle)
            .status,
        FetchStatus::Failed);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "Internal Error: Failed to initialize the download process - could not create a "
              "download handle");
}

TEST_F(FetchAgentArchive, UnwritableDestinationIsReported) {
    EXPECT_EQ(setup::fetchAgentArchive("http://127.0.0.1:9/agent", workspace_ / "no/such/file",
                                       key_, setup::CacheUse::consult, setup_test::captureReport)
                  .status,
              FetchStatus::Failed);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "Internal Error: Failed to create local download cache - No such file "
              "or directory.\n\nPlease rerun the installer.");
}

TEST_F(FetchAgentArchive, SilentServerIsAbandoned) {
    Rule silent;
    silent.stall = "before-headers";
    ScriptedServer server({silent});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], m4("Timeout was reached"));
}

TEST_F(FetchAgentArchive, RedirectLoopEndsAtTheLimit) {
    // Give up looping after 40 hops so a missing limit fails, not hangs.
    Rule loop;
    loop.status = 302;
    loop.headers = {{"Location", "/loop"}};
    loop.times = 40;
    ScriptedServer server({loop, agentRule("end")});
    EXPECT_EQ(fetch(server.url("/loop")).status, FetchStatus::Failed);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], m4("Number of redirects hit maximum amount"));
    EXPECT_EQ(server.requestCount(), setup::networkLimits().maxRedirects + 1);
}

TEST_F(FetchAgentArchive, RedirectToAnotherProtocolIsRefused) {
    // Without the protocol rules libcurl would try the ftp server (and
    // report that it cannot connect).
    Rule toFtp;
    toFtp.status = 302;
    toFtp.headers = {{"Location", "ftp://127.0.0.1:1/agent"}};
    for (const char* method : {"HEAD", "GET"}) {
        toFtp.method = method;
        ScriptedServer server({toFtp, agentRule("archive", "\"1\"")});
        setup_test::clearReports();
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed) << method;
        ASSERT_EQ(reports.size(), 1u) << method;
        EXPECT_EQ(reports[0], m4("Unsupported protocol")) << method;
    }
}

TEST_F(FetchAgentArchive, HttpErrorsOfTheHeaderRequest) {
    cacheAgent("ETag: \"1\"\r");
    Rule missing = methodRule("*", 404);
    missing.path = "/missing";
    ScriptedServer server({missing, methodRule("*", 503, "\"1\"")});
    EXPECT_EQ(fetch(server.url("/missing")).status, FetchStatus::Failed);
    EXPECT_EQ(fetch(server.url("/busy")).status, FetchStatus::Failed);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Could not reach the download server" + kCheck);
    EXPECT_EQ(reports[1], "Error: Download process failed. Received an HTTP code: 503" + kCheck);
    expectCacheUntouched("ETag: \"1\"\r");
}

TEST_F(FetchAgentArchive, HttpErrorsOfTheFullRequestAreNotAnArchive) {
    cacheAgent("ETag: \"old\"\r");
    for (const int code : {404, 500, 403}) {
        ScriptedServer server({methodRule("HEAD", 200, "\"new\""), methodRule("GET", code)});
        setup_test::clearReports();
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed) << code;
        ASSERT_EQ(reports.size(), 1u) << code;
        if (code == 404) {
            EXPECT_EQ(reports[0], "Could not reach the download server" + kCheck);
        } else {
            EXPECT_EQ(reports[0], "Error: Download process failed. Received an HTTP code: " +
                                      std::to_string(code) + kCheck);
        }
        EXPECT_EQ(server.requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent"}));
        expectCacheUntouched("ETag: \"old\"\r");
    }
}

TEST_F(FetchAgentArchive, CurrentCacheCostsOneHeaderRequest) {
    cacheAgent("ETag: \"v1\"\r");
    ScriptedServer server({agentRule("zip", "\"v1\"")});
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::CacheCurrent);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(readFile(destination()), "");
}

TEST_F(FetchAgentArchive, DownloadLeavesTheCacheAsItIs) {
    cacheAgent("ETag: \"v1\"\r");
    ScriptedServer server({agentRule("new archive", "\"v2\"")});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.validator, "ETag: \"v2\"\r");
    EXPECT_EQ(readFile(destination()), "new archive");
    expectCacheUntouched("ETag: \"v1\"\r");
}

TEST_F(FetchAgentArchive, ValidatorOfTheFullResponseDescribesTheArchive) {
    // The server changed between the two requests: the bytes are the second
    // response's, and so must be the validator.
    ScriptedServer server({methodRule("HEAD", 200, "\"before\""), agentRule("body", "\"after\"")});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.validator, "ETag: \"after\"\r");
}

TEST_F(FetchAgentArchive, ValidatorOfARedirectHopIsNotTheAgents) {
    // The cache recorded the validator that only the redirect sends; the
    // final response has none, so the agent must be fetched again.
    cacheAgent("ETag: \"hop\"\r");
    Rule hop;
    hop.path = "/start";
    hop.status = 302;
    hop.headers = {{"ETag", "\"hop\""}, {"Location", "/final"}};
    ScriptedServer server({hop, agentRule("agent archive")});
    const FetchResult result = fetch(server.url("/start"));
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.validator, "");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(destination()), "agent archive");
}

TEST_F(FetchAgentArchive, DownloadReturnsTheFullLongValidator) {
    const std::string tag = "ETag: \"" + std::string(150, 'v') + "\"";
    cacheAgent(tag.substr(0, 63));
    ScriptedServer server({agentRule("archive", tag.substr(6))});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(readFile(destination()), "archive");
    EXPECT_EQ(result.validator, tag + "\r");
}

TEST_F(FetchAgentArchive, ArchiveLargerThanTheCapIsRefused) {
    const long long cap = setup::networkLimits().maxArchiveBytes;
    Rule endless;
    endless.method = "GET";
    endless.endless = true;
    Rule announced;
    announced.method = "GET";
    announced.bodyBytes = cap + 1;
    for (const Rule& big : {endless, announced}) {
        ScriptedServer server({methodRule("HEAD", 200, "\"big\""), big});
        setup_test::clearReports();
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0], m4("Maximum file size exceeded"));
        EXPECT_LE(static_cast<long long>(readFile(destination()).size()), cap);
    }
    // Exactly at the cap is still an archive.
    Rule atCap;
    atCap.bodyBytes = cap;
    ScriptedServer server({atCap});
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Downloaded);
    EXPECT_EQ(static_cast<long long>(readFile(destination()).size()), cap);
}

// Runs fetch in a child whose files may grow to limitBytes at most; returns
// what the child reported through its exit status and the pipe: the message
// text, "SIGNAL <n>" when a signal ended it, or "" for a success.
std::string fetchUnderFileSizeLimit(const std::string& url, const std::string& destination,
                                    rlim_t limitBytes) {
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        const rlimit limit{limitBytes, limitBytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        setup_test::clearReports();
        const FetchResult result =
            setup::fetchAgentArchive(url, destination, setup::AgentKey(), setup::CacheUse::consult,
                                     setup_test::captureReport);
        struct sigaction after {};
        sigaction(SIGXFSZ, nullptr, &after);
        std::string text = reports.empty() ? "" : reports[0];
        if (after.sa_handler != SIG_DFL) text = "SIGXFSZ left ignored";
        if (write(out[1], text.data(), text.size()) < 0) _exit(4);
        _exit(result.status == FetchStatus::Downloaded ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return "SIGNAL " + std::to_string(WTERMSIG(status));
    return text;
}

TEST_F(FetchAgentArchive, FileSizeLimitIsACacheWriteErrorNotAKill) {
    const std::string tooBig =
        "Internal Error: Failed to create local download cache - File too large.\n\n"
        "Please rerun the installer.";
    // A large body fails in the write callback, a small one only when the
    // buffered bytes are flushed at the end.
    for (const long bytes : {1000000L, 100L}) {
        Rule body;
        body.bodyBytes = bytes;
        ScriptedServer server({body});
        EXPECT_EQ(fetchUnderFileSizeLimit(server.url("/agent"), destination(), 50), tooBig)
            << bytes << " bytes";
    }
    Rule small;
    small.bodyBytes = 40;
    ScriptedServer server({small});
    EXPECT_EQ(fetchUnderFileSizeLimit(server.url("/agent"), destination(), 50), "");
}

// Runs fn with standard error sent to fd; returns what fn returned.
template <typename Fn>
bool withStandardError(int fd, Fn fn) {
    const int saved = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    const bool result = fn();
    dup2(saved, STDERR_FILENO);
    close(saved);
    return result;
}

TEST_F(FetchAgentArchive, ProgressLineOnATerminalIsErasedAtTheEnd) {
    setup_test::PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    Rule body;
    body.bodyBytes = 200000;
    body.bodyByte = 'z';
    ScriptedServer server({body});

    EXPECT_TRUE(withStandardError(pty.terminal, [&] {
        return fetch(server.url("/agent")).status == FetchStatus::Downloaded;
    }));

    pty.closeTerminal();
    const std::string shown = pty.shown();
    EXPECT_EQ(shown.rfind("\r", 0), 0u) << shown;
    EXPECT_NE(shown.find("Downloading the install agent: 100% (200000 of 200000 bytes)"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K");
}

TEST_F(FetchAgentArchive, NothingIsWrittenWhenStandardErrorIsNoTerminal) {
    const std::string log = workspace_ / "stderr.log";
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    Rule body;
    body.bodyBytes = 50000;
    body.bodyByte = 'z';
    ScriptedServer server({body});
    EXPECT_TRUE(withStandardError(
        file, [&] { return fetch(server.url("/agent")).status == FetchStatus::Downloaded; }));
    close(file);
    EXPECT_EQ(readFile(log), "");
    EXPECT_EQ(readFile(destination()).size(), 50000u);
}

// A release that pins a key: the signature comes first, the archive counts
// only when that signature by the pinned key covers it, and a cache counts as
// current only when it was verified against the same key.
class SignedFetch : public FetchAgentArchive {
protected:
    void SetUp() override {
        FetchAgentArchive::SetUp();
        key_ = setup_test::pinnedKey(signer_.get(), keys_.path());
    }
    Rule signatureRule(const std::string& body, int status = 200) {
        Rule rule;
        rule.path = "/agent.sig";
        rule.status = status;
        rule.body = body;
        return rule;
    }
    std::string signature(const std::string& data) {
        return setup_test::signBytes(signer_.get(), data);
    }
    std::string record(const std::string& validator, const std::string& fingerprint) {
        return validator + "\n" + fingerprint;
    }

    setup::PkeyPtr signer_ = setup_test::generateKey("ED25519");
    TempDir keys_;
};

TEST_F(SignedFetch, TheSignatureIsFetchedFirstAndCoversTheArchive) {
    cacheAgent("ETag: \"old\"\r");
    ScriptedServer server(
        {signatureRule(signature("agent archive")), agentRule("agent archive", "\"new\"")});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.validator, "ETag: \"new\"\r");
    EXPECT_EQ(result.keyFingerprint, key_.fingerprint);
    EXPECT_EQ(readFile(destination()), "agent archive");
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"HEAD /agent", "GET /agent.sig", "GET /agent"}));
    expectCacheUntouched("ETag: \"old\"\r");
}

TEST_F(SignedFetch, AnArchiveTheSignatureDoesNotCoverIsRefused) {
    cacheAgent("ETag: \"old\"\r");
    const setup::PkeyPtr stranger = setup_test::generateKey("ED25519");
    const std::string signatures[] = {
        signature("another archive"),                            // tampered archive
        setup_test::signBytes(stranger.get(), "agent archive"),  // another key
        std::string(setup::kSignatureBytes, '\0'),
    };
    for (const std::string& sent : signatures) {
        ScriptedServer server({signatureRule(sent), agentRule("agent archive", "\"new\"")});
        setup_test::clearReports();
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed);
        EXPECT_EQ(reports, std::vector<std::string>{
                               setup::signatureMismatchMessage(server.url("/agent.sig"))});
        EXPECT_EQ(server.requests(),
                  (std::vector<std::string>{"HEAD /agent", "GET /agent.sig", "GET /agent"}));
        expectCacheUntouched("ETag: \"old\"\r");
    }
}

TEST_F(SignedFetch, AnArchiveReplacedAfterTheSignatureWasFetchedIsCheckedAgain) {
    // The server switched to a new archive and its signature between this
    // run's signature and archive requests; its validator tells.
    Rule oldSignature = signatureRule(signature("old archive"));
    oldSignature.times = 1;
    Rule head = methodRule("HEAD", 200, "\"old\"");
    ScriptedServer server({oldSignature, signatureRule(signature("new archive")), head,
                           agentRule("new archive", "\"new\"")});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.validator, "ETag: \"new\"\r");
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent.sig",
                                                           "GET /agent", "GET /agent.sig"}));
}

TEST_F(SignedFetch, AnswersThatAreNoSignatureAreRefusedBeforeTheArchive) {
    cacheAgent("ETag: \"old\"\r");
    const std::string good = signature("agent archive");
    // The sentence names the cause: a status that is no success, or else the size.
    std::vector<std::tuple<std::string, Rule, std::string>> cases = {
        {"truncated", signatureRule(good.substr(0, 63)), "holds 63 bytes"},
        {"one byte long", signatureRule(good + "x"), "holds more than 64 bytes"},
        {"empty", signatureRule(""), "holds 0 bytes"},
        {"much too long", signatureRule(std::string(100000, 's')), "holds more than 64 bytes"},
        {"not found", signatureRule("not found", 404), "(HTTP code 404)"},
        {"not found, long page", signatureRule(std::string(5000, 'p'), 404), "(HTTP code 404)"},
        {"server error, good bytes", signatureRule(good, 500), "(HTTP code 500)"},
        {"no content", signatureRule("", 204), "holds 0 bytes"},
    };
    Rule moved = signatureRule("moved", 302);
    moved.headers = {{"Location", "/elsewhere.sig"}};
    cases.push_back({"redirected", moved, "(HTTP code 302)"});
    Rule endless = signatureRule("");
    endless.endless = true;
    cases.push_back({"endless", endless, "holds more than 64 bytes"});
    Rule elsewhere = signatureRule(good);
    elsewhere.path = "/elsewhere.sig";
    for (const auto& [name, rule, cause] : cases) {
        ScriptedServer server({rule, elsewhere, agentRule("agent archive", "\"new\"")});
        setup_test::clearReports();
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed) << name;
        ASSERT_EQ(reports.size(), 1u) << name;
        EXPECT_EQ(reports[0].rfind("The downloaded install agent is not signed: ", 0), 0u) << name;
        EXPECT_NE(reports[0].find(server.url("/agent.sig") + " " + cause), std::string::npos)
            << reports[0];
        // Neither the archive nor a redirect's target is asked for.
        EXPECT_EQ(server.requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent.sig"}))
            << name;
        expectCacheUntouched("ETag: \"old\"\r");
    }
}

TEST_F(SignedFetch, ASignatureTransferThatFailsIsAFailedDownload) {
    Rule cut = signatureRule(signature("agent archive"));
    cut.cutAt = 10;
    ScriptedServer server({cut, agentRule("agent archive", "\"new\"")});
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Failed);
    EXPECT_EQ(reports, std::vector<std::string>{m4("Transferred a partial file")});
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent.sig"}));
}

TEST_F(SignedFetch, ACacheIsCurrentOnlyWhenVerifiedAgainstTheSameKey) {
    const std::string validator = "ETag: \"v1\"\r";
    ScriptedServer server(
        {signatureRule(signature("agent archive")), agentRule("agent archive", "\"v1\"")});
    const std::vector<std::string> download = {"HEAD /agent", "GET /agent.sig", "GET /agent"};
    const std::string otherFingerprint = std::string(64, 'a');
    std::vector<std::string> expected;
    // Recorded by a release without a key, with nothing after the line feed,
    // with another key, with this key and more: all stale.
    for (const std::string& recorded :
         {validator, validator + "\n", record(validator, otherFingerprint),
          record(validator, key_.fingerprint + "0"), record(validator, key_.fingerprint + "\n")}) {
        cacheAgent(recorded);
        EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::Downloaded);
        expected.insert(expected.end(), download.begin(), download.end());
        EXPECT_EQ(server.requests(), expected);
    }
    cacheAgent(record(validator, key_.fingerprint));
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::CacheCurrent);
    // A release without a key reads the validator line only.
    key_ = setup::AgentKey();
    cacheAgent(record(validator, otherFingerprint));
    EXPECT_EQ(fetch(server.url("/agent")).status, FetchStatus::CacheCurrent);
    expected.insert(expected.end(), {"HEAD /agent", "HEAD /agent"});
    EXPECT_EQ(server.requests(), expected);
    EXPECT_TRUE(reports.empty());
}

TEST_F(SignedFetch, AReleaseWithoutAKeyAsksForNoSignature) {
    key_ = setup::AgentKey();
    ScriptedServer server({signatureRule("", 500), agentRule("agent archive", "\"v1\"")});
    const FetchResult result = fetch(server.url("/agent"));
    EXPECT_EQ(result.status, FetchStatus::Downloaded);
    EXPECT_EQ(result.keyFingerprint, "");
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent"}));
}

TEST(DownloadProgressText, ShowsPercentWhenTheSizeIsKnown) {
    char line[128];
    std::size_t n = setup::formatProgressLine(line, sizeof line, 512, 2048);
    EXPECT_EQ(std::string(line, n), "Downloading the install agent:  25% (512 of 2048 bytes)");
    n = setup::formatProgressLine(line, sizeof line, 4096, 0);
    EXPECT_EQ(std::string(line, n), "Downloading the install agent: 4096 bytes");
    n = setup::formatProgressLine(line, 10, 4096, 0);
    EXPECT_EQ(n, 9u);
}

}  // namespace
