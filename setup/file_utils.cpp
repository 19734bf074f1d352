#include "file_utils.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "constants.hpp"
#include "shell_utils.hpp"

namespace setup {
namespace {

int ensureDirectory(const std::string& dir, int mode) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        mkdir(dir.c_str(), static_cast<mode_t>(mode));
        return 0;
    }
    if (S_ISDIR(st.st_mode)) return 0;
    errno = ENOTDIR;
    return -1;
}

}  // namespace

bool pathExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string readLinkTarget(const std::string& link) {
    // A fixed buffer would silently cut long targets and name the wrong
    // file, so grow until the whole target fits.
    std::vector<char> buffer(1024);
    for (;;) {
        ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) return "";
        if (static_cast<size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(n));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string executablePath() { return readLinkTarget("/proc/self/exe"); }

std::string executableDirectory() {
    std::string path = executablePath();
    if (path.empty()) return "";
    size_t last = path.find_last_of("/\\");
    if (last == std::string::npos) return path;
    return path.substr(0, last);
}

int makeDirectories(const std::string& path, int mode) {
    std::string prefix = path;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (prefix[i] != '/') continue;
        if (i == 0 || prefix[i - 1] == '/') continue;
        prefix[i] = '\0';
        int result = ensureDirectory(prefix.c_str(), mode);
        prefix[i] = '/';
        if (result != 0) return result;
    }
    return ensureDirectory(path, mode);
}

int ensureDirectories(const std::string& path, int mode) {
    std::string prefix = path;
    for (size_t i = 0; i <= prefix.size(); ++i) {
        if (i < prefix.size() && prefix[i] != '/') continue;
        if (i == 0 || prefix[i - 1] == '/') continue;
        const char saved = i < prefix.size() ? prefix[i] : '\0';
        prefix[i] = '\0';
        const bool made = mkdir(prefix.c_str(), static_cast<mode_t>(mode)) == 0;
        const int error = errno;
        const bool present = made || isDirectory(prefix.c_str());
        if (i < prefix.size()) prefix[i] = saved;
        if (present) continue;
        return made || error == EEXIST ? ENOTDIR : error;
    }
    return 0;
}

bool syncDirectory(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

std::string processImagePath() { return "/proc/" + std::to_string(getpid()) + "/exe"; }

std::string removeCommand(const std::string& path) {
    // Quoted so that the path stays one word whatever it holds, single quotes
    // included; a path without one is spelled "rm -rf '<path>'" as before.
    return "rm -rf " + singleQuoted(path);
}

void removeIfExists(const std::string& path) {
    if (!pathExists(path)) return;
    runShellCommand(removeCommand(path));
}

std::string fallbackHomeDirectory() {
    return std::string("/tmp/.velmar-") + std::to_string(geteuid()) + kPathSeparator;
}

namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    // The password database's home counts only when it is a directory of
    // the user's own: service accounts name /nonexistent or a system path.
    const passwd* entry = getpwuid(geteuid());
    struct stat st {};
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' &&
        stat(entry->pw_dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()) {
        return entry->pw_dir;
    }
    return fallbackHomeDirectory();
}

}  // namespace

std::string userBaseDirectory() {
    std::string base = homeDirectory();
    if (base.back() != kPathSeparator[0]) base += kPathSeparator;
    return base + kUserAgentSubpath;
}

}  // namespace setup
