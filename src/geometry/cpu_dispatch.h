// Functions whose loops gain from wider vectors are compiled twice with GCC on
// x86-64, for AVX2 and for the baseline, and the version the processor can
// run is chosen when the program is loaded. Only the vector width differs:
// every lane performs the same IEEE operations in the same order, and neither
// version contracts into fused multiply-adds, so results are identical.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define AVRENDER_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define AVRENDER_AVX2_CLONES
#endif
