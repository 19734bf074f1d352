// The result's size against what the host can allocate, and how sizes and
// counts are written in messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace huxrun {

// N(N-1)/2 for `columns` observations when it lies below the module's bound
// on a result (rowmetric_pair_limit), else nothing; never wraps.
std::optional<std::uint64_t> pairCountWithinLimit(std::uint64_t columns);

// "44,999,850,000"
std::string groupedDigits(std::uint64_t value);

// "the result needs 360 GB for 44,999,850,000 distances, more than this
// system can allocate; --stream writes it block by block", for `what` ("the
// result", "the slice") of `pairs` distances.
std::string tooLargeToHold(const std::string& what, std::uint64_t pairs);

// When the host cannot allocate the 1 x N(N-1)/2 doubles of a call on
// `columns` observations, the one-line reason (tooLargeToHold); nothing
// when it can, or when the count is past the module's own bound (the module
// reports that itself).
std::optional<std::string> resultAllocationProblem(std::uint64_t columns);

}  // namespace huxrun
