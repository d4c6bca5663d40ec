// Non-uniform rational B-spline surfaces over a rectangular net of weighted
// control points, evaluated at an evenly spaced grid of parameter values.
//
// Knot vectors are open uniform and integer valued; basis functions follow
// the Cox-de Boor recursion. A net of one column (mpts = 1) is a curve: the
// curved flight evaluates its position, heading and tilt curves this way.
//
// Layouts (all 0-based):
//   net    four doubles per point (x, y, z, h); point (i, j) of an
//          npts x mpts net starts at index (i * mpts + j) * 4.
//   result three doubles per point (x, y, z); point (r, c) of a p1 x p2
//          parameter grid starts at index (r * p2 + c) * 3.
//
// The object holds no global or static state: separate objects may be used
// on separate threads. One object is not safe to use from two threads at once
// (rbspsurf and basis share the object's work buffer).
#pragma once

#include <cstddef>
#include <vector>

class NURBS {
  public:
    NURBS();
    ~NURBS();

    NURBS(NURBS const&) = delete;
    NURBS& operator=(NURBS const&) = delete;

    // Replaces the net by n * m points read as consecutive (x, y, z) triples
    // from p, each with weight 1. n * m <= 0 leaves an empty net.
    void fill3D(int n, int m, double const* p);

    // Replaces the net by n points read as consecutive (a, b) pairs from p,
    // stored as (a, 0, b, 1). n <= 0 leaves an empty net.
    void fill2D(int n, double const* p);

    // Element i + j of the net array (unchecked beyond a debug assertion).
    double getNetPoints(int i, int j) const;

    // 0.0 while no result exists, otherwise element i + j of the result array;
    // callers pass i = 3 * point number and j = coordinate (0 x, 1 y, 2 z).
    double getResultingSurface(int i, int j) const;

    // Evaluates the surface of order k1 x k2 over the current npts x mpts net
    // at p1 x p2 evenly spaced parameter points and replaces the result.
    void rbspsurf(int k1, int k2, int npts, int mpts, int p1, int p2);

    // Fills x (n + c entries) with the open uniform knot vector: c zeros,
    // then 1, 2, ..., n - c + 1 with the last value repeated c times.
    static void knot(int n, int c, int* x);

    // Writes the npts basis values of order c at parameter t over the knot
    // vector x (npts + c entries) into out.
    void basis(int c, double t, int npts, int const* x, double* out);

    // The rational denominator: sum of h * N * M over the net, restricted to
    // non-zero basis values.
    static double sumrbas(double const* net, double const* N, double const* M, int npts, int mpts);

    // Interactive loader of a net-point file named on standard input;
    // messages go to standard error. Terminates the process with status -1
    // when the file cannot be opened or has no header line.
    void rdpnp(int& k1, int& k2, int& npts, int& mpts, int& p1, int& p2);

    // Calls visit(q, h * N[i] * M[j]) for every net point q (x, y, z, h)
    // whose two basis values are non-zero, row by row: the terms of the
    // rational denominator and of the weighted sum of the surface point.
    template <class Visit>
    static void forEachWeightedNetPoint(double const* net, double const* N, double const* M, int npts, int mpts,
                                        Visit visit) {
        for (int i = 0; i < npts; ++i) {
            if (N[i] == 0.0)
                continue;
            for (int j = 0; j < mpts; ++j) {
                if (M[j] == 0.0)
                    continue;
                double const* q = &net[(static_cast<std::size_t>(i) * mpts + j) * 4];
                visit(q, M[j] * (q[3] * N[i]));
            }
        }
    }

  private:
    // Cox-de Boor recursion into the given work buffer (npts + c - 1 entries).
    static void basisInto(int c, double t, int npts, int const* x, double* out, double* temp);

    std::vector<double> net_;     // empty until the first fill
    std::vector<double> result_;  // empty until the first successful rbspsurf
    std::vector<double> temp_;    // work buffer of basis(), lives during rbspsurf
};
