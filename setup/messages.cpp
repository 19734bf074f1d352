#include "messages.hpp"

#include <cstring>

#include "agent_signature.hpp"

namespace setup {
namespace {

constexpr char kCheckSettings[] =
    ". Check your internet connectivity, proxy server, firewall, and virus scanner settings and "
    "rerun the installer.";

}  // namespace

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

std::string oldLibcurlMessage(const std::string& found, const std::string& needed) {
    return "The installer needs libcurl " + needed + " or later to download the install agent, "
           "but this system's libcurl is " + found + ".";
}

std::string transferMessage(CURLcode code) {
    return std::string("Error: Download process failed - ") + curl_easy_strerror(code) + "\n\n" +
           kCheckSettings;
}

std::string notFoundMessage() {
    return std::string("Could not reach the download server") + kCheckSettings;
}

std::string httpCodeMessage(long code) {
    return "Error: Download process failed. Received an HTTP code: " + std::to_string(code) +
           kCheckSettings;
}

std::string signatureMissingMessage(const std::string& signatureUrl, long responseCode) {
    return "The downloaded install agent is not signed: there is no signature at " + signatureUrl +
           " (HTTP code " + std::to_string(responseCode) + "); refusing to run it.";
}

std::string signatureSizeMessage(const std::string& signatureUrl, long long bytes) {
    const std::string signatureBytes = std::to_string(kSignatureBytes);
    const std::string count = bytes < 0 ? "more than " + signatureBytes : std::to_string(bytes);
    return "The downloaded install agent is not signed: " + signatureUrl + " holds " + count +
           " bytes, not a " + signatureBytes + "-byte Ed25519 signature; refusing to run it.";
}

std::string signatureMismatchMessage(const std::string& signatureUrl) {
    return "The downloaded install agent is not signed by this release's key: the signature at " +
           signatureUrl +
           " does not verify against it (the archive was changed after signing, or another key "
           "signed it); refusing to run it.";
}

std::string staleAgentMessage(const std::string& directory) {
    return "The outdated install agent in " + directory +
           " could not be replaced; remove it and rerun the installer.";
}

std::string untrustedWorkDirectoryMessage(const std::string& directory, bool afterTmp) {
    return std::string(afterTmp ? "No private directory could be made in /tmp, and the" : "The") +
           " installer's own directory " + directory +
           " is not owned by you or can be written by others; refusing to work in it.";
}

std::string noWorkDirectoryMessage(const std::string& directory, bool afterTmp, int error) {
    return std::string(afterTmp ? "No private directory could be made in /tmp, nor"
                                : "No private directory could be made") +
           " in the installer's own directory " + directory + " (" + std::strerror(error) + ").";
}

std::string commandTooLongMessage(std::size_t length, std::size_t limit) {
    return "The install agent cannot be started: its command line of " + std::to_string(length) +
           " bytes is longer than the system allows (" + std::to_string(limit) + " bytes).";
}

std::string shellNotStartedMessage(int error) {
    return std::string("The install agent cannot be started: the system could not run a shell (") +
           std::strerror(error) + ").";
}

}  // namespace setup
