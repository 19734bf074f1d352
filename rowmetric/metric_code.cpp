#include "metric_code.hpp"

#include <cstring>

namespace rowmetric {
namespace {

struct CodeEntry {
    char bytes[4];
    Metric metric;
};

constexpr CodeEntry kCodes[] = {
    {"euc", Metric::euc}, {"sqe", Metric::sqe}, {"seu", Metric::seu}, {"cit", Metric::cit},
    {"min", Metric::min}, {"cos", Metric::cos}, {"cor", Metric::cor}, {"spe", Metric::spe},
    {"ham", Metric::ham}, {"jac", Metric::jac}, {"che", Metric::che}, {"mah", Metric::mah},
};

}  // namespace

Metric matchMetric(const CodeBuffer& code) {
    for (const CodeEntry& entry : kCodes) {
        if (std::memcmp(code.data(), entry.bytes, sizeof entry.bytes) == 0) {
            return entry.metric;
        }
    }
    return Metric::unknown;
}

}  // namespace rowmetric
