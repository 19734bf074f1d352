// Per-instruction-set copies of the hot sweep functions: GCC builds one copy
// per listed target and picks one when the module loads.
#pragma once

// Clang 14 cannot clone function templates, so a clang build compiles these
// functions once, for the baseline instruction set, from the same source.
// An attribute cannot be produced by a function or a constant; hence a macro.
#if defined(__clang__)
#define ROWMETRIC_ISA_CLONES
#else
#define ROWMETRIC_ISA_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
