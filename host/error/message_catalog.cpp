// The texts of the catalogs the host knows, the details that messages with
// arguments add to them, and the generic text for any other identifier.
#include "message_catalog.hpp"

#include "utf16.hpp"
#include "vornhost/error_log.hpp"

#include <map>
#include <mutex>
#include <unordered_set>

namespace vornhost {
namespace {

// A message: its sentence, and the detail that follows it when the message
// identifier carries arguments ("{0}" is the first argument, and so on).
struct CatalogEntry {
    std::string text;
    std::string detail;
};

const std::map<std::string, CatalogEntry>& knownTexts() {
    static const std::map<std::string, CatalogEntry> texts = {
        {"qualbox:pdisthux:MixedInputTypes",
         {"The third argument must be of the same class as the data matrix.", ""}},
        {"qualbox:pdisthux:TooFewInputs",
         {"At least two inputs are required: the data matrix and the metric code.", ""}},
        {"qualbox:pdisthux:TooManyOutputs", {"Only one output can be returned.", ""}},
        {"qualbox:pdisthux:OutputTooLarge",
         {"There are too many pairs of observations for the result to be created.", ""}},
        {"qualbox:pdisthux:BadInputType", {"The data matrix must be a sparse double array.", ""}},
        {"qualbox:pdisthux:MissingParameter",
         {"This metric needs a third argument: the weights (seu), the factor (mah) or the "
          "exponent (min).",
          ""}},
        {"qualbox:pdisthux:BadParameterSize",
         {"The third argument does not have the size this metric reads.",
          "It must be {0}; it is {1}."}},
        {"qualbox:pdisthux:BadExponent",
         {"The Minkowski exponent must be a finite number above 0.", ""}},
        {"qualbox:pdisthux:UnknownMetric",
         {"The metric code is not recognised.",
          "The codes are {0}; a longer name counts by its first three letters."}},
        {"qualbox:pdisthux:BadRowRange",
         {"The row range must lie within the observations: first <= end <= N.",
          "It is [{0}, {1}) with N = {2}."}},
    };
    return texts;
}

std::string argumentText(const resource_core::BaseMsgID::Argument& argument) {
    if (const auto* number = boost::get<long>(&argument)) return std::to_string(*number);
    if (const auto* narrow = boost::get<std::string>(&argument)) return *narrow;
    return detail::narrowUtf16(boost::get<std::u16string>(argument));
}

// The detail with each "{k}" (one digit) replaced by argument k; a
// placeholder without its argument stays as it is.
std::string filledDetail(const std::string& detail,
                         const std::vector<resource_core::BaseMsgID::Argument>& arguments) {
    std::string text;
    std::size_t i = 0;
    while (i < detail.size()) {
        const bool placeholder = detail[i] == '{' && i + 2 < detail.size() &&
                                 detail[i + 2] == '}' && detail[i + 1] >= '0' &&
                                 detail[i + 1] <= '9';
        const std::size_t k = placeholder ? static_cast<std::size_t>(detail[i + 1] - '0') : 0;
        if (placeholder && k < arguments.size()) {
            text += argumentText(arguments[k]);
            i += 3;
            continue;
        }
        text += detail[i++];
    }
    return text;
}

// Texts handed out as const char* live as long as the process: each distinct
// text is kept once, in nodes that never move.
const char* kept(std::string text) {
    static std::mutex lock;
    static std::unordered_set<std::string> texts;
    const std::lock_guard<std::mutex> guard(lock);
    return texts.insert(std::move(text)).first->c_str();
}

}  // namespace

std::optional<std::string> catalogText(const std::string& identifier) {
    const auto& texts = knownTexts();
    const auto it = texts.find(identifier);
    if (it == texts.end()) return std::nullopt;
    return it->second.text;
}

namespace detail {

const char* messageFor(const std::string& identifier,
                       const std::vector<resource_core::BaseMsgID::Argument>& arguments) {
    const auto& texts = knownTexts();
    const auto it = texts.find(identifier);
    if (it == texts.end()) {
        return kept("An error occurred for which the host has no message text (identifier \"" +
                    identifier + "\").");
    }
    const CatalogEntry& entry = it->second;
    if (arguments.empty() || entry.detail.empty()) return entry.text.c_str();
    return kept(entry.text + " " + filledDetail(entry.detail, arguments));
}

}  // namespace detail
}  // namespace vornhost
