// The curved flight: the observer follows a cubic B-spline through the
// control points; heading and tilt follow two B-splines over the waypoints.
#include "nurbs.h"
#include "scenery_delegate.h"

#include <QTextStream>

#include <numbers>
#include <vector>

namespace {

// The curves are evaluated for every frame of the flight at once (72 bytes a
// frame for the three of them); a million frames, eleven hours of video at
// 25 frames a second, take 72 MB, and more are refused.
constexpr int maximumCurvedFrames = 1'000'000;

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
        run_->setError(tr("Frames %1 to %2 lie outside the curved flight's frames 0 to %3")
                           .arg(p.firstFrame)
                           .arg(p.lastFrame)
                           .arg(p.frameCount));
        return false;
    }
    if (p.frameCount > maximumCurvedFrames) {
        run_->setError(
            tr("A curved flight of %1 frames is too long (at most %2)").arg(p.frameCount).arg(maximumCurvedFrames));
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

    double const scale = run_->renderScale;
    FramePlan const plan = [&](long long index) {
        int const i = static_cast<int>(index);
        double const t = 3.0 * i / ((p.frameCount - 1) * 3.0);
        auto smooth = [&](double start, double end) { return GetSmoothedValue(t, start, end, p.inertia); };
        FrameView view;
        view.number = i + p.frameNumberOffset;
        view.observer =
            C4Vector(positionCurve.getResultingSurface(3 * i, 0), positionCurve.getResultingSurface(3 * i, 1),
                     positionCurve.getResultingSurface(3 * i, 2), 1.0);
        view.heading = headingCurve.getResultingSurface(3 * i, 2);
        view.tilt = tiltCurve.getResultingSurface(3 * i, 2);
        // Looking further down than straight down mirrors back up.
        if (view.tilt < -std::numbers::pi / 2)
            view.tilt = -std::numbers::pi - view.tilt;
        view.focalLength = smooth(p.focalLengthStart, p.focalLengthEnd) * scale;
        // The bank goes to the camera as blended, without a degree conversion.
        view.bank = smooth(p.bankStart, p.bankEnd);
        view.zScale = smooth(p.zScaleStart, p.zScaleEnd);
        view.fogDistance = p.fogEnd != 0 ? smooth(p.fogStart, p.fogEnd) : p.fogStart;
        return view;
    };
    run_->renderFrames(p.firstFrame, p.lastFrame, plan, texture);
    return true;
}
