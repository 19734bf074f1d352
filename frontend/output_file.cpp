// Opening --out: symbolic links are followed to the file they name; this
// process's own descriptors, devices, FIFOs and sockets are written in
// place, and regular files are replaced through a temporary beside them.
#include "output_file.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace huxrun {
namespace {

// Links followed before giving up, as many as the kernel follows.
constexpr int kMaxLinkHops = 40;

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

enum class TargetKind { Missing, Regular, Socket, Direct, Descriptor };

struct Target {
    std::string path;
    TargetKind kind = TargetKind::Missing;
    struct stat status {};
    int descriptor = -1;  // for TargetKind::Descriptor
};

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string readLink(const std::string& link, const std::string& shown) {
    std::vector<char> buffer(256);
    while (true) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) fail(shown + ": cannot read the symbolic link " + link, errno);
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

TargetKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return TargetKind::Regular;
    if (S_ISSOCK(mode)) return TargetKind::Socket;
    return TargetKind::Direct;
}

// The descriptor `path` names when it is an entry of this process's own
// descriptor directory, /proc/self/fd, where /dev/fd/N, /dev/stdout and
// /dev/stderr lead. The directory is recognised by what it is (its device
// and inode), not by how the path spells it.
std::optional<int> heldDescriptor(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int fd = -1;
    const char* end = name.data() + name.size();
    const auto [ptr, ec] = std::from_chars(name.data(), end, fd);
    if (name.empty() || ec != std::errc{} || ptr != end || fd < 0) return std::nullopt;
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : path.substr(0, slash);
    struct stat held {};
    struct stat own {};
    if (::stat(directory.c_str(), &held) != 0 || ::stat("/proc/self/fd", &own) != 0)
        return std::nullopt;
    if (held.st_dev != own.st_dev || held.st_ino != own.st_ino) return std::nullopt;
    return fd;
}

// What stands at `path` once symbolic links are followed; a relative link
// counts from the directory that holds it. A chain that reaches one of this
// process's descriptors stops there. A link that leads to anything but a
// regular file (a pipe behind /proc/PID/fd/N reads as "pipe:[N]", which is
// no path) is written through the link itself, which opening follows.
Target resolve(const std::string& path) {
    Target target{path};
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        if (const auto fd = heldDescriptor(target.path)) {
            target.kind = TargetKind::Descriptor;
            target.descriptor = *fd;
            return target;
        }
        if (::lstat(target.path.c_str(), &target.status) != 0) {
            if (errno != ENOENT) fail(path + ": cannot examine " + target.path, errno);
            return target;
        }
        if (S_ISLNK(target.status.st_mode)) {
            const std::string link = readLink(target.path, path);
            const std::string next =
                !link.empty() && link[0] == '/' ? link : directoryOf(target.path) + link;
            struct stat followed {};
            const bool notRegular = !heldDescriptor(next) &&
                                    ::stat(target.path.c_str(), &followed) == 0 &&
                                    !S_ISREG(followed.st_mode);
            if (!notRegular) {
                target.path = next;
                continue;
            }
            target.status = followed;
        }
        if (S_ISDIR(target.status.st_mode)) {
            throw std::runtime_error(path + ": is a directory, not a file to write");
        }
        target.kind = kindOf(target.status.st_mode);
        return target;
    }
    fail(path, ELOOP);
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int connectTo(const std::string& socketPath, const std::string& shown) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        throw std::runtime_error(shown + ": the socket's path is too long to connect to");
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) fail(shown + ": cannot create a socket", errno);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        fail(shown + ": cannot connect to the socket", error);
    }
    return fd;
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
    const Target target = resolve(path);
    target_ = target.path;
    if (target.kind == TargetKind::Descriptor) {
        // Written through a copy of the descriptor, so a file opened for
        // appending is appended to and never replaced.
        fd_ = ::fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0)
            fail(shownName() + ": descriptor " + std::to_string(target.descriptor) + " is not open",
                 errno);
        return;
    }
    if (target.kind == TargetKind::Socket) {
        fd_ = connectTo(target_, shownName());
        return;
    }
    if (target.kind == TargetKind::Direct) {
        fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) fail(shownName() + ": cannot open", errno);
        return;
    }
    if (target.kind == TargetKind::Regular) {
        mode_ = target.status.st_mode & 07777;
        keepOwner_ = target.status.st_uid != ::geteuid() || target.status.st_gid != ::getegid();
        owner_ = target.status.st_uid;
        group_ = target.status.st_gid;
    } else {
        mode_ = newFileMode();
    }
    // A short name of its own beside the target, so that any valid target
    // name works, however long.
    std::string pattern = directoryOf(target_) + ".hux-run.tmp.XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) fail(shownName() + ": cannot create a temporary file beside it", errno);
    temporary_ = pattern;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

std::string OutputFile::shownName() const {
    return target_ == path_ ? path_ : path_ + " -> " + target_;
}

void OutputFile::commit() {
    const int fd = fd_;
    fd_ = -1;
    bool ok = true;
    int error = 0;
    if (!temporary_.empty()) {
        // Owner first: a change of owner clears the set-user-ID bits that
        // the mode then restores. Where the system does not let the writer
        // give the file away, it stays the writer's, as with any tool that
        // replaces a file by renaming.
        if (keepOwner_) {
            [[maybe_unused]] const int refused = ::fchown(fd, owner_, group_);
        }
        ok = ::fchmod(fd, mode_) == 0;
        error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) fail(shownName() + ": cannot finish writing", error);
    if (temporary_.empty()) return;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail(shownName() + ": cannot replace", errno);
    }
    temporary_.clear();
}

}  // namespace huxrun
