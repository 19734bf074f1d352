// Advisory locks on files of the per-user cache: one run at a time obtains
// the agent, and a cached agent that some run executes is never replaced.
#pragma once

#include <string>

namespace setup {

// Whether programs the installer starts get a copy of the lock file's
// descriptor. A flock lasts while any copy is open, so an inherited lock is
// held for as long as the started program (or anything it leaves running) is.
enum class LockInheritance { closedOnExec, inherited };

// Owns one open lock file (created with mode 0600) and the flock held on it,
// which ends when the object is destroyed and no started program holds a copy.
class FileLock {
public:
    FileLock() = default;
    explicit FileLock(const std::string& path,
                      LockInheritance inheritance = LockInheritance::closedOnExec);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // errno of the failed open, 0 when open.
    int openError() const { return openError_; }

    // Takes (or converts to) LOCK_EX or LOCK_SH without waiting; true when
    // held, otherwise false with errno EWOULDBLOCK when another holds it.
    bool tryLock(int operation);
    void unlock();

private:
    int fd_ = -1;
    int openError_ = 0;
};

// The two locks of one cache. obtain is held exclusively from before the
// header request until the run knows which agent it runs; inUse is held
// shared by every run executing the cached agent, and is inherited by that
// agent, so that it lasts until the agent ends even if the installer that
// started it is killed first.
struct CacheLocks {
    FileLock obtain;
    FileLock inUse;
};

// The agent a run is to start: its launcher path ("" after a failure) and,
// when that is the cached agent, the shared in-use lock that keeps the cache
// from being replaced under it until this object is gone.
struct AcquiredAgent {
    std::string launcher;
    FileLock inUse;
};

// Opens base + ".lock" and base + ".inuse"; 0, or the errno of the failure.
int openCacheLocks(const std::string& base, CacheLocks& locks);

// Takes lock exclusively, waiting as long as another holder keeps it (an
// interrupted run stops meanwhile). After a second of waiting it shows one
// line on noticeFd, only when that is a terminal, and erases it once the
// wait ends. False when the lock cannot be had at all: the file is not open,
// or flock fails with anything but "would block".
bool waitForExclusive(FileLock& lock, int noticeFd);

}  // namespace setup
