// Float-to-int conversion without undefined behaviour.
#pragma once

#include <climits>

// Truncates toward zero like a C++ cast for every value that fits an int, and
// gives INT_MIN for NaN and out-of-range values, which is what the x86
// conversion instruction produces; the renderer's colour arithmetic relies on
// the same result on every input.
inline int truncateToInt(double value) {
    if (value > -2147483649.0 && value < 2147483648.0)
        return static_cast<int>(value);
    return INT_MIN;
}
