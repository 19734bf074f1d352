// Writing a result: the values as text or raw little-endian doubles, streamed
// in blocks to standard output or to the destination --out names.
#pragma once

#include "output_file.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace huxrun {

// Writes `count` values to `fd`: one "%.17g" line each, or 8 little-endian
// bytes each. Besides the values it uses a few MB at most, whatever the
// count. Returns how many values were written whole: `count`, or fewer with
// errno set when a write failed.
std::size_t writeValues(int fd, const double* values, std::size_t count, bool binary);

// Where a result goes, written in parts: standard output, or the destination
// a path names (see output_file.hpp), which a file only becomes once
// finish() succeeds. Counts what was written, so that a failure says how far
// it got ("stopped after 8,388,608 of 44,999,850,000 distances").
class ResultSink {
public:
    // No path: standard output. `total` is the whole result's count of
    // `unit` ("distances", "columns"). Throws std::runtime_error with one
    // line when the destination cannot be opened.
    ResultSink(const std::optional<std::string>& path, std::uint64_t total, std::string unit);

    // Each returns a one-line error text, or nothing on success.
    std::optional<std::string> writeValues(const double* values, std::size_t count, bool binary);
    // Text that completes `units` of the total.
    std::optional<std::string> writeText(std::string_view text, std::uint64_t units);
    // Puts a file in place (see OutputFile::commit).
    std::optional<std::string> finish();

private:
    int descriptor() const;
    std::string failure(int error) const;

    std::optional<OutputFile> file_;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
    std::string unit_;
};

// Writes the values to standard output when `path` is empty, else to the
// destination it names. Returns a one-line error text, or nothing on success.
std::optional<std::string> writeResult(const std::optional<std::string>& path, const double* values,
                                       std::size_t count, bool binary);

}  // namespace huxrun
