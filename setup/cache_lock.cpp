#include "cache_lock.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "interruption.hpp"

namespace setup {
namespace {

constexpr char kLockFileName[] = ".lock";
constexpr char kInUseFileName[] = ".inuse";
constexpr char kWaitingLine[] =
    "Waiting for another run of the installer to finish with the "
    "install agent cache...";
constexpr char kEraseLine[] = "\r\033[K";
constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kNoticeDelay = std::chrono::seconds(1);

void writeAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, text, length);
        if (n <= 0) return;  // the notice is cosmetic: give up quietly
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

}  // namespace

FileLock::FileLock(const std::string& path, LockInheritance inheritance) {
    const int onExec = inheritance == LockInheritance::inherited ? 0 : O_CLOEXEC;
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | onExec, 0600);
    if (fd_ < 0) openError_ = errno;
}

FileLock::~FileLock() {
    if (fd_ >= 0) close(fd_);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), openError_(other.openError_) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this == &other) return *this;
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    openError_ = other.openError_;
    return *this;
}

bool FileLock::tryLock(int operation) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    while (flock(fd_, operation | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

void FileLock::unlock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
}

int openCacheLocks(const std::string& base, CacheLocks& locks) {
    locks.obtain = FileLock(base + kLockFileName);
    if (!locks.obtain.isOpen()) return locks.obtain.openError();
    locks.inUse = FileLock(base + kInUseFileName, LockInheritance::inherited);
    return locks.inUse.openError();
}

bool waitForExclusive(FileLock& lock, int noticeFd) {
    if (!lock.isOpen()) return false;
    const auto start = std::chrono::steady_clock::now();
    bool shown = false;
    bool held = true;
    while (!lock.tryLock(LOCK_EX)) {
        // Only a lock someone holds is worth waiting for; any other error
        // (ENOLCK: no lock manager for this file system) lasts.
        if (errno != EWOULDBLOCK) {
            held = false;
            break;
        }
        stopIfInterrupted();
        if (!shown && std::chrono::steady_clock::now() - start >= kNoticeDelay) {
            shown = true;
            if (isatty(noticeFd) == 1) {
                writeAll(noticeFd, kWaitingLine, sizeof kWaitingLine - 1);
            } else {
                noticeFd = -1;
            }
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (shown && noticeFd >= 0) writeAll(noticeFd, kEraseLine, sizeof kEraseLine - 1);
    return held;
}

}  // namespace setup
