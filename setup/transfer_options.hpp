// The libcurl options that bound an agent transfer (time-outs, redirects,
// size, protocols), set through one replaceable setter so that a test can see
// exactly what a transfer is given.
#pragma once

#include <string>

#include <curl/curl.h>

#include "network_limits.hpp"

namespace setup {

// Sets options on a handle; the default forwards to curl_easy_setopt.
struct OptionSetter {
    CURLcode (*number)(CURL* handle, CURLoption option, long value);
    CURLcode (*size)(CURL* handle, CURLoption option, curl_off_t value);
    CURLcode (*text)(CURL* handle, CURLoption option, const char* value);
};

const OptionSetter& libcurlOptions();

// Protocols a transfer may use at all.
inline constexpr char kTransferProtocols[] = "http,https";

// Protocols a redirect may lead to: only https when url starts on https
// (the scheme compared ignoring case), http and https otherwise.
const char* redirectProtocolsFor(const std::string& url);

// Whether a transfer follows redirects (within the protocol rules) or takes
// a redirect as its answer.
enum class Redirects { follow, refuse };

// Redirect handling, the limits and the protocol rules for a transfer of
// url; returns the first failing option's code, or CURLE_OK.
CURLcode applyTransferPolicy(CURL* handle, const std::string& url, const NetworkLimits& limits,
                             const OptionSetter& set, Redirects redirects = Redirects::follow);

}  // namespace setup
