// hux-run's input files as bytes: a file or standard input, read whole, and
// inflated when it holds gzip data, as Matrix Market files are often shipped.
#pragma once

#include <string>

namespace huxrun {

// The name "-" stands for standard input.
constexpr const char* kStandardInputName = "-";

// How messages name the input: "standard input" for "-", else the path.
std::string inputName(const std::string& path);

// All bytes of `path` (or of standard input), inflated when they start with
// the gzip magic bytes (concatenated gzip members included). Throws
// std::runtime_error with a one-line reason ("cannot open: ...", "cannot
// read: ...", "not valid gzip data: ...") that does not repeat the name.
std::string readInputBytes(const std::string& path);

}  // namespace huxrun
