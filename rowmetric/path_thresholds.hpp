// The bounds at which the module stops taking a fast path, each with the
// measurement it rests on.
#pragma once

#include <cstdint>

namespace rowmetric {

// The row index (and every path built on it) counts entries per row in an
// array over the whole row range. It is built only while that range stays
// within kRowRangePerEntry rows per stored entry plus kRowRangeSlack rows.
// MEASUREMENT-ROW-RANGE
inline constexpr std::uint64_t kRowRangePerEntry = 8;
inline constexpr std::uint64_t kRowRangeSlack = std::uint64_t{1} << 22;

// The shared-row sweeps make one step per pair of entries in the same row;
// the pair loop makes at most n - 1 merge steps per stored entry. The sweeps
// run only when they make at most 1/kSharedRowStepShare of those steps.
// MEASUREMENT-SHARED-ROWS
inline constexpr long double kSharedRowStepShare = 4;

// The Mahalanobis sweep copies U row-major (aligned, padded) up to this many
// variables, at most 32 MiB; above it U is read in place.
// MEASUREMENT-TRANSPOSED
inline constexpr std::uint64_t kMaxTransposedVars = 2048;

}  // namespace rowmetric
