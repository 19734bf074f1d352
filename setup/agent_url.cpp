#include "agent_url.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "constants.hpp"

namespace setup {
namespace {

// Far longer than any URL a server accepts; a larger file is no URL.
constexpr std::size_t kLongestUrl = 8192;

// http:// or https://, in any case, with something after it.
bool hasWebScheme(const std::string& url) {
    for (const char* scheme : {"http://", "https://"}) {
        const std::size_t length = std::strlen(scheme);
        if (url.size() > length && strncasecmp(url.c_str(), scheme, length) == 0) return true;
    }
    return false;
}

}  // namespace

bool readPackedAgentUrl(const std::string& path, std::string& url) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) return false;
    char buffer[kLongestUrl + 2];
    const std::size_t length = std::fread(buffer, 1, sizeof buffer, file);
    const bool readWhole = std::ferror(file) == 0 && std::feof(file) != 0;
    std::fclose(file);
    if (!readWhole) return false;
    std::string line(buffer, length);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    for (const unsigned char c : line) {
        if (c <= ' ' || c > '~') return false;
    }
    if (!hasWebScheme(line)) return false;
    url = line;
    return true;
}

std::string chooseAgentUrl(const std::string& packedUrl) {
    const char* override = std::getenv("ZQ_INTERNAL_INSTALL_AGENT_URL");
    if (override != nullptr) return override;
    return packedUrl.empty() ? kDefaultAgentUrl : packedUrl;
}

}  // namespace setup
