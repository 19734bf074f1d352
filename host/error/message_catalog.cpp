// The texts of the catalogs the host knows, and the generic text for any
// other identifier.
#include "message_catalog.hpp"

#include "vornhost/error_log.hpp"

#include <map>
#include <mutex>
#include <unordered_map>

namespace vornhost {
namespace {

const std::map<std::string, std::string>& knownTexts() {
    static const std::map<std::string, std::string> texts = {
        {"qualbox:pdisthux:MixedInputTypes",
         "The third argument must be of the same class as the data matrix."},
        {"qualbox:pdisthux:TooFewInputs",
         "At least two inputs are required: the data matrix and the metric code."},
        {"qualbox:pdisthux:TooManyOutputs", "Only one output can be returned."},
        {"qualbox:pdisthux:OutputTooLarge",
         "There are too many pairs of observations for the result to be created."},
        {"qualbox:pdisthux:BadInputType", "The data matrix must be a sparse double array."},
        {"qualbox:pdisthux:MissingParameter",
         "This metric needs a third argument holding its weights or matrix."},
        {"qualbox:pdisthux:BadParameterSize",
         "The third argument has fewer elements than the metric needs."},
        {"qualbox:pdisthux:UnknownMetric", "The metric code is not recognised."},
    };
    return texts;
}

}  // namespace

std::optional<std::string> catalogText(const std::string& identifier) {
    const auto& texts = knownTexts();
    const auto it = texts.find(identifier);
    if (it == texts.end()) return std::nullopt;
    return it->second;
}

namespace detail {

const char* messageFor(const std::string& identifier) {
    const auto& texts = knownTexts();
    const auto it = texts.find(identifier);
    if (it != texts.end()) return it->second.c_str();

    // Generic texts are made once per identifier and kept; map nodes never
    // move, so the returned pointers stay valid.
    static std::mutex lock;
    static std::unordered_map<std::string, std::string> generic;
    const std::lock_guard<std::mutex> guard(lock);
    auto [slot, added] = generic.try_emplace(identifier);
    if (added)
        slot->second = "An error occurred for which the host has no message text (identifier \"" +
                       identifier + "\").";
    return slot->second.c_str();
}

}  // namespace detail
}  // namespace vornhost
