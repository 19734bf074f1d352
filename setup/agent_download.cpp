#include "agent_download.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "agent_cache.hpp"
#include "constants.hpp"
#include "download_progress.hpp"
#include "file_utils.hpp"
#include "network_limits.hpp"
#include "validator.hpp"

namespace setup {
namespace {

constexpr char kCheckSettings[] =
    ". Check your internet connectivity, proxy server, firewall, and virus scanner settings and "
    "rerun the installer.";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct HandleCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
using HandlePtr = std::unique_ptr<CURL, HandleCleanup>;

std::string cacheFileMessage(int error) {
    return std::string("Internal Error: Failed to create local download cache - ") +
           std::strerror(error) + ".\n\nPlease rerun the installer.";
}

std::string setupMessage(CURLcode code) {
    return std::string("Error: Failed to initialize the installer - ") + curl_easy_strerror(code) +
           "\n\n" + kCheckSettings;
}

std::string processMessage(const std::string& reason) {
    return "Internal Error: Failed to initialize the download process - " + reason;
}

std::string transferMessage(CURLcode code) {
    return std::string("Error: Download process failed - ") + curl_easy_strerror(code) + "\n\n" +
           kCheckSettings;
}

std::string notFoundMessage() {
    return std::string("Could not reach the download server") + kCheckSettings;
}

std::string staleAgentMessage(const std::string& directory) {
    return "The outdated install agent in " + directory +
           " could not be removed; remove it and rerun the installer.";
}

std::string httpCodeMessage(long code) {
    return "Error: Download process failed. Received an HTTP code: " + std::to_string(code) +
           kCheckSettings;
}

int onTransferInfo(void* data, curl_off_t downloadTotal, curl_off_t downloadNow,
                   curl_off_t /*uploadTotal*/, curl_off_t /*uploadNow*/) {
    static_cast<DownloadProgress*>(data)->update(downloadNow, downloadTotal);
    return 0;
}

// Connection, stall and redirect limits; the first failing option's code,
// or CURLE_OK.
CURLcode applyTransferLimits(CURL* handle) {
    const NetworkLimits limits = networkLimits();
    CURLcode code = curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    if (code != CURLE_OK) return code;
    code = curl_easy_setopt(handle, CURLOPT_MAXREDIRS, limits.maxRedirects);
    if (code != CURLE_OK) return code;
    code = curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    if (code != CURLE_OK) return code;
    code = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    if (code != CURLE_OK) return code;
    return curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedTimeSeconds);
}

void showProgress(CURL* handle, DownloadProgress& progress) {
    if (!progress.enabled()) return;
    // Progress is cosmetic: a failure to set it up leaves the download as is.
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

}  // namespace

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

bool downloadAgentArchive(const std::string& destination, ReportFn report) {
    const char* override = std::getenv("ZQ_INTERNAL_INSTALL_AGENT_URL");
    const std::string url = override != nullptr ? override : kDefaultAgentUrl;
    return fetchAgentArchive(url, destination, report);
}

bool fetchAgentArchive(const std::string& url, const std::string& destination, ReportFn report,
                       EasyHandleFactory makeHandle) {
    FilePtr file(std::fopen(destination.c_str(), "wb"));
    if (!file) {
        report(cacheFileMessage(errno), true);
        return false;
    }
    HandlePtr handle(makeHandle());
    if (!handle) {
        report(processMessage("could not create a download handle"), true);
        return false;
    }
    CURL* curl = handle.get();
    CURLcode code = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (code != CURLE_OK) {
        report(setupMessage(code), true);
        return false;
    }
    code = applyTransferLimits(curl);
    if (code != CURLE_OK) {
        report(processMessage(curl_easy_strerror(code)), true);
        return false;
    }

    std::string validator;
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, captureValidator);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &validator);
    code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        report(transferMessage(code), true);
        return false;
    }
    long responseCode = 0;
    code = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &responseCode);
    if (code != CURLE_OK) {
        report(transferMessage(code), true);
        return false;
    }
    if (responseCode == 404) {
        report(notFoundMessage(), true);
        return false;
    }
    if (responseCode >= 400) {
        report(httpCodeMessage(responseCode), true);
        return false;
    }

    const std::string base = userBaseDirectory();
    if (!cachedAgentDirectory().empty() && validatorMatches(base, validator)) return true;
    removeIfExists(base + kAgentDirName);
    // An outdated agent that survived its removal would still hold a launcher
    // and so pass for the fresh download afterwards; stop rather than run it.
    if (pathExists(base + kAgentDirName)) {
        report(staleAgentMessage(base + kAgentDirName), true);
        return false;
    }

    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);
    code = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    if (code != CURLE_OK) {
        report(setupMessage(code), true);
        return false;
    }
    code = curl_easy_setopt(curl, CURLOPT_WRITEDATA, file.get());
    if (code != CURLE_OK) {
        report(setupMessage(code), true);
        return false;
    }
    DownloadProgress progress(STDERR_FILENO);
    showProgress(curl, progress);
    code = curl_easy_perform(curl);
    progress.finish();
    if (code != CURLE_OK) {
        report(transferMessage(code), true);
        return false;
    }
    handle.reset();
    storeValidator(base, validator);
    return true;
}

}  // namespace setup
