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

constexpr OptionSetter kLibcurl{setNumber, setSize, setText};

// The URL's scheme as libcurl itself parses it (unknown schemes included),
// or "" when the URL cannot be parsed.
std::string schemeOf(const std::string& url) {
    CURLU* parsed = curl_url();
    if (parsed == nullptr) return "";
    std::string scheme;
    char* part = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        scheme = part;
    }
    curl_free(part);
    curl_url_cleanup(parsed);
    return scheme;
}

}  // namespace

const OptionSetter& libcurlOptions() { return kLibcurl; }

const char* redirectProtocolsFor(const std::string& url) {
    if (strcasecmp(schemeOf(url).c_str(), "https") == 0) return "https";
    return kTransferProtocols;
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
    CURLcode code = set.size(handle, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(limits.maxArchiveBytes));
    if (code != CURLE_OK) return code;
    code = set.text(handle, CURLOPT_PROTOCOLS_STR, kTransferProtocols);
    if (code != CURLE_OK) return code;
    return set.text(handle, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocolsFor(url));
}

}  // namespace setup
