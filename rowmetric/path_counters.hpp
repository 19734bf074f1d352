// How often each path ran, counted only in test builds (ROWMETRIC_COUNT_PATHS),
// so that a test sees whether the path choosePath picked is the one that ran.
#pragma once

#include "metric_registry.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace rowmetric {

#if defined(ROWMETRIC_COUNT_PATHS)
inline std::atomic<std::uint64_t>& pathRuns(Path path) {
    static std::atomic<std::uint64_t> runs[kPathCount];
    return runs[static_cast<std::size_t>(path)];
}

inline void countPathRun(Path path) { pathRuns(path).fetch_add(1, std::memory_order_relaxed); }
#else
inline void countPathRun(Path) {}
#endif

}  // namespace rowmetric
