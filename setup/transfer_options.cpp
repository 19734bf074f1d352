#include "transfer_options.hpp"

#include <strings.h>

namespace setup {
namespace {

CURLcode setNumber(CURL* handle, CURLoption option, long value) {
    return curl_easy_setopt(handle, option, value);
}

CURLcode setSize(CURL* handle, CURLoption option, curl_off_t value) {
    return curl_easy_setopt(handle, option, value);
}

CURLcode setText(CURL* handle, CURLoption option, const char* value) {
    return curl_easy_setopt(handle, option, value);
}

// libcurl takes a URL's scheme from what precedes its first colon, and
// guesses one only for a URL without any, never https; so a transfer
// starts on https exactly when its URL starts with "https:".
bool startsOnHttps(const std::string& url) { return strncasecmp(url.c_str(), "https:", 6) == 0; }

// CURLOPT_PROTOCOLS_STR and CURLOPT_REDIR_PROTOCOLS_STR by number: option
// numbers are part of libcurl's ABI, and headers older than 7.85, which a
// stub built on an older distribution compiles against, lack the names.
constexpr auto kProtocolsByName = static_cast<CURLoption>(CURLOPTTYPE_OBJECTPOINT + 318);
constexpr auto kRedirectProtocolsByName = static_cast<CURLoption>(CURLOPTTYPE_OBJECTPOINT + 319);

// Before 7.85 the protocol options take bits; those options are deprecated
// since, but are all an older libcurl knows.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
CURLcode setProtocols(CURL* handle, const Protocols& redirect, const OptionSetter& set) {
    if (set.libcurlVersion >= kProtocolNamesLibcurl) {
        const CURLcode code = set.text(handle, kProtocolsByName, kTransferProtocols.names);
        if (code != CURLE_OK) return code;
        return set.text(handle, kRedirectProtocolsByName, redirect.names);
    }
    const CURLcode code = set.number(handle, CURLOPT_PROTOCOLS, kTransferProtocols.bits);
    if (code != CURLE_OK) return code;
    return set.number(handle, CURLOPT_REDIR_PROTOCOLS, redirect.bits);
}
#pragma GCC diagnostic pop

}  // namespace

const OptionSetter& libcurlOptions() {
    static const OptionSetter options{setNumber, setSize, setText,
                                      curl_version_info(CURLVERSION_NOW)->version_num};
    return options;
}

std::string libcurlVersionText(unsigned version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
}

const Protocols& redirectProtocolsFor(const std::string& url) {
    return startsOnHttps(url) ? kSecureProtocols : kTransferProtocols;
}

CURLcode applyTransferPolicy(CURL* handle, const std::string& url, const NetworkLimits& limits,
                             const OptionSetter& set, Redirects redirects) {
    const struct {
        CURLoption option;
        long value;
    } numbers[] = {
        {CURLOPT_FOLLOWLOCATION, redirects == Redirects::follow ? 1L : 0L},
        {CURLOPT_MAXREDIRS, limits.maxRedirects},
        {CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds},
        {CURLOPT_LOW_SPEED_LIMIT, 1L},
        {CURLOPT_LOW_SPEED_TIME, limits.lowSpeedTimeSeconds},
    };
    for (const auto& entry : numbers) {
        const CURLcode code = set.number(handle, entry.option, entry.value);
        if (code != CURLE_OK) return code;
    }
    const CURLcode code = set.size(handle, CURLOPT_MAXFILESIZE_LARGE,
                                   static_cast<curl_off_t>(limits.maxArchiveBytes));
    if (code != CURLE_OK) return code;
    return setProtocols(handle, redirectProtocolsFor(url), set);
}

}  // namespace setup
