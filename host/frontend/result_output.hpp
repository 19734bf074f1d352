// Writing a result: the values as text or raw little-endian doubles, to
// standard output or to a file that is replaced only once complete.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace huxrun {

// One "%.17g" value per line, or 8 little-endian bytes per value.
std::string formatValues(const double* values, std::size_t count, bool binary);

// Writes `bytes` to standard output when `path` is empty, else to a temporary
// file beside `path` that is then renamed over it; the temporary is removed
// on failure. Returns an error text, or nothing on success.
std::optional<std::string> writeOutput(const std::optional<std::string>& path,
                                       const std::string& bytes);

}  // namespace huxrun
