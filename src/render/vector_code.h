#pragma once

// How the vectorised loops of the drawing are compiled.
//
// No floating-point operation in them traps or reads the exception flags, so the compiler may
// run them unconditionally, which it needs in order to vectorise loops with selections; the
// results are the same IEEE results. Products and sums are never fused into one rounding
// (the whole build has -ffp-contract=off), so wider vectors give the same bits as the scalar
// code on every processor.
//
// TRENN_VECTOR_CLONES: one copy of the function per instruction set, the best one picked when
// the program starts. TRENN_VECTOR_MATH with TRENN_TARGET_*: the same for functions whose
// copies are picked by hand (see turn.h), so that each copy can be tested.

#if defined(__GNUC__) && !defined(__clang__)
#define TRENN_VECTOR_MATH __attribute__((optimize("no-trapping-math")))
#else
#define TRENN_VECTOR_MATH
#endif

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define TRENN_HAS_TARGET_COPIES 1
#define TRENN_TARGET_X86_64_V4 __attribute__((target("arch=x86-64-v4")))
#define TRENN_TARGET_AVX2 __attribute__((target("avx2")))
#define TRENN_VECTOR_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) TRENN_VECTOR_MATH
#else
#define TRENN_HAS_TARGET_COPIES 0
#define TRENN_VECTOR_CLONES TRENN_VECTOR_MATH
#endif
