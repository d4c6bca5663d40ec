// The curved flight: the observer follows a cubic B-spline through the
// control points; heading and tilt follow two B-splines over the waypoints.
#include "nurbs.h"
#include "scenery_delegate.h"

#include <QTextStream>

#include <vector>

namespace {

constexpr double pi = 3.141592653589793;

// The curves are evaluated for every frame of the flight at once; beyond this
// many frames that alone would take gigabytes.
constexpr int maximumCurvedFrames = 10'000'000;

// A cubic curve through the net of (x, y, z) triples, evaluated at
// `points` evenly spaced parameters.
void buildCurve(NURBS& curve, std::vector<double> const& net, int points) {
    int const size = static_cast<int>(net.size() / 3);
    curve.fill3D(size, 1, net.data());
    curve.rbspsurf(4, 4, size, 1, points, 1);
}

}  // namespace

bool SceneryDelegate::curvedFlight(TextureImage* texture) {
    SceneryData const& p = *parameters;
    auto refuse = [this](char const* message, qsizetype count) {
        writeLog(tr(message).arg(count));
        return false;
    };
    if (controlPoints.size() < 4)
        return refuse("SceneryDelegate::CurvedFlight(): number of control points is %1, has to be greater than 3.\n",
                      controlPoints.size());
    if (waypoints.size() < 7)
        return refuse("SceneryDelegate::CurvedFlight(): number of waypoints is %1, has to be greater than 6.\n",
                      waypoints.size());
    if (p.frameCount < 2)
        return refuse("SceneryDelegate::CurvedFlight(): total number of frames is %1, has to be greater than 1.\n",
                      p.frameCount);
    // The curves hold points 0 to Bildanzahl only.
    if (p.firstFrame <= p.lastFrame && (p.firstFrame < 0 || p.lastFrame > p.frameCount)) {
        setRenderError(tr("Frames %1 to %2 lie outside the curved flight's frames 0 to %3")
                           .arg(p.firstFrame)
                           .arg(p.lastFrame)
                           .arg(p.frameCount));
        return false;
    }
    if (p.frameCount > maximumCurvedFrames) {
        setRenderError(tr("A curved flight of %1 frames is too long (at most %2)").arg(p.frameCount).arg(maximumCurvedFrames));
        return false;
    }

    std::vector<double> positionNet, headingNet, tiltNet;
    for (ControlPoint const& point : controlPoints)
        positionNet.insert(positionNet.end(), {double(point.x), double(point.y), double(point.z)});
    for (Waypoint const& point : waypoints) {
        headingNet.insert(headingNet.end(), {double(point.x), double(point.y), point.a});
        tiltNet.insert(tiltNet.end(), {double(point.x), double(point.y), point.p});
    }
    int const points = p.frameCount + 1;
    NURBS positionCurve, headingCurve, tiltCurve;
    buildCurve(positionCurve, positionNet, points);
    buildCurve(headingCurve, headingNet, points);
    buildCurve(tiltCurve, tiltNet, points);

    for (int i = p.firstFrame; i <= p.lastFrame; ++i) {
        double const x = positionCurve.getResultingSurface(3 * i, 0);
        double const y = positionCurve.getResultingSurface(3 * i, 1);
        double const z = positionCurve.getResultingSurface(3 * i, 2);
        double const heading = headingCurve.getResultingSurface(3 * i, 2);
        double tilt = tiltCurve.getResultingSurface(3 * i, 2);
        double const t = 3.0 * i / ((p.frameCount - 1) * 3.0);
        auto smooth = [&](double start, double end) { return GetSmoothedValue(t, start, end, p.inertia); };
        double const bank = smooth(p.bankStart, p.bankEnd);
        double const focal = smooth(p.focalLengthStart, p.focalLengthEnd);
        // Looking further down than straight down mirrors back up.
        if (tilt < -pi / 2)
            tilt = -pi - tilt;
        double const zScale = smooth(p.zScaleStart, p.zScaleEnd);
        double const fog = p.fogEnd != 0 ? smooth(p.fogStart, p.fogEnd) : p.fogStart;
        // The bank goes to the camera as blended, without a degree conversion.
        renderFrame(i + p.frameNumberOffset, texture, C4Vector(x, y, z, 1.0), heading, tilt, focal * renderScale, bank,
                    zScale, fog);
    }
    return true;
}
