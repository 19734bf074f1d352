// One value per line in printf's "%.17g" form, through std::to_chars: its
// general format with a precision is defined as that of printf's %g.
#include "value_text.hpp"

#include <charconv>

namespace huxrun {

char* writeValueLine(char* out, double value) {
    constexpr int kSignificantDigits = 17;
    char* end = std::to_chars(out, out + kMaxValueLineLength - 1, value, std::chars_format::general,
                              kSignificantDigits)
                    .ptr;
    *end = '\n';
    return end + 1;
}

}  // namespace huxrun
