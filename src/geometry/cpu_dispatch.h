// Functions whose loops gain from wider vectors are compiled twice with GCC on
// x86-64, for AVX2 and for the baseline, and the version the processor can
// run is chosen when the program is loaded. Only the vector width differs:
// every lane performs the same IEEE operations in the same order, and neither
// version contracts into fused multiply-adds, so results are identical.
//
// Sanitizer builds keep the baseline version alone: the loader runs the
// chooser before a sanitizer's run-time is ready. They therefore test the
// baseline code, and the optimised builds the AVX2 code.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define AVRENDER_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define AVRENDER_AVX2_CLONES
#endif
