// Conversion of the host's narrow (UTF-8) message texts to the UTF-16 form
// its user-facing error interface also offers.
#pragma once

#include <string>

namespace vornhost::detail {

// Decodes UTF-8 into UTF-16; a malformed or truncated sequence becomes one
// U+FFFD replacement character per offending byte.
std::u16string widenUtf8(const std::string& text);

}  // namespace vornhost::detail
