#pragma once

// MORVEX_VECTOR_CLONES before a function compiles it twice, for AVX2 and for
// the baseline processor, and picks one when the program starts. Only
// value-preserving vector code results: the build allows no fused
// multiply-add and no reassociation, so both give the same bits.
#if defined(MORVEX_VECTOR_CODE) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MORVEX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MORVEX_VECTOR_CLONES
#endif
