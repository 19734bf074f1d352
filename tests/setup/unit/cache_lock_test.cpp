// The cache's locks: taken and given up as flock promises across open files,
// and a long wait shows one line on a terminal only, erased when it ends.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "cache_lock.hpp"
#include "test_support.hpp"

using setup::FileLock;
using setup_test::TempDir;

namespace {

TEST(FileLock, CreatesAPrivateFileAndExcludesOtherOpens) {
    TempDir dir;
    FileLock first(dir / ".lock");
    ASSERT_TRUE(first.isOpen());
    struct stat st {};
    ASSERT_EQ(stat((dir / ".lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    FileLock second(dir / ".lock");
    EXPECT_TRUE(first.tryLock(LOCK_EX));
    EXPECT_FALSE(second.tryLock(LOCK_SH));
    EXPECT_TRUE(first.tryLock(LOCK_SH));  // downgraded: others may share
    EXPECT_TRUE(second.tryLock(LOCK_SH));
    EXPECT_FALSE(first.tryLock(LOCK_EX));
    second = FileLock();  // closing gives the lock up
    EXPECT_TRUE(first.tryLock(LOCK_EX));
}

TEST(FileLock, LinkAndMissingDirectoryAreNotOpened) {
    TempDir dir;
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / ".lock").c_str()), 0);
    FileLock link(dir / ".lock");
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.openError(), ELOOP);
    EXPECT_FALSE(setup_test::exists(dir / "elsewhere"));
    FileLock missing(dir / "no/such/.lock");
    EXPECT_EQ(missing.openError(), ENOENT);
    EXPECT_FALSE(missing.tryLock(LOCK_SH));
    EXPECT_FALSE(setup::waitForExclusive(missing, -1));
}

// Holds the lock from another open file for holdFor, while waitForExclusive
// writes its notice to fd; returns how long the wait took.
std::chrono::milliseconds waitWhileHeld(const std::string& path, int fd,
                                        std::chrono::milliseconds holdFor) {
    FileLock holder(path);
    EXPECT_TRUE(holder.tryLock(LOCK_EX));
    std::thread release([&holder, holdFor] {
        std::this_thread::sleep_for(holdFor);
        holder.unlock();
    });
    FileLock waiter(path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(setup::waitForExclusive(waiter, fd));
    const auto waited = std::chrono::steady_clock::now() - start;
    release.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(waited);
}

TEST(WaitForExclusive, LongWaitShowsOneErasedLineOnATerminal) {
    TempDir dir;
    setup_test::PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());

    // A short wait says nothing.
    EXPECT_GE(waitWhileHeld(dir / ".lock", pty.terminal, std::chrono::milliseconds(300)).count(),
              250);
    EXPECT_EQ(pty.shown(), "");
    // A long one says it once and erases it.
    EXPECT_GE(waitWhileHeld(dir / ".lock", pty.terminal, std::chrono::milliseconds(1600)).count(),
              1500);
    EXPECT_EQ(pty.shown(),
              "Waiting for another run of the installer to finish with the install agent "
              "cache...\r\033[K");
}

TEST(WaitForExclusive, NothingIsWrittenWhenNoTerminal) {
    TempDir dir;
    const int file = open((dir / "stderr").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(file, 0);
    EXPECT_GE(waitWhileHeld(dir / ".lock", file, std::chrono::milliseconds(1300)).count(), 1250);
    close(file);
    EXPECT_EQ(setup_test::readFile(dir / "stderr"), "");
}

}  // namespace
