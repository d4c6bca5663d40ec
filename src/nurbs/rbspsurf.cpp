// Evaluation of the rational B-spline surface at an evenly spaced grid of
// parameter values.
#include "nurbs.h"

#include <algorithm>
#include <cstddef>
#include <vector>

void NURBS::rbspsurf(int k1, int k2, int npts, int mpts, int p1, int p2) {
    // Arguments that describe no surface (an order, a net size or a number of
    // parameter lines below 1) or a net larger than the one stored would
    // make the evaluation read or write outside its arrays. They yield an
    // empty result instead, so that getResultingSurface answers 0.0.
    bool const describable = k1 >= 1 && k2 >= 1 && npts >= 1 && mpts >= 1 && p1 >= 1 && p2 >= 1;
    std::size_t const netPoints = describable ? static_cast<std::size_t>(npts) * static_cast<std::size_t>(mpts) : 0;
    if (!describable || net_.size() / 4 < netPoints) {
        result_.clear();
        result_.shrink_to_fit();
        return;
    }

    // Knot vectors, basis vectors and a zero-filled result.
    std::vector<int> X(static_cast<std::size_t>(npts) + static_cast<std::size_t>(k1), 0);
    std::vector<int> Y(static_cast<std::size_t>(mpts) + static_cast<std::size_t>(k2), 0);
    std::vector<double> N(static_cast<std::size_t>(npts), 0.0);
    std::vector<double> M(static_cast<std::size_t>(mpts), 0.0);
    result_.assign(static_cast<std::size_t>(p1) * static_cast<std::size_t>(p2) * 3, 0.0);

    knot(npts, k1, X.data());
    knot(mpts, k2, Y.data());
    double const Xmax = X[X.size() - 1];
    double const Ymax = Y[Y.size() - 1];

    // A direction with a single parameter line only ever uses the value 0.
    double const su = p1 > 1 ? Xmax / static_cast<double>(p1 - 1) : 0.0;
    double const sw = p2 > 1 ? Ymax / static_cast<double>(p2 - 1) : 0.0;

    temp_.assign(std::max(X.size(), Y.size()) - 1, 0.0);

    // The parameters advance by repeated addition; the last line of each
    // direction is pulled onto the end of the knot range so that rounding in
    // the sum cannot leave it just short of the last net point.
    double u = 0.0;
    for (int r = 0; r < p1; ++r) {
        if (Xmax - u < 5e-6)
            u = Xmax;
        basis(k1, u, npts, X.data(), N.data());

        double w = 0.0;
        for (int c = 0; c < p2; ++c) {
            if (Ymax - w < 5e-6)
                w = Ymax;
            basis(k2, w, mpts, Y.data(), M.data());
            double const s = sumrbas(net_.data(), N.data(), M.data(), npts, mpts);

            double* point = &result_[(static_cast<std::size_t>(r) * p2 + c) * 3];
            forEachWeightedNetPoint(net_.data(), N.data(), M.data(), npts, mpts,
                                    [point, s](double const* q, double term) {
                                        double const f = term / s;
                                        point[0] += q[0] * f;
                                        point[1] += q[1] * f;
                                        point[2] += q[2] * f;
                                    });
            w = w + sw;
        }
        u = u + su;
    }

    // The work buffer lives only as long as the evaluation.
    temp_.clear();
    temp_.shrink_to_fit();
}
