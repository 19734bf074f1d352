// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found directly in a named directory, goes once through the target. This
// keeps the seed corpora and the crash regressions in every ordinary build.
// --random COUNT adds that many random inputs (fixed seed): a blind fuzz run
// for code that only the ordinary build compiles as shipped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsNamed(const std::vector<std::string>& args) {
    std::vector<fs::path> files;
    for (const std::string& arg : args) {
        if (!fs::is_directory(arg)) {
            files.emplace_back(arg);
            continue;
        }
        std::vector<fs::path> inDir;
        for (const fs::directory_entry& e : fs::directory_iterator(arg)) {
            if (e.is_regular_file()) {
                inDir.push_back(e.path());
            }
        }
        std::sort(inDir.begin(), inDir.end());
        files.insert(files.end(), inDir.begin(), inDir.end());
    }
    return files;
}

}  // namespace

std::size_t replayRandom(std::size_t count) {
    std::mt19937_64 rng(20240611);
    std::vector<std::uint8_t> bytes;
    for (std::size_t k = 0; k < count; ++k) {
        bytes.resize(rng() % 1024);
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(rng());
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return count;
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t randomCount = 0;
    if (args.size() >= 2 && args[0] == "--random") {
        randomCount = std::strtoull(args[1].c_str(), nullptr, 10);
        args.erase(args.begin(), args.begin() + 2);
    }
    const std::vector<fs::path> files = inputsNamed(args);
    if (files.empty() && randomCount == 0) {
        std::fprintf(stderr, "usage: %s [--random COUNT] FILE_OR_DIRECTORY...\n(no input found)\n",
                     argv[0]);
        return 2;
    }
    for (const fs::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        const std::string bytes((std::istreambuf_iterator<char>(stream)),
                                std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    const std::size_t random = replayRandom(randomCount);
    std::printf("replayed %zu inputs and %zu random ones\n", files.size(), random);
    return 0;
}
