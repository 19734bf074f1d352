// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found directly in a named directory, goes once through the target. This
// keeps the seed corpora and the crash regressions in every ordinary build.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsNamed(const std::vector<std::string>& args)
{
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

int main(int argc, char** argv)
{
    const std::vector<fs::path> files = inputsNamed(std::vector<std::string>(argv + 1, argv + argc));
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n(no input found)\n", argv[0]);
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
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
