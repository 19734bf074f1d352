// Per-instruction-set copies of the hot sweep functions: GCC's automatic
// clones for most sweeps, and a table of explicit variants for the lane sweep.
#pragma once

#include "cpu_features.hpp"

// Clang 14 cannot clone function templates, so a clang build compiles these
// functions once, for the baseline instruction set, from the same source. So
// does a ThreadSanitizer build: the clones' resolver runs while the program
// is relocated, before the sanitizer's runtime is up, and its instrumented
// code crashes there. An attribute cannot be produced by a function or a
// constant; hence a macro.
#if defined(__clang__) || defined(__SANITIZE_THREAD__)
#define ROWMETRIC_ISA_CLONES
#else
#define ROWMETRIC_ISA_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

namespace rowmetric {

// The instruction sets a sweep with explicit variants is compiled for, widest
// first. Unlike automatic clones, any variant the processor can run can be
// named, so tests run each of them.
enum class Isa { avx512f, avx2, baseline };
inline constexpr Isa kIsas[] = {Isa::avx512f, Isa::avx2, Isa::baseline};

constexpr const char* isaName(Isa isa) {
    switch (isa) {
        case Isa::avx512f:
            return "avx512f";
        case Isa::avx2:
            return "avx2";
        case Isa::baseline:
            return "baseline";
    }
    return "?";
}

constexpr bool runsOn(Isa isa, const CpuFeatures& cpu) {
    switch (isa) {
        case Isa::avx512f:
            return cpu.avx512f;
        case Isa::avx2:
            return cpu.avx2;
        case Isa::baseline:
            return true;
    }
    return false;
}

constexpr Isa widestIsa(const CpuFeatures& cpu) {
    for (Isa isa : kIsas) {
        if (runsOn(isa, cpu)) {
            return isa;
        }
    }
    return Isa::baseline;
}

}  // namespace rowmetric
