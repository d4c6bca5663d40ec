// Rational denominator of one surface point.
#include "nurbs.h"

double NURBS::sumrbas(double const* net, double const* N, double const* M, int npts, int mpts) {
    double sum = 0.0;
    forEachWeightedNetPoint(net, N, M, npts, mpts, [&sum](double const*, double term) { sum = sum + term; });
    return sum;
}
