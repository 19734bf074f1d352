// The installer's file-system services: creation, removal, its own location
// and the per-user base directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "constants.hpp"
#include "file_utils.hpp"
#include "test_support.hpp"

using setup_test::exists;
using setup_test::ScopedEnv;
using setup_test::TempDir;

namespace {

TEST(MakeDirectories, CreatesEveryMissingParent) {
    TempDir dir;
    const std::string path = dir / "a//b/c/";
    EXPECT_EQ(setup::makeDirectories(path, 0700), 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
    EXPECT_EQ(setup::makeDirectories(path, 0700), 0);  // existing is fine
}

TEST(MakeDirectories, FileInThePathGivesENOTDIR) {
    TempDir dir;
    ASSERT_EQ(setup::makeDirectories(dir / "a", 0700), 0);
    setup_test::writeFile(dir / "a/b", "file");
    errno = 0;
    EXPECT_EQ(setup::makeDirectories(dir / "a/b/c", 0700), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(exists(dir / "a/b/c"));
}

TEST(MakeDirectories, UncreatableDirectoryStillReturnsZero) {
    // mkdir below /proc fails even for root; the failure surfaces later.
    EXPECT_EQ(setup::makeDirectories("/proc/self/no-such-dir/x", 0700), 0);
    EXPECT_FALSE(exists("/proc/self/no-such-dir"));
    if (geteuid() == 0) return;
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    EXPECT_EQ(setup::makeDirectories(dir / "a/b", 0700), 0);
    EXPECT_FALSE(exists(dir / "a"));
}

TEST(RemoveIfExists, RemovesTheTreeAndQuotesThePath) {
    TempDir dir;
    ASSERT_EQ(setup::makeDirectories(dir / "x y/z", 0700), 0);
    setup_test::writeFile(dir / "x y/z/f", "data");
    setup::removeIfExists(dir / "x y");
    EXPECT_FALSE(exists(dir / "x y"));
    EXPECT_EQ(setup::removeCommand("/a b/c"), "rm -rf '/a b/c'");
    EXPECT_EQ(setup::removeCommand("/a'b"), "rm -rf '/a'\\''b'");
}

TEST(RemoveIfExists, RunsNoCommandForAMissingPath) {
    // A missing path whose command would create a marker if it ever ran.
    TempDir dir;
    const std::string marker = dir / "ran";
    setup::removeIfExists(dir / "missing'; touch '" + marker);
    EXPECT_FALSE(exists(marker));
}

TEST(RemoveIfExists, SingleQuoteInHomeRemovesOnlyTheCacheDirectory) {
    TempDir dir;
    // The intended path and two victims that a broken quote would reach:
    // rm -rf '<dir>/x' '<dir>/y/.velmar/...' without escaping.
    const std::string home = dir / "x' '" + dir.path() + "/y";
    ScopedEnv env("HOME", home.c_str());
    const std::string agentDir = setup::userBaseDirectory() + setup::kAgentDirName;
    ASSERT_EQ(setup::makeDirectories(agentDir, 0700), 0);
    ASSERT_TRUE(exists(agentDir));
    const std::string victimSuffix =
        std::string("/") + setup::kUserAgentSubpath + setup::kAgentDirName;
    ASSERT_EQ(setup::makeDirectories(dir / "x", 0700), 0);
    ASSERT_EQ(setup::makeDirectories(dir / "y" + victimSuffix, 0700), 0);

    setup::removeIfExists(agentDir);

    EXPECT_FALSE(exists(agentDir));
    EXPECT_TRUE(exists(setup::userBaseDirectory()));
    EXPECT_TRUE(exists(dir / "x"));
    EXPECT_TRUE(exists(dir / "y" + victimSuffix));
}

TEST(UserBaseDirectory, ComposesHomeAndTheCacheSubpath) {
    {
        ScopedEnv env("HOME", "/home/u");
        EXPECT_EQ(setup::userBaseDirectory(), "/home/u/.velmar/installagent/T4410c/kestrel64/");
    }
    {
        ScopedEnv env("HOME", "/home/u/");
        EXPECT_EQ(setup::userBaseDirectory(), "/home/u/.velmar/installagent/T4410c/kestrel64/");
    }
    {
        ScopedEnv env("HOME", "/");
        EXPECT_EQ(setup::userBaseDirectory(), "/.velmar/installagent/T4410c/kestrel64/");
    }
    // A one-character home keeps its separator.
    {
        ScopedEnv env("HOME", ".");
        EXPECT_EQ(setup::userBaseDirectory(), "./.velmar/installagent/T4410c/kestrel64/");
    }
    {
        ScopedEnv env("HOME", "a");
        EXPECT_EQ(setup::userBaseDirectory(), "a/.velmar/installagent/T4410c/kestrel64/");
    }
}

TEST(Constants, ComposeTheAgentUrlAndCachePaths) {
    EXPECT_EQ(setup::kDefaultAgentUrl,
              "https://downloads.velmar.example/pi_install_agent_pi_T4410c_kestrel64");
    EXPECT_EQ(setup::kUserAgentSubpath, ".velmar/installagent/T4410c/kestrel64/");
}

TEST(ExecutablePath, NamesThisProgramAndItsDirectory) {
    const std::string self = setup::executablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self.front(), '/');
    struct stat a {
    }, b{};
    ASSERT_EQ(stat(self.c_str(), &a), 0);
    ASSERT_EQ(stat("/proc/self/exe", &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    const std::string dir = setup::executableDirectory();
    EXPECT_EQ(dir + "/" + self.substr(self.rfind('/') + 1), self);
    EXPECT_NE(dir.back(), '/');
}

TEST(ReadLinkTarget, ReturnsLongTargetsWhole) {
    TempDir dir;
    const std::string target = "/" + std::string(3000, 'd') + "/setup";
    ASSERT_EQ(symlink(target.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(setup::readLinkTarget(dir / "link"), target);
    EXPECT_EQ(setup::readLinkTarget(dir / "missing"), "");
}

}  // namespace
