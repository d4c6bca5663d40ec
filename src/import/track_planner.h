// The geometry of a camera path along a track: even spacing by arc length,
// smoothing, and where the control points of the renderer's curves go so
// that evenly spaced curve parameters fall evenly along the ground.
//
// The curved flight evaluates clamped cubic B-splines (open uniform knots,
// order 4) at evenly spaced parameters. A B-spline whose control points sit
// at the curve's Greville abscissae of a linear function reproduces that
// function exactly; placing each control point at the track point whose arc
// length is its Greville abscissa (as a share of the parameter range) makes
// the parameter proportional to the distance travelled, so equal parameter
// steps are equal steps on the ground wherever the track is straight, and
// nearly so on bends no sharper than the control point spacing.
#pragma once

#include <vector>

struct PlanePoint {
    double x = 0.0, y = 0.0;  // metres, x east, y north
};

// The polyline at equal steps of arc length: the first point, then one point
// every `step` metres along it, and the last point (closer than a step to the
// one before it, unless the length is a whole number of steps). Repeated
// points are skipped; fewer than two distinct points give the points as they are.
std::vector<PlanePoint> resampleByLength(std::vector<PlanePoint> const& line, double step);

// Evenly spaced points (`step` metres apart) smoothed along the path with a
// Gaussian of `sigma` metres; the two ends stay where they are and the
// weights near them are those of the points that exist.
std::vector<PlanePoint> smoothAlong(std::vector<PlanePoint> const& points, double step, double sigma);

// The length of the polyline in metres.
double lengthOf(std::vector<PlanePoint> const& line);

// The point at a share (0 to 1) of the length of evenly spaced points, and
// at a fractional index of them (clamped to the ends).
PlanePoint atShare(std::vector<PlanePoint> const& even, double share);
PlanePoint atIndex(std::vector<PlanePoint> const& points, double index);

// The value at a share (0 to 1) of evenly spaced samples, linear between them.
double sampleAt(std::vector<double> const& values, double share);

// The Greville abscissae of the renderer's clamped cubic curve with n
// control points (n >= 4), as shares of its parameter range: 0 first, 1 last.
std::vector<double> grevilleShares(int n);

// Headings (radians) made continuous: each differs from the one before by at
// most pi, by whole turns, so that a spline through them never spins.
void unwrapHeadings(std::vector<double>& headings);

// The values a cubic curve over the renderer's knots with these control
// values takes at `points` evenly spaced parameters.
std::vector<double> curveValues(std::vector<double> const& control, int points);

// The waypoint counts the curved flight accepts.
inline constexpr int allowedWaypointCounts[] = {7, 13, 25, 49, 97, 193};

// The fewest waypoints whose angle curve (each waypoint's angle taken from
// `angles` at its Greville share) follows `angles`, given at evenly spaced
// shares of the flight, within `tolerance` radians; the most allowed when
// none does.
int waypointCountFor(std::vector<double> const& angles, double tolerance);

// The angles at the Greville shares of `count` waypoints, interpolated in
// `angles` (evenly spaced over the flight).
std::vector<double> waypointAngles(std::vector<double> const& angles, int count);
