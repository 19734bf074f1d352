// The reporting callback through which every step of the installer speaks to
// the user: one message, one line, flushed at once.
#pragma once

#include <string>

namespace setup {

using ReportFn = void (*)(const std::string& text, bool toError);

// Writes text and a newline to stderr (toError) or stdout, then flushes.
void reportMessage(const std::string& text, bool toError);

}  // namespace setup
