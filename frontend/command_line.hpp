// hux-run's command line: the options and positional arguments it takes, the
// parser that checks them, and the help text.
#pragma once

#include "vorn/array_api.hpp"
#include "column_prepare.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace huxrun {

// --rows: rows A to B of the condensed result (counted from 1, both
// included), or part K of P parts of nearly equal pair counts.
struct RowSelection {
    std::string text;  // as given, for messages
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t part = 0;
    std::uint64_t parts = 0;  // 0: the A:B form
};

struct RunOptions {
    bool help = false;
    std::optional<std::string> modulePath;  // none: the module built beside hux-run
    std::optional<std::string> matrixPath;  // "-": standard input
    std::optional<std::string> code;
    std::optional<std::string> param;    // a number, or a Matrix Market file
    std::optional<std::string> outPath;  // none: standard output
    bool binary = false;
    bool dense = false;
    bool prepare = false;  // asked for explicitly; cos, cor and spe prepare anyway
    bool raw = false;      // the columns as they are, never prepared
    std::optional<int> threads;
    int nargout = 1;
    vornClassID paramClass = vornClassDouble;
    // Runs through the module's pair-block entry, block by block.
    bool stream = false;
    std::optional<RowSelection> rows;
    std::optional<std::uint64_t> nearest;    // K
    std::optional<std::string> labelsPath;  // "-": standard input

    bool byBlocks() const { return stream || rows || nearest; }
};

struct UsageError {
    std::string message;
};

// Parses the arguments after the program name. Options may stand anywhere,
// as "--name value" or "--name=value"; "--" ends the options. A first
// argument whose name ends in ".so" is the module, as --module names it.
std::variant<RunOptions, UsageError> parseCommandLine(const std::vector<std::string>& args);

// The preparation MATRIX gets: the one its code needs (cos, cor, spe), unless
// --raw hands the columns over as they are.
std::optional<Preparation> preparationOf(const RunOptions& options);

// A whole-string decimal number (a leading '+' allowed, "inf" and "nan" too).
std::optional<double> parseNumber(std::string_view text);

// A whole-string count: decimal digits only.
std::optional<std::uint64_t> parseCount(std::string_view text);

std::string usageText();

// One line per metric code the module knows, from the module's public table.
std::string metricCodesText();

// Whether `text` selects one of the module's codes as the module reads it:
// its first three characters, then the end of the code.
bool selectsMetric(std::string_view text);

}  // namespace huxrun
