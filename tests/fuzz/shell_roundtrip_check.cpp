// Checks the installer's shell quoting against the real /bin/sh: argument
// lists (the quoting seeds and crash regressions, every single byte, and
// random byte strings) are quoted, joined, and read back by one shell process
// per batch; a batch that does not come back byte for byte is replayed case by
// case to name the failing inputs.
#include "shell_utils.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

constexpr std::size_t kBatchSize = 250;

// Same decoding as the quoting fuzz target: NUL separates arguments.
Arguments splitAtNul(const std::string& bytes) {
    Arguments args;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = bytes.find('\0', start);
        args.push_back(bytes.substr(start, nul == std::string::npos ? nul : nul - start));
        if (nul == std::string::npos) {
            return args;
        }
        start = nul + 1;
    }
}

void addFileCases(const fs::path& path, std::vector<Arguments>& cases) {
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto& e : fs::directory_iterator(path)) {
            if (e.is_regular_file()) {
                files.push_back(e.path());
            }
        }
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        cases.push_back(splitAtNul(std::string(std::istreambuf_iterator<char>(in), {})));
    }
}

// Random strings lean on the characters a shell treats specially.
void addRandomCases(std::size_t count, std::vector<Arguments>& cases) {
    const std::string special = " \t\n'\"\\$`!#&()*;<=>?[]^{|}~%@,.:/-_+\r";
    std::mt19937_64 rng(20240611);
    for (std::size_t k = 0; k < count; ++k) {
        Arguments args(1 + rng() % 3);
        for (std::string& a : args) {
            const std::size_t length = rng() % 24;
            for (std::size_t c = 0; c < length; ++c) {
                const std::uint64_t pick = rng() % 4;
                a.push_back(pick == 0   ? static_cast<char>(1 + rng() % 255)
                            : pick == 1 ? static_cast<char>('a' + rng() % 26)
                                        : special[rng() % special.size()]);
            }
        }
        cases.push_back(args);
    }
}

void addSingleBytes(std::vector<Arguments>& cases) {
    for (int b = 1; b < 256; ++b) {
        cases.push_back({std::string(1, static_cast<char>(b))});
        cases.push_back({"a" + std::string(1, static_cast<char>(b)) + "b", ""});
    }
}

std::string joined(const Arguments& args) {
    std::vector<char*> argv{const_cast<char*>("setup")};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return setup::joinArguments(static_cast<int>(args.size() + 1), argv.data());
}

// Each case is checked twice: as a joined argument list, and each non-empty
// argument alone through quoteArgument.
void appendCase(const Arguments& args, std::string& script, std::string& expected) {
    const char* report =
        "printf '%s:' \"$#\"; for a do printf '%s:%s;' \"${#a}\" \"$a\"; done; echo\n";
    script += "set -- " + joined(args) + "\n" + report;
    expected += std::to_string(args.size()) + ":";
    for (const std::string& a : args) {
        expected += std::to_string(a.size()) + ":" + a + ";";
    }
    expected += "\n";
    for (const std::string& a : args) {
        if (a.empty()) {
            continue;
        }
        script += "set -- " + setup::quoteArgument(a) + "\n" + report;
        expected += "1:" + std::to_string(a.size()) + ":" + a + ";\n";
    }
}

// Runs the script with /bin/sh in an empty scratch directory (so a quoting
// fault cannot reach anything of value) and returns what it printed.
std::string runShell(const std::string& script, const fs::path& scratch) {
    const fs::path file = scratch / "cases.sh";
    std::ofstream(file, std::ios::binary) << script;
    const std::string command = "cd '" + scratch.string() + "' && env -i LC_ALL=C HOME='" +
                                scratch.string() +
                                "' PATH=/usr/bin:/bin /bin/sh cases.sh 2>/dev/null";
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, got);
        }
        pclose(pipe);
    }
    return out;
}

std::string shown(const Arguments& args) {
    std::string out;
    for (const std::string& a : args) {
        out += out.empty() ? "[" : ", [";
        for (unsigned char c : a) {
            char hex[8];
            std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7f && c != '\\' ? "%c" : "\\x%02x",
                          c);
            out += hex;
        }
        out += "]";
    }
    return out;
}

bool roundTrips(const std::vector<Arguments>& batch, const fs::path& scratch) {
    std::string script;
    std::string expected;
    for (const Arguments& args : batch) {
        appendCase(args, script, expected);
    }
    return runShell(script, scratch) == expected;
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<Arguments> cases;
    addSingleBytes(cases);
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--random" && k + 1 < argc) {
            addRandomCases(std::strtoull(argv[++k], nullptr, 10), cases);
        } else if (arg == "--help") {
            std::printf("usage: %s [--random COUNT] [FILE_OR_DIRECTORY...]\n", argv[0]);
            return 0;
        } else {
            addFileCases(arg, cases);
        }
    }

    char name[] = "/tmp/shell-roundtrip-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path scratch = name;
    std::size_t failures = 0;
    for (std::size_t first = 0; first < cases.size(); first += kBatchSize) {
        const std::size_t last = std::min(cases.size(), first + kBatchSize);
        const std::vector<Arguments> batch(cases.begin() + first, cases.begin() + last);
        if (roundTrips(batch, scratch)) {
            continue;
        }
        for (const Arguments& one : batch) {
            if (!roundTrips({one}, scratch)) {
                ++failures;
                std::fprintf(stderr, "does not survive /bin/sh: %s\n", shown(one).c_str());
            }
        }
    }
    fs::remove_all(scratch);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("shell round trip: %zu inputs tried, %zu failures, %.1f s\n", cases.size(),
                failures, seconds);
    return failures == 0 ? 0 : 1;
}
