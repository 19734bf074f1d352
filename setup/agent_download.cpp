#include "agent_download.hpp"

#include <cerrno>
#include <csignal>
#include <memory>
#include <unistd.h>

#include "agent_cache.hpp"
#include "agent_signature.hpp"
#include "constants.hpp"
#include "download_progress.hpp"
#include "file_utils.hpp"
#include "interruption.hpp"
#include "messages.hpp"
#include "network_limits.hpp"
#include "validator.hpp"

namespace setup {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct HandleCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
using HandlePtr = std::unique_ptr<CURL, HandleCleanup>;

// While alive, a write past the file size limit fails with EFBIG instead of
// killing the process; the previous disposition comes back afterwards, before
// anything else is started (an ignored signal stays ignored across exec).
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        active_ = sigaction(SIGXFSZ, &ignore, &previous_) == 0;
    }
    ~FileSizeSignalIgnored() {
        if (active_) sigaction(SIGXFSZ, &previous_, nullptr);
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

private:
    struct sigaction previous_ {};
    bool active_ = false;
};

// libcurl calls this at least once a second for as long as a transfer
// lasts, stalls and connection attempts included: the safe point at which an
// interrupted run stops, and the progress line's clock.
int onTransferInfo(void* data, curl_off_t downloadTotal, curl_off_t downloadNow,
                   curl_off_t /*uploadTotal*/, curl_off_t /*uploadNow*/) {
    stopIfInterrupted();
    if (data != nullptr) static_cast<DownloadProgress*>(data)->update(downloadNow, downloadTotal);
    return 0;
}

// Watches a transfer for interruptions and shows its progress when one is
// given. A failure to set this up leaves the transfer as it is: it is then
// interrupted once it ends.
void watchTransfer(CURL* handle, DownloadProgress* progress) {
    if (curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onTransferInfo) != CURLE_OK) return;
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, progress);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

// The sentence for a response code of 400 or above, or "" below that.
std::string responseCodeProblem(long responseCode) {
    if (responseCode == 404) return notFoundMessage();
    if (responseCode >= 400) return httpCodeMessage(responseCode);
    return "";
}

// Reads the last response's code and judges it; "" when the transfer may
// go on, otherwise the sentence to report.
std::string judgeResponse(CURL* curl) {
    long responseCode = 0;
    const CURLcode code = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &responseCode);
    if (code != CURLE_OK) return transferMessage(code);
    return responseCodeProblem(responseCode);
}

// The sentence for a failed body transfer: the archive's own write error and
// the size cap take precedence over libcurl's generic write error.
std::string bodyTransferProblem(CURLcode code, const ArchiveSink& sink) {
    if (sink.writeError != 0) return cacheFileMessage(sink.writeError);
    if (sink.overLimit) return transferMessage(CURLE_FILESIZE_EXCEEDED);
    return transferMessage(code);
}

// Downloads the body into the file and closes it; "" when the whole archive
// is on disk, otherwise the sentence to report. The validator is captured
// again from this response, since it is the one that describes these bytes.
std::string downloadBody(CURL* curl, FilePtr file, long long limit, std::string& validator) {
    ArchiveSink sink;
    sink.file = file.get();
    sink.limit = limit;
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    validator.clear();
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &validator);
    CURLcode code = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    if (code != CURLE_OK) return setupMessage(code);
    code = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (code != CURLE_OK) return setupMessage(code);

    FileSizeSignalIgnored noFileSizeSignal;
    DownloadProgress progress(STDERR_FILENO);
    watchTransfer(curl, progress.enabled() ? &progress : nullptr);
    code = curl_easy_perform(curl);
    progress.finish();
    if (code != CURLE_OK) return bodyTransferProblem(code, sink);
    std::string problem = judgeResponse(curl);
    if (!problem.empty()) return problem;
    // Buffered bytes still have to reach the file: a failure here (disk
    // full, size limit) means the archive on disk is short.
    if (std::fflush(file.get()) != 0 || fsync(fileno(file.get())) != 0) {
        return cacheFileMessage(errno);
    }
    if (std::fclose(file.release()) != 0) return cacheFileMessage(errno);
    return "";
}

// Where a signature goes while it downloads: never more than one
// signature's worth of bytes.
struct SignatureSink {
    std::string bytes;
    bool overLimit = false;
};

std::size_t collectSignature(char* data, std::size_t size, std::size_t count, void* sinkData) {
    auto* sink = static_cast<SignatureSink*>(sinkData);
    const std::size_t bytes = size * count;
    if (bytes > kSignatureBytes - sink->bytes.size()) {
        sink->overLimit = true;
        return 0;
    }
    sink->bytes.append(data, bytes);
    return bytes;
}

// "" when the archive's bytes carry the signature by key, otherwise the
// sentence to report.
std::string signatureProblem(ArchiveSignature verdict, const std::string& signatureUrl) {
    switch (verdict) {
        case ArchiveSignature::Valid:
            return "";
        case ArchiveSignature::Invalid:
            break;
        case ArchiveSignature::Unreadable:
            return cacheFileMessage(errno);
    }
    return signatureMismatchMessage(signatureUrl);
}

}  // namespace

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* sinkData) {
    auto* sink = static_cast<ArchiveSink*>(sinkData);
    const std::size_t bytes = size * count;
    if (static_cast<long long>(bytes) > sink->limit - sink->written) {
        sink->overLimit = true;
        return 0;
    }
    errno = 0;
    const std::size_t written = std::fwrite(data, 1, bytes, sink->file);
    sink->written += static_cast<long long>(written);
    if (written != bytes) {
        sink->writeError = errno != 0 ? errno : EIO;
        return written;
    }
    return bytes;
}

bool fetchSignature(const std::string& url, std::string& signature, ReportFn report,
                    EasyHandleFactory makeHandle, const OptionSetter& options) {
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
    NetworkLimits limits = networkLimits();
    limits.maxArchiveBytes = kSignatureBytes;
    // The signature must be the answer of the URL the release names: it is
    // published right beside the archive, and a redirect for it means the
    // server is not serving what the release engineer put there.
    code = applyTransferPolicy(curl, url, limits, options, Redirects::refuse);
    if (code != CURLE_OK) {
        report(processMessage(curl_easy_strerror(code)), true);
        return false;
    }
    SignatureSink sink;
    code = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectSignature);
    if (code == CURLE_OK) code = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (code != CURLE_OK) {
        report(setupMessage(code), true);
        return false;
    }
    watchTransfer(curl, nullptr);
    code = curl_easy_perform(curl);
    // Too long a body (announced or sent) is a wrong answer, not a network fault.
    const bool tooLong = sink.overLimit || code == CURLE_FILESIZE_EXCEEDED;
    long responseCode = 0;
    if (code == CURLE_OK || tooLong) {
        code = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &responseCode);
    }
    if (code != CURLE_OK) {
        report(transferMessage(code), true);
        return false;
    }
    if (responseCode < 200 || responseCode > 299) {
        report(signatureMissingMessage(url, responseCode), true);
        return false;
    }
    if (tooLong || sink.bytes.size() != kSignatureBytes) {
        report(signatureSizeMessage(url, tooLong ? -1 : static_cast<long long>(sink.bytes.size())),
               true);
        return false;
    }
    signature = std::move(sink.bytes);
    return true;
}

FetchResult fetchAgentArchive(const std::string& url, const std::string& destination,
                              const AgentKey& key, CacheUse cache, ReportFn report,
                              EasyHandleFactory makeHandle, const OptionSetter& options) {
    FetchResult result;
    if (options.libcurlVersion < kOldestLibcurl) {
        report(oldLibcurlMessage(libcurlVersionText(options.libcurlVersion),
                                 libcurlVersionText(kOldestLibcurl)),
               true);
        return result;
    }
    FilePtr file(std::fopen(destination.c_str(), "wbe"));
    if (!file) {
        report(cacheFileMessage(errno), true);
        return result;
    }
    HandlePtr handle(makeHandle());
    if (!handle) {
        report(processMessage("could not create a download handle"), true);
        return result;
    }
    CURL* curl = handle.get();
    CURLcode code = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (code != CURLE_OK) {
        report(setupMessage(code), true);
        return result;
    }
    const NetworkLimits limits = networkLimits();
    code = applyTransferPolicy(curl, url, limits, options);
    if (code != CURLE_OK) {
        report(processMessage(curl_easy_strerror(code)), true);
        return result;
    }

    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, captureValidator);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.validator);
    watchTransfer(curl, nullptr);
    code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        report(transferMessage(code), true);
        return result;
    }
    std::string problem = judgeResponse(curl);
    if (!problem.empty()) {
        report(problem, true);
        return result;
    }

    if (cache == CacheUse::consult && !cachedAgentDirectory().empty() &&
        validatorMatches(userBaseDirectory(), result.validator, key.fingerprint)) {
        result.status = FetchStatus::CacheCurrent;
        return result;
    }
    // The small signature first: without one, the archive is not worth
    // downloading.
    const std::string signatureUrl = url + kSignatureSuffix;
    std::string signature;
    if (key.pinned() && !fetchSignature(signatureUrl, signature, report, makeHandle, options)) {
        return result;
    }
    const std::string announced = result.validator;
    problem = downloadBody(curl, std::move(file), limits.maxArchiveBytes, result.validator);
    if (problem.empty() && key.pinned()) {
        ArchiveSignature verdict = checkArchiveSignature(destination, signature, key.key.get());
        // Another validator than the header request's means the archive was
        // replaced on the server after the signature was fetched: the new
        // archive's signature was published with it, so ask once more.
        if (verdict == ArchiveSignature::Invalid && result.validator != announced) {
            if (!fetchSignature(signatureUrl, signature, report, makeHandle, options)) {
                return result;
            }
            verdict = checkArchiveSignature(destination, signature, key.key.get());
        }
        problem = signatureProblem(verdict, signatureUrl);
    }
    if (!problem.empty()) {
        report(problem, true);
        return result;
    }
    result.keyFingerprint = key.fingerprint;
    result.status = FetchStatus::Downloaded;
    return result;
}

}  // namespace setup
