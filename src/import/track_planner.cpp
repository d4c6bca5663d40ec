#include "track_planner.h"

#include "nurbs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

double distance(PlanePoint const& a, PlanePoint const& b) { return std::hypot(b.x - a.x, b.y - a.y); }

PlanePoint between(PlanePoint const& a, PlanePoint const& b, double share) {
    return {a.x + share * (b.x - a.x), a.y + share * (b.y - a.y)};
}

}  // namespace

double sampleAt(std::vector<double> const& values, double share) {
    double const position = std::clamp(share, 0.0, 1.0) * double(values.size() - 1);
    std::size_t const below = std::min(static_cast<std::size_t>(position), values.size() - 1);
    std::size_t const above = std::min(below + 1, values.size() - 1);
    return values[below] + (position - double(below)) * (values[above] - values[below]);
}

double lengthOf(std::vector<PlanePoint> const& line) {
    double length = 0.0;
    for (std::size_t k = 1; k < line.size(); ++k)
        length += distance(line[k - 1], line[k]);
    return length;
}

std::vector<PlanePoint> resampleByLength(std::vector<PlanePoint> const& line, double step) {
    std::vector<PlanePoint> distinct;
    for (PlanePoint const& point : line)
        if (distinct.empty() || distance(distinct.back(), point) > 0.0)
            distinct.push_back(point);
    if (distinct.size() < 2 || !(step > 0.0))
        return distinct;
    std::vector<PlanePoint> even{distinct.front()};
    double carried = 0.0;  // length since the last point placed
    for (std::size_t k = 1; k < distinct.size(); ++k) {
        double const segment = distance(distinct[k - 1], distinct[k]);
        double along = step - carried;
        for (; along <= segment; along += step)
            even.push_back(between(distinct[k - 1], distinct[k], along / segment));
        carried = segment - (along - step);
    }
    if (distance(even.back(), distinct.back()) > step * 1e-9)
        even.push_back(distinct.back());
    return even;
}

std::vector<PlanePoint> smoothAlong(std::vector<PlanePoint> const& points, double step, double sigma) {
    if (!(sigma > 0.0) || !(step > 0.0) || points.size() < 3)
        return points;
    long long const last = static_cast<long long>(points.size()) - 1;
    // No window reaches past half the path, however wide the Gaussian.
    double const wanted = std::ceil(3.0 * sigma / step);
    long long const reach = wanted < double(last) ? static_cast<long long>(wanted) : last;
    std::vector<double> weights(static_cast<std::size_t>(reach) + 1);
    for (long long d = 0; d <= reach; ++d)
        weights[std::size_t(d)] = std::exp(-0.5 * std::pow(double(d) * step / sigma, 2));
    std::vector<PlanePoint> smoothed(points.size());
    for (long long k = 0; k <= last; ++k) {
        // Near an end the window shrinks to stay symmetric, so the ends stay put.
        long long const window = std::min({reach, k, last - k});
        double x = 0.0, y = 0.0, total = 0.0;
        for (long long d = -window; d <= window; ++d) {
            double const w = weights[std::size_t(std::llabs(d))];
            x += w * points[std::size_t(k + d)].x;
            y += w * points[std::size_t(k + d)].y;
            total += w;
        }
        smoothed[std::size_t(k)] = {x / total, y / total};
    }
    return smoothed;
}

PlanePoint atShare(std::vector<PlanePoint> const& even, double share) {
    return atIndex(even, std::clamp(share, 0.0, 1.0) * double(even.size() - 1));
}

PlanePoint atIndex(std::vector<PlanePoint> const& points, double index) {
    double const position = std::clamp(index, 0.0, double(points.size() - 1));
    std::size_t const below = std::min(static_cast<std::size_t>(position), points.size() - 1);
    std::size_t const above = std::min(below + 1, points.size() - 1);
    return between(points[below], points[above], position - double(below));
}

std::vector<double> grevilleShares(int n) {
    std::vector<int> knots(static_cast<std::size_t>(n) + 4);
    NURBS::knot(n, 4, knots.data());
    double const range = n - 3;
    std::vector<double> shares(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        shares[std::size_t(i)] =
            (knots[std::size_t(i) + 1] + knots[std::size_t(i) + 2] + knots[std::size_t(i) + 3]) / 3.0 / range;
    return shares;
}

void unwrapHeadings(std::vector<double>& headings) {
    constexpr double turn = 2.0 * std::numbers::pi;
    for (std::size_t k = 1; k < headings.size(); ++k)
        headings[k] -= turn * std::round((headings[k] - headings[k - 1]) / turn);
}

std::vector<double> curveValues(std::vector<double> const& control, int points) {
    std::vector<double> net;
    for (double value : control)
        net.insert(net.end(), {0.0, 0.0, value});
    NURBS curve;
    int const n = static_cast<int>(control.size());
    curve.fill3D(n, 1, net.data());
    curve.rbspsurf(4, 4, n, 1, points, 1);
    std::vector<double> values(static_cast<std::size_t>(points));
    for (int k = 0; k < points; ++k)
        values[std::size_t(k)] = curve.getResultingSurface(3 * k, 2);
    return values;
}

std::vector<double> waypointAngles(std::vector<double> const& angles, int count) {
    std::vector<double> result;
    for (double share : grevilleShares(count))
        result.push_back(sampleAt(angles, share));
    return result;
}

int waypointCountFor(std::vector<double> const& angles, double tolerance) {
    int const points = static_cast<int>(angles.size());
    for (int count : allowedWaypointCounts) {
        std::vector<double> const followed = curveValues(waypointAngles(angles, count), points);
        double worst = 0.0;
        for (int k = 0; k < points; ++k)
            worst = std::max(worst, std::fabs(followed[std::size_t(k)] - angles[std::size_t(k)]));
        if (worst <= tolerance)
            return count;
    }
    return allowedWaypointCounts[std::size(allowedWaypointCounts) - 1];
}
