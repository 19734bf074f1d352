// Result formatting and the all-or-nothing file write.
#include "result_output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace huxrun {
namespace {

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

mode_t defaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string formatValues(const double* values, std::size_t count, bool binary) {
    std::string bytes;
    if (binary) {
        bytes.resize(count * 8);
        for (std::size_t k = 0; k < count; ++k) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &values[k], sizeof bits);
            for (int b = 0; b < 8; ++b)
                bytes[k * 8 + b] = static_cast<char>((bits >> (8 * b)) & 0xff);
        }
        return bytes;
    }
    bytes.reserve(count * 24);
    char text[40];
    for (std::size_t k = 0; k < count; ++k) {
        const int n = std::snprintf(text, sizeof text, "%.17g\n", values[k]);
        bytes.append(text, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::optional<std::string> writeOutput(const std::optional<std::string>& path,
                                       const std::string& bytes) {
    if (!path) {
        if (!writeAll(STDOUT_FILENO, bytes))
            return systemError("cannot write the result to standard output");
        return std::nullopt;
    }
    std::string tempName = *path + ".tmp.XXXXXX";
    std::vector<char> name(tempName.begin(), tempName.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return systemError(*path + ": cannot create a temporary file beside it");
    tempName = name.data();
    const bool written = writeAll(fd, bytes) && ::fchmod(fd, defaultFileMode()) == 0;
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(tempName.c_str());
        errno = written ? errno : savedErrno;
        return systemError(*path + ": cannot write the result");
    }
    if (::rename(tempName.c_str(), path->c_str()) != 0) {
        const std::string error = systemError(*path + ": cannot replace");
        ::unlink(tempName.c_str());
        return error;
    }
    return std::nullopt;
}

}  // namespace huxrun
