// Fetches the install agent archive: a header-only request decides whether
// the cached agent is current, a full request downloads it when it is not.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <curl/curl.h>

#include "report.hpp"

namespace setup {

using EasyHandleFactory = CURL* (*)();

// Downloads from ZQ_INTERNAL_INSTALL_AGENT_URL (even when empty) or the
// default agent URL into destination. See fetchAgentArchive.
bool downloadAgentArchive(const std::string& destination, ReportFn report);

// Asks url for its validator; returns true at once when the cached agent is
// current (destination left empty), otherwise removes the stale cached agent,
// downloads the archive into destination and records the validator. Every
// failure is reported once and returns false. makeHandle stands in for
// curl_easy_init.
bool fetchAgentArchive(const std::string& url, const std::string& destination, ReportFn report,
                       EasyHandleFactory makeHandle = curl_easy_init);

// libcurl write callback: appends the bytes to the open file (a FILE*).
std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* file);

}  // namespace setup
