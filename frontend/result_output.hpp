// Writing a result: the values as text or raw little-endian doubles, streamed
// in blocks to standard output or to the destination --out names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace huxrun {

// Writes `count` values to `fd`: one "%.17g" line each, or 8 little-endian
// bytes each. Besides the values it uses a few MB at most, whatever the
// count. Returns false, with errno set, when a write fails.
bool writeValues(int fd, const double* values, std::size_t count, bool binary);

// Writes the values to standard output when `path` is empty, else to the
// destination it names (see output_file.hpp). Returns a one-line error text,
// or nothing on success.
std::optional<std::string> writeResult(const std::optional<std::string>& path, const double* values,
                                       std::size_t count, bool binary);

}  // namespace huxrun
