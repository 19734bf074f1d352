#include "test_support.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setup_test {

std::vector<std::string> reports;

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "setup-unit-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Tests may leave read-only directories behind; make them removable.
    std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    std::system(command.c_str());
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadValue_ = old != nullptr;
    if (hadValue_) oldValue_ = old;
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_) {
        setenv(name_.c_str(), oldValue_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

void captureReport(const std::string& text, bool toError) {
    if (toError) reports.push_back(text);
}

void clearReports() { reports.clear(); }

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string shellOutput(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

bool makeZip(const std::string& zipPath,
             const std::vector<std::pair<std::string, std::string>>& files) {
    TempDir staging;
    std::string names;
    for (const auto& [name, content] : files) {
        writeFile(staging / name, content);
        names += " '" + name + "'";
    }
    std::string command = "cd '" + staging.path() + "' && zip -q -X -0 '" + zipPath + "'" + names +
                          " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

PseudoTerminal::PseudoTerminal() : master(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
}

PseudoTerminal::~PseudoTerminal() {
    closeTerminal();
    if (master >= 0) close(master);
}

void PseudoTerminal::closeTerminal() {
    if (terminal >= 0) close(terminal);
    terminal = -1;
}

std::string PseudoTerminal::shown() const {
    std::string out;
    char buffer[4096];
    fcntl(master, F_SETFL, O_NONBLOCK);
    ssize_t n = 0;
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    return out;
}

namespace {

uint32_t readLe32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void writeLe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

bool appendPayload(const std::string& stub, const std::string& archive,
                   const std::string& installer) {
    const std::string image = readFile(stub);
    std::string zip = readFile(archive);
    const size_t eocd = zip.size() - 22;
    if (zip.size() < 22 || readLe32(zip, eocd) != 0x06054b50) return false;
    const uint32_t shift = static_cast<uint32_t>(image.size());
    const uint32_t entries = static_cast<unsigned char>(zip[eocd + 10]) |
                             (static_cast<unsigned char>(zip[eocd + 11]) << 8);
    size_t at = readLe32(zip, eocd + 16);
    for (uint32_t i = 0; i < entries; ++i) {
        if (at + 46 > zip.size() || readLe32(zip, at) != 0x02014b50) return false;
        writeLe32(zip, at + 42, readLe32(zip, at + 42) + shift);
        const auto field = [&](size_t offset) {
            return static_cast<size_t>(static_cast<unsigned char>(zip[at + offset]) |
                                       (static_cast<unsigned char>(zip[at + offset + 1]) << 8));
        };
        at += 46 + field(28) + field(30) + field(32);
    }
    writeLe32(zip, eocd + 16, readLe32(zip, eocd + 16) + shift);
    writeFile(installer, image + zip);
    return chmod(installer.c_str(), 0755) == 0;
}

std::string argumentRecorderScript(const std::string& outFile) {
    return "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + outFile + "'\n";
}

}  // namespace setup_test
