// Tests of hux-run's result writing: the text of every kind of double is
// byte for byte what printf's "%.17g" gives, and a streamed result holds
// exactly the values, in order, whatever the block boundaries and threads.
#include "result_output.hpp"
#include "value_text.hpp"
#include "scratch_dir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <tbb/global_control.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace huxrun {
namespace {

using Limits = std::numeric_limits<double>;

double fromBits(std::uint64_t bits) {
    double d = 0.0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string printfLine(double value) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.17g\n", value);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string valueLine(double value) {
    char text[kMaxValueLineLength];
    return std::string(text, writeValueLine(text, value));
}

// Signs, zeros, infinities, NaNs with either sign and with payloads, the
// extremes of the normal and subnormal ranges, the points where %g switches
// between fixed and exponent form (1e-5, 1e17) and their neighbours, and
// integers around 2^53.
std::vector<double> edgeValues() {
    std::vector<double> v = {0.0,
                             -0.0,
                             Limits::infinity(),
                             -Limits::infinity(),
                             Limits::quiet_NaN(),
                             -Limits::quiet_NaN(),
                             fromBits(0x7ff0000000000001),
                             fromBits(0xfff8000000000123),
                             Limits::denorm_min(),
                             -Limits::denorm_min(),
                             fromBits(0x000fffffffffffff),
                             Limits::min(),
                             Limits::max(),
                             -Limits::max(),
                             Limits::epsilon(),
                             0.1,
                             1.0 / 3.0,
                             9007199254740992.0,
                             9007199254740993.0,
                             -9007199254740991.0,
                             99999999999999999.0,
                             1e-4,
                             1e-5};
    for (int e = -324; e <= 308; ++e) {
        const double p = std::pow(10.0, e);
        for (const double d : {p, std::nextafter(p, 0.0), std::nextafter(p, Limits::infinity())}) {
            v.push_back(d);
            v.push_back(-d);
        }
    }
    return v;
}

TEST(ValueText, EdgeValuesMatchPrintfByteForByte) {
    for (const double d : edgeValues()) {
        ASSERT_EQ(valueLine(d), printfLine(d)) << "bits " << std::hex << [&] {
            std::uint64_t b = 0;
            std::memcpy(&b, &d, sizeof b);
            return b;
        }();
    }
}

// Random bit patterns cover every exponent (subnormals, NaN payloads
// included); random subnormals and values of distance-like size cover the
// ranges results mostly hold.
TEST(ValueText, RandomValuesMatchPrintfByteForByte) {
    std::mt19937_64 rng(20240807);
    std::uniform_real_distribution<double> typical(0.0, 100.0);
    for (int k = 0; k < 300000; ++k) {
        const std::uint64_t bits = rng();
        for (const double d : {fromBits(bits), fromBits(bits & 0x800fffffffffffff), typical(rng),
                               std::ldexp(typical(rng), -1060)}) {
            const std::string want = printfLine(d);
            const std::string got = valueLine(d);
            if (got != want) FAIL() << "bits " << std::hex << bits << ": " << got << " != " << want;
        }
    }
}

TEST(ValueText, LongestLineFitsTheBound) {
    const double longest = -fromBits(0x0010000000000001);  // -2.2250738585072019e-308
    EXPECT_EQ(valueLine(longest).size(), kMaxValueLineLength);
    EXPECT_EQ(valueLine(longest), printfLine(longest));
}

// A scratch file in the test's own temporary directory.
class ScratchFile {
public:
    const std::string& path() const { return path_; }
    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    ScratchDir dir_;
    std::string path_ = dir_.file("out");
};

std::string writtenTo(const ScratchFile& file, const std::vector<double>& values, bool binary) {
    const int fd = ::open(file.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(writeValues(fd, values.data(), values.size(), binary), values.size())
        << std::strerror(errno);
    ::close(fd);
    return file.contents();
}

// Counts around the block size (32768 values) and several blocks' worth, so
// that every block boundary and the in-order hand-over between the threads
// that format blocks are exercised; at one thread and at the default.
TEST(ResultStream, TextAndBinaryHoldEveryValueInOrder) {
    std::mt19937_64 rng(7);
    std::vector<double> all(5 * 32768 + 3);
    for (double& d : all) d = fromBits(rng());
    const std::vector<double> edges = edgeValues();
    std::copy(edges.begin(), edges.end(), all.begin() + 32768 - 50);
    ScratchFile file;
    for (const int threads : {1, 0}) {
        std::optional<tbb::global_control> cap;
        if (threads > 0) cap.emplace(tbb::global_control::max_allowed_parallelism, threads);
        for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{32767},
                                        std::size_t{32768}, std::size_t{32769}, all.size()}) {
            SCOPED_TRACE("count " + std::to_string(count) + ", threads " + std::to_string(threads));
            const std::vector<double> values(all.begin(), all.begin() + count);
            std::string text;
            for (const double d : values) text += printfLine(d);
            EXPECT_TRUE(writtenTo(file, values, false) == text);
            std::string bytes;
            for (const double d : values) {
                std::uint64_t bits = 0;
                std::memcpy(&bits, &d, sizeof bits);
                for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>(bits >> (8 * b)));
            }
            EXPECT_TRUE(writtenTo(file, values, true) == bytes);
        }
    }
}

TEST(ResultStream, AFailedWriteIsReportedWithItsReason) {
    ScratchFile file;
    { std::ofstream(file.path()) << "x"; }
    const int readOnly = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    const std::vector<double> values(100000, 1.5);
    for (const bool binary : {false, true}) {
        errno = 0;
        EXPECT_EQ(writeValues(readOnly, values.data(), values.size(), binary), 0u);
        EXPECT_EQ(errno, EBADF);
    }
    ::close(readOnly);
}

}  // namespace
}  // namespace huxrun
