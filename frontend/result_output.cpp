// Streaming a result: binary straight from the values on a little-endian
// machine, text formatted block by block on TBB's threads and written in
// order, with a fixed number of block buffers in flight.
#include "result_output.hpp"

#include "result_budget.hpp"
#include "value_text.hpp"

#include <tbb/parallel_pipeline.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

namespace huxrun {
namespace {

constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Values per block: 32768 lines are at most 800 KB of text.
constexpr std::size_t kBlockValues = std::size_t{1} << 15;
// Blocks being formatted or written at once: four buffers, 3.2 MB in all,
// keep two threads formatting while a third block is written.
constexpr std::size_t kBlocksInFlight = 4;

// Returns the bytes written: all of them, or fewer with errno set.
std::size_t writeAll(int fd, const char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;  // a write that takes nothing and names no error
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool writeWhole(int fd, const char* bytes, std::size_t size) {
    return writeAll(fd, bytes, size) == size;
}

std::size_t blockCount(std::size_t count) { return (count + kBlockValues - 1) / kBlockValues; }

// Formats block `k` of the values into `buffer`; returns its length.
std::size_t formatBlock(const double* values, std::size_t count, std::size_t k, char* buffer) {
    const double* first = values + k * kBlockValues;
    const double* last = values + std::min(count, (k + 1) * kBlockValues);
    char* end = buffer;
    for (const double* v = first; v != last; ++v) end = writeValueLine(end, *v);
    return static_cast<std::size_t>(end - buffer);
}

// Block k goes through buffer k % kBlocksInFlight: the pipeline holds at most
// kBlocksInFlight blocks and lets them leave in order, so block k enters only
// once block k - kBlocksInFlight has been written. Returns the values of the
// blocks written whole.
std::size_t writeText(int fd, const double* values, std::size_t count) {
    const std::size_t bufferSize = std::min(count, kBlockValues) * kMaxValueLineLength;
    const std::unique_ptr<char[]> buffers(new char[kBlocksInFlight * bufferSize]);
    auto bufferOf = [&](std::size_t k) {
        return buffers.get() + (k % kBlocksInFlight) * bufferSize;
    };
    struct Block {
        std::size_t index = 0;
        std::size_t length = 0;
    };
    const std::size_t blocks = blockCount(count);
    std::size_t next = 0;
    std::size_t written = 0;
    std::atomic<bool> failed{false};
    int writeError = 0;
    tbb::parallel_pipeline(
        kBlocksInFlight,
        tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                            [&](tbb::flow_control& control) -> std::size_t {
                                                if (next == blocks || failed) {
                                                    control.stop();
                                                    return 0;
                                                }
                                                return next++;
                                            }) &
            tbb::make_filter<std::size_t, Block>(
                tbb::filter_mode::parallel,
                [&](std::size_t k) {
                    return Block{k, formatBlock(values, count, k, bufferOf(k))};
                }) &
            tbb::make_filter<Block, void>(tbb::filter_mode::serial_in_order, [&](Block block) {
                if (failed) return;
                if (writeWhole(fd, bufferOf(block.index), block.length)) {
                    written = std::min(count, (block.index + 1) * kBlockValues);
                    return;
                }
                writeError = errno;
                failed = true;
            }));
    errno = writeError;
    return written;
}

std::size_t writeBinary(int fd, const double* values, std::size_t count) {
    if constexpr (kLittleEndian) {
        return writeAll(fd, reinterpret_cast<const char*>(values), count * sizeof(double)) /
               sizeof(double);
    }
    std::vector<char> buffer(kBlockValues * sizeof(double));
    for (std::size_t k = 0; k < blockCount(count); ++k) {
        const std::size_t first = k * kBlockValues;
        const std::size_t n = std::min(count - first, kBlockValues);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &values[first + i], sizeof bits);
            for (std::size_t b = 0; b < sizeof bits; ++b)
                buffer[i * sizeof bits + b] = static_cast<char>((bits >> (8 * b)) & 0xff);
        }
        const std::size_t bytes = writeAll(fd, buffer.data(), n * sizeof(double));
        if (bytes < n * sizeof(double)) return first + bytes / sizeof(double);
    }
    return count;
}

}  // namespace

std::size_t writeValues(int fd, const double* values, std::size_t count, bool binary) {
    return binary ? writeBinary(fd, values, count) : writeText(fd, values, count);
}

ResultSink::ResultSink(const std::optional<std::string>& path, std::uint64_t total,
                       std::string unit)
    : total_(total), unit_(std::move(unit)) {
    if (path) file_.emplace(*path);
}

int ResultSink::descriptor() const { return file_ ? file_->descriptor() : STDOUT_FILENO; }

std::string ResultSink::failure(int error) const {
    const std::string progress = "stopped after " + groupedDigits(done_) + " of " +
                                 groupedDigits(total_) + " " + unit_;
    if (!file_) {
        return std::string("cannot write the result to standard output: ") + std::strerror(error) + " (" +
               progress + ")";
    }
    const std::string kept = file_->replacesTarget() ? "; " + file_->shownName() +
                                                           " was left as it was"
                                                     : "";
    return file_->shownName() + ": cannot write the result: " + std::strerror(error) + " (" +
           progress + kept + ")";
}

std::optional<std::string> ResultSink::writeValues(const double* values, std::size_t count,
                                                   bool binary) {
    const std::size_t written = huxrun::writeValues(descriptor(), values, count, binary);
    done_ += written;
    if (written == count) return std::nullopt;
    return failure(errno);
}

std::optional<std::string> ResultSink::writeText(std::string_view text, std::uint64_t units) {
    if (!writeWhole(descriptor(), text.data(), text.size())) return failure(errno);
    done_ += units;
    return std::nullopt;
}

std::optional<std::string> ResultSink::finish() {
    if (!file_) return std::nullopt;
    try {
        file_->commit();
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

std::optional<std::string> writeResult(const std::optional<std::string>& path, const double* values,
                                       std::size_t count, bool binary) {
    try {
        ResultSink sink(path, count, "distances");
        if (auto error = sink.writeValues(values, count, binary)) return error;
        return sink.finish();
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
}

}  // namespace huxrun
