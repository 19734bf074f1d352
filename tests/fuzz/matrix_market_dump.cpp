// matrix-market-dump: what hux-run's Matrix Market reader makes of each file,
// one JSON line per file, for the SciPy oracle to compare position by
// position. Values go as the 16 hex digits of their bits, so that NaN, signed
// zeros and subnormals arrive exactly.
#include "market_limits.hpp"

#include "matrix_market.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

template <class T, class Show>
void printList(const char* name, const std::vector<T>& list, Show show) {
    std::printf(", \"%s\": [", name);
    for (std::size_t k = 0; k < list.size(); ++k) {
        std::printf(k == 0 ? "%s" : ", %s", show(list[k]).c_str());
    }
    std::printf("]");
}

void dump(const std::string& path) {
    const huxrun::MarketResult result = huxrun::readMatrixMarketFile(path, fuzz::marketLimits());
    std::printf("{\"file\": %s", jsonString(path).c_str());
    if (const auto* error = std::get_if<huxrun::MarketError>(&result)) {
        std::printf(", \"error\": %s}\n", jsonString(huxrun::describe(*error)).c_str());
        return;
    }
    const auto& m = std::get<huxrun::CscMatrix>(result);
    std::printf(", \"rows\": %" PRIu64 ", \"cols\": %" PRIu64, m.rows, m.cols);
    const auto decimal = [](std::uint64_t v) { return std::to_string(v); };
    printList("colStart", m.colStart, decimal);
    printList("rowIndex", m.rowIndex, decimal);
    printList("values", m.values, [](double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        char hex[24];
        std::snprintf(hex, sizeof hex, "\"%016" PRIx64 "\"", bits);
        return std::string(hex);
    });
    std::printf("}\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
        return 2;
    }
    for (int a = 1; a < argc; ++a) {
        if (!fs::is_directory(argv[a])) {
            dump(argv[a]);
            continue;
        }
        std::vector<std::string> files;
        for (const fs::directory_entry& e : fs::directory_iterator(argv[a])) {
            if (e.is_regular_file()) files.push_back(e.path().string());
        }
        std::sort(files.begin(), files.end());
        for (const std::string& f : files) dump(f);
    }
    return 0;
}
