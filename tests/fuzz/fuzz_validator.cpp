// Fuzzing of the installer's response-header capture and validator
// comparison: any header lines, any lengths, any case. The capture must match
// an independent model (a status line starts a new response, the last "ETag: "
// line of the final response wins, lines past 8 KiB count as none), and a
// stored validator must match itself and nothing else.
#include "fuzz_check.hpp"

#include "validator.hpp"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLongestValidator = 8192;

// A private directory for the validator file, removed when the process ends.
// Storing a validator syncs it to disk; on a memory file system that costs
// next to nothing, so the fuzzer keeps its pace.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string name = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        name += "/fuzz-validator-XXXXXX";
        if (mkdtemp(name.data()) == nullptr) {
            fuzz::fail("cannot create a scratch directory");
        }
        path_ = name;
    }
    ~ScratchDirectory() { std::filesystem::remove_all(path_); }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const std::string& scratchDirectory() {
    static const ScratchDirectory dir;
    return dir.path();
}

bool startsWithNoCase(const std::string& line, const std::string& prefix) {
    if (line.size() < prefix.size()) {
        return false;
    }
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        const auto a = static_cast<unsigned char>(line[k]);
        const auto b = static_cast<unsigned char>(prefix[k]);
        if (std::tolower(a) != std::tolower(b)) {
            return false;
        }
    }
    return true;
}

std::string modelCapture(const std::vector<std::string>& lines) {
    std::string area;
    for (const std::string& line : lines) {
        if (line.compare(0, 5, "HTTP/") == 0) {
            area.clear();
            continue;
        }
        if (!startsWithNoCase(line, "ETag: ")) {
            continue;
        }
        const bool endsInNewline = !line.empty() && line.back() == '\n';
        const std::string kept = line.substr(0, line.size() - (endsInNewline ? 1 : 0));
        area = kept.size() > kLongestValidator ? std::string() : kept;
    }
    return area;
}

// Header lines as libcurl hands them over: each up to and including its line
// feed; the input's last piece may lack one.
std::vector<std::string> headerLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        const std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

void checkStoredValidator(const std::string& validator) {
    const std::string& base = scratchDirectory();
    std::filesystem::remove(base + "/.validatestring");
    setup::storeValidator(base, validator);
    if (!setup::validatorMatches(base, validator)) {
        fuzz::fail("a stored validator of " + std::to_string(validator.size()) +
                   " bytes does not match itself");
    }
    fuzz::check(!setup::validatorMatches(base, validator + "x"),
                "a validator matches one byte longer than itself");
    fuzz::check(!setup::validatorMatches(base, validator.substr(0, validator.size() - 1)),
                "a validator matches one byte shorter than itself");
    std::string flipped = validator;
    flipped.back() = static_cast<char>(flipped.back() ^ 0x20);
    fuzz::check(!setup::validatorMatches(base, flipped),
                "a validator matches one that differs in its last byte");
    fuzz::check(!setup::validatorMatches(base, ""), "the empty validator matches a stored one");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = headerLines(bytes);
    std::string area;
    for (const std::string& line : lines) {
        std::vector<char> copy(line.begin(), line.end());
        const std::size_t taken = setup::captureValidator(copy.data(), 1, copy.size(), &area);
        fuzz::check(taken == line.size(), "captureValidator did not accept a whole header line");
    }
    const std::string expected = modelCapture(lines);
    if (area != expected) {
        fuzz::fail("captured " + std::to_string(area.size()) + " bytes, expected " +
                   std::to_string(expected.size()));
    }
    if (!area.empty()) {
        checkStoredValidator(area);
    }
    return 0;
}
