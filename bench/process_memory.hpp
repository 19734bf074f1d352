// Peak resident memory of this process, and a reset of that peak so that
// one phase of the benchmark can be measured on its own.
#pragma once

#include <cstdint>

namespace rowbench {

// Restarts the kernel's peak-RSS record (VmHWM); false where that is not allowed.
bool resetPeakMemory();

// VmHWM in bytes, or 0 when /proc is not readable.
std::uint64_t peakMemoryBytes();

}  // namespace rowbench
