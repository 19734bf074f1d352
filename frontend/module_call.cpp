// Calling a module and turning whatever comes back into a result or a
// single error line.
#include "module_call.hpp"

#include "vorn/error_api.hpp"
#include "vornhost/error_log.hpp"

#include <algorithm>
#include <exception>
#include <new>

namespace huxrun {
namespace {

// Messages go on one line whatever the host's catalog holds.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string errorLine(const std::string& message, const std::string& identifier) {
    if (identifier.empty()) return oneLine("Error: " + message);
    return oneLine("Error: " + message + " (" + identifier + ")");
}

// What the call left in the output slots becomes the host's again.
std::vector<vornhost::ArrayPtr> adoptAll(std::vector<vornArray*>& slots) {
    std::vector<vornhost::ArrayPtr> owned;
    for (vornArray*& slot : slots) {
        owned.push_back(vornhost::adopt(slot));
        slot = nullptr;
    }
    return owned;
}

}  // namespace

CallOutcome callModule(HuxFunction entry, int outputCount,
                       const std::vector<const vornArray*>& inputs) {
    std::vector<vornArray*> slots(static_cast<std::size_t>(std::max(outputCount, 1)), nullptr);
    vornhost::takeReportedErrors();  // start from an empty record

    std::string thrown;
    try {
        entry(outputCount, slots.data(), static_cast<int>(inputs.size()),
              const_cast<const vornArray**>(inputs.data()));
    } catch (const fl::except::IMsgIDException& e) {
        thrown = errorLine(e.what(), e.error_id());
    } catch (const std::bad_alloc&) {
        thrown = errorLine("out of memory in the module (std::bad_alloc)", "");
    } catch (const std::exception& e) {
        thrown = errorLine(std::string("the module failed: ") + e.what(), "");
    } catch (...) {
        thrown = errorLine("the module failed with an exception of unknown type", "");
    }
    std::vector<vornhost::ArrayPtr> outputs = adoptAll(slots);
    const std::vector<vornhost::HostError> recorded = vornhost::takeReportedErrors();

    CallOutcome outcome;
    if (!recorded.empty()) {
        outcome.error = errorLine(recorded.front().message, recorded.front().identifier);
    } else if (!thrown.empty()) {
        outcome.error = thrown;
    } else if (!outputs.front()) {
        outcome.error =
            errorLine("the module returned no result (first output slot left empty)", "");
    } else {
        outcome.result = std::move(outputs.front());
    }
    return outcome;
}

}  // namespace huxrun
