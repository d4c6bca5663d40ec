// Rational denominator of one surface point.
#include "nurbs.h"

#include <cstddef>

double NURBS::sumrbas(double const* net, double const* N, double const* M, int npts, int mpts) {
    double sum = 0.0;
    if (npts < 1)
        return sum;
    for (int i = 0; i < npts; ++i) {
        if (N[i] == 0.0)
            continue;
        for (int j = 0; j < mpts; ++j) {
            if (M[j] == 0.0)
                continue;
            std::size_t const at = (static_cast<std::size_t>(i) * mpts + j) * 4;
            sum = sum + M[j] * (net[at + 3] * N[i]);
        }
    }
    return sum;
}
