// The per-user agent cache is used only when it belongs to the user and
// nobody else can write to it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "agent_acquire.hpp"
#include "cache_trust.hpp"
#include "constants.hpp"
#include "file_utils.hpp"
#include "test_support.hpp"

using setup::cacheTrustProblem;
using setup_test::ScopedEnv;
using setup_test::TempDir;

namespace {

constexpr uid_t kOtherUser = 54321;

std::string refusal(const std::string& dir) {
    return "The install agent cache directory " + dir +
           " is not owned by you or can be written by others; refusing to use it.";
}

class CacheTrust : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = dir_ / "home";
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        base_ = home_ + "/" + setup::kUserAgentSubpath;
        agentDir_ = base_ + setup::kAgentDirName;
    }

    void makeCache() {
        ASSERT_EQ(setup::makeDirectories(agentDir_, 0700), 0);
        setup_test::writeFile(agentDir_ + "/install", "echo cached agent\n");
    }

    TempDir dir_;
    std::string home_, base_, agentDir_;
};

TEST_F(CacheTrust, OwnPrivateOrMissingDirectoriesAreTrusted) {
    EXPECT_EQ(cacheTrustProblem(base_), "");
    makeCache();
    EXPECT_EQ(cacheTrustProblem(base_), "");
}

TEST_F(CacheTrust, WritableByGroupOrOthersIsRefused) {
    makeCache();
    const std::string baseDir = base_.substr(0, base_.size() - 1);
    ASSERT_EQ(chmod(baseDir.c_str(), 0720), 0);
    EXPECT_EQ(cacheTrustProblem(base_), refusal(baseDir));
    ASSERT_EQ(chmod(baseDir.c_str(), 0700), 0);

    ASSERT_EQ(chmod(agentDir_.c_str(), 0702), 0);
    EXPECT_EQ(cacheTrustProblem(base_), refusal(agentDir_));
    ASSERT_EQ(chmod(agentDir_.c_str(), 0700), 0);

    const std::string family = home_ + "/.velmar";
    ASSERT_EQ(chmod(family.c_str(), 01777), 0);
    EXPECT_EQ(cacheTrustProblem(base_), refusal(family));
}

TEST_F(CacheTrust, FileInPlaceOfADirectoryIsNamed) {
    ASSERT_EQ(setup::makeDirectories(home_ + "/.velmar/installagent", 0700), 0);
    const std::string file = home_ + "/.velmar/installagent/T4410c";
    setup_test::writeFile(file, "not a directory");
    EXPECT_EQ(cacheTrustProblem(base_), "The install agent cache path " + file +
                                            " exists but is not a directory; refusing to use it.");
}

TEST_F(CacheTrust, OwnSymbolicLinkToOwnDirectoryKeepsWorking) {
    const std::string elsewhere = dir_ / "elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (home_ + "/.velmar").c_str()), 0);
    makeCache();
    EXPECT_TRUE(
        setup_test::exists(elsewhere + "/installagent/T4410c/kestrel64/installagent/install"));
    EXPECT_EQ(cacheTrustProblem(base_), "");
}

TEST_F(CacheTrust, DirectoryOrLinkOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
    makeCache();
    ASSERT_EQ(chown(agentDir_.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(cacheTrustProblem(base_), refusal(agentDir_));
    ASSERT_EQ(chown(agentDir_.c_str(), 0, 0), 0);

    // A link planted by someone else, even to a directory of the user's own.
    const std::string family = home_ + "/.velmar";
    const std::string moved = dir_ / "moved";
    ASSERT_EQ(rename(family.c_str(), moved.c_str()), 0);
    ASSERT_EQ(symlink(moved.c_str(), family.c_str()), 0);
    EXPECT_EQ(cacheTrustProblem(base_), "");
    ASSERT_EQ(lchown(family.c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(cacheTrustProblem(base_), refusal(family));
}

TEST_F(CacheTrust, AcquireAgentRefusesAnUntrustedCacheWithoutTouchingIt) {
    makeCache();
    const std::string baseDir = base_.substr(0, base_.size() - 1);
    ASSERT_EQ(chmod(baseDir.c_str(), 0777), 0);
    ScopedEnv home("HOME", home_.c_str());
    const std::string url = "file://" + (dir_ / "no-such-archive");
    ScopedEnv agentUrl("ZQ_INTERNAL_INSTALL_AGENT_URL", url.c_str());
    TempDir workspace;
    setup_test::clearReports();

    EXPECT_EQ(setup::acquireAgent(workspace.path(), setup_test::captureReport).launcher, "");

    ASSERT_EQ(setup_test::reports.size(), 1u);
    EXPECT_EQ(setup_test::reports[0], refusal(baseDir));
    EXPECT_TRUE(setup_test::exists(agentDir_ + "/install"));
    EXPECT_FALSE(setup_test::exists(workspace / "InstallAgent.zip"));
}

TEST_F(CacheTrust, AcquireAgentNamesAFileInTheCachePath) {
    setup_test::writeFile(home_ + "/.velmar", "file");
    ScopedEnv home("HOME", home_.c_str());
    TempDir workspace;
    setup_test::clearReports();
    EXPECT_EQ(setup::acquireAgent(workspace.path(), setup_test::captureReport).launcher, "");
    ASSERT_EQ(setup_test::reports.size(), 1u);
    EXPECT_EQ(setup_test::reports[0],
              "The install agent cache path " + home_ +
                  "/.velmar exists but is not a directory; refusing to use it.");
}

}  // namespace
