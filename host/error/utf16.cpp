// UTF-8 to UTF-16 conversion of message texts, and back for UTF-16 message
// arguments.
#include "utf16.hpp"

namespace vornhost::detail {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte announces, or 0 for an invalid lead.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes the sequence at text[i] of the announced length; returns -1 when a
// continuation byte is missing or the value is overlong, a surrogate or too big.
long decodeAt(const std::string& text, std::size_t i, int length) {
    if (i + length > text.size()) return -1;
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr long kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    long cp = static_cast<unsigned char>(text[i]) & kLeadMask[length];
    for (int k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return cp;
}

void appendUtf8(std::string& out, long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    const int length = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[length] | (cp >> (6 * (length - 1))));
    for (int k = length - 2; k >= 0; --k) out += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
}

}  // namespace

std::u16string widenUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const int length = sequenceLength(static_cast<unsigned char>(text[i]));
        const long cp = length == 0 ? -1 : decodeAt(text, i, length);
        if (cp < 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        i += length;
    }
    return out;
}

std::string narrowUtf16(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const long unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const long low = i + 1 < text.size() ? text[i + 1] : 0;
        if (high && low >= 0xDC00 && low <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
        }
    }
    return out;
}

}  // namespace vornhost::detail
