// Float-to-int conversion without undefined behaviour.
#pragma once

#include <climits>

// Truncates toward zero like a C++ cast for every value that fits an int, and
// gives INT_MIN for NaN and out-of-range values, which is what the x86
// conversion instruction produces; the renderer's colour arithmetic relies on
// the same result on every input. On x86-64 that instruction is issued
// directly (as assembly: the compiler would fold a constant argument of the
// intrinsic with other results).
inline int truncateToInt(double value) {
#if defined(__x86_64__) && defined(__GNUC__)
    int result;
    asm("cvttsd2si %1, %0" : "=r"(result) : "x"(value));
    return result;
#else
    if (value > -2147483649.0 && value < 2147483648.0)
        return static_cast<int>(value);
    return INT_MIN;
#endif
}
