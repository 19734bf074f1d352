// Reading an input whole through zlib's gz reader, which passes plain bytes
// through unchanged and inflates gzip data, recognised by its magic bytes.
#include "input_bytes.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace huxrun {
namespace {

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};

// A descriptor of its own for gzdopen, which closes what it is given.
int openDescriptor(const std::string& path) {
    const int fd = path == kStandardInputName ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                              : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::string("cannot open: ") + std::strerror(errno));
    return fd;
}

// Throws zlib's reason for a failure, if there was one: its message for data
// it cannot inflate, the system's for a failed read. Data cut short is only
// a note for zlib (a growing file may still be read on), but here the input
// has ended, so it counts too.
void throwGzFailure(gzFile file) {
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    if (code == Z_OK) return;
    if (code == Z_ERRNO)
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    // zlib puts its own name for the file ("<fd:3>") before the reason.
    const std::string reason(message);
    const std::size_t colon = reason.find(": ");
    throw std::runtime_error("not valid gzip data: " +
                             (colon == std::string::npos ? reason : reason.substr(colon + 2)));
}

}  // namespace

std::string inputName(const std::string& path) {
    return path == kStandardInputName ? "standard input" : path;
}

std::string readInputBytes(const std::string& path) {
    const int fd = openDescriptor(path);
    std::unique_ptr<gzFile_s, GzCloser> file(gzdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        throw std::runtime_error("cannot read: out of memory");
    }
    constexpr unsigned kChunk = 1u << 16;
    gzbuffer(file.get(), kChunk);
    std::string bytes;
    std::array<char, kChunk> buffer;
    while (true) {
        const int got = gzread(file.get(), buffer.data(), kChunk);
        if (got <= 0) {
            throwGzFailure(file.get());
            return bytes;
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace huxrun
