// Open uniform knot vector of n control points and order c.
#include "nurbs.h"

void NURBS::knot(int n, int c, int* x) {
    // An array of n + c < 1 entries has no room even for the first knot.
    if (n + c < 1)
        return;
    x[0] = 0;
    for (int i = 1; i < n + c; ++i) {
        if (i >= c && i <= n)
            x[i] = x[i - 1] + 1;
        else
            x[i] = x[i - 1];
    }
}
