// hux-run's command line: the options and positional arguments it takes, the
// parser that checks them, and the help text.
#pragma once

#include "vorn/array_api.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace huxrun {

struct RunOptions {
    bool help = false;
    std::string modulePath;
    std::optional<std::string> matrixPath;
    std::optional<std::string> code;
    std::optional<std::string> param;  // a number, or a Matrix Market file
    std::optional<std::string> outPath;
    bool binary = false;
    bool dense = false;
    bool prepare = false;
    std::optional<int> threads;
    int nargout = 1;
    vornClassID paramClass = vornClassDouble;
};

struct UsageError {
    std::string message;
};

// Parses the arguments after the program name. Options may stand anywhere
// after MODULE, as "--name value" or "--name=value"; "--" ends the options.
std::variant<RunOptions, UsageError> parseCommandLine(const std::vector<std::string>& args);

// A whole-string decimal number (a leading '+' allowed, "inf" and "nan" too).
std::optional<double> parseNumber(std::string_view text);

std::string usageText();

// One line per metric code the module knows, from the module's own table.
std::string metricCodesText();

}  // namespace huxrun
