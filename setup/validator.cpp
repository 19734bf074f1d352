#include "validator.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "constants.hpp"
#include "file_utils.hpp"

namespace setup {
namespace {

std::string validatorPath(const std::string& base) {
    return base + kPathSeparator + kValidatorFileName;
}

bool startsWith(const char* data, std::size_t n, const char* prefix) {
    std::size_t length = std::strlen(prefix);
    return n >= length && std::memcmp(data, prefix, length) == 0;
}

bool startsWithIgnoringCase(const char* data, std::size_t n, const char* prefix) {
    std::size_t length = std::strlen(prefix);
    return n >= length && strncasecmp(data, prefix, length) == 0;
}

}  // namespace

std::size_t captureValidator(char* data, std::size_t size, std::size_t count, void* area) {
    const std::size_t n = size * count;
    auto* validator = static_cast<std::string*>(area);
    // Each response of a redirect chain starts with its status line; only the
    // final response's validator describes the archive.
    if (startsWith(data, n, "HTTP/")) {
        validator->clear();
        return n;
    }
    if (!startsWithIgnoringCase(data, n, kValidatorHeaderPrefix)) return n;
    std::size_t keep = (n > 0 && data[n - 1] == '\n') ? n - 1 : n;
    if (keep > kMaxValidatorLength) {
        validator->clear();
        return n;
    }
    validator->assign(data, keep);
    return n;
}

bool storeValidator(const std::string& base, const std::string& validator,
                    const std::string& keyFingerprint) {
    if (base.empty() || validator.empty()) return true;
    // Both go in one file, so that one rename replaces them together.
    const std::string record =
        keyFingerprint.empty() ? validator : validator + "\n" + keyFingerprint;
    const std::string path = validatorPath(base);
    const std::string temporary = path + ".new";
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == record.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return syncDirectory(base);
}

bool forgetValidator(const std::string& base) {
    if (unlink(validatorPath(base).c_str()) != 0 && errno != ENOENT) return false;
    syncDirectory(base);
    return true;
}

bool validatorMatches(const std::string& base, const std::string& validator,
                      const std::string& keyFingerprint) {
    if (!base.empty() && validator.empty()) return false;
    const std::string path = validatorPath(base);
    if (!pathExists(path)) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    // Read no more than one byte past the longest record that can match.
    std::string firstLine;
    int c = 0;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
        firstLine += static_cast<char>(c);
        if (firstLine.size() > validator.size()) break;
    }
    std::string rest;
    if (c == '\n' && !keyFingerprint.empty()) {
        while (rest.size() <= keyFingerprint.size() && (c = std::fgetc(file)) != EOF) {
            rest += static_cast<char>(c);
        }
    }
    std::fclose(file);
    if (firstLine != validator) return false;
    return keyFingerprint.empty() || rest == keyFingerprint;
}

}  // namespace setup
