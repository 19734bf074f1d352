// Obtaining the agent: from the payload, from the cache, or by download from
// the loopback server; installing it so that the cache is always consistent
// and a cached agent in use is never changed underneath.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "agent_acquire.hpp"
#include "agent_cache.hpp"
#include "agent_install.hpp"
#include "cache_lock.hpp"
#include "constants.hpp"
#include "file_utils.hpp"
#include "messages.hpp"
#include "scripted_server.hpp"
#include "test_keys.hpp"
#include "test_support.hpp"

using setup::acquireAgent;
using setup_test::exists;
using setup_test::readFile;
using setup_test::reports;
using setup_test::Rule;
using setup_test::ScopedEnv;
using setup_test::ScriptedServer;
using setup_test::TempDir;

namespace {

class AcquireAgent : public ::testing::Test {
protected:
    void SetUp() override { setup_test::clearReports(); }

    std::string base() const { return home_.path() + "/" + setup::kUserAgentSubpath; }
    std::string launcher() const { return base() + "installagent/install"; }
    std::string acquire() { return acquireInFreshWorkspace().launcher; }
    // Each run downloads into a workspace of its own: an archive left from
    // the last call would pass for one that came with the payload.
    setup::AcquiredAgent acquireInFreshWorkspace() {
        std::remove((workspace_ / "InstallAgent.zip").c_str());
        return acquireAgent(workspace_.path(), setup_test::captureReport);
    }
    // Serves the archive with the given ETag from now on.
    void serve(const std::vector<std::pair<std::string, std::string>>& files,
               const std::string& etag = "") {
        ASSERT_TRUE(setup_test::makeZip(server_ / "agent.zip", files));
        Rule rule;
        rule.body = readFile(server_ / "agent.zip");
        if (!etag.empty()) rule.headers.push_back({"ETag", etag});
        serveRules({rule});
    }
    void serveRules(const std::vector<Rule>& rules) {
        http_.reset();
        http_ = std::make_unique<ScriptedServer>(rules);
        url_ = http_->url("/agent");
        setenv("ZQ_INTERNAL_INSTALL_AGENT_URL", url_.c_str(), 1);
    }
    void cacheAgent(const std::string& content, const std::string& validator) {
        ASSERT_EQ(setup::makeDirectories(base() + "installagent", 0700), 0);
        setup_test::writeFile(launcher(), content);
        setup_test::writeFile(base() + ".validatestring", validator);
    }

    TempDir home_, workspace_, server_;
    ScopedEnv homeEnv_{"HOME", home_.path().c_str()};
    // Nothing listens on port 9 of the loopback: a request fails at once.
    ScopedEnv urlEnv_{"ZQ_INTERNAL_INSTALL_AGENT_URL", "http://127.0.0.1:9/agent"};
    std::unique_ptr<ScriptedServer> http_;
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
    const setup::AcquiredAgent agent = acquireAgent(workspace_.path(), setup_test::captureReport);
    EXPECT_EQ(agent.launcher, workspace_ / "install");
    EXPECT_FALSE(agent.inUse.isOpen());
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
    EXPECT_EQ(acquireAgent(workspace_.path(), setup_test::captureReport).launcher, "");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "Failed to unzip the install agent");
    EXPECT_EQ(reports[1], "Failed to initialize the install agent.");
}

TEST_F(AcquireAgent, DownloadedAgentIsUnpackedIntoTheCache) {
    serve({{"install", "fresh agent"}}, "\"v1\"");
    EXPECT_EQ(acquire(), launcher());
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(launcher()), "fresh agent");
    EXPECT_EQ(readFile(workspace_ / "InstallAgent.zip"), readFile(server_ / "agent.zip"));
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v1\"\r");
    struct stat st {};
    ASSERT_EQ(stat((base() + "installagent").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
    ASSERT_EQ(stat((base() + ".lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(setup_test::shellOutput("ls -A '" + base() + "'"),
              ".inuse\n.lock\n.validatestring\ninstallagent\n");
}

TEST_F(AcquireAgent, StaleCacheIsReplacedWhole) {
    cacheAgent("old agent", "ETag: \"v1\"\r");
    setup_test::writeFile(base() + "installagent/leftover", "old file");
    serve({{"install", "new agent"}}, "\"v2\"");
    EXPECT_EQ(acquire(), launcher());
    EXPECT_EQ(readFile(launcher()), "new agent");
    EXPECT_FALSE(exists(base() + "installagent/leftover"));
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v2\"\r");
}

TEST_F(AcquireAgent, HalfUnpackedAgentNeverReachesTheCache) {
    // The launcher unpacks, the second entry fails its CRC check.
    const std::string archive = server_ / "agent.zip";
    ASSERT_TRUE(
        setup_test::makeZip(archive, {{"install", "agent"}, {"data", std::string(4000, 'd')}}));
    std::string content = readFile(archive);
    const size_t data = content.find(std::string(100, 'd'));
    ASSERT_NE(data, std::string::npos);
    content[data + 50] = 'X';
    Rule damaged;
    damaged.body = content;
    damaged.headers = {{"ETag", "\"v2\""}};

    for (const bool withOldAgent : {false, true}) {
        if (withOldAgent) cacheAgent("old agent", "ETag: \"v1\"\r");
        serveRules({damaged});
        setup_test::clearReports();
        EXPECT_EQ(acquire(), "");
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0], "Failed to unzip the install agent");
        EXPECT_EQ(reports[1], "Failed to initialize the install agent.");
        if (withOldAgent) {
            // The old agent leaves only for a complete new one.
            EXPECT_EQ(readFile(launcher()), "old agent");
            EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v1\"\r");
        } else {
            EXPECT_EQ(setup::cachedAgentDirectory(), "");
            EXPECT_FALSE(exists(base() + ".validatestring"));
        }
        EXPECT_EQ(setup_test::shellOutput("ls -d '" + base() + "'installagent.* 2>/dev/null"), "");
    }
}

TEST_F(AcquireAgent, ArchiveWithoutLauncherIsNotAnAgent) {
    cacheAgent("old agent", "ETag: \"v1\"\r");
    serve({{"readme", "no launcher here"}}, "\"v2\"");
    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Failed to initialize the install agent.");
    EXPECT_EQ(readFile(launcher()), "old agent");
}

TEST_F(AcquireAgent, FailedFullRequestKeepsTheOldAgent) {
    cacheAgent("old agent", "ETag: \"v1\"\r");
    Rule head;
    head.method = "HEAD";
    head.headers = {{"ETag", "\"v2\""}};
    Rule get;
    get.status = 500;
    get.body = "<html>error page</html>";
    serveRules({head, get});
    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("Error: Download process failed. Received an HTTP code: 500.", 0),
              0u)
        << reports[0];
    EXPECT_EQ(readFile(launcher()), "old agent");
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v1\"\r");
}

TEST_F(AcquireAgent, LeftoversOfKilledRunsAreRemoved) {
    cacheAgent("current agent", "ETag: \"v1\"\r");
    const std::string leftover = base() + setup::kNewAgentPrefix + "Ab12Cd";
    ASSERT_EQ(setup::makeDirectories(leftover, 0700), 0);
    setup_test::writeFile(leftover + "/install", "half an agent");
    setup_test::writeFile(base() + "installagent.other", "not ours to remove");
    serve({{"install", "x"}}, "\"v1\"");
    EXPECT_EQ(acquire(), launcher());
    EXPECT_FALSE(exists(leftover));
    EXPECT_TRUE(exists(base() + "installagent.other"));
    EXPECT_EQ(readFile(launcher()), "current agent");
    EXPECT_EQ(http_->requests(), std::vector<std::string>{"HEAD /agent"});
}

TEST_F(AcquireAgent, CachedAgentHoldsTheInUseLockButNotTheCacheLock) {
    serve({{"install", "agent"}}, "\"v1\"");
    for (int run = 0; run < 2; ++run) {  // a fresh download, then a current cache
        setup::AcquiredAgent agent = acquireInFreshWorkspace();
        ASSERT_EQ(agent.launcher, launcher());
        setup::FileLock inUse(base() + ".inuse");
        setup::FileLock obtain(base() + ".lock");
        EXPECT_FALSE(inUse.tryLock(LOCK_EX)) << "the running agent could be replaced";
        EXPECT_TRUE(inUse.tryLock(LOCK_SH)) << "a second run could not share the agent";
        inUse.unlock();
        // An agent that starts the installer again must find the cache free.
        EXPECT_TRUE(obtain.tryLock(LOCK_EX)) << "the cache lock outlived the acquisition";
        obtain.unlock();
        agent = setup::AcquiredAgent();
        EXPECT_TRUE(inUse.tryLock(LOCK_EX)) << "the in-use lock outlived the agent";
        inUse.unlock();
    }
    EXPECT_EQ(http_->requests(),
              (std::vector<std::string>{"HEAD /agent", "GET /agent", "HEAD /agent"}));
}

TEST_F(AcquireAgent, AgentInUseGetsAPrivateCopyAndTheCacheWaits) {
    cacheAgent("old agent", "ETag: \"v1\"\r");
    serve({{"install", "new agent"}}, "\"v2\"");
    {
        // Another run executes the cached agent.
        setup::FileLock running(base() + ".inuse");
        ASSERT_TRUE(running.tryLock(LOCK_SH));
        const std::string copy = acquire();
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(copy.rfind(workspace_ / "installagent-", 0), 0u) << copy;
        EXPECT_EQ(readFile(copy), "new agent");
        EXPECT_EQ(readFile(launcher()), "old agent");
        EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v1\"\r");
        struct stat st {};
        ASSERT_EQ(stat(copy.substr(0, copy.size() - 8).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0077, 0u);
    }
    // Once nobody runs it, the next run updates the cache.
    EXPECT_EQ(acquire(), launcher());
    EXPECT_EQ(readFile(launcher()), "new agent");
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v2\"\r");
}

TEST_F(AcquireAgent, CacheDirectoryThatCannotBeMadeFailsBeforeAnyRequest) {
    serve({{"install", "agent"}}, "\"v1\"");
    setup_test::writeFile(home_ / "file", "a file, not a home");
    ScopedEnv home("HOME", (home_ / "file").c_str());
    EXPECT_EQ(acquire(), "");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "Internal Error: Failed to create local download cache - Not a directory.\n\n"
              "Please rerun the installer.");
    EXPECT_EQ(http_->requestCount(), 0);
}

// An old agent that cannot be moved (here: a mount point, in a private
// mount namespace) stays as it is: the run stops with a sentence naming it,
// and the cache keeps no validator, so the agent counts as stale.
TEST_F(AcquireAgent, OldAgentThatCannotBeReplacedStopsTheRun) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
    cacheAgent("old agent", "ETag: \"old\"\r");
    serve({{"install", "new agent"}}, "\"new\"");
    const std::string agentDirectory = base() + setup::kAgentDirName;

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0) _exit(10);
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(10);
        if (mount(agentDirectory.c_str(), agentDirectory.c_str(), nullptr, MS_BIND, nullptr) != 0)
            _exit(10);
        const std::string expected = "The outdated install agent in " + agentDirectory +
                                     " could not be replaced; remove it and rerun the installer.";
        if (!acquire().empty()) _exit(11);
        if (reports.size() != 1 || reports[0] != expected) _exit(12);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "mount namespaces are not available here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "11: reported success, 12: wrong or missing message";
    EXPECT_EQ(readFile(launcher()), "old agent");
    EXPECT_FALSE(exists(base() + ".validatestring"));
    EXPECT_EQ(setup_test::shellOutput("ls -d '" + base() + "'installagent.* 2>/dev/null"), "");
}

// Serves the archive with the given ETag and, at /agent.sig, the signature
// of the archive's bytes (or of otherBytes, when given) by signer.
class SignedAcquisition : public AcquireAgent {
protected:
    void SetUp() override {
        AcquireAgent::SetUp();
        setup_test::writePublicKeyPem(signer_.get(), workspace_ / "agent-key.pem");
    }
    void serveSigned(const std::string& content, const std::string& etag,
                     const std::string& otherBytes = "") {
        ASSERT_TRUE(setup_test::makeZip(server_ / "agent.zip", {{"install", content}}));
        Rule archive;
        archive.body = readFile(server_ / "agent.zip");
        archive.headers = {{"ETag", etag}};
        Rule signature;
        signature.path = "/agent.sig";
        signature.body =
            setup_test::signBytes(signer_.get(), otherBytes.empty() ? archive.body : otherBytes);
        serveRules({signature, archive});
    }
    std::string fingerprint() {
        return setup_test::pinnedKey(signer_.get(), server_.path()).fingerprint;
    }

    setup::PkeyPtr signer_ = setup_test::generateKey("ED25519");
};

TEST_F(SignedAcquisition, AVerifiedAgentIsCachedWithItsKey) {
    serveSigned("signed agent", "\"v1\"");
    EXPECT_EQ(acquire(), launcher());
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(launcher()), "signed agent");
    EXPECT_EQ(readFile(base() + ".validatestring"), "ETag: \"v1\"\r\n" + fingerprint());
    EXPECT_EQ(acquire(), launcher());
    EXPECT_EQ(http_->requests(), (std::vector<std::string>{"HEAD /agent", "GET /agent.sig",
                                                           "GET /agent", "HEAD /agent"}));
}

TEST_F(SignedAcquisition, ARefusedAgentLeavesTheCacheAsItWas) {
    serveSigned("signed agent", "\"v1\"");
    ASSERT_EQ(acquire(), launcher());
    const std::string record = readFile(base() + ".validatestring");
    serveSigned("tampered agent", "\"v2\"", "the archive that was signed");
    EXPECT_EQ(acquire(), "");
    EXPECT_EQ(reports, std::vector<std::string>{setup::signatureMismatchMessage(url_ + ".sig")});
    EXPECT_EQ(readFile(launcher()), "signed agent");
    EXPECT_EQ(readFile(base() + ".validatestring"), record);
    EXPECT_EQ(setup_test::shellOutput("ls -A '" + base() + "'"),
              ".inuse\n.lock\n.validatestring\ninstallagent\n");
}

TEST_F(SignedAcquisition, AKeyThatCannotBeUsedStopsTheRunBeforeAnyRequest) {
    serveSigned("signed agent", "\"v1\"");
    const std::string keyFile = workspace_ / "agent-key.pem";
    const setup::PkeyPtr x25519 = setup_test::generateKey("X25519");
    setup_test::writePublicKeyPem(x25519.get(), workspace_ / "x25519.pem");
    const std::string unusable[] = {"-----BEGIN PUBLIC KEY-----\ngarbage\n", "",
                                    readFile(workspace_ / "x25519.pem")};
    for (const std::string& content : unusable) {
        setup_test::writeFile(keyFile, content);
        setup_test::clearReports();
        EXPECT_EQ(acquire(), "");
        EXPECT_EQ(reports, std::vector<std::string>{setup::kAgentKeyUnusable});
    }
    // A link to nowhere is a key that cannot be read, not a missing key.
    std::remove(keyFile.c_str());
    ASSERT_EQ(symlink("nowhere", keyFile.c_str()), 0);
    setup_test::clearReports();
    EXPECT_EQ(acquire(), "");
    EXPECT_EQ(reports, std::vector<std::string>{setup::kAgentKeyUnusable});
    EXPECT_EQ(http_->requestCount(), 0);
    EXPECT_FALSE(exists(home_ / ".velmar"));
}

TEST_F(SignedAcquisition, APayloadAgentNeedsNoSignature) {
    serveSigned("signed agent", "\"v1\"");
    setup_test::writeFile(workspace_ / "agent-key.pem", "not a key at all");
    ASSERT_TRUE(setup_test::makeZip(workspace_ / "InstallAgent_3.zip", {{"install", "bundled"}}));
    const setup::AcquiredAgent agent = acquireAgent(workspace_.path(), setup_test::captureReport);
    EXPECT_EQ(agent.launcher, workspace_ / "install");
    EXPECT_EQ(readFile(agent.launcher), "bundled");
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(http_->requestCount(), 0);
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
