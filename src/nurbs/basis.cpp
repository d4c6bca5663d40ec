// B-spline basis functions by the Cox-de Boor recursion.
#include "nurbs.h"

#include <cstddef>
#include <vector>

void NURBS::basis(int c, double t, int npts, int const* x, double* out) {
    if (npts < 1)
        return;
    // rbspsurf sizes the work buffer for both of its directions; a call of
    // its own (or with a larger net) gets a scratch buffer instead.
    std::size_t const needed = static_cast<std::size_t>(npts) + static_cast<std::size_t>(c > 0 ? c : 0) - 1;
    if (temp_.size() >= needed) {
        basisInto(c, t, npts, x, out, temp_.data());
    } else {
        std::vector<double> scratch(needed, 0.0);
        basisInto(c, t, npts, x, out, scratch.data());
    }
}

void NURBS::basisInto(int c, double t, int npts, int const* x, double* out, double* temp) {
    // Order 0 or less has no basis functions; report all of them as zero.
    if (c < 1) {
        for (int i = 0; i < npts; ++i)
            out[i] = 0.0;
        return;
    }
    int const m = npts + c;  // number of knots

    // First order: the indicator of each half-open knot span.
    for (int i = 0; i < m - 1; ++i)
        temp[i] = (x[i] <= t && t < x[i + 1]) ? 1.0 : 0.0;

    // Higher orders. Ascending i, so temp[i + 1] still holds order k - 1.
    // A non-zero lower-order value implies a non-empty knot span below it,
    // so the skipped terms are exactly the ones that would divide by zero.
    for (int k = 2; k <= c; ++k) {
        for (int i = 0; i < m - k; ++i) {
            double d = 0.0;
            if (temp[i] != 0.0)
                d = (t - x[i]) * temp[i] / static_cast<double>(x[i + k - 1] - x[i]);
            double e = 0.0;
            if (temp[i + 1] != 0.0)
                e = (x[i + k] - t) * temp[i + 1] / static_cast<double>(x[i + k] - x[i + 1]);
            temp[i] = d + e;
        }
    }

    // The last span is half-open, so the end of the range belongs to no
    // span; the last basis function takes it.
    if (t == x[m - 1])
        temp[npts - 1] = 1.0;

    for (int i = 0; i < npts; ++i)
        out[i] = temp[i];
}
