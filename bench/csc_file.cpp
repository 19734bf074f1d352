#include "csc_file.hpp"

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace rowbench {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openOrThrow(const std::string& path, const char* mode) {
    File f(std::fopen(path.c_str(), mode));
    if (!f) {
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    }
    return f;
}

template <class T>
void readExactly(std::FILE* f, T* data, std::uint64_t count, const std::string& path) {
    if (count != 0 && std::fread(data, sizeof(T), count, f) != count) {
        throw std::runtime_error(path + " is shorter than its header says");
    }
}

}  // namespace

CscData readCscFile(const std::string& path) {
    const File f = openOrThrow(path, "rb");
    char magic[8];
    readExactly(f.get(), magic, 8, path);
    if (std::memcmp(magic, "RMCSC01", 8) != 0) {
        throw std::runtime_error(path + " is not a compressed-column benchmark file");
    }
    std::uint64_t header[3];
    readExactly(f.get(), header, 3, path);
    CscData data;
    data.m = header[0];
    data.n = header[1];
    const std::uint64_t count = header[2];
    data.colStart.resize(data.n + 1);
    data.rowIndex.resize(count);
    data.values.resize(count);
    readExactly(f.get(), data.colStart.data(), data.n + 1, path);
    readExactly(f.get(), data.rowIndex.data(), count, path);
    readExactly(f.get(), data.values.data(), count, path);
    if (data.colStart.front() != 0 || data.colStart.back() != count) {
        throw std::runtime_error(path + " has column starts that do not span its entries");
    }
    return data;
}

std::vector<double> readDoubles(const std::string& path) {
    const File f = openOrThrow(path, "rb");
    std::vector<double> out;
    double buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, sizeof(double), 4096, f.get())) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

void writeDoubles(const std::string& path, const double* data, std::uint64_t count) {
    const File f = openOrThrow(path, "wb");
    if (std::fwrite(data, sizeof(double), count, f.get()) != count) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace rowbench
