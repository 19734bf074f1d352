// The libcurl options that bound an agent transfer (time-outs, redirects,
// size, protocols), set through one replaceable setter so that a test can see
// exactly what a transfer is given, and the libcurl releases they need.
#pragma once

#include <string>

#include <curl/curl.h>

#include "network_limits.hpp"

namespace setup {

// Sets options on a handle and names the libcurl release that takes them
// (curl_version_info's version_num, 0xXXYYZZ); the default forwards to
// curl_easy_setopt of the libcurl the process runs with.
struct OptionSetter {
    CURLcode (*number)(CURL* handle, CURLoption option, long value);
    CURLcode (*size)(CURL* handle, CURLoption option, curl_off_t value);
    CURLcode (*text)(CURL* handle, CURLoption option, const char* value);
    unsigned libcurlVersion;
};

// Asks curl_version_info once, on first use.
const OptionSetter& libcurlOptions();

// The oldest libcurl every function and option of the transfers exists in.
inline constexpr unsigned kOldestLibcurl = 0x073D00;  // 7.61.0
// The first libcurl that takes the protocol options as names; older ones
// take them as bits.
inline constexpr unsigned kProtocolNamesLibcurl = 0x075500;  // 7.85.0

// "7.61.0" for 0x073D00.
std::string libcurlVersionText(unsigned version);

// A set of protocols in both of libcurl's spellings.
struct Protocols {
    const char* names;  // for CURLOPT_PROTOCOLS_STR, CURLOPT_REDIR_PROTOCOLS_STR
    long bits;          // for CURLOPT_PROTOCOLS, CURLOPT_REDIR_PROTOCOLS
};

// Protocols a transfer may use at all.
inline constexpr Protocols kTransferProtocols{"http,https", CURLPROTO_HTTP | CURLPROTO_HTTPS};
// Protocols a redirect may lead to after an https start: no step down.
inline constexpr Protocols kSecureProtocols{"https", CURLPROTO_HTTPS};

// Protocols a redirect may lead to: kSecureProtocols when url starts on
// https (the scheme compared ignoring case), kTransferProtocols otherwise.
const Protocols& redirectProtocolsFor(const std::string& url);

// Whether a transfer follows redirects (within the protocol rules) or takes
// a redirect as its answer.
enum class Redirects { follow, refuse };

// Redirect handling, the limits and the protocol rules for a transfer of
// url; returns the first failing option's code, or CURLE_OK.
CURLcode applyTransferPolicy(CURL* handle, const std::string& url, const NetworkLimits& limits,
                             const OptionSetter& set, Redirects redirects = Redirects::follow);

}  // namespace setup
