// The agent download against a loopback server: failures are reported, never
// taken for success; stalls and loops end; the validator is the final
// response's; progress shows on a terminal only.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "agent_download.hpp"
#include "constants.hpp"
#include "download_progress.hpp"
#include "file_utils.hpp"
#include "loopback_server.hpp"
#include "network_limits.hpp"
#include "test_support.hpp"

using setup::fetchAgentArchive;
using setup_test::CannedResponse;
using setup_test::httpResponse;
using setup_test::LoopbackServer;
using setup_test::readFile;
using setup_test::reports;
using setup_test::ScopedEnv;
using setup_test::TempDir;

namespace {

const std::string kCheck =
    ". Check your internet connectivity, proxy server, firewall, and virus scanner settings and "
    "rerun the installer.";

bool isHead(const std::string& requestLine) { return requestLine.rfind("HEAD ", 0) == 0; }

class FetchAgentArchive : public ::testing::Test {
protected:
    void SetUp() override {
        setup_test::clearReports();
        ASSERT_EQ(setup::makeDirectories(base() + setup::kAgentDirName, 0700), 0);
    }
    std::string base() const { return home_.path() + "/" + setup::kUserAgentSubpath; }
    std::string destination() const { return workspace_ / "InstallAgent.zip"; }
    bool fetch(const std::string& url) {
        return fetchAgentArchive(url, destination(), setup_test::captureReport);
    }
    void cacheAgent(const std::string& validator) {
        setup_test::writeFile(base() + "installagent/install", "cached");
        setup_test::writeFile(base() + ".validatestring", validator);
    }

    TempDir home_, workspace_;
    ScopedEnv homeEnv_{"HOME", home_.path().c_str()};
};

// Serves an archive body for GET and its headers for HEAD at every path.
CannedResponse agentResponse(const std::string& requestLine, const std::string& headers,
                             const std::string& body) {
    return {httpResponse("200 OK", headers, body, isHead(requestLine))};
}

TEST(NetworkLimits, FastTestBuildLimits) {
    const setup::NetworkLimits limits = setup::networkLimits();
    EXPECT_EQ(limits.connectTimeoutSeconds, 3);
    EXPECT_EQ(limits.lowSpeedTimeSeconds, 3);
    EXPECT_EQ(limits.maxRedirects, 20);
}

TEST_F(FetchAgentArchive, MissingDownloadHandleIsAFailure) {
    auto noHandle = []() -> CURL* { return nullptr; };
    EXPECT_FALSE(fetchAgentArchive("http://127.0.0.1:9/agent", destination(),
                                   setup_test::captureReport, noHandle));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "Internal Error: Failed to initialize the download process - could not create a "
              "download handle");
}

TEST_F(FetchAgentArchive, UnwritableDestinationIsReported) {
    EXPECT_FALSE(fetchAgentArchive("http://127.0.0.1:9/agent", workspace_ / "no/such/file",
                                   setup_test::captureReport));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "Internal Error: Failed to create local download cache - No such file "
              "or directory.\n\nPlease rerun the installer.");
}

TEST_F(FetchAgentArchive, SilentServerIsAbandoned) {
    LoopbackServer server([](const std::string&) { return CannedResponse{"", true}; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fetch(server.url("/agent")));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Error: Download process failed - Timeout was reached\n\n" + kCheck);
}

TEST_F(FetchAgentArchive, RedirectLoopEndsAtTheLimit) {
    int hops = 0;
    LoopbackServer server([&hops](const std::string& line) {
        // Give up looping after 40 hops so a missing limit fails, not hangs.
        if (++hops > 40) return agentResponse(line, "", "end");
        return CannedResponse{httpResponse("302 Found", "Location: /loop\r\n", "", isHead(line))};
    });
    EXPECT_FALSE(fetch(server.url("/loop")));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(
        reports[0],
        "Error: Download process failed - Number of redirects hit maximum amount\n\n" + kCheck);
    EXPECT_EQ(server.requestCount(), 21);
}

TEST_F(FetchAgentArchive, HttpErrorsOfTheHeaderRequest) {
    cacheAgent("ETag: \"1\"\r");
    LoopbackServer server([](const std::string& line) {
        if (line.find("/missing") != std::string::npos) {
            return CannedResponse{httpResponse("404 Not Found", "", "", isHead(line))};
        }
        return CannedResponse{httpResponse("503 Busy", "ETag: \"1\"\r\n", "", isHead(line))};
    });
    EXPECT_FALSE(fetch(server.url("/missing")));
    EXPECT_FALSE(fetch(server.url("/busy")));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Could not reach the download server" + kCheck);
    EXPECT_EQ(reports[1], "Error: Download process failed. Received an HTTP code: 503" + kCheck);
    EXPECT_TRUE(setup_test::exists(base() + "installagent/install"));
}

TEST_F(FetchAgentArchive, CurrentCacheCostsOneHeaderRequest) {
    cacheAgent("ETag: \"v1\"\r");
    LoopbackServer server(
        [](const std::string& line) { return agentResponse(line, "ETag: \"v1\"\r\n", "zip"); });
    EXPECT_TRUE(fetch(server.url("/agent")));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(readFile(destination()), "");
}

// A stale agent whose launcher cannot be removed (the user made its directory
// read-only) must not survive as the "fresh" agent: the download stops with a
// sentence naming the directory, before any GET. Needs root to act as another
// user, since root itself can remove anything.
TEST_F(FetchAgentArchive, StaleAgentThatCannotBeRemovedStopsTheDownload) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the download as another user";
    const uid_t user = 65534;
    cacheAgent("ETag: \"old\"\r");
    const std::string agentDirectory = base() + setup::kAgentDirName;
    const std::string chown = "chown -R 65534:65534 " + home_.path() + " " + workspace_.path();
    ASSERT_EQ(std::system(chown.c_str()), 0);
    ASSERT_EQ(chmod(agentDirectory.c_str(), 0500), 0);
    LoopbackServer server(
        [](const std::string& line) { return agentResponse(line, "ETag: \"new\"\r\n", "zip"); });

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(user) != 0 || setuid(user) != 0) _exit(10);
        const bool fetched = fetch(server.url("/agent"));
        const std::string expected = "The outdated install agent in " + agentDirectory +
                                     " could not be removed; remove it and rerun the installer.";
        if (fetched) _exit(11);
        if (reports.size() != 1 || reports[0] != expected) _exit(12);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(agentDirectory.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not change user, 11: reported success, "
                                         "12: wrong or missing message";
    EXPECT_EQ(server.requestCount(), 1) << "no GET after the stale agent survived";
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"old\"\r");
}

TEST_F(FetchAgentArchive, ValidatorOfARedirectHopIsNotTheAgents) {
    // The cache recorded the validator that only the redirect sends; the
    // final response has none, so the agent must be fetched again.
    cacheAgent("ETag: \"hop\"\r");
    LoopbackServer server([](const std::string& line) {
        if (line.find("/start") != std::string::npos) {
            return CannedResponse{httpResponse("302 Found", "ETag: \"hop\"\r\nLocation: /final\r\n",
                                               "", isHead(line))};
        }
        return agentResponse(line, "", "agent archive");
    });
    EXPECT_TRUE(fetch(server.url("/start")));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(destination()), "agent archive");
    EXPECT_FALSE(setup_test::exists(base() + "installagent"));
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"hop\"\r");  // not replaced
}

TEST_F(FetchAgentArchive, DownloadRecordsTheFullLongValidator) {
    const std::string tag = "ETag: \"" + std::string(150, 'v') + "\"";
    cacheAgent(tag.substr(0, 63));
    LoopbackServer server(
        [tag](const std::string& line) { return agentResponse(line, tag + "\r\n", "archive"); });
    EXPECT_TRUE(fetch(server.url("/agent")));
    EXPECT_EQ(readFile(destination()), "archive");
    EXPECT_EQ(readFile(base() + ".validatestring"), tag + "\r");
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
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    const std::string body(200000, 'z');
    LoopbackServer server(
        [&body](const std::string& line) { return agentResponse(line, "", body); });

    EXPECT_TRUE(withStandardError(terminal, [&] { return fetch(server.url("/agent")); }));

    close(terminal);
    std::string shown;
    char buffer[4096];
    ssize_t n = 0;
    fcntl(master, F_SETFL, O_NONBLOCK);
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        shown.append(buffer, static_cast<size_t>(n));
    close(master);
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
    LoopbackServer server(
        [](const std::string& line) { return agentResponse(line, "", std::string(50000, 'z')); });
    EXPECT_TRUE(withStandardError(file, [&] { return fetch(server.url("/agent")); }));
    close(file);
    EXPECT_EQ(readFile(log), "");
    EXPECT_EQ(readFile(destination()).size(), 50000u);
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
