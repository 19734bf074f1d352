// Distances as text: each value exactly as printf's "%.17g" writes it, made
// with std::to_chars, which gives the same bytes several times faster.
#pragma once

#include <cstddef>

namespace huxrun {

// The longest line: a sign, 17 digits, a point, "e-308" and the newline.
constexpr std::size_t kMaxValueLineLength = 25;

// Writes `value` as "%.17g" does ("nan", "-inf", "1.0000000000000001e-05"
// and so on), then '\n', at `out`, which must have room for
// kMaxValueLineLength characters. Returns the position after the newline.
char* writeValueLine(char* out, double value);

}  // namespace huxrun
