// --labels: the names --nearest prints instead of column numbers, one line
// of a file per column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace huxrun {

// The labels in `path` ("-": standard input; gzip is inflated), one per line
// ("\n" or "\r\n"), exactly `columns` of them. Throws std::runtime_error with
// one line naming the file: unreadable, another count of lines, an empty
// label, or one holding a tab (which would split the output's fields).
std::vector<std::string> readLabels(const std::string& path, std::uint64_t columns);

}  // namespace huxrun
