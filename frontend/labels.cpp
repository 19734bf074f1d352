// Reading --labels with the input files' own reader, line by line.
#include "labels.hpp"

#include "input_bytes.hpp"

#include <stdexcept>
#include <string_view>

namespace huxrun {

std::vector<std::string> readLabels(const std::string& path, std::uint64_t columns) {
    const std::string name = inputName(path);
    std::string bytes;
    try {
        bytes = readInputBytes(path);
    } catch (const std::exception& e) {
        throw std::runtime_error(name + ": " + e.what());
    }
    std::vector<std::string> labels;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const char* problem = line.empty() ? "an empty label"
                              : line.find('\t') != std::string_view::npos
                                  ? "a label holds a tab, which separates the output's fields"
                                  : nullptr;
        if (problem)
            throw std::runtime_error(name + ":" + std::to_string(labels.size() + 1) + ": " + problem);
        labels.emplace_back(line);
    }
    if (labels.size() != columns) {
        throw std::runtime_error(name + ": " + std::to_string(labels.size()) + " labels for " +
                                 std::to_string(columns) + " columns (one per line)");
    }
    return labels;
}

}  // namespace huxrun
