// The file behind hux-run's --out: what stands at the path decides how it is
// written, so that devices, FIFOs, sockets and symlinks survive being named.
#pragma once

#include <sys/types.h>

#include <string>

namespace huxrun {

// An open destination for the result, owned until committed or destroyed.
// What the path is decides, through any links, not how it is spelled:
//  - One of this process's descriptors (/dev/stdout, /dev/stderr, /dev/fd/N,
//    /proc/self/fd/N): written through that descriptor, never replaced, even
//    when it is a regular file, so a shell's ">>" appends.
//  - Nothing at the path: a new file with the mode the umask leaves of 0666,
//    written as a temporary beside it that commit() renames into place.
//  - A regular file: replaced the same way; it keeps its mode and, where the
//    system allows, its owner and group.
//  - A symlink: its target is written as above (a chain of links is
//    followed; a dangling link gets its target created). The link stays.
//  - A character or block device, a FIFO: opened and written directly.
//  - A socket: connected to as a stream client and written directly.
//  - A directory: refused.
// The temporary has a short name of its own, so any valid target name works.
// A destination destroyed without commit() removes its temporary, so the
// path is left as it was unless the whole result was written.
class OutputFile {
public:
    // Throws std::runtime_error with a one-line message naming `path`.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int descriptor() const { return fd_; }

    // "PATH", or "PATH -> TARGET" when links were followed: for messages.
    std::string shownName() const;

    // The temporary that commit() renames over the target; empty when the
    // target is written directly (a descriptor, device, FIFO or socket).
    const std::string& temporaryPath() const { return temporary_; }
    bool replacesTarget() const { return !temporary_.empty(); }

    // Closes the file and renames a temporary over the target. Throws
    // std::runtime_error with a one-line message on failure; the temporary
    // is then removed by the destructor.
    void commit();

private:
    std::string path_;       // as given
    std::string target_;     // with symbolic links followed
    std::string temporary_;  // empty when the target is written directly
    int fd_ = -1;
    // What commit() gives a temporary: the replaced file's mode, owner and
    // group, or the new file's mode.
    mode_t mode_ = 0;
    bool keepOwner_ = false;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

}  // namespace huxrun
