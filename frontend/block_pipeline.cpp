// Two buffers and a consumer thread: block k is computed into buffer k % 2
// while block k - 1 is consumed from the other, so the consumer never reads
// a buffer that is being filled.
#include "block_pipeline.hpp"

#include <algorithm>
#include <array>
#include <future>
#include <memory>

namespace huxrun {

std::optional<std::string> forEachBlock(const BlockPlan& plan, const ComputeBlock& compute,
                                        const ConsumeBlock& consume) {
    if (plan.rows.first >= plan.rows.end) return std::nullopt;
    // No block is larger than the first (rows only get shorter) unless the
    // first stopped short of blockPairs, which the rest of the range bounds.
    const RowBlock first = blockFrom(plan.n, plan.rows, plan.blockPairs);
    const std::uint64_t capacity =
        std::max(first.pairs, std::min(plan.blockPairs, blockOf(plan.n, plan.rows).pairs));
    std::array<std::unique_ptr<double[]>, 2> buffers;
    std::future<std::optional<std::string>> consuming;  // destroyed first: waits for the consumer

    std::uint64_t k = 0;
    for (RowBlock block = first;; ++k) {
        std::unique_ptr<double[]>& buffer = buffers[plan.overlap ? k % 2 : 0];
        if (!buffer) buffer.reset(new double[std::max<std::uint64_t>(capacity, 1)]);
        if (auto error = compute(block, buffer.get())) return error;
        if (consuming.valid()) {
            if (auto error = consuming.get()) return error;
        }
        if (plan.overlap) {
            consuming = std::async(std::launch::async, [&consume, block, values = buffer.get()] {
                return consume(block, values);
            });
        } else if (auto error = consume(block, buffer.get())) {
            return error;
        }
        if (block.rows.end == plan.rows.end) break;
        block = blockFrom(plan.n, RowRange{block.rows.end, plan.rows.end}, plan.blockPairs);
    }
    return consuming.valid() ? consuming.get() : std::nullopt;
}

}  // namespace huxrun
