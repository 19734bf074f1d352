// The parallel pair loop: the condensed output's order, one parallel loop for
// every path, and the plain loop that runs a body for each observation.
#pragma once

#include "path_counters.hpp"
#include "rowmetric/rowmetric.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_group.h>

#include <cstdint>

namespace rowmetric {

// Start of observation i's block of n - 1 - i pairs in the condensed output of
// n observations: (0,1), (0,2), ..., (0,n-1), (1,2), ... (the public
// header's offset, which front ends use as well).
inline std::uint64_t blockStart(std::uint64_t i, std::uint64_t n) {
    return rowmetric_row_offset(i, n);
}

// Position of pair (i, j), i < j, in the condensed output.
inline std::uint64_t condensedPosition(std::uint64_t i, std::uint64_t j, std::uint64_t n) {
    return blockStart(i, n) + (j - i - 1);
}

// The ordering TBB gives every loop: each task starts after the loop starts,
// and the loop returns after every task has ended. An uninstrumented libtbb
// hides it from ThreadSanitizer, so the race check (a test build defining
// ROWMETRIC_ANNOUNCE_TASKS) defines these to announce it; elsewhere they are
// empty. Tasks announce nothing to each other, so a race between two tasks
// of one loop is still seen.
#if defined(ROWMETRIC_ANNOUNCE_TASKS)
void announceLoopStart(const void* loop);
void announceTaskStart(const void* loop);
void announceTaskEnd(const void* loop);
void announceLoopEnd(const void* loop);
#else
inline void announceLoopStart(const void*) {}
inline void announceTaskStart(const void*) {}
inline void announceTaskEnd(const void*) {}
inline void announceLoopEnd(const void*) {}
#endif

// Calls perIndex(k) for k = 0 .. count-1 over TBB (auto_partitioner, grain 1;
// ascending k within each subrange). Every loop of the module runs through
// here, each in a context of its own: an exception from perIndex cancels only
// this loop and is rethrown in the calling thread.
template <class PerIndex>
void parallelForEach(std::uint64_t count, const PerIndex& perIndex) {
    tbb::task_group_context context;
    announceLoopStart(&context);
    tbb::parallel_for(
        tbb::blocked_range<unsigned long>(0, count, 1),
        [&perIndex, &context](const tbb::blocked_range<unsigned long>& range) {
            announceTaskStart(&context);
            for (unsigned long k = range.begin(); k != range.end(); ++k) {
                perIndex(k);
            }
            announceTaskEnd(&context);
        },
        tbb::auto_partitioner(), context);
    announceLoopEnd(&context);
}

// Runs body(i) for every i in 0..body.rowLimit-1. Each call owns a disjoint
// block of the output, so nothing is locked and the result does not depend
// on how TBB splits the range.
template <class Body>
void runPairLoop(const Body& body) {
    countPathRun(Path::pairLoop);
    parallelForEach(body.rowLimit, body);
}

}  // namespace rowmetric
