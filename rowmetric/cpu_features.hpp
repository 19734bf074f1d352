// The processor's vector extensions, read once per process: the path choice
// and the lane sweep's per-instruction-set variants depend on them.
#pragma once

namespace rowmetric {

struct CpuFeatures {
    bool avx2 = false;
    bool avx512f = false;
};

// Read with cpuid (the compiler's processor-feature builtins) on first use.
inline const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = [] {
        __builtin_cpu_init();
        CpuFeatures f;
        f.avx2 = __builtin_cpu_supports("avx2") != 0;
        f.avx512f = __builtin_cpu_supports("avx512f") != 0;
        return f;
    }();
    return features;
}

}  // namespace rowmetric
