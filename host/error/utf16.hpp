// Conversion between the host's narrow (UTF-8) message texts and the UTF-16
// form its user-facing error interface also offers and messages take.
#pragma once

#include <string>

namespace vornhost::detail {

// Decodes UTF-8 into UTF-16; a malformed or truncated sequence becomes one
// U+FFFD replacement character per offending byte.
std::u16string widenUtf8(const std::string& text);

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string narrowUtf16(const std::u16string& text);

}  // namespace vornhost::detail
