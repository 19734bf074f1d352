// The host's error conversion: it records each reported error for the host
// on the reporting thread and returns, so that the module throws its own
// typed exception.
#include "vornhost/error_log.hpp"
#include "vorn/error_api.hpp"

namespace vornhost {
namespace {

std::vector<HostError>& reported() {
    thread_local std::vector<HostError> errors;
    return errors;
}

}  // namespace

std::vector<HostError> takeReportedErrors() {
    std::vector<HostError> taken;
    taken.swap(reported());
    return taken;
}

}  // namespace vornhost

namespace matrix::detail {

void do_legacy_vorn_error(const fl::except::IUserException& error) {
    const auto* withId = dynamic_cast<const fl::except::IMsgIDException*>(&error);
    std::string identifier = withId != nullptr ? withId->error_id() : std::string();
    vornhost::reported().push_back({std::move(identifier), error.what()});
}

}  // namespace matrix::detail
