// Obtaining the agent: from the payload, from the cache, or by download
// (here from file:// URLs, so no server is needed).
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "agent_acquire.hpp"
#include "agent_cache.hpp"
#include "constants.hpp"
#include "file_utils.hpp"
#include "test_support.hpp"

using setup::acquireAgent;
using setup_test::exists;
using setup_test::readFile;
using setup_test::reports;
using setup_test::ScopedEnv;
using setup_test::TempDir;

namespace {

class AcquireAgent : public ::testing::Test {
protected:
    void SetUp() override { setup_test::clearReports(); }

    std::string base() const { return home_.path() + "/" + setup::kUserAgentSubpath; }
    std::string acquire() { return acquireAgent(workspace_.path(), setup_test::captureReport); }
    void serveFile(const std::string& path) {
        url_ = "file://" + path;
        setenv("ZQ_INTERNAL_INSTALL_AGENT_URL", url_.c_str(), 1);
    }

    TempDir home_, workspace_, server_;
    ScopedEnv homeEnv_{"HOME", home_.path().c_str()};
    // Nothing listens on port 9 of the loopback: a request fails at once.
    ScopedEnv urlEnv_{"ZQ_INTERNAL_INSTALL_AGENT_URL", "http://127.0.0.1:9/agent"};
    std::string url_;
};

TEST(AgentLauncherPath, JoinsWithExactlyOneSeparator) {
    EXPECT_EQ(setup::agentLauncherPath("/a"), "/a/install");
    EXPECT_EQ(setup::agentLauncherPath("/a/"), "/a/install");
    EXPECT_EQ(setup::agentLauncherPath(""), "install");
}

TEST_F(AcquireAgent, CachedAgentDirectoryNeedsItsLauncher) {
    EXPECT_EQ(setup::cachedAgentDirectory(), "");
    ASSERT_EQ(setup::makeDirectories(base() + "installagent", 0700), 0);
    EXPECT_EQ(setup::cachedAgentDirectory(), "");
    setup_test::writeFile(base() + "installagent/install", "");
    EXPECT_EQ(setup::cachedAgentDirectory(), base() + "installagent/");
}

TEST_F(AcquireAgent, PayloadArchiveIsUnpackedIntoTheWorkspace) {
    ASSERT_TRUE(setup_test::makeZip(workspace_ / "InstallAgent.zip", {{"install", "main"}}));
    ASSERT_TRUE(setup_test::makeZip(workspace_ / "InstallAgent_2.zip", {{"install", "versioned"}}));
    EXPECT_EQ(acquire(), workspace_ / "install");
    EXPECT_EQ(readFile(workspace_ / "install"), "main");
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(exists(home_ / ".velmar"));  // the cache is not touched
}

TEST_F(AcquireAgent, VersionedPayloadArchiveIsFound) {
    ASSERT_TRUE(setup_test::makeZip(workspace_ / "InstallAgent_7.1.zip", {{"install", "v7"}}));
    EXPECT_EQ(setup::payloadAgentArchive(workspace_.path()), workspace_ / "InstallAgent_7.1.zip");
    EXPECT_EQ(acquire(), workspace_ / "install");
    EXPECT_EQ(readFile(workspace_ / "install"), "v7");
}

TEST_F(AcquireAgent, BrokenPayloadArchiveIsNotFollowedByADownload) {
    setup_test::writeFile(workspace_ / "InstallAgent.zip", "not a zip");
    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Failed to unzip the install agent");
    EXPECT_EQ(reports[1], "Failed to initialize the install agent.");
}

TEST_F(AcquireAgent, DownloadedAgentIsUnpackedIntoTheCache) {
    ASSERT_TRUE(setup_test::makeZip(server_ / "agent.zip", {{"install", "fresh agent"}}));
    serveFile(server_ / "agent.zip");
    const std::string launcher = base() + "installagent/install";
    EXPECT_EQ(acquire(), launcher);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(launcher), "fresh agent");
    EXPECT_EQ(readFile(workspace_ / "InstallAgent.zip"), readFile(server_ / "agent.zip"));
    EXPECT_FALSE(exists(base() + ".validatestring"));  // a file has no validator
    struct stat st {};
    ASSERT_EQ(stat((base() + "installagent").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST_F(AcquireAgent, StaleCacheIsReplaced) {
    ASSERT_EQ(setup::makeDirectories(base() + "installagent", 0700), 0);
    setup_test::writeFile(base() + "installagent/install", "old agent");
    setup_test::writeFile(base() + "installagent/leftover", "old file");
    ASSERT_TRUE(setup_test::makeZip(server_ / "agent.zip", {{"install", "new agent"}}));
    serveFile(server_ / "agent.zip");
    EXPECT_EQ(acquire(), base() + "installagent/install");
    EXPECT_EQ(readFile(base() + "installagent/install"), "new agent");
    EXPECT_FALSE(exists(base() + "installagent/leftover"));
}

TEST_F(AcquireAgent, HalfUnpackedAgentIsNotLeftInTheCache) {
    // The launcher unpacks, the second entry fails its CRC check.
    const std::string archive = server_ / "agent.zip";
    ASSERT_TRUE(
        setup_test::makeZip(archive, {{"install", "agent"}, {"data", std::string(4000, 'd')}}));
    std::string content = readFile(archive);
    const size_t data = content.find(std::string(100, 'd'));
    ASSERT_NE(data, std::string::npos);
    content[data + 50] = 'X';
    setup_test::writeFile(archive, content);
    serveFile(archive);

    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Failed to unzip the install agent");
    EXPECT_EQ(reports[1], "Failed to initialize the install agent.");
    EXPECT_FALSE(exists(base() + "installagent/install"));
    EXPECT_EQ(setup::cachedAgentDirectory(), "");
}

TEST_F(AcquireAgent, UnreachableServerLeavesTheCacheAlone) {
    ASSERT_EQ(setup::makeDirectories(base() + "installagent", 0700), 0);
    setup_test::writeFile(base() + "installagent/install", "cached");
    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("Error: Download process failed - ", 0), 0u) << reports[0];
    EXPECT_TRUE(exists(base() + "installagent/install"));
}

}  // namespace
