// The stand-in host's side of its error library: what do_legacy_vorn_error
// recorded, and the texts of the catalogs the host knows.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vornhost {

struct HostError {
    std::string identifier;  // "catalog:key"
    std::string message;     // text from the host's catalog
};

// Every error reported through do_legacy_vorn_error on this thread since the
// last call, oldest first; the record is emptied.
std::vector<HostError> takeReportedErrors();

// The catalog text for "catalog:key", or nothing when the host has none.
std::optional<std::string> catalogText(const std::string& identifier);

}  // namespace vornhost
